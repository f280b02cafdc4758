// Every console test gets its own store path and run directory; agents that the console starts
// are ended by their process id at the end.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "mml/vocabulary.h"
#include "tests/support/console_checks.h"
#include "tests/support/process.h"

namespace vyn::console::test {

using ::vyn::test::AdoptOrphans;
using ::vyn::test::Child;
using ::vyn::test::Finished;
using ::vyn::test::KillDetached;
using ::vyn::test::ReadFile;
using ::vyn::test::RunProgram;
using ::vyn::test::SanitizedBuild;
using ::vyn::test::WaitFor;

class ConsoleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "vynctl.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        storePath_ = dir_ + "/mib.db";
        ::setenv("VYNLOOP_MIB", storePath_.c_str(), 1);
        ::setenv("VYNLOOP_RUNDIR", (dir_ + "/run").c_str(), 1);
        ASSERT_NE(std::getenv("VYNLOOP_BIN_DIR"), nullptr)
            << "VYNLOOP_BIN_DIR names the programs under test";
        ctl_ = ::vyn::test::Program("vynloopctl");
        AdoptOrphans();
    }
    void TearDown() override {
        for (pid_t pid : agents_) {
            KillDetached(pid, ::vyn::test::Program("vynloop"));
        }
        std::filesystem::remove_all(dir_);
    }

    Finished Ctl(std::vector<std::string> args) {
        args.insert(args.begin(), ctl_);
        Finished run = RunProgram(args);
        NoteAgents(run.err);
        return run;
    }

    // Remembers the agents that a run of the console says it started.
    void NoteAgents(const std::string &err) {
        std::vector<pid_t> started = ::vyn::test::AgentsStarted(err);
        agents_.insert(agents_.end(), started.begin(), started.end());
    }

    // Runs a command that must fail with `status` and one line of why.
    void ExpectError(const std::vector<std::string> &args, int status = 2) {
        ::vyn::test::ExpectOneLineFailure(Ctl(args), args, status);
    }

    std::string dir_;
    std::string storePath_;
    std::string ctl_;
    std::vector<pid_t> agents_;
};

}  // namespace vyn::console::test
