// The running board's lines: where characters go, receive faults, held writers and the line
// rate, termios changes, and ports reopened many times.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "mml/store.h"
#include "tests/board/board_process.h"

namespace vyn::board::testing {
namespace {

using namespace std::chrono_literals;

const LineSetting kFast{921600, 8, Parity::kNone, StopBits::kOne, Flow::kNone};

std::string Pattern(std::size_t length) {
    std::string data;
    for (std::size_t i = 0; i < length; ++i) {
        data += static_cast<char>(0x20 + i % 60);
    }
    return data;
}

class LinesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(board_.ready());
        for (int number = 1; number <= 3; ++number) {
            ASSERT_TRUE(client().SetLine(Name(number), kFast).ok());
            fds_[number] = OpenPort(board_.PortPath(number));
            ASSERT_GE(fds_[number], 0);
        }
    }
    void TearDown() override {
        for (int fd : fds_) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }
    static std::string Name(int number) { return "COM" + std::to_string(number); }
    Client &client() { return board_.client(); }
    ErrorCounters Counters(int number) {
        Result<ErrorCounters> errors = client().Errors(Name(number));
        EXPECT_TRUE(errors.ok()) << errors.message;
        return errors.value;
    }
    // Waits until the port's transmitter has put `count` characters on the line.
    bool SentAll(int number, std::uint64_t count) {
        return WaitUntil([&] { return Counters(number).sent >= count; }, 20s);
    }
    // Writes on a thread while the caller reads.
    std::thread Writer(int number, std::string data) {
        return std::thread(
            [fd = fds_[number], data = std::move(data)] { EXPECT_TRUE(WriteAll(fd, data, 30s)); });
    }

    BoardProcess board_{3};
    int fds_[4] = {-1, -1, -1, -1};
};

TEST_F(LinesTest, CharactersGoWhereLoopbackAndPlugSendThem) {
    // Internal loopback returns what is written, whatever the plug says.
    ASSERT_TRUE(client().Set("COM1", "loopback=on plug=cross:COM2").ok());
    ASSERT_TRUE(WriteAll(fds_[1], "internal", 2s));
    EXPECT_EQ(ReadFor(fds_[1], 8, 5s), "internal");

    // No loopback and no plug: the characters leave the port and are lost.
    ASSERT_TRUE(client().Set("COM1", "loopback=off plug=none").ok());
    ASSERT_TRUE(WriteAll(fds_[1], "lost", 2s));
    ASSERT_TRUE(SentAll(1, 12));
    EXPECT_EQ(ReadFor(fds_[1], 1, 100ms), "");
    EXPECT_EQ(Counters(1).delivered, 8u);

    ASSERT_TRUE(client().Set("COM1", "plug=loop").ok());
    ASSERT_TRUE(WriteAll(fds_[1], "plugged", 2s));
    EXPECT_EQ(ReadFor(fds_[1], 7, 5s), "plugged");

    // A crossed cable delivers to the other port's reader only.
    ASSERT_TRUE(client().Set("COM1", "plug=cross:COM2").ok());
    ASSERT_TRUE(client().Set("COM2", "plug=cross:COM1").ok());
    ASSERT_TRUE(WriteAll(fds_[1], "to two", 2s));
    ASSERT_TRUE(WriteAll(fds_[2], "to one", 2s));
    EXPECT_EQ(ReadFor(fds_[2], 6, 5s), "to two");
    EXPECT_EQ(ReadFor(fds_[1], 6, 5s), "to one");
    EXPECT_EQ(ReadFor(fds_[3], 1, 100ms), "");
}

