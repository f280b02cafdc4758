// The live view in a real terminal: a tmux pane, read back as the screen shows it.
#include <unistd.h>

#include <regex>

#include "tests/console/loop_fixture.h"

namespace vyn::console::test {
namespace {

std::string FindInPath(const std::string &name) {
    std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        std::string candidate = path.substr(start, end - start) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return {};
}

class TerminalTest : public LoopTest {
  protected:
    void SetUp() override {
        LoopTest::SetUp();
        tmux_ = FindInPath("tmux");
        if (tmux_.empty()) {
            GTEST_SKIP() << "tmux is not installed";
        }
        socket_ = dir_ + "/tmux.sock";
    }
    void TearDown() override {
        if (!tmux_.empty()) {
            NoteAgents(Screen());
            pid_t server =
                static_cast<pid_t>(std::atoi(Tmux({"display-message", "-p", "#{pid}"}).c_str()));
            Tmux({"kill-server"});
            KillDetached(server, tmux_);
        }
        LoopTest::TearDown();
    }

    std::string Tmux(std::vector<std::string> words) {
        words.insert(words.begin(), {tmux_, "-S", socket_});
        return RunProgram(words).out;
    }
    std::string Screen() { return Tmux({"capture-pane", "-p"}); }
    bool WaitScreen(const std::string &text) {
        return WaitFor([&] { return Screen().find(text) != std::string::npos; });
    }

    std::string tmux_;
    std::string socket_;
};

struct Progress {
    int percent = -1;
    long tx = -1;
};

Progress PortOne(const std::string &screen) {
    static const std::regex line(R"( 1 COM1 +19200 7E2 +\[[#.]+\] +(\d+)%  tx (\d+))");
    std::smatch match;
    if (!std::regex_search(screen, match, line)) {
        return {};
    }
    return {std::stoi(match[1]), std::stol(match[2])};
}

TEST_F(TerminalTest, BarsFillAndCountersRiseInPlaceAndCtrlCAsksBeforeStopping) {
    StartBoard(2, 2);
    std::string env = "VYNLOOP_MIB=" + storePath_ + " VYNLOOP_RUNDIR=" + dir_ +
                      "/run VYNLOOP_DEVDIR=" + dev_ + " ";
    std::string script = env + ctl_ +
                         " test demo 1 2 --speed 19200 --data-bits 7 --parity even --stop-bits 2 "
                         "--time 6 --wait; echo EXIT=$?; " +
                         env + ctl_ +
                         " test demo 1 --time 0 --speed 115200 --wait; echo EXIT=$?; "
                         "sleep 600";
    Tmux({"new-session", "-d", "-x", "160", "-y", "40", script});

    Progress first, later;
    ASSERT_TRUE(WaitFor([&] {
        first = PortOne(Screen());
        return first.percent > 0 && first.percent < 100 && first.tx > 0;
    })) << Screen();
    ASSERT_TRUE(WaitFor([&] {
        later = PortOne(Screen());
        return later.percent > first.percent && later.tx > first.tx;
    })) << Screen();
    ASSERT_TRUE(WaitScreen("EXIT=0")) << Screen();
    std::string screen = Screen();
    screen = screen.substr(0, screen.find("EXIT=0"));  // the next command may have begun
    EXPECT_EQ(PortOne(screen).percent, 100);
    EXPECT_EQ(screen.find(" 1 COM1"), screen.rfind(" 1 COM1")) << "one line, redrawn:\n" << screen;

    ASSERT_TRUE(WaitState(1, LoopStateRunning));
    Tmux({"send-keys", "C-c"});
    ASSERT_TRUE(WaitScreen("Stop the running tests? [Y/n]")) << Screen();
    Tmux({"send-keys", "Enter"});
    ASSERT_TRUE(WaitScreen("EXIT=1")) << Screen();
    EXPECT_NE(Screen().find("port 1 (COM1) stopped: Loopback test complete"), std::string::npos)
        << Screen();
}

}  // namespace
}  // namespace vyn::console::test
