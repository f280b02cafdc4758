// The line and break tests' judgement: what the inputs seen at each step say about each line,
// for every wiring, and what a break's arrival says.
#include <gtest/gtest.h>

#include <string>

#include "agent/loop/line_check.h"
#include "platform/driver_control.h"

namespace {

// The inputs a port with this wiring sees at every step when each wire in `wires` connects an
// output (ModemLine) to an input; everything readable and switched.
LineObservation Seen(std::initializer_list<std::pair<uint32_t, uint32_t>> wires,
                     uint32_t stuck = 0) {
    LineObservation seen = {};
    for (int step = 0; step < LINE_STEP_COUNT; ++step) {
        for (const auto &[output, input] : wires) {
            seen.inputs[step] |= (kLineSteps[step] & output) != 0 ? input : 0;
        }
        seen.inputs[step] |= stuck;
    }
    seen.switched = ModemOutputs;
    seen.readable = ModemInputs;
    seen.peer = 2;
    return seen;
}

struct Judged {
    LineVerdict verdict;
    std::string text;
};

Judged Judge(int32_t wiring, const LineObservation &seen) {
    char text[260];
    LineVerdict verdict = JudgeLines(wiring, seen, text, sizeof text);
    return {verdict, text};
}

const std::initializer_list<std::pair<uint32_t, uint32_t>> kInternal = {
    {ModemRts, ModemCts}, {ModemDtr, ModemDsr}, {ModemOut1, ModemRi}, {ModemOut2, ModemDcd}};
const std::initializer_list<std::pair<uint32_t, uint32_t>> kPlug = {
    {ModemRts, ModemCts}, {ModemDtr, ModemDsr}, {ModemDtr, ModemDcd}, {ModemDtr, ModemRi}};

TEST(LineCheck, GoodWiringPassesEveryLineItCarries) {
    Judged internal = Judge(LinesInternal, Seen(kInternal));
    EXPECT_EQ(internal.verdict.checked, 15u);
    EXPECT_EQ(internal.verdict.failed, 0u);
    EXPECT_EQ(internal.text, "CTS, DSR, DCD, RI followed their outputs.");
    EXPECT_EQ(Judge(LinesPlug, Seen(kPlug)).verdict.failed, 0u);
    // A null-modem cable carries no RI: it is neither checked nor failed.
    Judged cable = Judge(LinesCable, Seen({{ModemRts, ModemCts}, {ModemDtr, ModemDsr | ModemDcd}}));
    EXPECT_EQ(cable.verdict.checked, uint32_t(LineInputCts | LineInputDsr | LineInputDcd));
    EXPECT_EQ(cable.verdict.failed, 0u);
}

TEST(LineCheck, EachBrokenLineIsNamedAndNoOther) {
    // A dead CTS and a DCD stuck on, through the UART's loopback.
    Judged dead =
        Judge(LinesInternal, Seen({{ModemDtr, ModemDsr}, {ModemOut1, ModemRi}}, ModemDcd));
    EXPECT_EQ(dead.verdict.failed, uint32_t(LineInputCts | LineInputDcd));
    EXPECT_EQ(dead.text, "CTS did not follow RTS; DCD stays on.");
    // CTS and DSR swapped in a plug: each follows the other's output.
    Judged swapped =
        Judge(LinesPlug,
              Seen({{ModemDtr, ModemCts}, {ModemRts, ModemDsr}, {ModemDtr, ModemDcd | ModemRi}}));
    EXPECT_EQ(swapped.verdict.failed, uint32_t(LineInputCts | LineInputDsr));
    EXPECT_EQ(swapped.text, "CTS followed DTR, not RTS; DSR followed RTS, not DTR.");
    // Over a cable the output is the other end's.
    Judged cable = Judge(LinesCable, Seen({{ModemDtr, ModemDsr | ModemDcd}}));
    EXPECT_EQ(cable.text, "CTS did not follow RTS of port 2.");
}

TEST(LineCheck, LinesTheDriverCannotSwitchOrReadAreNotTestedNotFailed) {
    LineObservation seen = Seen(kInternal);
    seen.switched &= ~ModemOut2;  // held on by the driver
    for (uint32_t &inputs : seen.inputs) {
        inputs |= ModemDcd;
        inputs &= ~ModemRi;  // and RI reads off: the driver cannot read it
    }
    seen.readable &= ~ModemRi;
    Judged judged = Judge(LinesInternal, seen);
    EXPECT_EQ(judged.verdict.checked, uint32_t(LineInputCts | LineInputDsr));
    EXPECT_EQ(judged.verdict.failed, 0u);
    EXPECT_EQ(judged.text,
              "CTS, DSR followed their outputs; DCD not tested, the driver does not switch OUT2; "
              "RI not tested, the driver cannot read it.");
}

TEST(LineCheck, ABreakPassesOnlyWhenExactlyOneCameBackAndNothingElse) {
    char text[260];
    EXPECT_EQ(JudgeBreak(250, {1, 0, 1, 1}, text, sizeof text), 1);
    EXPECT_STREQ(text, "Break of 250 ms came back.");
    EXPECT_EQ(JudgeBreak(250, {0, 0, 0, 0}, text, sizeof text), 0);
    EXPECT_STREQ(text, "Break of 250 ms: no break came back.");
    EXPECT_EQ(JudgeBreak(100, {1, 1, 2, 1}, text, sizeof text), 0);
    EXPECT_EQ(JudgeBreak(100, {2, 0, 2, 2}, text, sizeof text), 0);
    EXPECT_EQ(JudgeBreak(100, {1, 0, 1, 0}, text, sizeof text), 0) << "its character is a NUL";
}

}  // namespace
