// The kernel's receive-error counters of a port of this machine, from /proc/tty.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <sstream>

#include "mml/kernel_rx_errors.h"

namespace vyn::mml {

namespace {

constexpr unsigned kFirstPtyMajor = 136;
constexpr unsigned kLastPtyMajor = 143;

bool ReadWhole(const std::string &path, std::string &text) {
    std::ifstream file(path);
    if (!file) {
        return false;
    }
    std::ostringstream content;
    content << file.rdbuf();
    text = content.str();
    return !file.bad();
}

}  // namespace

std::optional<uint32_t> KernelReceiveErrors(const std::string &device, const std::string &ttyInfo) {
    struct stat status {};
    if (::stat(device.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) {
        return std::nullopt;
    }
    // Pseudo-terminal slaves (the virtual board's ports, read many times a second) are known to
    // have no counters without reading the tables.
    unsigned major = ::major(status.st_rdev);
    if (major >= kFirstPtyMajor && major <= kLastPtyMajor) {
        return std::nullopt;
    }
    std::string drivers;
    if (!ReadWhole(ttyInfo + "/drivers", drivers)) {
        return std::nullopt;
    }
    auto line = FindSerialLine(drivers, major, ::minor(status.st_rdev));
    std::string table;
    if (!line || line->driver.find('/') != std::string::npos ||
        !ReadWhole(ttyInfo + "/driver/" + line->driver, table)) {
        return std::nullopt;
    }
    return SumReceiveErrors(table, line->line);
}

}  // namespace vyn::mml
