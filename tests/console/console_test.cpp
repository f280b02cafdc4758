// The console's store commands, run as a process: init, get, set, status and bad input.
#include <sys/stat.h>

#include <fstream>

#include "tests/console/console_fixture.h"

namespace vyn::console::test {
namespace {

std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string &line : lines) {
        text += line + '\n';
    }
    return text;
}

// A coded value as get prints it.
std::string Shown(int32_t value) {
    return std::to_string(value);
}

TEST_F(ConsoleTest, InitProvisionsEveryPortObjectWithItsDefault) {
    ASSERT_EQ(Ctl({"init", "demo", "1=COM1", "16=ttyV9"}).status, 0);
    Finished run =
        Ctl({"get", "portName.demo.16", "portLoopMode.demo.16", "portLoopState.demo.16",
             "portLoopPattern.demo.16", "portLoopUData.demo.16", "portLoopSpeed.demo.16",
             "portLoopParity.demo.16", "portLoopDataSize.demo.16", "portLoopFlow.demo.16",
             "portLoopDataCheck.demo.16", "portLoopTime.demo.16", "portLoopStopOnErr.demo.16",
             "portErrStatRxTotal.demo.16", "portStopBits.demo.16", "portInBuffSize.demo.16",
             "portRasStatus.demo.16", "portmodLoopOperating.demo"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(
        run.out,
        Lines({"ttyV9", Shown(LoopModeInternal), Shown(LoopStateIdle), Shown(LoopPatternBarber), "",
               "9600", Shown(ParityNone), "8", Shown(FlowNone), Shown(DataCheckOn), "10", "0", "0",
               Shown(StopBitsOne), "4096", Shown(RasStatusNoBorrow), Shown(LoopOperatingActive)}));
    run = Ctl({"get", "portLoopStopErr.demo.1", "portLoopTxTotal.demo.1", "portLoopRxTotal.demo.1",
               "portLoopInErrs.demo.1", "portLoopRate.demo.1", "portLoopAvgRate.demo.1",
               "portLoopTimeRemain.demo.1", "portLoopLocErr.demo.1", "portLoopErrData.demo.1"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, Lines({"", "0", "0", "0", "0", "0", "0", "0", ""}));
    struct stat info {};
    ASSERT_EQ(::stat(storePath_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(ConsoleTest, InitAgainRenamesAndAddsPortsButKeepsResults) {
    ASSERT_EQ(Ctl({"init", "demo", "1=COM1", "2=COM2"}).status, 0);
    ASSERT_EQ(Ctl({"set", "portLoopTxTotal.demo.1=77", "portLoopStopErr.demo.1=done, no errors",
                   "portLoopSpeed.demo.2=115200"})
                  .status,
              0);
    ASSERT_EQ(Ctl({"init", "demo", "1=COM9", "3=COM3"}).status, 0);
    Finished run = Ctl({"get", "portName.demo.1", "portLoopTxTotal.demo.1",
                        "portLoopStopErr.demo.1", "portLoopSpeed.demo.2", "portName.demo.3"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, Lines({"COM9", "77", "done, no errors", "115200", "COM3"}));
}

TEST_F(ConsoleTest, SetIsTypedAndAllOrNothing) {
    ASSERT_EQ(Ctl({"init", "demo", "1=COM1"}).status, 0);
    ASSERT_EQ(Ctl({"--mib", storePath_, "set", "portLoopSpeed.demo.1=-2147483648",
                   "portLoopTime.demo.1=+30", "portLoopUData.demo.1=a=b c", "portName.demo.1="})
                  .status,
              0);
    Finished run = Ctl({"get", "portLoopSpeed.demo.1", "portLoopTime.demo.1",
                        "portLoopUData.demo.1", "portName.demo.1", "--mib", storePath_});
    EXPECT_EQ(run.out, Lines({"-2147483648", "30", "a=b c", ""}));

    for (const char *bad :
         {"portLoopTime.demo.1=2147483648", "portLoopTime.demo.1=", "portLoopTime.demo.1=12x",
          "portLoopTime.demo.1=0x10", "portLoopTime.demo.1= 5", "portLoopTime.demo.1=+-5",
          "portLoopTime.demo.1", "portLoopTime.demo.2=5", "portLoopTim.demo.1=5",
          "portLoopTime.de,mo.1=5"}) {
        ExpectError({"set", "portLoopSpeed.demo.1=1200", bad});
    }
    EXPECT_EQ(Ctl({"get", "portLoopSpeed.demo.1", "portLoopTime.demo.1"}).out,
              Lines({"-2147483648", "30"}));
}

TEST_F(ConsoleTest, BadInputGivesOneLineAndWritesNothing) {
    ExpectError({"get", "portName.demo.1"});  // no store yet
    ExpectError({"init", "demo", "0=COM0"});
    ExpectError({"init", "demo", "1=COM1", "17=COM17"});
    ExpectError({"init", "demo", "01=COM1"});
    ExpectError({"init", "demo", "1=dev/COM1"});
    ExpectError({"init", "demo", "1=COM1", "1=COM2"});
    ExpectError({"init", "de,mo", "1=COM1"});
    ExpectError({"init", std::string(32, 'i'), "1=COM1"});
    ExpectError({"init", "demo"});
    EXPECT_FALSE(std::filesystem::exists(storePath_)) << "a refused init creates no store";

    ASSERT_EQ(Ctl({"init", "demo", "1=COM1"}).status, 0);
    ExpectError({"get", "portLoopState.demo.1", "portLoopState.demo.2"});
    ExpectError({"get", "portLoopState.other.1"});
    ExpectError({"get", "portLoopState.demo.0"});
    ExpectError({"get", "portLoopState.demo"});
    ExpectError({"get", "portmodLoopOperating.demo.1"});
    ExpectError({"get", "nosuchObject.demo.1"});
    ExpectError({"status", "other"});
    ExpectError({"frobnicate"});
    ExpectError({});
    ExpectError({"get", "portName.demo.1", "--no-such-option"});
    // Bad test settings (each kind is checked in view_units_test) end the console before it
    // writes or starts anything.
    for (const std::vector<std::string> &settings :
         std::vector<std::vector<std::string>>{{"--parity", "bogus"},
                                               {"--speed", ""},
                                               {"--internal", "--external"},
                                               {"--data", "x", "--pattern", "barber"}}) {
        std::vector<std::string> args{"test", "demo", "1"};
        args.insert(args.end(), settings.begin(), settings.end());
        ExpectError(args);
    }
    EXPECT_EQ(Ctl({"get", "portLoopState.demo.1", "portLoopParity.demo.1"}).out,
              Lines({Shown(LoopStateIdle), Shown(ParityNone)}));
    EXPECT_EQ(Ctl({"ping", "demo"}).status, 1) << "no agent was started";

    std::filesystem::remove(storePath_);
    std::ofstream(storePath_) << std::string(2048, 'x');
    for (const auto &args : std::vector<std::vector<std::string>>{{"init", "demo", "1=COM1"},
                                                                  {"get", "portName.demo.1"},
                                                                  {"set", "portName.demo.1=COM2"},
                                                                  {"status", "demo"}}) {
        ExpectError(args);
    }
    std::ifstream in(storePath_);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), std::string(2048, 'x'));
}

// A test shown running while no agent runs has ended without a result.
TEST_F(ConsoleTest, StatusShowsEachPortAndTheAgent) {
    ASSERT_EQ(Ctl({"init", "demo", "1=COM1", "2=COM2", "12=ttyV12"}).status, 0);
    ASSERT_EQ(Ctl({"set", "portLoopState.demo.1=" + Shown(LoopStateRunning),
                   "portLoopState.demo.2=" + Shown(LoopStateComplete),
                   "portLoopStopErr.demo.2=Loopback test complete, no errors detected.",
                   "portLoopState.demo.12=9"})
                  .status,
              0);
    Finished run = Ctl({"status", "demo"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              Lines({"PORT  DEVICE  STATE        LAST RESULT",
                     "1     COM1    interrupted  (no result: the agent ended during the test)",
                     "2     COM2    complete     Loopback test complete, no errors detected.",
                     "12    ttyV12  state 9", "agent: not running"}));
}

TEST_F(ConsoleTest, EveryCommandHasHelpWithAnExample) {
    for (const char *command : {"init", "get", "set", "status", "ping", "notify", "test", "watch",
                                "stop", "extend", "results"}) {
        Finished run = Ctl({command, "--help"});
        EXPECT_EQ(run.status, 0) << command;
        EXPECT_NE(run.out.find("Example:\n  vynloopctl " + std::string(command)), std::string::npos)
            << run.out;
    }
}

}  // namespace
}  // namespace vyn::console::test
