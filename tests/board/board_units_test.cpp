// The board's pieces without a running board: line timing, receive faults and the answers to
// control requests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/board_model.h"
#include "board/fault_injector.h"
#include "board/line_pacer.h"
#include "board/request_handler.h"

namespace vyn::board {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

TEST(LinePacing, CharacterRatesFollowTheWholeFrame) {
    struct Case {
        LineSetting line;
        std::uint32_t halfBits;
        std::uint64_t inTenSeconds;
    } cases[] = {
        {{9600, 8, Parity::kNone, StopBits::kOne, Flow::kNone}, 20, 9600},
        {{19200, 7, Parity::kEven, StopBits::kTwo, Flow::kNone}, 22, 17454},
        {{921600, 8, Parity::kNone, StopBits::kOne, Flow::kNone}, 20, 921600},
        {{50, 5, Parity::kNone, StopBits::kOneAndHalf, Flow::kNone}, 15, 66},
        {{300, 8, Parity::kMark, StopBits::kOneAndHalf, Flow::kNone}, 23, 260},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(FrameHalfBits(c.line), c.halfBits) << c.line.baud;
        EXPECT_EQ(CharactersIn(10'000'000'000ull, c.line.baud, c.halfBits), c.inTenSeconds);
    }
}

TEST(LinePacing, LongRunsNeitherOverflowNorDrift) {
    // Thirty days at the highest rate: the product of time and rate passes 64 bits.
    std::uint64_t thirtyDays = 30ull * 24 * 3600 * 1'000'000'000ull;
    EXPECT_EQ(CharactersIn(thirtyDays, 4000000, 20), 30ull * 24 * 3600 * 400000);

    // Taking what is due in many small steps adds up to what the whole span gives.
    LineSetting line{115200, 7, Parity::kOdd, StopBits::kOneAndHalf, Flow::kNone};
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

TEST(ReceiveFaults, CountsRunAcrossPiecesAndRestartWhenSet) {
    const Bytes sent(5000, 'a');
    FaultInjector faults;
    faults.SetCorruptEvery(1000);
    Bytes got;
    std::uint64_t corrupted = 0;
    for (std::size_t at = 0; at < sent.size(); at += 777) {  // uneven pieces, as the line gives
        std::size_t length = std::min<std::size_t>(777, sent.size() - at);
        corrupted += faults.Apply({sent.data() + at, length}, got).corrupted;
    }
    ASSERT_EQ(got.size(), sent.size());
    EXPECT_EQ(corrupted, 5u);
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i], (i + 1) % 1000 == 0 ? 'a' ^ 1 : 'a') << "at " << i;
    }

    // A new setting starts its count again; 0 turns the fault off.
    FaultInjector framing;
    framing.SetFramingEvery(500);
    framing.Apply({sent.data(), 499}, got);
    framing.SetFramingEvery(500);
    EXPECT_EQ(framing.Apply({sent.data(), 499}, got).framingErrors, 0u);
    EXPECT_EQ(framing.Apply({sent.data(), 1}, got).framingErrors, 1u);
    framing.SetFramingEvery(0);
    EXPECT_EQ(framing.Apply(sent, got).framingErrors, 0u);
}

TEST(ReceiveFaults, StrayBytesComeOnceBeforeTheNextCharacter) {
    FaultInjector faults;
    Bytes stray;
    ASSERT_TRUE(ParseStrayBytes("0dFF", stray));
    EXPECT_EQ(FormatStrayBytes(stray), "0dff");
    faults.SetStray(stray);
    Bytes got;
    faults.Apply({}, got);
    EXPECT_TRUE(got.empty());  // nothing arrived, so nothing is delivered yet
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    faults.Apply(abc, got);
    faults.Apply(abc, got);
    EXPECT_EQ(got, (Bytes{0x0d, 0xff, 'a', 'b', 'c', 'a', 'b', 'c'}));

    for (const std::string &bad :
         std::vector<std::string>{"", "abc", "0g", "1", std::string(130, 'a')}) {
        EXPECT_FALSE(ParseStrayBytes(bad, stray)) << bad;
    }
    EXPECT_TRUE(ParseStrayBytes("0", stray) && stray.empty());
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
    // A request of this protocol, without its newline.
    std::string Ask1(std::string_view verbAndArguments) {
        std::string line = FormatRequest(verbAndArguments);
        line.pop_back();
        return Ask(line);
    }
    bool Refused(std::string_view request, const char *code) {
        return Ask1(request).starts_with(std::string("ERR ") + code + " ");
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

TEST_F(ControlRequests, BadValuesAndNamesAreRefusedAndChangeNothing) {
    EXPECT_EQ(Ask1("LINE COM1 19200 7 2 2 rtscts"), "OK\n");
    for (const char *bad :
         {"LINE COM1 0 8 0 0 none", "LINE COM1 4000001 8 0 0 none", "LINE COM1 -9600 8 0 0 none",
          "LINE COM1 9600 4 0 0 none", "LINE COM1 9600 9 0 0 none", "LINE COM1 9600 8 5 0 none",
          "LINE COM1 9600 8 0 3 none", "LINE COM1 9600 8 0 0 both", "LINE COM1 9600 8 0 0",
          "LINE COM1 9600x 8 0 0 none", "LINE COM1 9600 8 0 0 none extra", "LOOPBACK-INDEX -1 on",
          "LOOPBACK COM1 maybe", "SET COM1 plug=loop framing=x", "SET COM1 plug=cross:COM9",
          "SET COM1 corrupt=1 colour=red", "SET COM1 corrupt"}) {
        EXPECT_TRUE(Refused(bad, "87")) << bad;
    }
    EXPECT_EQ(Ask1("GETLINE COM1"), "OK 19200 7 2 2 rtscts\n");
    EXPECT_EQ(Ask1("LINE COM2 4000000 5 4 1 dtrdsr"), "OK\n");
    EXPECT_EQ(Ask1("GETLINE COM2"), "OK 4000000 5 4 1 dtrdsr\n");
    std::string shown = Ask1("SHOW COM1");
    for (const char *expected : {" plug=none ", " corrupt=0 ", " framing=0 ", " loopback=off "}) {
        EXPECT_NE(shown.find(expected), std::string::npos) << expected << " in " << shown;
    }

    for (const char *name : {"COM0", "COM3", "COM01", "com1", "COM", "COM1x", "COM+1"}) {
        EXPECT_TRUE(Refused(std::string("QUEUE ") + name, "2")) << name;
    }
    EXPECT_TRUE(Refused("LOOPBACK-INDEX 2 on", "2"));
    EXPECT_EQ(Ask1("LOOPBACK-INDEX 1 on"), "OK\n");
    EXPECT_TRUE(board_.At(1).loopback);
}

}  // namespace
}  // namespace vyn::board
