#include "mml/kernel_rx_errors.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <array>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vyn::mml {

namespace {

// The counters of a UART line that are receive errors, as the kernel names them in its table.
constexpr std::array<std::string_view, 5> kErrorCounters = {"fe:", "pe:", "brk:", "oe:", "bo:"};
constexpr unsigned kFirstPtyMajor = 136;
constexpr unsigned kLastPtyMajor = 143;

std::optional<unsigned> Number(std::string_view text) {
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

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

std::optional<TtyLine> FindSerialLine(std::string_view drivers, unsigned major, unsigned minor) {
    std::istringstream lines{std::string(drivers)};
    std::string row;
    while (std::getline(lines, row)) {
        std::istringstream fields(row);
        std::string name, node, majorText, range, type;
        if (!(fields >> name >> node >> majorText >> range >> type) || type != "serial" ||
            Number(majorText) != major) {
            continue;
        }
        std::string_view bounds = range;
        std::size_t dash = bounds.find('-');
        auto first = Number(bounds.substr(0, dash));
        auto last = dash == std::string_view::npos ? first : Number(bounds.substr(dash + 1));
        if (first && last && minor >= *first && minor <= *last) {
            return TtyLine{name, minor - *first};
        }
    }
    return std::nullopt;
}

std::optional<uint32_t> SumReceiveErrors(std::string_view table, unsigned line) {
    const std::string label = std::to_string(line) + ":";
    std::istringstream lines{std::string(table)};
    std::string row;
    while (std::getline(lines, row)) {
        std::istringstream fields(row);
        std::string first;
        if (!(fields >> first) || first != label) {
            continue;
        }
        bool counted = false;  // the counters begin with tx:, shown even when 0
        uint32_t total = 0;
        for (std::string field; fields >> field;) {
            std::string_view token = field;
            counted = counted || token.starts_with("tx:");
            for (std::string_view counter : kErrorCounters) {
                if (token.starts_with(counter)) {
                    auto value = Number(token.substr(counter.size()));
                    if (!value) {
                        return std::nullopt;
                    }
                    total += *value;
                }
            }
        }
        return counted ? std::optional<uint32_t>(total) : std::nullopt;
    }
    return std::nullopt;
}

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

std::string PortDeviceDirectory() {
    const char *dir = std::getenv("VYNLOOP_DEVDIR");
    return dir != nullptr && dir[0] != '\0' ? dir : "/dev";
}

}  // namespace vyn::mml
