// The running board's lines: where characters go, receive faults and their published totals,
// held writers and the draining line, termios changes, ports reopened many times, and the end.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>

#include <thread>

#include "mml/store.h"
#include "tests/board/board_fixture.h"

namespace vyn::board::testing {
namespace {

const LineSetting kFast{921600, 8, Parity::kNone, StopBits::kOne, Flow::kNone};

// Whether every character of got is one of sent's, in sent's order: what a port delivers when
// it drops some characters and invents or reorders none.
bool InOrderWithGaps(const std::string &got, const std::string &sent) {
    std::size_t at = 0;
    for (char c : got) {
        at = sent.find(c, at);
        if (at == std::string::npos) {
            return false;
        }
        ++at;
    }
    return true;
}

// Three fast ports, open; the board publishes to a store where ports 1 and 2 exist.
class LinesTest : public BoardTest {
  protected:
    void SetUp() override {
        mml::Error error;
        store_ = mml::Store::Create(Path("mib.db"), error);
        const mml::PortDevice ports[] = {{1, "COM1"}, {2, "COM2"}};
        ASSERT_TRUE(store_ && store_->Provision("demo", ports, false, error)) << error.message;
        ASSERT_TRUE(Start(3, {"--mib", Path("mib.db"), "--instance", "demo"}));
        for (int number = 1; number <= 3; ++number) {
            ASSERT_TRUE(client_.SetLine("COM" + std::to_string(number), kFast).ok());
            fds_[number] = OpenPort(Port(number));
            ASSERT_TRUE(fds_[number].Valid());
        }
    }
    int Fd(int number) { return fds_[number].Get(); }
    ErrorCounters Counters(int number) {
        Result<ErrorCounters> errors = client_.Errors("COM" + std::to_string(number));
        EXPECT_TRUE(errors.ok()) << errors.message;
        return errors.value;
    }
    // Waits until the port's transmitter has put `count` characters on the line.
    bool SentAll(int number, std::uint64_t count) {
        return test::WaitFor([&] { return Counters(number).sent >= count; }, 20000);
    }
    // Writes on a thread while the caller reads.
    std::thread Writer(int number, std::string data) {
        return std::thread(
            [fd = Fd(number), data = std::move(data)] { EXPECT_TRUE(WriteAll(fd, data)); });
    }

