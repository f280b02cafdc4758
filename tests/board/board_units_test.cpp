// The board's pieces without a running board: line timing, receive faults, the transmit ring and
// the answers to control requests.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "board/board_model.h"
#include "board/byte_queue.h"
#include "board/fault_injector.h"
#include "board/line_pacer.h"
#include "board/request_handler.h"

namespace vyn::board {
namespace {

using namespace std::chrono_literals;

constexpr std::uint64_t kTenSeconds = 10'000'000'000ull;

LineSetting Line(std::uint32_t baud, std::uint8_t data, Parity parity, StopBits stop) {
    return LineSetting{baud, data, parity, stop, Flow::kNone};
}

TEST(LinePacing, CharacterRatesFollowTheWholeFrame) {
    EXPECT_EQ(FrameHalfBits(Line(9600, 8, Parity::kNone, StopBits::kOne)), 20u);
    EXPECT_EQ(FrameHalfBits(Line(19200, 7, Parity::kEven, StopBits::kTwo)), 22u);
    EXPECT_EQ(FrameHalfBits(Line(50, 5, Parity::kNone, StopBits::kOneAndHalf)), 15u);
    EXPECT_EQ(FrameHalfBits(Line(300, 8, Parity::kMark, StopBits::kOneAndHalf)), 23u);

    auto tenSeconds = [](const LineSetting &line) {
        return CharactersIn(kTenSeconds, line.baud, FrameHalfBits(line));
    };
    EXPECT_EQ(tenSeconds(Line(9600, 8, Parity::kNone, StopBits::kOne)), 9600u);
    EXPECT_EQ(tenSeconds(Line(19200, 7, Parity::kEven, StopBits::kTwo)), 17454u);
    EXPECT_EQ(tenSeconds(Line(921600, 8, Parity::kNone, StopBits::kOne)), 921600u);
    EXPECT_EQ(tenSeconds(Line(50, 5, Parity::kNone, StopBits::kOneAndHalf)), 66u);
}

TEST(LinePacing, LongRunsNeitherOverflowNorDrift) {
    // Thirty days at the highest rate: the product of time and rate passes 64 bits.
    std::uint64_t thirtyDays = 30ull * 24 * 3600 * 1'000'000'000ull;
    EXPECT_EQ(CharactersIn(thirtyDays, 4000000, 20), 30ull * 24 * 3600 * 400000);

    // Taking what is due in many small steps adds up to what the whole span gives.
    LineSetting line = Line(115200, 7, Parity::kOdd, StopBits::kOneAndHalf);
    LinePacer pacer;
    Clock::time_point start{};
    pacer.Start(line, start);
    std::uint64_t taken = 0;
    for (int step = 1; step <= 10000; ++step) {
        std::uint64_t due = pacer.Due(start + step * 1ms + 37us);
        pacer.Take(due);
        taken += due;
    }
    EXPECT_EQ(taken, CharactersIn(10'000'037'000ull, 115200, FrameHalfBits(line)));
    EXPECT_EQ(pacer.Due(start + 10s), 0u);
    EXPECT_FALSE(pacer.CaughtUp(start + 10s));
    EXPECT_TRUE(pacer.CaughtUp(start + 11s));
}

TEST(ReceiveFaults, CountsAreExactAndRestartWhenSet) {
    std::vector<std::uint8_t> sent(100000);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<std::uint8_t>(0x20 + i % 60);
    }
    FaultInjector corrupt;
    corrupt.SetCorruptEvery(1000);
    std::vector<std::uint8_t> got;
    // Delivered in uneven pieces, as the line hands them over.
    FaultOutcome total;
    for (std::size_t at = 0; at < sent.size(); at += 777) {
        std::size_t length = std::min<std::size_t>(777, sent.size() - at);
        FaultOutcome outcome = corrupt.Apply({sent.data() + at, length}, got);
        total.corrupted += outcome.corrupted;
    }
    ASSERT_EQ(got.size(), sent.size());
    EXPECT_EQ(total.corrupted, 100u);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(got[i], (i + 1) % 1000 == 0 ? sent[i] ^ 1 : sent[i]) << "at " << i;
    }

    FaultInjector framing;
    framing.SetFramingEvery(500);
    got.clear();
    EXPECT_EQ(framing.Apply(sent, got).framingErrors, 200u);
    EXPECT_EQ(got.size(), 99800u);

    // A new setting starts its count again; 0 turns the fault off.
    got.clear();
    framing.Apply({sent.data(), 499}, got);
    framing.SetFramingEvery(500);
    EXPECT_EQ(framing.Apply({sent.data(), 499}, got).framingErrors, 0u);
    framing.SetFramingEvery(0);
    EXPECT_EQ(framing.Apply(sent, got).framingErrors, 0u);
}

TEST(ReceiveFaults, StrayBytesComeOnceBeforeTheNextCharacter) {
    FaultInjector faults;
    std::vector<std::uint8_t> stray;
    ASSERT_TRUE(ParseStrayBytes("0dFF", stray));
    faults.SetStray(stray);
    std::vector<std::uint8_t> got;
    faults.Apply({}, got);
    EXPECT_TRUE(got.empty());  // nothing arrived, so nothing is delivered yet
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    faults.Apply(abc, got);
    faults.Apply(abc, got);
    EXPECT_EQ(got, (std::vector<std::uint8_t>{0x0d, 0xff, 'a', 'b', 'c', 'a', 'b', 'c'}));
    EXPECT_EQ(FormatStrayBytes(stray), "0dff");

    for (const char *bad : {"", "abc", "0g", "zz", "1"}) {
        EXPECT_FALSE(ParseStrayBytes(bad, stray)) << bad;
    }
    EXPECT_FALSE(ParseStrayBytes(std::string(130, 'a'), stray));
    EXPECT_TRUE(ParseStrayBytes("0", stray));
    EXPECT_TRUE(stray.empty());
}

TEST(TransmitRing, KeepsOrderAcrossTheWrap) {
    ByteQueue<8> ring;
    std::vector<std::uint8_t> out;
    std::uint8_t next = 0;
    std::uint8_t expected = 0;
    for (int round = 0; round < 20; ++round) {
        while (ring.room() > 0) {
            auto space = ring.FreeSpace();
            ASSERT_FALSE(space.empty());
            std::size_t fill = std::min<std::size_t>(space.size(), 3);
            for (std::size_t i = 0; i < fill; ++i) {
                space[i] = next++;
            }
            ring.Commit(fill);
        }
        out.clear();
        ASSERT_EQ(ring.Take(5, out), 5u);
        for (std::uint8_t byte : out) {
            ASSERT_EQ(byte, expected++);
        }
    }
    EXPECT_EQ(ring.size(), 3u);
}

class ControlRequests : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(board_.Open(2, error)) << error;
    }
    std::string Ask(std::string_view request, bool *closed = nullptr) {
        Answer answer = handler_.Handle(request, Clock::now());
        if (closed != nullptr) {
            *closed = answer.close;
        }
        return answer.line;
    }
    std::string Ask1(std::string_view verbAndArguments) {
        std::string line = FormatRequest(verbAndArguments);
        line.pop_back();
        return Ask(line);
    }