TEST_F(LinesTest, FaultsHitExactlyTheCountedCharacters) {
    const std::string data = Pattern(100000);
    ASSERT_TRUE(client().Set("COM1", "loopback=on corrupt=1000").ok());
    std::thread writer = Writer(1, data);
    std::string got = ReadFor(fds_[1], data.size(), 30s);
    writer.join();
    ASSERT_EQ(got.size(), data.size());
    int flipped = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (got[i] != data[i]) {
            EXPECT_EQ(got[i], data[i] ^ 1) << "at " << i;
            ++flipped;
        }
    }
    EXPECT_EQ(flipped, 100);
    EXPECT_EQ(Counters(1).corrupted, 100u);
    EXPECT_EQ(Counters(1).rxErrors, 0u);

    // Framing errors drop characters and count as receive errors; the crossed receiver is the
    // one that counts them.
    ASSERT_TRUE(client().Set("COM1", "loopback=off corrupt=0 plug=cross:COM2").ok());
    ASSERT_TRUE(client().Set("COM2", "framing=500").ok());
    writer = Writer(1, data);
    got = ReadFor(fds_[2], 99800, 30s);
    writer.join();
    EXPECT_EQ(got.size(), 99800u);
    ASSERT_TRUE(SentAll(1, 200000));
    ErrorCounters two = Counters(2);
    EXPECT_EQ(two.received, 100000u);
    EXPECT_EQ(two.delivered, 99800u);
    EXPECT_EQ(two.framingErrors, 200u);
    EXPECT_EQ(two.rxErrors, 200u);

    ASSERT_TRUE(client().Set("COM2", "framing=0 stray=0d0a").ok());
    ASSERT_TRUE(WriteAll(fds_[1], "ab", 2s));
    EXPECT_EQ(ReadFor(fds_[2], 4, 5s), "\r\nab");
    ASSERT_TRUE(WriteAll(fds_[1], "cd", 2s));
    EXPECT_EQ(ReadFor(fds_[2], 2, 5s), "cd");
}

TEST_F(LinesTest, FullQueueHoldsWritersAndDrainsAtTheLineRate) {
    const LineSetting slow{9600, 8, Parity::kNone, StopBits::kOne, Flow::kNone};
    ASSERT_TRUE(client().SetLine("COM3", slow).ok());
    const std::string piece(64, 'x');
    std::size_t accepted = 0;
    for (;;) {
        ssize_t count = write(fds_[3], piece.data(), piece.size());
        if (count < 0) {
            ASSERT_EQ(errno, EAGAIN);
            break;
        }
        accepted += static_cast<std::size_t>(count);
        ASSERT_LT(accepted, 1u << 20) << "writers are never held";
    }
    // Once the board has read what was accepted, the writer stays held.
    ASSERT_TRUE(WaitUntil([&] { return client().Queue("COM3").value >= 4096; }));
    pollfd entry{fds_[3], POLLOUT, 0};
    EXPECT_EQ(poll(&entry, 1, 200), 0);
    EXPECT_EQ(write(fds_[3], piece.data(), piece.size()), -1);
    EXPECT_EQ(errno, EAGAIN);

#ifndef VYNLOOP_SANITIZE
    std::uint32_t before = client().Queue("COM3").value;
    auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(3s);
    std::uint32_t after = client().Queue("COM3").value;
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_NEAR((before - after) / seconds, 960.0, 960.0 * 0.05);
#endif

    // Emptying the queue lets the writer go on.
    ASSERT_TRUE(client().Purge("COM3", PurgeWhat::kTransmit).ok());
    EXPECT_EQ(client().Queue("COM3").value, 0u);
    EXPECT_EQ(poll(&entry, 1, 5000), 1);
    EXPECT_EQ(write(fds_[3], piece.data(), piece.size()), 64);
}

TEST_F(LinesTest, AReceiverThatNobodyReadsOverrunsWithoutStoppingTheBoard) {
    ASSERT_TRUE(client().Set("COM1", "plug=cross:COM2").ok());
    const std::string data = Pattern(60000);
    ASSERT_TRUE(WriteAll(fds_[1], data, 20s));
    ASSERT_TRUE(SentAll(1, data.size()));
    ErrorCounters two = Counters(2);
    EXPECT_GT(two.overruns, 0u);
    EXPECT_EQ(two.delivered + two.overruns, data.size());
    EXPECT_EQ(two.rxErrors, two.overruns);
    // What did fit is there to read, in order.
    std::string got = ReadFor(fds_[2], two.delivered, 5s);
    EXPECT_EQ(got, data.substr(0, got.size()));
}