    std::unique_ptr<mml::Store> store_;
    UniqueFd fds_[4];
};

TEST_F(LinesTest, CharactersGoWhereLoopbackAndPlugSendThem) {
    // Internal loopback returns what is written, whatever the plug says.
    ASSERT_TRUE(client_.Set("COM1", "loopback=on plug=cross:COM2").ok());
    ASSERT_TRUE(WriteAll(Fd(1), "internal"));
    EXPECT_EQ(ReadFor(Fd(1), 8), "internal");

    // No loopback and no plug: the characters leave the port and are lost.
    ASSERT_TRUE(client_.Set("COM1", "loopback=off plug=none").ok());
    ASSERT_TRUE(WriteAll(Fd(1), "lost"));
    ASSERT_TRUE(SentAll(1, 12));
    EXPECT_EQ(ReadFor(Fd(1), 1, 100), "");
    EXPECT_EQ(Counters(1).delivered, 8u);

    // A plug returns them too; a purge drops what waits for the reader.
    ASSERT_TRUE(client_.Set("COM1", "plug=loop").ok());
    ASSERT_TRUE(WriteAll(Fd(1), "stale"));
    ASSERT_TRUE(test::WaitFor([&] { return Counters(1).delivered == 13; }));
    ASSERT_TRUE(client_.Purge("COM1", PurgeWhat::kReceive).ok());
    ASSERT_TRUE(WriteAll(Fd(1), "plugged"));
    EXPECT_EQ(ReadFor(Fd(1), 7), "plugged");

    // A crossed cable delivers to the other port's reader only.
    ASSERT_TRUE(client_.Set("COM1", "plug=cross:COM2").ok());
    ASSERT_TRUE(client_.Set("COM2", "plug=cross:COM1").ok());
    ASSERT_TRUE(WriteAll(Fd(1), "to two"));
    ASSERT_TRUE(WriteAll(Fd(2), "to one"));
    EXPECT_EQ(ReadFor(Fd(2), 6), "to two");
    EXPECT_EQ(ReadFor(Fd(1), 6), "to one");
    EXPECT_EQ(ReadFor(Fd(3), 1, 100), "");
}

TEST_F(LinesTest, FaultsHitExactlyTheCountedCharactersAndReachTheStore) {
    const std::string data = Pattern(100000);
    ASSERT_TRUE(client_.Set("COM1", "loopback=on corrupt=1000").ok());
    std::thread writer = Writer(1, data);
    std::string got = ReadFor(Fd(1), data.size(), 30000);
    writer.join();
    ASSERT_EQ(got.size(), data.size());
    for (std::size_t i = 0; i < data.size(); ++i) {  // every 1000th character, its low bit
        ASSERT_EQ(got[i], (i + 1) % 1000 == 0 ? data[i] ^ 1 : data[i]) << "at " << i;
    }
    EXPECT_EQ(Counters(1).corrupted, 100u);
    EXPECT_EQ(Counters(1).rxErrors, 0u);

    // Framing errors drop characters and count as receive errors of the crossed receiver.
    ASSERT_TRUE(client_.Set("COM1", "loopback=off corrupt=0 plug=cross:COM2").ok());
    ASSERT_TRUE(client_.Set("COM2", "framing=500").ok());
    writer = Writer(1, data);
    EXPECT_EQ(ReadFor(Fd(2), 99800, 30000).size(), 99800u);
    writer.join();
    ASSERT_TRUE(SentAll(1, 200000));
    ErrorCounters two = Counters(2);
    EXPECT_EQ(two.received, 100000u);
    EXPECT_EQ(two.delivered, 99800u);
    EXPECT_EQ(two.framingErrors, 200u);
    EXPECT_EQ(two.rxErrors, 200u);
    auto published = [&](int port) {
        mml::Value value;
        mml::Error error;
        std::string name = "portErrStatRxTotal.demo." + std::to_string(port);
        return store_->GetValue(name, value, error) ? value.integer : -1;
    };
    EXPECT_TRUE(test::WaitFor([&] { return published(2) == 200; }, 10000)) << published(2);
    EXPECT_EQ(published(1), 0);  // port 3 has no object: the board leaves it out

    ASSERT_TRUE(client_.Set("COM2", "framing=0 stray=0d0a").ok());
    ASSERT_TRUE(WriteAll(Fd(1), "ab"));
    EXPECT_EQ(ReadFor(Fd(2), 4), "\r\nab");
    ASSERT_TRUE(WriteAll(Fd(1), "cd"));
    EXPECT_EQ(ReadFor(Fd(2), 2), "cd");
}

// Like a UART, a port works only while a program has it open: its closed receiver drops what
// arrives, its last close empties what waited, and a port that keeps its speed says so.
TEST_F(LinesTest, AClosedPortReceivesNothingAndItsLastCloseEmptiesIt) {
    auto open = [&](int number) {
        Result<KeyValues> shown = client_.Show("COM" + std::to_string(number));
        for (const auto &[key, value] : shown.value) {
            if (key == "open") {
                return value == "yes";
            }
        }
        return false;
    };
    ASSERT_TRUE(client_.Set("COM1", "plug=cross:COM2").ok());
    fds_[2].Reset();
    ASSERT_TRUE(test::WaitFor([&] { return !open(2); }));
    ASSERT_TRUE(WriteAll(Fd(1), "nobody listens"));
    ASSERT_TRUE(SentAll(1, 14));
    EXPECT_EQ(Counters(2).closedDrops, 14u);
    EXPECT_EQ(Counters(2).delivered, 0u);
    fds_[2] = OpenPort(Port(2));
    ASSERT_TRUE(test::WaitFor([&] { return open(2); }));
    EXPECT_EQ(ReadFor(Fd(2), 1, 200), "");

    // What waits for a reader is gone once the last program closed the port, whatever it is.
    ASSERT_TRUE(WriteAll(Fd(1), "stale"));
    ASSERT_TRUE(test::WaitFor([&] { return Counters(2).delivered == 5; }));
    UniqueFd second = OpenPort(Port(2));
    fds_[2].Reset();
    EXPECT_EQ(ReadFor(second.Get(), 5), "stale") << "another program still has it open";
    ASSERT_TRUE(WriteAll(Fd(1), "tail"));
    ASSERT_TRUE(test::WaitFor([&] { return Counters(2).delivered == 9; }));
    second.Reset();
    ASSERT_TRUE(test::WaitFor([&] { return !open(2); }));
    fds_[2] = OpenPort(Port(2));
    EXPECT_EQ(ReadFor(Fd(2), 1, 200), "");

    // Every 100th character lost without an error; a kept speed whatever is asked.
    ASSERT_TRUE(client_.Set("COM3", "loopback=on drop=100").ok());
    const std::string data = Pattern(10000);
    std::thread writer = Writer(3, data);
    EXPECT_EQ(ReadFor(Fd(3), 9900, 30000).size(), 9900u);
    writer.join();
    EXPECT_EQ(Counters(3).dropped, 100u);
    EXPECT_EQ(Counters(3).rxErrors, 0u);
    ASSERT_TRUE(client_.Set("COM3", "keepspeed=9600").ok());
    ASSERT_TRUE(client_.SetLine("COM3", kFast).ok());
    EXPECT_EQ(client_.GetLine("COM3").value.baud, 9600u);
    ASSERT_TRUE(client_.Set("COM3", "keepspeed=0").ok());
    ASSERT_TRUE(client_.SetLine("COM3", kFast).ok());
    EXPECT_EQ(client_.GetLine("COM3").value.baud, kFast.baud);
}

TEST_F(LinesTest, FullQueueHoldsWritersAndDrainsThroughTheLine) {
    ASSERT_TRUE(
        client_.SetLine("COM3", {9600, 8, Parity::kNone, StopBits::kOne, Flow::kNone}).ok());
    const std::string piece(64, 'x');
    std::size_t accepted = 0;
    for (ssize_t count = 0; count >= 0; accepted += static_cast<std::size_t>(count)) {
        count = write(Fd(3), piece.data(), piece.size());
        ASSERT_TRUE(count >= 0 || errno == EAGAIN);
        ASSERT_LT(accepted, 1u << 20) << "writers are never held";
    }
    // Once the board has read what was accepted, the writer is held and stays held.
    pollfd entry{Fd(3), POLLOUT, 0};
    ASSERT_TRUE(test::WaitFor(
        [&] { return client_.Queue("COM3").value >= 4096 && poll(&entry, 1, 0) == 0; }));
    EXPECT_EQ(poll(&entry, 1, 200), 0);
    EXPECT_EQ(write(Fd(3), piece.data(), piece.size()), -1);
    EXPECT_EQ(errno, EAGAIN);

    // The line carries the queue away while the writer is held (at what rate is the board
    // benchmark's to measure).
    std::uint32_t before = client_.Queue("COM3").value;
    EXPECT_TRUE(test::WaitFor([&] { return client_.Queue("COM3").value + 96 <= before; }));

    // Emptying the queue lets the writer go on.
    ASSERT_TRUE(client_.Purge("COM3", PurgeWhat::kTransmit).ok());
    EXPECT_EQ(client_.Queue("COM3").value, 0u);
    EXPECT_EQ(poll(&entry, 1, 5000), 1);
    EXPECT_EQ(write(Fd(3), piece.data(), piece.size()), 64);
}

TEST_F(LinesTest, AReceiverNobodyReadsKeepsWhatItsBufferHoldsAndOverrunsTheRest) {
    ASSERT_TRUE(client_.Set("COM1", "plug=cross:COM2").ok());
    const std::string data = Pattern(60000);
    // The default receive buffer, like a serial port's tty layer, holds it all for a late reader.
    ASSERT_TRUE(WriteAll(Fd(1), data));
    ASSERT_TRUE(SentAll(1, data.size()));
    EXPECT_EQ(Counters(2).overruns, 0u);
    EXPECT_EQ(ReadFor(Fd(2), data.size()), data);

    // The smallest one drops what finds it full, as overruns; what fits arrives in order. As on
    // a real port, room can open again while the line still runs (the kernel moves the pty's
    // data on in its own time), so what arrives is the data with gaps, not only its first part.
    ASSERT_TRUE(client_.Set("COM2", "rxbuf=24576").ok());
    ASSERT_TRUE(WriteAll(Fd(1), data));
    ASSERT_TRUE(SentAll(1, 2 * data.size()));
    ErrorCounters two = Counters(2);
    EXPECT_GT(two.overruns, 0u);
    EXPECT_EQ(two.rxErrors, two.overruns);
    EXPECT_EQ(two.delivered, 2 * data.size() - two.overruns);
    std::string got = ReadFor(Fd(2), data.size() - two.overruns);
    EXPECT_EQ(got.size() + two.overruns, data.size());
    ASSERT_GE(got.size(), 4096u);
    EXPECT_EQ(got.substr(0, 4096), data.substr(0, 4096)) << "an empty buffer takes the start";
    EXPECT_TRUE(InOrderWithGaps(got, data));
}

TEST_F(LinesTest, PortSurvivesManyOpensClosesAndAHangUpAndFollowsTermios) {
    ASSERT_TRUE(client_.SetLoopback("COM3", true).ok());
    for (int i = 0; i < 500; ++i) {
        UniqueFd fd = OpenPort(Port(3));
        ASSERT_TRUE(fd.Valid()) << "open " << i;
        if (i % 50 == 0) {
            ASSERT_TRUE(WriteAll(fd.Get(), "x", 1000));
        }
    }
    ASSERT_TRUE(test::WaitFor([&] { return Counters(3).sent == 10; }));
    ASSERT_TRUE(client_.Purge("COM3", PurgeWhat::kBoth).ok());
    ASSERT_TRUE(WriteAll(Fd(3), "still here"));
    EXPECT_EQ(ReadFor(Fd(3), 10), "still here");

    // A program that hangs the port up (as a login program does with its terminal) leaves
    // every descriptor of it dead, the board's own included.
    pid_t child = fork();
    if (child == 0) {
        setsid();
        signal(SIGHUP, SIG_IGN);  // the hang-up signals the session
        int fd = open(Port(3).c_str(), O_RDWR);
        _exit(fd < 0 ? 1 : tcgetsid(fd) != getpid() ? 2 : vhangup() != 0 ? 3 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
    // The board follows speed and stop bits set with termios on its renewed descriptor.
    fds_[3] = OpenPort(Port(3));
    termios settings{};
    ASSERT_EQ(tcgetattr(Fd(3), &settings), 0);
    cfsetspeed(&settings, B57600);
    settings.c_cflag |= CSTOPB;
    ASSERT_EQ(tcsetattr(Fd(3), TCSANOW, &settings), 0);
    auto line = [&] { return client_.GetLine("COM3").value; };
    EXPECT_TRUE(test::WaitFor([&] { return line().baud == 57600; }, 5000));
    EXPECT_EQ(line(), (LineSetting{57600, 8, Parity::kNone, StopBits::kTwo, Flow::kNone}));
    ASSERT_TRUE(WriteAll(Fd(3), "and here"));
    EXPECT_EQ(ReadFor(Fd(3), 8), "and here");
}

// Pulled out, a port's terminal is hung up under whoever has it open and its device goes away;
// the other ports carry on. Back, it is a new device with a fresh driver's settings, still
// wired as it was.
TEST_F(LinesTest, ARemovedPortFailsItsOpenersAloneAndComesBackAsANewDevice) {
    auto shown = [&](int number, const std::string &key) {
        Result<KeyValues> values = client_.Show("COM" + std::to_string(number));
        for (const auto &[name, value] : values.value) {
            if (name == key) {
                return value;
            }
        }
        return std::string("(none)");
    };
    ASSERT_TRUE(client_.Set("COM1", "plug=cross:COM2").ok());
    ASSERT_TRUE(client_.Set("COM2", "plug=cross:COM1").ok());
    ASSERT_TRUE(client_.SetLoopback("COM3", true).ok());
    const std::string device = shown(1, "device");
    ASSERT_TRUE(client_.Set("COM1", "present=no corrupt=7").ok());

    struct stat status {};
    EXPECT_NE(lstat(Port(1).c_str(), &status), 0) << "the link is gone";
    EXPECT_NE(stat(device.c_str(), &status), 0) << "the device node is gone";
    char byte = 'x';
    EXPECT_EQ(write(Fd(1), &byte, 1), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_LE(read(Fd(1), &byte, 1), 0);
    EXPECT_EQ(shown(1, "present"), "no");
    Result<LineSetting> refused = client_.GetLine("COM1");
    EXPECT_EQ(refused.error, ERROR_DEVICE_NOT_CONNECTED) << refused.message;
    // What the cable brings to it is lost; the other ports do not notice.
    ASSERT_TRUE(WriteAll(Fd(2), "into the void"));
    ASSERT_TRUE(SentAll(2, 13));
    ASSERT_TRUE(WriteAll(Fd(3), "unaffected"));
    EXPECT_EQ(ReadFor(Fd(3), 10), "unaffected");
    EXPECT_EQ(ReadFor(Fd(2), 1, 100), "");

    ASSERT_TRUE(client_.Set("COM1", "present=yes").ok());
    EXPECT_EQ(client_.GetLine("COM1").value, LineSetting{}) << "a fresh driver's line";
    EXPECT_EQ(shown(1, "plug"), "cross:COM2");
    EXPECT_EQ(shown(1, "corrupt"), "7");
    char target[256] = {};
    ASSERT_GT(readlink(Port(1).c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), shown(1, "device"));
    UniqueFd fresh = OpenPort(Port(1));
    ASSERT_TRUE(fresh.Valid());
    ASSERT_TRUE(client_.Set("COM1", "corrupt=0").ok());
    ASSERT_TRUE(client_.SetLine("COM1", kFast).ok());
    ASSERT_TRUE(client_.SetLine("COM2", kFast).ok());
    ASSERT_TRUE(WriteAll(fresh.Get(), "back"));
    EXPECT_EQ(ReadFor(Fd(2), 4), "back");
    ASSERT_TRUE(WriteAll(Fd(2), "again"));
    EXPECT_EQ(ReadFor(fresh.Get(), 5), "again");
    EXPECT_EQ(write(Fd(1), &byte, 1), -1) << "the old descriptor stays dead";
    // Bringing back a port that is there, or removing one that is gone, changes nothing.
    EXPECT_TRUE(client_.Set("COM1", "present=yes").ok());
    EXPECT_EQ(shown(1, "device"), std::string(target));
    EXPECT_FALSE(client_.Set("COM1", "present=maybe").ok());
}

using BoardLifecycle = BoardTest;

TEST_F(BoardLifecycle, WithoutItsStoreCountsErrorsAndEndsCleanlyWhileEveryPortStreams) {
    ASSERT_TRUE(Start(4, {"--mib", "/nonexistent/vynloop/mib.db", "--instance", "demo"}));
    ASSERT_TRUE(client_.Set("COM1", "framing=1").ok());
    std::vector<UniqueFd> fds;
    for (int number = 1; number <= 4; ++number) {
        std::string name = "COM" + std::to_string(number);
        ASSERT_TRUE(client_.SetLine(name, kFast).ok());
        ASSERT_TRUE(client_.SetLoopback(name, true).ok());
        fds.push_back(OpenPort(Port(number)));
        ASSERT_TRUE(fds.back().Valid());
        // Fill the queue and the pty: the port streams until the board ends.
        while (write(fds.back().Get(), "0123456789abcdef", 16) > 0) {
        }
    }
    EXPECT_TRUE(test::WaitFor([&] { return client_.Errors("COM1").value.rxErrors >= 16; }));
    EXPECT_EQ(Stop(), 0);
    for (int number = 1; number <= 4; ++number) {
        EXPECT_NE(access(Port(number).c_str(), F_OK), 0);
    }
}

}  // namespace
}  // namespace vyn::board::testing