    BoardModel board_;
    RequestHandler handler_{board_};
};

TEST_F(ControlRequests, WhatIsNotARequestClosesTheConnection) {
    bool closed = false;
    for (std::string_view garbage :
         {std::string_view("hello"), std::string_view("VYNBOARD"), std::string_view("VYNBOARD 1"),
          std::string_view("GET / HTTP/1.0"), std::string_view("VYNBOARD 1 PORTS\x01", 17),
          std::string_view("\0\0\0\0", 4)}) {
        EXPECT_TRUE(Ask(garbage, &closed).starts_with("ERR 87 ")) << garbage;
        EXPECT_TRUE(closed);
    }
    EXPECT_TRUE(Ask("VYNBOARD 2 PORTS", &closed).starts_with("ERR 50 "));
    EXPECT_TRUE(closed);
    // A request of this protocol that the board does not know keeps the connection.
    EXPECT_TRUE(Ask("VYNBOARD 1 DANCE", &closed).starts_with("ERR 1 "));
    EXPECT_FALSE(closed);
    EXPECT_EQ(Ask("VYNBOARD  1\tPORTS", &closed), "OK 2\n");
}

TEST_F(ControlRequests, BadLineSettingsAreRefusedAndChangeNothing) {
    EXPECT_EQ(Ask1("LINE COM1 19200 7 2 2 rtscts"), "OK\n");
    EXPECT_EQ(Ask1("GETLINE COM1"), "OK 19200 7 2 2 rtscts\n");
    for (const char *bad :
         {"LINE COM1 0 8 0 0 none", "LINE COM1 4000001 8 0 0 none", "LINE COM1 -9600 8 0 0 none",
          "LINE COM1 9600 4 0 0 none", "LINE COM1 9600 9 0 0 none", "LINE COM1 9600 8 5 0 none",
          "LINE COM1 9600 8 0 3 none", "LINE COM1 9600 8 0 0 both", "LINE COM1 9600 8 0 0",
          "LINE COM1 9600x 8 0 0 none", "LINE COM1 9600 8 0 0 none extra"}) {
        EXPECT_TRUE(Ask1(bad).starts_with("ERR 87 ")) << bad;
    }
    EXPECT_EQ(Ask1("GETLINE COM1"), "OK 19200 7 2 2 rtscts\n");
    EXPECT_EQ(Ask1("LINE COM2 4000000 5 4 1 dtrdsr"), "OK\n");
    EXPECT_EQ(Ask1("GETLINE COM2"), "OK 4000000 5 4 1 dtrdsr\n");
}

