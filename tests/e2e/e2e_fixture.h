// Every end-to-end test gets its own store, run directory and device directory, and cleans up
// every process it started.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace vyn::test {

class EndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        storePath_ = dir_ / "mib.db";
        run_ = dir_ / "run";
        dev_ = dir_ / "dev";
        std::filesystem::create_directories(dev_);
        setenv("VYNLOOP_MIB", storePath_.c_str(), 1);
        setenv("VYNLOOP_RUNDIR", run_.c_str(), 1);
        setenv("VYNLOOP_DEVDIR", dev_.c_str(), 1);
    }

    // vynloopctl with these words.
    Finished Ctl(const std::vector<std::string> &words, int limitMs = 60000) {
        std::vector<std::string> argv{Program("vynloopctl")};
        argv.insert(argv.end(), words.begin(), words.end());
        return RunProgram(argv, limitMs);
    }

    // The bare value of one object.
    std::string Get(const std::string &name) {
        Finished got = Ctl({"get", name});
        EXPECT_EQ(got.status, 0) << got.err;
        if (!got.out.empty() && got.out.back() == '\n') {
            got.out.pop_back();
        }
        return got.out;
    }

    void Set(const std::vector<std::string> &assignments) {
        std::vector<std::string> words{"set"};
        words.insert(words.end(), assignments.begin(), assignments.end());
        Finished done = Ctl(words);
        ASSERT_EQ(done.status, 0) << done.err;
    }

    std::unique_ptr<Child> StartAgent(const std::vector<std::string> &words) {
        std::vector<std::string> argv{agentProgram_};
        argv.insert(argv.end(), words.begin(), words.end());
        return std::make_unique<Child>(argv);
    }

    bool AgentRuns(const std::string &instance) { return Ctl({"ping", instance}).status == 0; }

    // A board of `ports` ports in the device directory, ready to use (null when it did not
    // start), publishing its receive errors into the instance's objects when one is named.
    std::unique_ptr<Child> StartBoard(int ports, const std::string &instance = "") {
        std::vector<std::string> extra;
        if (!instance.empty()) {
            extra = {"--mib", storePath_, "--instance", instance};
        }
        auto board = ::vyn::test::StartBoard(dev_, ports, extra);
        EXPECT_NE(board, nullptr) << "vynboard did not start";
        return board;
    }

    Finished Board(const std::vector<std::string> &words) {
        std::vector<std::string> argv{Program("vynboard"), "ctl", "--dir", dev_};
        argv.insert(argv.end(), words.begin(), words.end());
        return RunProgram(argv);
    }

    TempDir dir_;
    std::string agentProgram_ = Program("vynloop");
    std::string storePath_;
    std::string run_;
    std::string dev_;
};

}  // namespace vyn::test
