#include "console/arguments.h"

#include <charconv>

namespace vyn::console {

bool ParseName(std::string_view name, mml::ObjectKey &key, std::string &reason) {
    int code = mml::ParseObjectName(name, key);
    if (code != 0) {
        reason = std::string(name) + ": " + std::string(mml::DescribeNameError(code));
        return false;
    }
    return true;
}

bool ParseInteger(std::string_view text, int32_t &value) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return false;
        }
    }
    if (text.empty()) {
        return false;
    }
    const char *end = text.data() + text.size();
    auto [next, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && next == end;
}

std::string CheckInstance(std::string_view instance) {
    if (mml::IsValidInstance(instance)) {
        return {};
    }
    return "bad instance name '" + std::string(instance) +
           "': 1 to 31 printable characters, no ',', not ending in '.NUMBER'";
}

}  // namespace vyn::console