TEST_F(LinesTest, PurgeDiscardsWhatWaitsForTheReader) {
    ASSERT_TRUE(client().SetLoopback("COM1", true).ok());
    ASSERT_TRUE(WriteAll(fds_[1], "stale", 2s));
    ASSERT_TRUE(WaitUntil([&] { return Counters(1).delivered == 5; }));
    ASSERT_TRUE(client().Purge("COM1", PurgeWhat::kReceive).ok());
    ASSERT_TRUE(WriteAll(fds_[1], "fresh", 2s));
    EXPECT_EQ(ReadFor(fds_[1], 5, 5s), "fresh");
}

TEST_F(LinesTest, FollowsSpeedAndStopBitsSetWithTermios) {
    termios settings{};
    ASSERT_EQ(tcgetattr(fds_[2], &settings), 0);
    cfsetspeed(&settings, B19200);
    settings.c_cflag |= CSTOPB;
    ASSERT_EQ(tcsetattr(fds_[2], TCSANOW, &settings), 0);
    auto line = [&] { return client().GetLine("COM2").value; };
    ASSERT_TRUE(WaitUntil([&] { return line().baud == 19200; }, 5s));
    EXPECT_EQ(line(), (LineSetting{19200, 8, Parity::kNone, StopBits::kTwo, Flow::kNone}));

    // A whole setting sent after termios keeps its data bits and parity.
    const LineSetting full{19200, 7, Parity::kEven, StopBits::kTwo, Flow::kXonXoff};
    ASSERT_TRUE(client().SetLine("COM2", full).ok());
    cfsetspeed(&settings, B38400);
    ASSERT_EQ(tcsetattr(fds_[2], TCSANOW, &settings), 0);
    ASSERT_TRUE(WaitUntil([&] { return line().baud == 38400; }, 5s));
    EXPECT_EQ(line().data, 8);
}