TEST_F(ControlRequests, PortsAreNamedExactly) {
    for (const char *name : {"COM0", "COM3", "COM01", "com1", "COM", "COM1x", "COM+1"}) {
        EXPECT_TRUE(Ask1(std::string("QUEUE ") + name).starts_with("ERR 2 ")) << name;
    }
    EXPECT_EQ(Ask1("LOOPBACK-INDEX 1 on"), "OK\n");
    EXPECT_TRUE(board_.At(1).loopback);
    EXPECT_TRUE(Ask1("LOOPBACK-INDEX 2 on").starts_with("ERR 2 "));
    EXPECT_TRUE(Ask1("LOOPBACK-INDEX -1 on").starts_with("ERR 87 "));
    EXPECT_TRUE(Ask1("LOOPBACK COM1 maybe").starts_with("ERR 87 "));
}

TEST_F(ControlRequests, SettingsApplyAllOrNothing) {
    EXPECT_EQ(Ask1("SET COM1 plug=cross:COM2 corrupt=7 stray=414243 loopback=on"), "OK\n");
    EXPECT_TRUE(Ask1("SET COM1 plug=loop framing=x").starts_with("ERR 87 "));
    EXPECT_TRUE(Ask1("SET COM1 plug=cross:COM9").starts_with("ERR 87 "));
    EXPECT_TRUE(Ask1("SET COM1 corrupt=1 colour=red").starts_with("ERR 87 "));
    EXPECT_TRUE(Ask1("SET COM1 corrupt").starts_with("ERR 87 "));
    std::string shown = Ask1("SHOW COM1");
    for (const char *expected : {" plug=cross:COM2 ", " corrupt=7 ", " framing=0 ",
                                 " stray=414243 ", " loopback=on ", " ras=free ", " held=no "}) {
        EXPECT_NE(shown.find(expected), std::string::npos) << expected << " in " << shown;
    }
}

TEST_F(ControlRequests, RemoteAccessLendsOnlyHeldPortsWhileItRuns) {
    EXPECT_EQ(Ask1("SERVICE"), "OK stopped\n");
    EXPECT_EQ(Ask1("SET COM1 ras=hold"), "OK\n");
    EXPECT_EQ(Ask1("HELD COM1"), "OK yes\n");
    EXPECT_TRUE(Ask1("RESERVE COM1").starts_with("ERR 1062 "));
    EXPECT_EQ(Ask1("SERVICE running"), "OK\n");
    EXPECT_TRUE(Ask1("RESERVE COM2").starts_with("ERR 87 "));  // not held
    std::string reserved = Ask1("RESERVE COM1");
    ASSERT_TRUE(reserved.starts_with("OK ")) << reserved;
    std::string handle = reserved.substr(3, reserved.size() - 4);
    EXPECT_NE(handle, "0");
    EXPECT_EQ(Ask1("HELD COM1"), "OK no\n");
    EXPECT_TRUE(Ask1("RESERVE COM1").starts_with("ERR 87 "));  // already lent
    EXPECT_TRUE(Ask1("FREE 0").starts_with("ERR 6 "));
    EXPECT_TRUE(Ask1("FREE 4242").starts_with("ERR 6 "));
    EXPECT_EQ(Ask1("FREE " + handle), "OK\n");
    EXPECT_EQ(Ask1("HELD COM1"), "OK yes\n");
    EXPECT_TRUE(Ask1("FREE " + handle).starts_with("ERR 6 "));  // only once
    EXPECT_EQ(Ask1("SET COM1 ras=free"), "OK\n");
    EXPECT_EQ(Ask1("HELD COM1"), "OK no\n");
}

}  // namespace
}  // namespace vyn::board
