// The store in trouble: a writer killed at any moment, a file that cannot be written (read-only,
// a full disk), a damaged file, and a file deleted or replaced under an open session.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "tests/mml/mml_fixture.h"

namespace vyn::mml::test {
namespace {

using StoreFaultsTest = StoreTest;

// What a publication writes: a result text and a counter on both ports, in one set.
std::string ResultText(int round) {
    return "Loopback test complete, no errors detected. Round " + std::to_string(round) + ".";
}

int Publish(MmlSessionHandle session, int round) {
    const std::string text = ResultText(round);
    Request set({"portLoopStopErr.demo.1", "portLoopTxTotal.demo.1", "portLoopStopErr.demo.2",
                 "portLoopTxTotal.demo.2"});
    for (std::size_t i : {0u, 2u}) {
        set.SetText(i, text);
        set.SetInteger(i + 1, round);
    }
    Outcome out = Send(session, MML_REQUEST_SET, set);
    set[0].value.text = set[2].value.text = nullptr;  // ours, not the library's to free
    return out.result == 0 && out.status == 0 ? 0 : 1;
}

// The store keeps in WAL mode with synchronous=NORMAL: a commit has written its pages to the log
// before it returns, so a process killed at any moment afterwards loses nothing it committed, and
// one killed in the middle of a commit leaves the store as it was before it. A writer is killed
// at random points; every round it said was committed must be there, whole.
TEST_F(StoreFaultsTest, AWriterKilledAtAnyMomentLosesNothingItCommitted) {
    Provisioned().reset();
    std::mt19937 random(std::random_device{}());
    int committed = 0;
    for (int kill = 0; kill < 12; ++kill) {
        int pipeEnds[2];
        ASSERT_EQ(::pipe(pipeEnds), 0);
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(pipeEnds[0]);
            MmlSessionHandle session = 0;
            if (MMLInitialize(1, 0, 0, 0, 0, &session) != 0) {
                ::_exit(1);
            }
            for (int round = committed + 1;; ++round) {
                if (Publish(session, round) != 0 ||
                    ::write(pipeEnds[1], &round, sizeof round) != sizeof round) {
                    ::_exit(2);
                }
            }
        }
        ::close(pipeEnds[1]);
        // Kill after a random number of commits, at whatever point the next one has reached.
        int wanted = std::uniform_int_distribution<int>(1, 40)(random);
        int round = 0;
        for (int seen = 0; seen < wanted; ++seen) {
            ASSERT_EQ(::read(pipeEnds[0], &round, sizeof round),
                      static_cast<ssize_t>(sizeof round));
        }
        // The point of the kill: somewhere in the next commits.
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution<int>(0, 3000)(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        int last = round;
        while (::read(pipeEnds[0], &round, sizeof round) == static_cast<ssize_t>(sizeof round)) {
            last = round;
        }
        ::close(pipeEnds[0]);

        Error error;
        auto store = Store::Open(path_, error);
        ASSERT_TRUE(store) << error.message;
        int32_t stored = Stored(*store, "portLoopTxTotal.demo.1").integer;
        // The round being committed when the kill came may or may not be in; none before it
        // may be missing, and both ports always come from one round.
        EXPECT_TRUE(stored == last || stored == last + 1) << stored << " after " << last;
        EXPECT_EQ(Stored(*store, "portLoopTxTotal.demo.2").integer, stored);
        EXPECT_EQ(Stored(*store, "portLoopStopErr.demo.2").text, ResultText(stored));
        committed = stored;
    }
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    sqlite3_stmt *check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(db);
}

// What a session's request says when the store cannot take it, in words, and that it takes the
// next one once the fault is gone, with nothing published before lost.
class StoreTroubleTest : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        Provisioned().reset();
        session_ = OpenSession(200);
        ASSERT_EQ(Publish(session_, 1), 0);
    }
    void TearDown() override {
        MMLTerminate(session_);
        StoreTest::TearDown();
    }
    int32_t Published() {
        Error error;
        auto store = Store::Open(path_, error);
        EXPECT_TRUE(store) << error.message;
        return store ? Stored(*store, "portLoopTxTotal.demo.1").integer : -1;
    }
    MmlSessionHandle session_ = 0;
};

