#include "mml/kernel_rx_errors.h"

#include <array>
#include <charconv>
#include <cstdlib>
#include <sstream>

namespace vyn::mml {

namespace {

// The counters of a UART line that are receive errors, as the kernel names them in its table.
constexpr std::array<std::string_view, 5> kErrorCounters = {"fe:", "pe:", "brk:", "oe:", "bo:"};

std::optional<unsigned> Number(std::string_view text) {
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
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

std::string PortDeviceDirectory() {
    const char *dir = std::getenv("VYNLOOP_DEVDIR");
    return dir != nullptr && dir[0] != '\0' ? dir : "/dev";
}

}  // namespace vyn::mml
