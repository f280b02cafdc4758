// The console's own rules, without processes: settings as typed, the pass rule, and the live
// view's output on a terminal and elsewhere.
#include <gtest/gtest.h>
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

#include "console/live_view.h"
#include "console/progress_line.h"
#include "console/rack/error_kinds.h"
#include "console/rack/loop_state.h"
#include "console/rack/test_settings.h"
#include "mml/dictionary.h"

namespace vyn::console {
namespace {

// Parses `words` as a command with the test settings; the error text, empty when accepted.
std::string ParseWords(std::vector<std::string> words, TestSettings &settings) {
    CLI::App command;
    settings = {};
    AddSettingOptions(command, settings);
    words.insert(words.begin(), "test");
    std::vector<const char *> argv;
    for (const std::string &word : words) {
        argv.push_back(word.c_str());
    }
    try {
        command.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError &error) {
        return error.what();
    }
    return {};
}

TEST(SettingsTest, TypedSettingsBecomeTheObjectsValues) {
    TestSettings settings;
    ASSERT_EQ(ParseWords({"--speed", "115200", "--data-bits", "5", "--parity", "mark",
                          "--stop-bits", "1.5", "--flow", "dtrdsr", "--data-hex", "55 aa:0D",
                          "--time", "0", "--no-check", "--external", "--ras-status", "yes"},
                         settings),
              "");
    EXPECT_EQ(settings.speed, 115200);
    EXPECT_EQ(settings.parity, ParityMark);
    EXPECT_EQ(settings.stopBits, StopBitsOneAndHalf);
    EXPECT_EQ(settings.flow, FlowDtrDsr);
    EXPECT_EQ(settings.pattern, LoopPatternUser) << "data implies the user pattern";
    EXPECT_EQ(settings.userData, std::string("\x55\xaa\x0d"));
    EXPECT_EQ(settings.dataCheck, DataCheckCountOnly);
    EXPECT_EQ(settings.mode, LoopModeExternal);
    EXPECT_EQ(settings.rasStatus, RasStatusMayBorrow);
    EXPECT_EQ(SettingBindings(settings, "demo", 3).size(), 11u) << "time 0 is a setting too";
    ASSERT_EQ(
        ParseWords({"--ras-status", "0", "--check", "--internal", "--time", "+0090"}, settings),
        "");
    EXPECT_EQ(settings.time, 90) << "decimal, not octal";
    EXPECT_EQ(settings.rasStatus, RasStatusNoBorrow);
    EXPECT_EQ(settings.dataCheck, DataCheckOn);
    EXPECT_EQ(settings.mode, LoopModeInternal);
    EXPECT_EQ(SettingBindings(settings, "demo", 3).size(), 4u) << "only what was given";
    EXPECT_EQ(ShortLineSettings(9600, 5, ParityMark, StopBitsOneAndHalf), "9600 5M1.5");
    EXPECT_EQ(ShortLineSettings(19200, 7, ParityEven, StopBitsTwo), "19200 7E2");

    // Each refusal is one line that names the option.
    for (const auto &[bad, option] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--data-hex", "abc"}, "--data-hex"},          // an odd digit
             {{"--data", std::string(257, 'x')}, "--data"},  // more than the agent keeps
             {{"--data", ""}, "--data"},
             {{"--data", "x", "--pattern", "barber"}, "--pattern"},
             {{"--data", "x", "--data-hex", "55"}, "--data"},
             {{"--check", "--no-check"}, "--check"},
             {{"--internal", "--external"}, "--internal"},
             {{"--speed", "2147483648"}, "--speed"},
             {{"--speed", "0"}, "--speed"},
             {{"--speed", ""}, "--speed"},
             {{"--data-bits", "9"}, "--data-bits"},
             {{"--time", "-1"}, "--time"},
             {{"--parity", "1"}, "--parity"},  // words, not the objects' values
             {{"--stop-bits", "3"}, "--stop-bits"},
             {{"--flow", "RTSCTS"}, "--flow"},
             {{"--ras-status", "2"}, "--ras-status"}}) {
        std::string why = ParseWords(bad, settings);
        EXPECT_NE(why.find(option), std::string::npos) << ::testing::PrintToString(bad) << why;
        EXPECT_EQ(why.find('\n'), std::string::npos) << why;
    }
}

TEST(OutcomeTest, OnlyAFullRunWithoutErrorsPasses) {
    const char *clean =
        "Loopback test complete, no errors detected. Avg transmission rate was "
        "9600 Baud. Barber pole pattern used due to 5 bit data size.";
    EXPECT_EQ(ClassifyOutcome(LoopStateComplete, clean), Outcome::Passed);
    EXPECT_EQ(ClassifyOutcome(LoopStateStopped, clean), Outcome::Stopped);
    EXPECT_EQ(ClassifyOutcome(LoopStateComplete,
                              "Loopback test complete, 1 receive error detected. Avg ..."),
              Outcome::Errors);
    EXPECT_EQ(ClassifyOutcome(LoopStateFailed,
                              "Loopback test terminated due to errors after 3 seconds, ..."),
              Outcome::Errors);
    EXPECT_EQ(ClassifyOutcome(LoopStateComplete,
                              "Infinite loopback test terminated due to loss of "
                              "communications, no errors detected. Avg ..."),
              Outcome::Failed);
    EXPECT_EQ(ClassifyOutcome(LoopStateFailed, "Loopback test failed, no data characters received"),
              Outcome::Failed);
    EXPECT_EQ(ClassifyOutcome(LoopStateFailed, clean), Outcome::Failed) << "shut down";
    // Ended by the next agent, or shown so by a remote rack's subagent while no agent runs.
    EXPECT_EQ(ClassifyOutcome(LoopStateFailed, kInterruptedResult), Outcome::Interrupted);
    EXPECT_EQ(ClassifyOutcome(LoopStateFailed, kOrphanedResult), Outcome::Interrupted);
    EXPECT_EQ(ClassifyOutcome(LoopStateComplete, kOrphanedResult), Outcome::Failed);
    EXPECT_EQ(ClassifyOutcome(LoopStateStopping, ""), Outcome::Pending);
    EXPECT_EQ(ClassifyOutcome(LoopStateIdle, ""), Outcome::None);
    EXPECT_EQ(LoopStateWord(LoopStateStopping), "stopping");
    EXPECT_EQ(LoopStateWord(6), "state 6") << "a value nobody writes";
}

// What a LiveView writes, through a temporary file.
class Captured {
  public:
    Captured() : file_(std::tmpfile()) {}
    ~Captured() { std::fclose(file_); }
    std::FILE *file() { return file_; }
    // What was written since the last call.
    std::string Take() {
        std::fflush(file_);
        long end = std::ftell(file_);
        std::string text(static_cast<std::size_t>(end - taken_), '\0');
        std::fseek(file_, taken_, SEEK_SET);
        text.resize(std::fread(text.data(), 1, text.size(), file_));
        std::fseek(file_, end, SEEK_SET);
        taken_ = end;
        return text;
    }