// Root writes a read-only file: as root, the file is handed to nobody, who then plays the user.
TEST_F(StoreTroubleTest, AReadOnlyFileIsSaidSoAndWrittenOnceWritableAgain) {
    constexpr uid_t kNobody = 65534;
    MMLTerminate(session_);
    session_ = 0;
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::geteuid() == 0) {
            for (const std::string &file : {dir_, path_, path_ + "-wal", path_ + "-shm"}) {
                if (::chown(file.c_str(), kNobody, kNobody) != 0 && file == path_) {
                    ::_exit(10);
                }
            }
            if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
                ::_exit(11);
            }
        }
        // A session opened before keeps writing through its open file; one opened while the file
        // is read-only cannot write until it is writable again.
        MmlSessionHandle session = 0;
        if (::chmod(path_.c_str(), 0400) != 0 || MMLInitialize(1, 200, 0, 0, 0, &session) != 0) {
            ::_exit(12);
        }
        Error error;
        auto store = Store::Open(path_, error);
        if (!store || store->SetValue("portLoopTxTotal.demo.1", Value::Integer(2), error) ||
            error.message.find("cannot be written by this user") == std::string::npos) {
            std::fprintf(stderr, "%s\n", error.message.c_str());
            ::_exit(13);
        }
        store.reset();
        if (Publish(session, 2) == 0) {
            ::_exit(14);
        }
        // SQLite made its log files as the store's mode was: they are made writable too.
        for (const std::string &file : {path_, path_ + "-wal", path_ + "-shm"}) {
            ::chmod(file.c_str(), 0600);
        }
        if (Publish(session, 3) != 0) {
            ::_exit(15);
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "10-12: set-up, 13: no refusal in words, 14: written, 15: not written again";
    EXPECT_EQ(Published(), 3);
}

// A full disk, played by a file size limit on the writing process (SIGXFSZ ignored, so that the
// write fails with EFBIG as on a full disk) in a child, against a store that has to grow.
TEST_F(StoreTroubleTest, AFullDiskIsSaidSoAndLosesNothingPublished) {
    struct stat info {};
    ASSERT_EQ(::stat((path_ + "-wal").c_str(), &info), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{static_cast<rlim_t>(info.st_size), static_cast<rlim_t>(info.st_size)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        MmlSessionHandle session = 0;
        if (MMLInitialize(1, 200, 0, 0, 0, &session) != 0) {
            ::_exit(3);
        }
        for (int round = 100; round < 2100; ++round) {
            if (Publish(session, round) != 0) {
                int32_t error1 = 0;
                int32_t error2 = 0;
                MMLGetErrors(session, &error1, &error2);
                int code = error1 & 0xFF;
                ::_exit(code == SQLITE_FULL || code == SQLITE_IOERR ? 0 : 4);
            }
        }
        ::_exit(5);  // never filled
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3: no session, 4: another failure, 5: never full";
    // What the full writer had committed stays; the store goes on taking requests.
    EXPECT_GE(Published(), 1);
    EXPECT_EQ(Publish(session_, 7), 0);
    EXPECT_EQ(Published(), 7);
    EXPECT_EQ(std::string(ExplainSqliteCode(SQLITE_FULL)),
              "the disk (or this program's file size limit) is full");
}

// SQLite goes on with the file it opened: deleted, its writes would be lost to everyone; replaced,
// they would go where nobody reads. The session notices and says so, and uses the file that is at
// the path once there is one.
TEST_F(StoreTroubleTest, ADeletedOrReplacedFileIsNoticedAndTheNewOneUsed) {
    ASSERT_EQ(::unlink(path_.c_str()), 0);
    EXPECT_NE(Publish(session_, 2), 0);
    int32_t error1 = 0;
    int32_t error2 = 0;
    MMLGetErrors(session_, &error1, &error2);
    EXPECT_EQ(error2, MML_FAILURE_OPEN);

    Provisioned().reset();  // a new store at the path
    EXPECT_EQ(Publish(session_, 3), 0);
    EXPECT_EQ(Published(), 3);

    const std::string other = dir_ + "/other.db";
    {
        Error error;
        auto store = Store::Create(other, error);
        std::vector<PortDevice> ports = {{1, "COM1"}, {2, "COM2"}};
        ASSERT_TRUE(store && store->Provision("demo", ports, false, error)) << error.message;
    }
    ASSERT_EQ(::rename(other.c_str(), path_.c_str()), 0);
    EXPECT_EQ(Publish(session_, 4), 0);
    EXPECT_EQ(Published(), 4);
}

// Garbage over the file's pages or a truncated file: requests fail as the store's fault, with the
// damage said in words, and nothing crashes.
TEST_F(StoreTroubleTest, AGarbledOrTruncatedFileIsSaidToBeDamaged) {
    MMLTerminate(session_);  // all in the file itself, nothing left in its log
    session_ = OpenSession(200);
    for (bool truncate : {false, true}) {
        {
            auto size = static_cast<std::size_t>(std::filesystem::file_size(path_));
            std::fstream file(path_, std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(truncate ? 0 : 4096);
            file << std::string(size, '\x5a');
        }
        if (truncate) {
            ASSERT_EQ(::truncate(path_.c_str(), 1000), 0);
        }
        Publish(session_, 2);  // may still reach pages the connection holds
        Error error;
        auto store = Store::Open(path_, error);
        Value value;
        bool read = store && store->GetValue("portLoopTxTotal.demo.1", value, error);
        EXPECT_FALSE(read);
        EXPECT_NE(error.message.find(truncate ? "is not a store" : "damaged"), std::string::npos)
            << error.message;
    }
}

}  // namespace
}  // namespace vyn::mml::test
