// Tests with the real programs: a virtual board in the test's own directory, the agent that the
// console starts on demand, and vynloopctl. Timing figures are asserted only without sanitizers.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "tests/console/console_fixture.h"

namespace vyn::console::test {

#ifdef VYNLOOP_SANITIZE
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

// Polls `condition` every 20 ms until it holds or `limitMs` has passed.
inline bool WaitUntil(const std::function<bool()> &condition, int limitMs = 30000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class LoopTest : public ConsoleTest {
  protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        dev_ = dir_ + "/dev";
        ASSERT_EQ(::mkdir(dev_.c_str(), 0700), 0);
        ::setenv("VYNLOOP_DEVDIR", dev_.c_str(), 1);
        bin_ = std::filesystem::path(ctl_).parent_path();
    }
    void TearDown() override {
        for (const std::string &tag : consoles_) {
            Errors(tag);  // the agents they started, to be ended
        }
        board_.reset();
        ConsoleTest::TearDown();
    }

    // A board of `ports` ports, and the instance "demo" on its first `provisioned` ports.
    void StartBoard(int ports, int provisioned) {
        const std::string out = dir_ + "/board.out";
        board_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{bin_ + "/vynboard", "serve", "--dir", dev_, "--ports",
                                     std::to_string(ports)},
            out, dir_ + "/board.err");
        ASSERT_TRUE(WaitUntil([&] { return ReadFile(out).find("ready\n") != std::string::npos; }))
            << ReadFile(dir_ + "/board.err");
        std::vector<std::string> init{"init", "demo"};
        for (int port = 1; port <= provisioned; ++port) {
            init.push_back(std::to_string(port) + "=COM" + std::to_string(port));
        }
        ASSERT_EQ(Ctl(init).status, 0);
    }

    Finished Board(std::vector<std::string> words) {
        words.insert(words.begin(), {bin_ + "/vynboard", "ctl", "--dir", dev_});
        return RunProgram(words, dir_);
    }

    std::string Get(const std::string &name) {
        Finished run = Ctl({"get", name});
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out.empty() ? run.out : run.out.substr(0, run.out.size() - 1);
    }

    bool WaitState(int port, const std::string &state, int limitMs = 30000) {
        std::string name = "portLoopState.demo." + std::to_string(port);
        return WaitUntil([&] { return Get(name) == state; }, limitMs);
    }

    // A console left running, its output in files of the test's directory.
    std::unique_ptr<ChildProcess> StartCtl(std::vector<std::string> args, const std::string &tag) {
        args.insert(args.begin(), ctl_);
        consoles_.push_back(tag);
        return std::make_unique<ChildProcess>(args, dir_ + "/" + tag + ".out",
                                              dir_ + "/" + tag + ".err");
    }
    std::string Output(const std::string &tag) { return ReadFile(dir_ + "/" + tag + ".out"); }
    std::string Errors(const std::string &tag) {
        std::string err = ReadFile(dir_ + "/" + tag + ".err");
        NoteAgents(err);
        return err;
    }

    std::string dev_;
    std::string bin_;
    std::unique_ptr<ChildProcess> board_;
    std::vector<std::string> consoles_;
};

}  // namespace vyn::console::test
