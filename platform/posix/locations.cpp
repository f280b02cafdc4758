#include "platform/posix/locations.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace vyn::platform {

namespace {

std::string FromEnvironment(const char *name, const char *fallback) {
    const char *value = std::getenv(name);
    return (value != nullptr && value[0] != '\0') ? value : fallback;
}

}  // namespace

std::string RunDirectory() {
    std::string dir = FromEnvironment("VYNLOOP_RUNDIR", "/run/vynloop");
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    return dir;
}

std::string DeviceDirectory() {
    return FromEnvironment("VYNLOOP_DEVDIR", "/dev");
}

}  // namespace vyn::platform
