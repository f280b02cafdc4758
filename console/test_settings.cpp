#include "console/test_settings.h"

#include <array>
#include <limits>
#include <string_view>

#include "board/protocol.h"
#include "console/store_access.h"

namespace vyn::console {

namespace {

struct Choice {
    std::string_view word;
    int32_t value;
};

constexpr std::array kParities{Choice{"none", 1}, Choice{"odd", 2}, Choice{"even", 3},
                               Choice{"mark", 4}, Choice{"space", 5}};
constexpr std::array kStopBits{Choice{"1", 1}, Choice{"1.5", 2}, Choice{"2", 3}};
constexpr std::array kFlows{Choice{"none", 1}, Choice{"xonxoff", 2}, Choice{"rtscts", 3},
                            Choice{"dtrdsr", 4}};
constexpr std::array kPatterns{Choice{"barber", 1}, Choice{"user", 2}};

template <std::size_t N>
bool ParseChoice(const std::string &word, const std::array<Choice, N> &choices,
                 std::string_view option, std::optional<int32_t> &out, std::string &reason) {
    if (word.empty()) {
        return true;
    }
    std::string allowed;
    for (const Choice &choice : choices) {
        if (choice.word == word) {
            out = choice.value;
            return true;
        }
        allowed += (allowed.empty() ? "" : "|") + std::string(choice.word);
    }
    reason = "bad value '" + word + "' for " + std::string(option) + ": expected " + allowed;
    return false;
}

bool ParseNumber(const std::string &word, std::string_view option, int32_t low, int32_t high,
                 std::string_view expected, std::optional<int32_t> &out, std::string &reason) {
    if (word.empty()) {
        return true;
    }
    int32_t value = 0;
    if (!ParseInteger(word, value) || value < low || value > high) {
        reason = "bad value '" + word + "' for " + std::string(option) + ": expected " +
                 std::string(expected);
        return false;
    }
    out = value;
    return true;
}

// Pairs of hex digits, optionally separated by blanks or colons between octets.
bool ParseHex(const std::string &word, std::string &octets) {
    octets.clear();
    std::size_t i = 0;
    while (i < word.size()) {
        if (word[i] == ' ' || word[i] == ':') {
            ++i;
            continue;
        }
        if (i + 1 >= word.size() || board::HexDigit(word[i]) < 0 ||
            board::HexDigit(word[i + 1]) < 0) {
            return false;
        }
        octets.push_back(
            static_cast<char>(board::HexDigit(word[i]) * 16 + board::HexDigit(word[i + 1])));
        i += 2;
    }
    return !octets.empty();
}

bool ParseUserData(const SettingWords &words, TestSettings &settings, std::string &reason) {
    if (!words.data.empty() && !words.dataHex.empty()) {
        reason = "--data and --data-hex exclude each other";
        return false;
    }
    if (!words.dataHex.empty()) {
        std::string octets;
        if (!ParseHex(words.dataHex, octets)) {
            reason = "bad value '" + words.dataHex +
                     "' for --data-hex: expected pairs of hex digits, e.g. 55AA0D0A";
            return false;
        }
        settings.userData = std::move(octets);
    } else if (!words.data.empty()) {
        settings.userData = words.data;
    }
    if (settings.userData && settings.userData->size() > kMaxUserData) {
        reason = "user data of " + std::to_string(settings.userData->size()) +
                 " octets is too long: at most " + std::to_string(kMaxUserData);
        return false;
    }
    if (settings.userData) {
        if (settings.pattern && *settings.pattern != 2) {
            reason = "--data and --data-hex give a user pattern: they exclude --pattern barber";
            return false;
        }
        settings.pattern = 2;
    }
    return true;
}

}  // namespace

bool ParseSettings(const SettingWords &words, TestSettings &settings, std::string &reason) {
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    settings = TestSettings{};
    if (!ParseNumber(words.speed, "--speed", 1, kMax, "a positive number of baud", settings.speed,
                     reason) ||
        !ParseNumber(words.dataBits, "--data-bits", 5, 8, "5, 6, 7 or 8", settings.dataBits,
                     reason) ||
        !ParseChoice(words.parity, kParities, "--parity", settings.parity, reason) ||
        !ParseChoice(words.stopBits, kStopBits, "--stop-bits", settings.stopBits, reason) ||
        !ParseChoice(words.flow, kFlows, "--flow", settings.flow, reason) ||
        !ParseChoice(words.pattern, kPatterns, "--pattern", settings.pattern, reason) ||
        !ParseNumber(words.time, "--time", 0, kMax, "seconds, 0 for no limit", settings.time,
                     reason) ||
        !ParseNumber(words.stopOnErrors, "--stop-on-errors", 0, kMax,
                     "a number of errors, 0 for no limit", settings.stopOnErrors, reason) ||
        !ParseNumber(words.rasStatus, "--ras-status", 0, 1, "0 or 1", settings.rasStatus, reason) ||
        !ParseUserData(words, settings, reason)) {
        return false;
    }
    if (words.noCheck && words.check) {
        reason = "--check and --no-check exclude each other";
        return false;
    }
    if (words.noCheck || words.check) {
        settings.dataCheck = words.check ? 1 : 2;
    }
    if (words.internal && words.external) {
        reason = "--internal and --external exclude each other";
        return false;
    }
    if (words.internal || words.external) {
        settings.mode = words.internal ? 1 : 2;
    }
    return true;
}

std::vector<mml::Binding> SettingBindings(const TestSettings &settings, const std::string &instance,
                                          int port) {
    std::vector<mml::Binding> bindings;
    auto integer = [&](std::string_view object, const std::optional<int32_t> &value) {
        if (value) {
            bindings.push_back(PortBinding(object, instance, port, mml::Value::Integer(*value)));
        }
    };
    integer("portLoopMode", settings.mode);
    integer("portLoopPattern", settings.pattern);
    if (settings.userData) {
        bindings.push_back(
            PortBinding("portLoopUData", instance, port, mml::Value::Octets(*settings.userData)));
    }
    integer("portLoopSpeed", settings.speed);
    integer("portLoopParity", settings.parity);
    integer("portLoopDataSize", settings.dataBits);
    integer("portLoopFlow", settings.flow);
    integer("portLoopDataCheck", settings.dataCheck);
    integer("portLoopTime", settings.time);
    integer("portLoopStopOnErr", settings.stopOnErrors);
    integer("portStopBits", settings.stopBits);
    integer("portRasStatus", settings.rasStatus);
    return bindings;
}

std::string CheckRunnable(const TestSettings &settings, const PortSnapshot &current) {
    int32_t pattern = settings.pattern.value_or(current.Integer("portLoopPattern"));
    const std::string &data =
        settings.userData ? *settings.userData : current.Text("portLoopUData");
    if (pattern == 2 && data.empty()) {
        return "the user pattern needs data: give --data TEXT or --data-hex HEX";
    }
    return {};
}

std::string ShortLineSettings(int32_t speed, int32_t dataBits, int32_t parity, int32_t stopBits) {
    static constexpr std::string_view kParityLetters = "NOEMS";
    char letter = parity >= 1 && parity <= 5 ? kParityLetters[parity - 1] : '?';
    std::string stop = stopBits == 2 ? "1.5" : stopBits == 3 ? "2" : stopBits == 1 ? "1" : "?";
    return std::to_string(speed) + ' ' + std::to_string(dataBits) + letter + stop;
}

}  // namespace vyn::console
