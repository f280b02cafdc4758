// Tests with the real programs: a virtual board in the test's own directory, the agent that the
// console starts on demand, and vynloopctl. Timing figures are asserted only without sanitizers.
#pragma once

#include <sys/stat.h>

#include <memory>

#include "tests/console/console_fixture.h"

namespace vyn::console::test {

class LoopTest : public ConsoleTest {
  protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        dev_ = dir_ + "/dev";
        ASSERT_EQ(::mkdir(dev_.c_str(), 0700), 0);
        ::setenv("VYNLOOP_DEVDIR", dev_.c_str(), 1);
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
        board_ = ::vyn::test::StartBoard(dev_, ports);
        ASSERT_NE(board_, nullptr) << "vynboard did not start";
        std::vector<std::string> init{"init", "demo"};
        for (int port = 1; port <= provisioned; ++port) {
            init.push_back(std::to_string(port) + "=COM" + std::to_string(port));
        }
        ASSERT_EQ(Ctl(init).status, 0);
    }

    Finished Board(std::vector<std::string> words) {
        words.insert(words.begin(), {::vyn::test::Program("vynboard"), "ctl", "--dir", dev_});
        return RunProgram(words);
    }

    std::string Get(const std::string &name) {
        Finished run = Ctl({"get", name});
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out.empty() ? run.out : run.out.substr(0, run.out.size() - 1);
    }

    // Waits until the port's loop state is `state`, one of the vocabulary's LoopState values.
    bool WaitState(int port, int32_t state, int limitMs = 30000) {
        std::string name = "portLoopState.demo." + std::to_string(port);
        return WaitFor([&] { return Get(name) == std::to_string(state); }, limitMs);
    }

    // A console left running, its output in files of the test's directory.
    std::unique_ptr<Child> StartCtl(std::vector<std::string> args, const std::string &tag) {
        args.insert(args.begin(), ctl_);
        consoles_.push_back(tag);
        return std::make_unique<Child>(args, dir_ + "/" + tag + ".out", dir_ + "/" + tag + ".err");
    }
    std::string Output(const std::string &tag) { return ReadFile(dir_ + "/" + tag + ".out"); }
    std::string Errors(const std::string &tag) {
        std::string err = ReadFile(dir_ + "/" + tag + ".err");
        NoteAgents(err);
        return err;
    }

    std::string dev_;
    std::unique_ptr<Child> board_;
    std::vector<std::string> consoles_;
};

}  // namespace vyn::console::test
