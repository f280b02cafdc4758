// The control-line and break tests on the board: every wiring passes on good lines and names
// exactly the broken, stuck or swapped line, sixteen ports at once; a break comes back through
// a plug, or the test says that none did; the data test after them counts nothing of theirs.
#include "tests/e2e/engine_fixture.h"

namespace vyn::test {
namespace {

class ControlLinesTest : public EngineTest {
  protected:
    // One request: each port's settings, then every port's test request.
    void RequestAll(const std::map<int, std::map<std::string, std::string>> &ports) {
        std::vector<std::string> words{"set"};
        for (const auto &[port, settings] : ports) {
            for (const auto &[object, value] : settings) {
                words.push_back(Name(object, port) + "=" + value);
            }
        }
        for (const auto &entry : ports) {
            words.push_back(Name("portLoopState", entry.first) + "=" +
                            std::to_string(LoopStateRequested));
        }
        Finished done = Ctl(words);
        ASSERT_EQ(done.status, 0) << done.err;
    }
    static std::map<std::string, std::string> Lines(int32_t wiring, int peer = 0) {
        return {{ObjectLoopLines, std::to_string(wiring)},
                {ObjectLoopLinePeer, std::to_string(peer)},
                {ObjectLoopDataTest, std::to_string(DataTestOff)},
                {"portLoopMode",
                 std::to_string(wiring == LinesInternal ? LoopModeInternal : LoopModeExternal)}};
    }
};

TEST_F(ControlLinesTest, SixteenPortsAtOnceNameExactlyTheLinesThatAreWrong) {
    StartSystem(16);
    BoardSet(2, "dead=cts");
    BoardSet(3, "stuck=dcd");
    BoardSet(4, "swap=cts:dsr");
    BoardSet(5, "held=out2");
    BoardSet(6, "unread=ri");
    BoardSet(9, "plug=loop");
    BoardSet(10, "plug=loop dead=ri");
    BoardSet(11, "plug=cross:COM12");
    BoardSet(12, "plug=cross:COM11 swap=dsr:dcd");
    BoardSet(13, "plug=cross:COM14");
    BoardSet(14, "plug=cross:COM13");
    std::map<int, std::map<std::string, std::string>> ports;
    for (int port : {1, 2, 3, 4, 5, 6, 7, 8, 15, 16}) {
        ports[port] = Lines(LinesInternal);
    }
    ports[9] = Lines(LinesPlug);
    ports[10] = Lines(LinesPlug);
    ports[11] = Lines(LinesCable, 12);
    ports[12] = Lines(LinesCable, 11);
    ports[13] = Lines(LinesCable, 14);
    ports[14] = Lines(LinesCable, 13);
    RequestAll(ports);

    const std::string internal = "Control lines through the internal loopback: ";
    const std::map<int, std::pair<int, std::string>> expected = {
        {2, {LineInputCts, internal + "CTS did not follow RTS."}},
        {3, {LineInputDcd, internal + "DCD stays on."}},
        {4,
         {LineInputCts | LineInputDsr,
          internal + "CTS followed DTR, not RTS; DSR followed RTS, not DTR."}},
        {10, {LineInputRi, "Control lines through the loopback plug: RI did not follow DTR."}},
        // DSR and DCD both follow the other end's DTR: a swap of the two cannot show.
        {12,
         {0,
          "Control lines through the cable to port 11: CTS, DSR, DCD followed their "
          "outputs."}},
    };
    for (int port = 1; port <= 16; ++port) {
        SCOPED_TRACE(port);
        TestEnd end = WaitForEnd(port);
        auto bad = expected.find(port);
        if (bad != expected.end() && bad->second.first != 0) {
            EXPECT_EQ(end.state, LoopStateFailed);
            EXPECT_EQ(end.text, "Line test failed: " + bad->second.second);
            EXPECT_EQ(Integer(ObjectLoopLinesFailed, port), bad->second.first);
            continue;
        }
        EXPECT_EQ(end.state, LoopStateComplete) << end.text;
        EXPECT_EQ(Integer(ObjectLoopLinesFailed, port), 0);
        EXPECT_EQ(end.text.rfind("Line test complete, no errors detected. ", 0), 0u) << end.text;
        if (bad != expected.end()) {
            EXPECT_EQ(Text(ObjectLoopLineResult, port), bad->second.second);
        }
    }
    EXPECT_EQ(Integer(ObjectLoopLinesChecked, 1), 15);
    EXPECT_EQ(Integer(ObjectLoopLinesChecked, 11), LineInputCts | LineInputDsr | LineInputDcd);
    EXPECT_EQ(Text(ObjectLoopLineResult, 5),
              internal +
                  "CTS, DSR, RI followed their outputs; DCD not tested, the driver does "
                  "not switch OUT2.");
    EXPECT_EQ(Integer(ObjectLoopLinesChecked, 6), LineInputCts | LineInputDsr | LineInputDcd);
    EXPECT_EQ(Text(ObjectLoopLineResult, 6),
              internal +
                  "CTS, DSR, DCD followed their outputs; RI not tested, the driver cannot "
                  "read it.");
}

TEST_F(ControlLinesTest, ABreakComesBackThroughThePlugOrTheTestSaysNoneDid) {
    StartSystem(3);
    BoardSet(1, "plug=loop");
    const std::map<std::string, std::string> breakThenData = {
        {ObjectLoopBreakTime, "100"},
        {"portLoopMode", std::to_string(LoopModeExternal)},
        {"portLoopTime", "2"}};
    RequestAll({{1, breakThenData}, {2, breakThenData}});
    TestEnd back = WaitForEnd(1);
    EXPECT_EQ(back.state, LoopStateComplete) << back.text;
    EXPECT_EQ(back.text.rfind("Loopback test complete, no errors detected.", 0), 0u) << back.text;
    EXPECT_EQ(Text(ObjectLoopLineResult, 1), "Break of 100 ms came back.");
    EXPECT_EQ(Integer(ObjectLoopBreaksBack, 1), 1);
    // The break and its NUL belong to the break test, not to the data test after it.
    EXPECT_EQ(Integer(ObjectLoopBreaks, 1), 0);
    EXPECT_EQ(Integer(ObjectLoopExtra, 1), 0);
    EXPECT_EQ(Integer("portLoopInErrs", 1), 0);

    TestEnd lost = WaitForEnd(2);
    EXPECT_EQ(lost.state, LoopStateFailed);
    EXPECT_EQ(lost.text, "Line test failed: Break of 100 ms: no break came back.");
    EXPECT_EQ(Integer(ObjectLoopBreaksBack, 2), 0);

    // A cable line test whose other end is not asked for fails before anything is switched.
    Request(3, Lines(LinesCable, 1));
    TestEnd alone = WaitForEnd(3);
    EXPECT_EQ(alone.state, LoopStateFailed);
    EXPECT_EQ(alone.text,
              "Line test failed: the cable's other end, port 1, must be tested at the same time.");
}

}  // namespace
}  // namespace vyn::test