TEST_F(LinesTest, PortSurvivesManyOpensAndCloses) {
    ASSERT_TRUE(client().SetLoopback("COM3", true).ok());
    for (int i = 0; i < 500; ++i) {
        int fd = OpenPort(board_.PortPath(3));
        ASSERT_GE(fd, 0) << "open " << i;
        if (i % 50 == 0) {
            ASSERT_TRUE(WriteAll(fd, "x", 1s));
        }
        close(fd);
    }
    ASSERT_TRUE(WaitUntil([&] { return Counters(3).sent == 10; }));
    ASSERT_TRUE(client().Purge("COM3", PurgeWhat::kBoth).ok());
    ASSERT_TRUE(WriteAll(fds_[3], "still here", 2s));
    EXPECT_EQ(ReadFor(fds_[3], 10, 5s), "still here");

    // A program that hangs the port up (as a login program does with its terminal) leaves
    // every descriptor of it dead, the board's own included.
    pid_t child = fork();
    if (child == 0) {
        setsid();
        signal(SIGHUP, SIG_IGN);  // the hang-up signals the session
        int fd = open(board_.PortPath(3).c_str(), O_RDWR);
        _exit(fd < 0 ? 1 : tcgetsid(fd) != getpid() ? 2 : vhangup() != 0 ? 3 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
    close(fds_[3]);
    fds_[3] = OpenPort(board_.PortPath(3));
    termios settings{};
    ASSERT_EQ(tcgetattr(fds_[3], &settings), 0);
    cfsetspeed(&settings, B57600);
    ASSERT_EQ(tcsetattr(fds_[3], TCSANOW, &settings), 0);
    EXPECT_TRUE(WaitUntil([&] { return client().GetLine("COM3").value.baud == 57600; }, 5s));
    ASSERT_TRUE(WriteAll(fds_[3], "and here", 2s));
    EXPECT_EQ(ReadFor(fds_[3], 8, 5s), "and here");
}

TEST(BoardLifecycle, EndsCleanlyWhileEveryPortStreams) {
    BoardProcess board(4);
    ASSERT_TRUE(board.ready());
    std::vector<int> fds;
    for (int number = 1; number <= 4; ++number) {
        std::string name = "COM" + std::to_string(number);
        ASSERT_TRUE(board.client().SetLine(name, kFast).ok());
        ASSERT_TRUE(board.client().SetLoopback(name, true).ok());
        fds.push_back(OpenPort(board.PortPath(number)));
        ASSERT_GE(fds.back(), 0);
        // Fill the queue and the pty: the port streams until the board ends.
        while (write(fds.back(), "0123456789abcdef", 16) > 0) {
        }
    }
    EXPECT_EQ(board.Stop(5s), 0);
    for (int number = 1; number <= 4; ++number) {
        EXPECT_NE(access(board.PortPath(number).c_str(), F_OK), 0);
    }
    for (int fd : fds) {
        close(fd);
    }
}

// A directory of the test's own for a store, removed afterwards.
class StoreDir {
  public:
    StoreDir() {
        char pattern[] = "/tmp/vynboard-store-XXXXXX";
        path_ = mkdtemp(pattern) != nullptr ? pattern : "";
    }
    ~StoreDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string File() const { return path_ + "/mib.db"; }

  private:
    std::string path_;
};

TEST(ErrorPublishing, ReceiveErrorTotalsReachTheStore) {
    StoreDir dir;
    mml::Error error;
    auto store = mml::Store::Create(dir.File(), error);
    ASSERT_TRUE(store) << error.message;
    const mml::PortDevice ports[] = {{1, "COM1"}, {2, "COM2"}};
    ASSERT_TRUE(store->Provision("demo", ports, false, error)) << error.message;

    // Port 3 has no object in the store: the board leaves it out.
    BoardProcess board(3, {"--mib", dir.File(), "--instance", "demo"});
    ASSERT_TRUE(board.ready());
    ASSERT_TRUE(board.client().SetLine("COM1", kFast).ok());
    ASSERT_TRUE(board.client().Set("COM1", "loopback=on framing=500").ok());
    int fd = OpenPort(board.PortPath(1));
    ASSERT_GE(fd, 0);
    const std::string data = Pattern(100000);
    std::thread writer([&] { EXPECT_TRUE(WriteAll(fd, data, 30s)); });
    EXPECT_EQ(ReadFor(fd, 99800, 30s).size(), 99800u);
    writer.join();
    close(fd);

    auto published = [&](int port) {
        mml::Value value;
        std::string name = "portErrStatRxTotal.demo." + std::to_string(port);
        return store->GetValue(name, value, error) ? value.integer : -1;
    };
    EXPECT_TRUE(WaitUntil([&] { return published(1) == 200; }, 10s)) << published(1);
    EXPECT_EQ(published(2), 0);
    EXPECT_TRUE(board.client().Ports().ok());
}

TEST(ErrorPublishing, AStoreThatCannotBeOpenedDoesNotStopTheBoard) {
    BoardProcess board(1, {"--mib", "/nonexistent/vynloop/mib.db", "--instance", "demo"});
    ASSERT_TRUE(board.ready());
    ASSERT_TRUE(board.client().Set("COM1", "framing=1 loopback=on").ok());
    int fd = OpenPort(board.PortPath(1));
    ASSERT_TRUE(WriteAll(fd, "abc", 2s));
    EXPECT_TRUE(WaitUntil([&] { return board.client().Errors("COM1").value.rxErrors == 3; }));
    close(fd);
    EXPECT_EQ(board.Stop(), 0);
}

}  // namespace
}  // namespace vyn::board::testing