  private:
    std::FILE *file_;
    long taken_ = 0;
};

TEST(LiveViewTest, RedrawsInPlaceOnATerminalAndPrintsOnlyChangesElsewhere) {
    Captured plain;
    LiveView piped(plain.file(), false);
    piped.Show({"a", "b"});
    EXPECT_EQ(plain.Take(), "a\nb\n");
    piped.Show({"a", "c"});
    EXPECT_EQ(plain.Take(), "c\n");

    Captured tty;
    LiveView terminal(tty.file(), true);
    terminal.Show({"a", "b"});
    terminal.Show({"a", std::string(500, 'x')});
    std::string drawn = tty.Take();
    EXPECT_NE(drawn.find("\x1b[2A"), std::string::npos) << "back up over both lines";
    EXPECT_EQ(drawn.find(std::string(500, 'x')), std::string::npos) << "cut to the width";

    EXPECT_EQ(ProgressBar(5, 10), "[##########..........]");
    EXPECT_EQ(ProgressBar(-3, 10), ProgressBar(0, 10));
    EXPECT_EQ(ProgressBar(12, 10), ProgressBar(10, 10));
    for (unsigned tick = 0; tick < 40; ++tick) {
        EXPECT_EQ(MovingBlock(tick).size(), kBarWidth + 2);
        EXPECT_NE(MovingBlock(tick), MovingBlock(tick + 1));
    }
}

// A port's snapshot with the given integers and device.
PortSnapshot Snapshot(int number, const std::string &device,
                      const std::vector<std::pair<std::string_view, int32_t>> &integers) {
    PortSnapshot port;
    port.port = number;
    port.values.resize(mml::Dictionary().size());
    port.values[*mml::FindObject("portName")] = mml::Value::Octets(device);
    for (const auto &[name, value] : integers) {
        port.values[*mml::FindObject(name)] = mml::Value::Integer(value);
    }
    return port;
}

TEST(LiveViewTest, LinesFitTheTerminalAndKeepTheErrorsTimeAndState) {
    constexpr int32_t kHuge = -1;  // 4294967295 as the unsigned count it is
    std::vector<PortSnapshot> ports{Snapshot(1, "COM1",
                                             {{"portLoopState", LoopStateRunning},
                                              {"portLoopSpeed", 921600},
                                              {"portLoopDataSize", 8},
                                              {"portLoopParity", ParityNone},
                                              {"portStopBits", StopBitsOne},
                                              {"portLoopTime", 86400},
                                              {"portLoopTimeRemain", 43200},
                                              {"portLoopTxTotal", 123456789},
                                              {"portLoopRxTotal", 123456780},
                                              {"portLoopRate", 92160},
                                              {"portLoopAvgRate", 92159},
                                              {"portLoopInErrs", 12},
                                              {ObjectLoopCorrupted, 9},
                                              {ObjectLoopLost, 3}}),
                                    Snapshot(16, "ttyMultiport16",
                                             {{"portLoopState", LoopStateStopping},
                                              {"portLoopSpeed", 115200},
                                              {"portLoopDataSize", 7},
                                              {"portLoopParity", ParitySpace},
                                              {"portStopBits", StopBitsOneAndHalf},
                                              {"portLoopTime", 0},
                                              {"portRasStatus", RasStatusMayBorrow},
                                              {"portLoopTimeRemain", 59},
                                              {"portLoopTxTotal", kHuge},
                                              {"portLoopRxTotal", kHuge},
                                              {"portLoopRate", kHuge},
                                              {"portLoopAvgRate", kHuge},
                                              {"portLoopInErrs", kHuge}})};
    const std::size_t deviceWidth = 14;

    std::vector<std::string> full = ProgressLines(ports, deviceWidth, 0, 0);
    EXPECT_GT(full[1].size(), 119u) << "the case that needs fitting: " << full[1];
    EXPECT_NE(full[0].find("avg 92159  errors 12 (9 corrupted, 3 lost)  43200s left  running"),
              std::string::npos)
        << full[0];

    for (std::size_t columns : {119u, 79u}) {
        std::vector<std::string> lines = ProgressLines(ports, deviceWidth, 7, columns);
        ASSERT_EQ(lines.size(), 2u);
        for (const std::string &line : lines) {
            EXPECT_LE(line.size(), columns) << line;
        }
        EXPECT_EQ(lines[0].rfind(" 1 ", 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find("errors 12  43200s left  running"), std::string::npos) << lines[0];
        EXPECT_EQ(lines[1].rfind("16 ", 0), 0u) << lines[1];
        EXPECT_NE(lines[1].find("errors 4.29G  59s left"), std::string::npos) << lines[1];
        EXPECT_NE(lines[1].find("stopping"), std::string::npos) << lines[1];
    }
    std::vector<std::string> wide = ProgressLines(ports, deviceWidth, 7, 119);
    EXPECT_NE(wide[1].find("ttyMultiport16"), std::string::npos) << "device kept at 120 columns";
    EXPECT_NE(wide[0].find("921600 8N1"), std::string::npos) << wide[0];

    EXPECT_EQ(CompactCount(99999), "99999");
    EXPECT_EQ(CompactCount(123456), "123k");
    EXPECT_EQ(CompactCount(999999), "1M");
    EXPECT_EQ(CompactCount(4294967295u), "4.29G");
}

TEST(ResultDetailsTest, KindsAndTheFirstMisfitAndALineNotKeptBusy) {
    const std::string passed = "Loopback test complete, no errors detected. Avg transmission rate";
    PortSnapshot port = Snapshot(1, "COM1",
                                 {{"portLoopState", LoopStateComplete},
                                  {"portLoopTxTotal", 5000},
                                  {"portLoopFlow", FlowNone},
                                  {ObjectLoopLineShare, 42}});
    port.values[*mml::FindObject("portLoopStopErr")] = mml::Value::Octets(passed);
    std::vector<std::string> lines = ResultDetails(port);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("warning: the line carried 42% of what its speed allows", 0), 0u)
        << lines[0];
    port.values[*mml::FindObject("portLoopFlow")] = mml::Value::Integer(FlowRtsCts);
    EXPECT_TRUE(ResultDetails(port).empty()) << "flow control may hold a line";

    port.values[*mml::FindObject(ObjectLoopExtra)] = mml::Value::Integer(1);
    port.values[*mml::FindObject(ObjectLoopBreaks)] = mml::Value::Integer(1);
    port.values[*mml::FindObject(ObjectLoopFirstBadPos)] = mml::Value::Integer(7);
    port.values[*mml::FindObject(ObjectLoopFirstBadExpected)] = mml::Value::Integer('A');
    port.values[*mml::FindObject(ObjectLoopFirstBadReceived)] = mml::Value::Integer(0);
    lines = ResultDetails(port);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "1 extra, 1 break; first misfit: character 7, 'A' expected, 0x00 received");
    nlohmann::json misfit = FirstMisfitJson(port);
    EXPECT_EQ(misfit["position"], 7);
    EXPECT_EQ(KindsJson(port)["breaks"], 1);
}

}  // namespace
}  // namespace vyn::console
