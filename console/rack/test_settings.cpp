#include "console/rack/test_settings.h"

#include <CLI/CLI.hpp>

#include <limits>
#include <map>
#include <span>
#include <string_view>

#include "base/text.h"
#include "console/rack/frame.h"
#include "console/rack/words.h"

namespace vyn::console {

namespace {

using vocabulary::Word;

// The words of a vocabulary table, as CLI11 takes a set.
std::vector<std::string> WordsOf(std::span<const Word> table) {
    std::vector<std::string> words;
    for (const Word &entry : table) {
        words.emplace_back(entry.word);
    }
    return words;
}

// CLI11 reads integers in any base (010 would be eight): a setting is a plain decimal number,
// handed on without its sign's plus and its leading zeros.
const CLI::Validator kDecimal(
    [](std::string &text) {
        std::size_t digits = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
        if (text.size() == digits ||
            text.find_first_not_of("0123456789", digits) != std::string::npos) {
            return "Value '" + text + "' is not a decimal number";
        }
        std::size_t first = std::min(text.find_first_not_of('0', digits), text.size() - 1);
        text = (text[0] == '-' ? "-" : "") + text.substr(first);
        return std::string();
    },
    "", "DECIMAL");

// Pairs of hex digits, optionally separated by blanks or colons between octets.
bool ParseHex(const std::string &word, std::string &octets) {
    octets.clear();
    std::size_t i = 0;
    while (i < word.size()) {
        if (word[i] == ' ' || word[i] == ':') {
            ++i;
            continue;
        }
        if (i + 1 >= word.size() || HexDigit(word[i]) < 0 || HexDigit(word[i + 1]) < 0) {
            return false;
        }
        octets.push_back(static_cast<char>(HexDigit(word[i]) * 16 + HexDigit(word[i + 1])));
        i += 2;
    }
    return !octets.empty();
}

std::string CheckUserData(const std::string &octets) {
    if (octets.empty()) {
        return "user data may not be empty";
    }
    if (octets.size() > static_cast<std::size_t>(UserDataSize)) {
        return "user data of " + std::to_string(octets.size()) + " octets is too long: at most " +
               std::to_string(UserDataSize);
    }
    return {};
}

const CLI::Validator kUserText([](const std::string &text) { return CheckUserData(text); }, "",
                               "USERDATA");

const CLI::Validator kUserHex(
    [](const std::string &text) {
        std::string octets;
        if (!ParseHex(text, octets)) {
            return "Value '" + text + "' is not pairs of hex digits, e.g. 55AA0D0A";
        }
        return CheckUserData(octets);
    },
    "", "HEXDATA");

CLI::Option *AddNumber(CLI::App &command, const std::string &name, int32_t low, int32_t high,
                       std::optional<int32_t> &setting, const std::string &help,
                       const std::string &type) {
    return command
        .add_option_function<int32_t>(
            name, [&setting](const int32_t &value) { setting = value; }, help)
        ->transform(kDecimal)
        ->check(CLI::Range(low, high).description(""))
        ->type_name(type);
}

// The option takes the table's words only; the setting gets the word's value.
CLI::Option *AddWord(CLI::App &command, const std::string &name, std::span<const Word> table,
                     std::optional<int32_t> &setting, const std::string &help) {
    return command
        .add_option_function<std::string>(
            name,
            [table, &setting](const std::string &word) {
                setting = vocabulary::ValueOf(table, word);
            },
            help)
        ->check(CLI::IsMember(WordsOf(table)).description(""))
        ->type_name(JoinWords(table, "|"));
}

// Two flags that exclude each other, each giving the setting its value.
void AddFlagPair(CLI::App &command, std::optional<int32_t> &setting, const std::string &first,
                 int32_t firstValue, const std::string &firstHelp, const std::string &second,
                 int32_t secondValue, const std::string &secondHelp) {
    CLI::Option *one = command.add_flag_callback(
        first, [&setting, firstValue] { setting = firstValue; }, firstHelp);
    CLI::Option *other = command.add_flag_callback(
        second, [&setting, secondValue] { setting = secondValue; }, secondHelp);
    one->excludes(other);
}

}  // namespace

void AddSettingOptions(CLI::App &command, TestSettings &settings, bool lineOptions) {
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    TestSettings &s = settings;
    if (lineOptions) {
        AddNumber(command, "--speed", 1, kMax, s.speed, "Line speed in baud", "BAUD");
        AddNumber(command, "--data-bits", kMinDataBits, kMaxDataBits, s.dataBits, "Data bits",
                  std::to_string(kMinDataBits) + ".." + std::to_string(kMaxDataBits));
        AddWord(command, "--parity", vocabulary::kParityWords, s.parity, "Parity");
        AddWord(command, "--stop-bits", vocabulary::kStopBitsWords, s.stopBits, "Stop bits");
    }
    AddWord(command, "--flow", vocabulary::kFlowWords, s.flow, "Flow control");
    AddWord(command, "--pattern", vocabulary::kPatternWords, s.pattern,
            "Test pattern: barber pole or the user data");
    CLI::Option *text = command
                            .add_option_function<std::string>(
                                "--data", [&s](const std::string &data) { s.userData = data; },
                                "User data (implies --pattern user), at most " +
                                    std::to_string(UserDataSize) + " octets")
                            ->check(kUserText)
                            ->type_name("TEXT");
    command
        .add_option_function<std::string>(
            "--data-hex",
            [&s](const std::string &hex) {
                std::string octets;
                ParseHex(hex, octets);
                s.userData = std::move(octets);
            },
            "User data in hex, e.g. 55AA0D0A (implies --pattern user)")
        ->check(kUserHex)
        ->type_name("HEX")
        ->excludes(text);
    AddNumber(command, "--time", 0, kMax, s.time, "Test length in seconds; 0 runs until stopped",
              "SECONDS");
    AddNumber(command, "--stop-on-errors", 0, kMax, s.stopOnErrors,
              "End the test after this many errors; 0 never", "N");
    // Scripts give the object's value, people may give the word.
    std::map<std::string, int32_t> rasStatus;
    for (const Word &entry : vocabulary::kRasStatusWords) {
        rasStatus.emplace(entry.word, entry.value);
    }
    command
        .add_option_function<int32_t>(
            "--ras-status", [&s](const int32_t &value) { s.rasStatus = value; },
            "1 (yes): the port may be borrowed from the remote access service, and a test "
            "without a time limit runs in 60-second periods that extend renews; 0 (no): normal")
        ->transform(CLI::CheckedTransformer(rasStatus).description(""))
        ->type_name("0|1");
    AddFlagPair(command, s.dataCheck, "--no-check", DataCheckCountOnly,
                "Count the characters only; do not check the data", "--check", DataCheckOn,
                "Check the data received against the pattern");
    AddFlagPair(command, s.mode, "--internal", LoopModeInternal,
                "Loop back inside the port (internal loopback)", "--external", LoopModeExternal,
                "Loop back through an external plug or cable");
    AddWord(command, "--lines", vocabulary::kLineWiringWords, s.lines,
            "Test the control lines first, through this wiring: internal (the UART's loopback), "
            "plug (a loopback plug), cable (a null-modem cable between the ports, taken in "
            "pairs), or off");
    command.add_flag_callback(
        "--break", [&s] { s.breakTime = kDefaultBreakTime; },
        "Send a break first and check that exactly one comes back (" +
            std::to_string(kDefaultBreakTime) + " ms; see --break-ms)");
    AddNumber(command, "--break-ms", 0, kMaxBreakTime, s.breakTime,
              "Send a break of this length first; 0: no break test", "MS");
    AddFlagPair(command, s.dataTest, "--no-data", DataTestOff,
                "Run only the line and break tests, without the data test", "--with-data",
                DataTestOn, "Run the data test (after the line and break tests when asked)");
    // Once every option is in: user data asks for the user pattern, and the line wiring the
    // loop mode it needs.
    command.callback([&s] {
        if (s.lines && *s.lines != LinesOff) {
            int32_t mode = *s.lines == LinesInternal ? LoopModeInternal : LoopModeExternal;
            if (s.mode && *s.mode != mode) {
                throw CLI::ValidationError(
                    "--lines " +
                    std::string(*vocabulary::WordOf(vocabulary::kLineWiringWords, *s.lines)) +
                    (mode == LoopModeInternal ? " needs --internal" : " needs --external"));
            }
            s.mode = mode;
        }
        if (!s.userData) {
            return;
        }
        if (s.pattern && *s.pattern != LoopPatternUser) {
            throw CLI::ValidationError(
                "--data and --data-hex give a user pattern: they exclude --pattern barber");
        }
        s.pattern = LoopPatternUser;
    });
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
    integer(ObjectLoopLines, settings.lines);
    integer(ObjectLoopBreakTime, settings.breakTime);
    integer(ObjectLoopDataTest, settings.dataTest);
    return bindings;
}

int32_t CablePeer(const TestSettings &settings, const std::vector<int> &ports, std::size_t index) {
    if (settings.lines != LinesCable || (index ^ 1) >= ports.size()) {
        return 0;
    }
    return ports[index ^ 1];
}

std::string CheckLinePorts(const TestSettings &settings, std::size_t portCount) {
    if (settings.lines == LinesCable && portCount % 2 != 0) {
        return "--lines cable tests the ports in pairs, the two ends of each cable (1 2 3 4: 1 "
               "with 2, 3 with 4): give an even number of ports";
    }
    return {};
}

std::string CheckRunnable(const TestSettings &settings, const PortSnapshot &current) {
    int32_t pattern = settings.pattern.value_or(current.Integer("portLoopPattern"));
    const std::string &data =
        settings.userData ? *settings.userData : current.Text("portLoopUData");
    if (pattern == LoopPatternUser && data.empty()) {
        return "the user pattern needs data: give --data TEXT or --data-hex HEX";
    }
    return {};
}

std::string ShortLineSettings(int32_t speed, int32_t dataBits, int32_t parity, int32_t stopBits) {
    return std::to_string(speed) + ' ' + FrameText(dataBits, parity, stopBits);
}

}  // namespace vyn::console
