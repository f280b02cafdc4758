// What another process sees: the named mutex and the tick count's wrap; and the version query,
// whose platform id tests override through the environment.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <list>
#include <string>

#include "tests/platform/test_support.h"

namespace {

using vyn::test::Child;

std::vector<std::string> Helper(const std::vector<std::string> &args) {
    std::vector<std::string> argv{PLATFORM_HELPER};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

int RunHelper(const std::vector<std::string> &args, std::string *out = nullptr) {
    vyn::test::Finished run = vyn::test::RunProgram(Helper(args), kGenerous);
    if (out != nullptr) {
        *out = run.out;
    }
    return run.status;
}

// Each test gets its own run directory, where the mutex's lock file lives.
class NamedMutex : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("VYNLOOP_RUNDIR", (dir_ / "run").c_str(), 1);
        mutex_ = CreateMutexA(nullptr, FALSE, "VYNLOOP");
        ASSERT_NE(mutex_, nullptr);
    }
    void TearDown() override {
        CloseHandle(mutex_);
        unsetenv("VYNLOOP_RUNDIR");
    }
    vyn::test::TempDir dir_;
    HANDLE mutex_ = nullptr;
};

TEST_F(NamedMutex, AKilledHolderGivesItBack) {
    Child holder(Helper({"mutex-hold", "VYNLOOP"}));
    std::string line;
    ASSERT_TRUE(holder.ReadLine(line) && line == "held");
    EXPECT_EQ(WaitForSingleObject(mutex_, 50), WAIT_TIMEOUT);
    holder.Signal(SIGKILL);
    EXPECT_EQ(WaitForSingleObject(mutex_, kGenerous), WAIT_OBJECT_0);
}

TEST_F(NamedMutex, TenRacingProcessesTakeTurns) {
    std::list<Child> racers;
    for (int i = 0; i < 10; ++i) {
        racers.emplace_back(Helper({"mutex-race", "VYNLOOP", dir_.path()}));
    }
    for (Child &racer : racers) {
        EXPECT_EQ(racer.Wait(), 0) << "3: two processes held the mutex at once";
    }
    EXPECT_EQ(std::filesystem::file_size(dir_ / "log"), 10u * 5);
}

TEST_F(NamedMutex, NamesOwnershipAndClosing) {
    for (std::string bad : {std::string(), std::string("a/b"), std::string(65, 'm')}) {
        EXPECT_EQ(CreateMutexA(nullptr, FALSE, bad.c_str()), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    }
    HANDLE first = CreateMutexA(nullptr, TRUE, std::string(64, 'm').c_str());
    HANDLE second = CreateMutexA(nullptr, FALSE, std::string(64, 'm').c_str());
    // The owner may take it again; every take needs its release.
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(first));
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);
    EXPECT_FALSE(ReleaseMutex(second));
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    EXPECT_TRUE(CloseHandle(first));  // gives it back
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(second) && CloseHandle(second));

    // A run directory that cannot be made: the system's reason comes back as a Win32 code.
    setenv("VYNLOOP_RUNDIR", "/proc/self/status/run", 1);
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, "VYNLOOP"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST(TickCount, WrapsWhenTheOffsetBringsTheWrapClose) {
    // Put the child's wrap 150 ms ahead: the monotonic clock is the same in every process.
    uint64_t now =
        std::chrono::duration_cast<milliseconds>(Clock::now().time_since_epoch()).count();
    uint64_t offset = (uint64_t{1} << 32) - (now + 150) % (uint64_t{1} << 32);
    setenv("VYNLOOP_TEST_TICK_OFFSET", std::to_string(offset).c_str(), 1);
    std::string output;
    EXPECT_EQ(RunHelper({"tick"}, &output), 0);
    unsetenv("VYNLOOP_TEST_TICK_OFFSET");
    unsigned before = 0, after = 0;
    ASSERT_EQ(std::sscanf(output.c_str(), "%u %u", &before, &after), 2) << output;
    EXPECT_GT(before, 0xFFFF0000u);
    EXPECT_LT(after, 0x10000u);
    EXPECT_LT(DWORD(after - before), kGenerous);
}

TEST(Version, SizeRuleAndPlatform) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info - 1;
    EXPECT_FALSE(GetVersionExA(&info));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    info.dwOSVersionInfoSize = 148;
    info.szCSDVersion[0] = 'x';
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
    EXPECT_GT(info.dwMajorVersion, 0u);
    EXPECT_STREQ(info.szCSDVersion, "");
}

}  // namespace
