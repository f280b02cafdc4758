// GetVersionExA: the kernel's release as the version numbers, reported as the NT platform.
#include <sys/utsname.h>

#include <cstring>

#include "platform/posix/error.h"

static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA must keep its Win32 size");

namespace vyn::platform {

namespace {

// Reads the leading decimal number of `text` and moves past it and one separator after it.
DWORD NextNumber(const char *&text) {
    DWORD value = 0;
    while (*text >= '0' && *text <= '9') {
        if (value < 100000000u) {
            value = value * 10 + static_cast<DWORD>(*text - '0');
        }
        ++text;
    }
    if (*text == '.' || *text == '-') {
        ++text;
    }
    return value;
}

}  // namespace

}  // namespace vyn::platform

BOOL WINAPI GetVersionExA(OSVERSIONINFOA *info) {
    if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        return vyn::platform::FailWith(ERROR_INVALID_PARAMETER);
    }
    info->dwMajorVersion = 0;
    info->dwMinorVersion = 0;
    info->dwBuildNumber = 0;
    utsname name{};
    if (::uname(&name) == 0) {
        // "6.1.0-18-amd64": major 6, minor 1, build 0.
        const char *release = name.release;
        info->dwMajorVersion = vyn::platform::NextNumber(release);
        info->dwMinorVersion = vyn::platform::NextNumber(release);
        info->dwBuildNumber = vyn::platform::NextNumber(release);
    }
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    return TRUE;
}
