// Several threads on one session, several processes on one store.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/mml/mml_fixture.h"

namespace vyn::mml::test {
namespace {

using ConcurrencyTest = StoreTest;

// Reads an integer, adds one and writes it back, `rounds` times; also writes `rounds` as the
// port's receive total in the same set as the last increment. Returns the number of failures.
int Increment(MmlSessionHandle session, int port, int rounds) {
    const std::string suffix = ".demo." + std::to_string(port);
    int failures = 0;
    for (int i = 0; i < rounds; ++i) {
        Request get({"portLoopTxTotal" + suffix});
        Outcome out = Send(session, MML_REQUEST_GET, get);
        if (out.result != 0 || out.status != 0) {
            ++failures;
            continue;
        }
        Request set({"portLoopTxTotal" + suffix, "portLoopRxTotal" + suffix});
        set.SetInteger(0, get[0].value.integer + 1);
        set.SetInteger(1, i + 1);
        out = Send(session, MML_REQUEST_SET, set);
        failures += (out.result != 0 || out.status != 0) ? 1 : 0;
    }
    return failures;
}

void ExpectTotals(Store &store, int port, int rounds) {
    for (const char *object : {"portLoopTxTotal.demo.", "portLoopRxTotal.demo."}) {
        Value value;
        Error error;
        std::string name = object + std::to_string(port);
        EXPECT_TRUE(store.GetValue(name, value, error)) << error.message;
        EXPECT_EQ(value.integer, rounds) << name;
    }
}

TEST_F(ConcurrencyTest, TwoProcessesWritingAtOnceLoseNothing) {
    // The children open their own connections: none may be inherited across fork.
    Provisioned().reset();
    constexpr int kRounds = 1000;
    std::vector<pid_t> children;
    for (int port : {1, 2}) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            MmlSessionHandle session = 0;
            int failures = MMLInitialize(1, 0, 0, 0, 0, &session) == 0 ? 0 : kRounds;
            failures += Increment(session, port, kRounds);
            MMLTerminate(session);
            ::_exit(failures > 100 ? 100 : failures);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "failed requests in a writer";
    }
    Error error;
    auto store = Store::Open(path_, error);
    ASSERT_TRUE(store) << error.message;
    ExpectTotals(*store, 1, kRounds);
    ExpectTotals(*store, 2, kRounds);
}

// Reads and writes in one transaction: two processes adding one each time lose no update, a
// decision to write nothing writes nothing, and a read of a missing object writes nothing.
TEST_F(ConcurrencyTest, UpdatesReadAndWriteAtomically) {
    Provisioned().reset();
    constexpr int kRounds = 300;
    auto add = [&](Store &store) {
        std::vector<Binding> reads(1);
        ParseObjectName("portLoopTxTotal.demo.1", reads[0].key);
        Error error;
        return store.Update(
            reads,
            [](std::span<const Binding> now) {
                Binding next = now[0];
                next.value.integer += 1;
                return std::vector<Binding>{next};
            },
            error);
    };
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Error error;
        auto store = Store::Open(path_, error);
        int failures = 0;
        for (int i = 0; i < kRounds && store; ++i) {
            failures += add(*store) ? 0 : 1;
        }
        ::_exit(store && failures == 0 ? 0 : 1);
    }
    Error error;
    auto store = Store::Open(path_, error);
    ASSERT_TRUE(store) << error.message;
    for (int i = 0; i < kRounds; ++i) {
        EXPECT_TRUE(add(*store));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(Stored(*store, "portLoopTxTotal.demo.1").integer, 2 * kRounds);

    std::vector<Binding> reads(2);
    ParseObjectName("portLoopState.demo.1", reads[0].key);
    ParseObjectName("portLoopState.demo.3", reads[1].key);  // not provisioned
    bool decided = false;
    EXPECT_FALSE(store->Update(
        reads,
        [&](std::span<const Binding>) {
            decided = true;
            return std::vector<Binding>{};
        },
        error));
    EXPECT_EQ(error.failure, MML_FAILURE_NO_SUCH_OBJECT);
    EXPECT_FALSE(decided);
    reads.pop_back();
    EXPECT_TRUE(store->Update(
        reads, [](std::span<const Binding>) { return std::vector<Binding>{}; }, error));
    EXPECT_EQ(Stored(*store, "portLoopTxTotal.demo.1").integer, 2 * kRounds);
}

TEST_F(ConcurrencyTest, ThreadsShareOneSession) {
    auto store = Provisioned();
    Error error;
    std::vector<PortDevice> more = {{3, "COM3"}, {4, "COM4"}};
    ASSERT_TRUE(store->Provision("demo", more, false, error));
    MmlSessionHandle session = OpenSession();
    constexpr int kRounds = 150;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int port = 1; port <= 4; ++port) {
        threads.emplace_back([&, port] { failures += Increment(session, port, kRounds); });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    for (int port = 1; port <= 4; ++port) {
        ExpectTotals(*store, port, kRounds);
    }
    MMLTerminate(session);
}

}  // namespace
}  // namespace vyn::mml::test
