// The one vocabulary of coded values: every number that the management objects carry with a
// meaning (loop states, completion reasons, loop modes, patterns, parity, stop bits, flow, data
// check, remote access status, the module's operating value) and the limits that the agent and
// every writer of its objects share.
// The agent, the store, the console, the board, the SNMP subagent and its MIB, the tests and the
// benchmarks all name these values from here; nobody writes the bare number.
//
// The enumerations are plain (unscoped, prefixed) so that the agent's C-style code compares and
// stores them in its 32-bit fields directly. Each has a word table for people and scripts: the
// console's option values and the MIB's enumeration labels are these words.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

// portLoopState: a console asks for a test (1) or a stop (7); the agent writes the rest.
enum LoopState : int32_t {
    LoopStateIdle = 0,       // never tested since provisioning
    LoopStateRequested = 1,  // console: start a test with the parameters now set
    LoopStateStopped = 2,    // agent: the test was stopped on request
    LoopStateRunning = 3,    // agent: the test is running
    LoopStateFailed = 4,     // agent: failed, ended by errors, or cut short by shutdown
    LoopStateComplete = 5,   // agent: the test's time ran out
    LoopStateStopping = 7,   // console, during a test: stop it
};

// Why a test ended; published as the port's new portLoopState.
enum CompletionReason : int32_t {
    ReasonStopped = LoopStateStopped,
    ReasonFailed = LoopStateFailed,
    ReasonTimeOut = LoopStateComplete,
};

// portLoopMode: the UART's internal loopback on, or the line through whatever is plugged in.
enum LoopMode : int32_t {
    LoopModeInternal = 1,
    LoopModeExternal = 2,
};

// portLoopLines: a control-line test before the data test, and the wiring it checks: the UART's
// internal loopback (RTS-CTS, DTR-DSR, OUT1-RI, OUT2-DCD), a loopback plug (RTS-CTS, DTR to
// DSR, DCD and RI) or a null-modem cable to the port portLoopLinePeer names (RTS to the peer's
// CTS, DTR to the peer's DSR and DCD).
enum LineWiring : int32_t {
    LinesOff = 1,
    LinesInternal = 2,
    LinesPlug = 3,
    LinesCable = 4,
};

// portLoopDataTest: whether the data test runs (after the line and break tests, when asked).
enum DataTest : int32_t {
    DataTestOn = 1,
    DataTestOff = 2,
};

// The input lines in portLoopLinesChecked and portLoopLinesFailed, one bit each.
enum LineInput : int32_t {
    LineInputCts = 1,
    LineInputDsr = 2,
    LineInputDcd = 4,
    LineInputRi = 8,
};

// portLoopBreakTime: the length of the break the break test sends, in milliseconds (0: no break
// test); the console's --break without a length sends kDefaultBreakTime.
inline constexpr int32_t kMaxBreakTime = 5000;
inline constexpr int32_t kDefaultBreakTime = 250;

// portLoopPattern: the generated barber-pole pattern, or the console's own bytes (portLoopUData).
enum LoopPattern : int32_t {
    LoopPatternBarber = 1,
    LoopPatternUser = 2,
};

// portLoopParity.
enum LoopParity : int32_t {
    ParityNone = 1,
    ParityOdd = 2,
    ParityEven = 3,
    ParityMark = 4,
    ParitySpace = 5,
};

// portStopBits.
enum LoopStopBits : int32_t {
    StopBitsOne = 1,
    StopBitsOneAndHalf = 2,
    StopBitsTwo = 3,
};

// portLoopFlow.
enum LoopFlow : int32_t {
    FlowNone = 1,
    FlowXonXoff = 2,
    FlowRtsCts = 3,
    FlowDtrDsr = 4,
};

// portLoopDataCheck: compare what comes back with the pattern, or only count it.
enum LoopDataCheck : int32_t {
    DataCheckOn = 1,
    DataCheckCountOnly = 2,
};

// portRasStatus: whether a port held by the remote access service may be borrowed for a test.
// The agent itself reads 2 when the object cannot be read.
enum RasStatus : int32_t {
    RasStatusNoBorrow = 0,
    RasStatusMayBorrow = 1,
    RasStatusUnknown = 2,
};

// portmodLoopOperating: the agent sets 3 when it has been idle long enough to end; the store
// answers 1 for a resident instance, which keeps the agent up.
enum LoopOperating : int32_t {
    LoopOperatingActive = 1,
    LoopOperatingIdleExit = 3,
};

// What the SNMP face tells of an instance beyond its objects: whether its agent runs on that
// host now, and whether it was provisioned resident (its agent then stays up while idle).
enum AgentPresence : int32_t {
    AgentPresenceRunning = 1,
    AgentPresenceNotRunning = 2,
};
enum AgentLife : int32_t {
    AgentLifeResident = 1,
    AgentLifeOnDemand = 2,
};

// portLoopUData: the agent keeps at most this many octets of the user's pattern; the console and
// the MIB refuse a longer one.
inline constexpr int32_t UserDataSize = 256;

// What became of a test, as the record of tests keeps it. A test passed when its time ran out
// (complete) and its result begins "Loopback test complete, no errors detected"; one that ran
// but saw receive or data errors has errors; failed is everything else the agent ended (could
// not start, received nothing, lost its line). Interrupted: its agent went away before the end
// was published.
enum TestOutcome : int32_t {
    OutcomePassed = 1,
    OutcomeErrors = 2,
    OutcomeFailed = 3,
    OutcomeStopped = 4,
    OutcomeInterrupted = 5,
};

// The result that an agent publishes, as it starts, for each test that an agent of its instance
// left running or stopping when it died (its counters stay as that agent last published them).
inline constexpr std::string_view kInterruptedResult =
    "Loopback test interrupted, the agent ended during the test. The counters are as it last "
    "published them.";

// What is shown, in place of a result, for a test that the store shows running or stopping while
// no agent of its instance runs any more (see mml::TestOrphaned): nobody will publish its result
// until the next agent starts. Never stored; a reader that sees it with the failed state takes it
// for an interrupted test.
inline constexpr std::string_view kOrphanedResult = "(no result: the agent ended during the test)";

// The line settings a port can be given: the data bits the agent sets (5 to 8), and the stop
// bits a UART can send with them (one stop-bit switch: 1.5 with 5-bit characters, 2 with 6 to 8).
inline constexpr int32_t kMinDataBits = 5;
inline constexpr int32_t kMaxDataBits = 8;
inline constexpr bool StopBitsFitDataBits(int32_t dataBits, int32_t stopBits) {
    return stopBits == StopBitsOne || (stopBits == StopBitsOneAndHalf && dataBits == 5) ||
           (stopBits == StopBitsTwo && dataBits != 5);
}

// A test without a time limit on a port that may be borrowed runs in periods that a console
// renews through portLoopTimeRemain: the agent takes the new time only when it is more than this
// many seconds above what is left.
inline constexpr int32_t LeaseRenewMargin = 10;

// The per-port result objects that tell a test's errors by kind, beside portLoopInErrs (which
// counts every failing stretch of data and every receive error as one). The data path's counts
// come from aligning what arrived with the pattern; the driver's from its own counters.
inline constexpr const char *ObjectLoopCorrupted = "portLoopCorrupted";  // came back changed
inline constexpr const char *ObjectLoopLost = "portLoopLost";            // never came back
inline constexpr const char *ObjectLoopExtra = "portLoopExtra";  // came back but was never sent
inline constexpr const char *ObjectLoopFrameErrs = "portLoopFrameErrs";
inline constexpr const char *ObjectLoopParityErrs = "portLoopParityErrs";
inline constexpr const char *ObjectLoopOverruns = "portLoopOverruns";
inline constexpr const char *ObjectLoopBreaks = "portLoopBreaks";
// What the line carried over the whole test, in percent of its speed (at most 100).
inline constexpr const char *ObjectLoopLineShare = "portLoopLineShare";
// The first received character that did not fit the pattern: its position among the received
// characters counting from 1 (0 while every one fitted), the character expected there and the
// one received, as codes 0 to 255.
inline constexpr const char *ObjectLoopFirstBadPos = "portLoopFirstBadPos";
inline constexpr const char *ObjectLoopFirstBadExpected = "portLoopFirstBadExpected";
inline constexpr const char *ObjectLoopFirstBadReceived = "portLoopFirstBadReceived";

// The line and break tests: their settings, and what they found (the input lines checked and
// those that failed, as LineInput bits; the breaks the receiving side counted; the text).
inline constexpr const char *ObjectLoopLines = "portLoopLines";
inline constexpr const char *ObjectLoopLinePeer = "portLoopLinePeer";
inline constexpr const char *ObjectLoopBreakTime = "portLoopBreakTime";
inline constexpr const char *ObjectLoopDataTest = "portLoopDataTest";
inline constexpr const char *ObjectLoopLinesChecked = "portLoopLinesChecked";
inline constexpr const char *ObjectLoopLinesFailed = "portLoopLinesFailed";
inline constexpr const char *ObjectLoopBreaksBack = "portLoopBreaksBack";
inline constexpr const char *ObjectLoopLineResult = "portLoopLineResult";

// Those objects in the order the agent publishes them, after the ten results it always had.
inline constexpr const char *kResultKindObjects[] = {
    ObjectLoopCorrupted,
    ObjectLoopLost,
    ObjectLoopExtra,
    ObjectLoopFrameErrs,
    ObjectLoopParityErrs,
    ObjectLoopOverruns,
    ObjectLoopBreaks,
    ObjectLoopLineShare,
    ObjectLoopFirstBadPos,
    ObjectLoopFirstBadExpected,
    ObjectLoopFirstBadReceived,
};
inline constexpr int kResultKindObjectCount =
    static_cast<int>(sizeof kResultKindObjects / sizeof kResultKindObjects[0]);

namespace vyn::vocabulary {

// A coded value with the word people and the MIB use for it.
struct Word {
    std::string_view word;
    int32_t value;
};

inline constexpr Word kLoopStateWords[] = {
    {"idle", LoopStateIdle},         {"requested", LoopStateRequested},
    {"stopped", LoopStateStopped},   {"running", LoopStateRunning},
    {"failed", LoopStateFailed},     {"complete", LoopStateComplete},
    {"stopping", LoopStateStopping},
};
inline constexpr Word kLoopModeWords[] = {{"internal", LoopModeInternal},
                                          {"external", LoopModeExternal}};
inline constexpr Word kPatternWords[] = {{"barber", LoopPatternBarber}, {"user", LoopPatternUser}};
inline constexpr Word kParityWords[] = {{"none", ParityNone},
                                        {"odd", ParityOdd},
                                        {"even", ParityEven},
                                        {"mark", ParityMark},
                                        {"space", ParitySpace}};
// The MIB names stop bits one, oneAndHalf and two; the console takes the figures.
inline constexpr Word kStopBitsWords[] = {
    {"1", StopBitsOne}, {"1.5", StopBitsOneAndHalf}, {"2", StopBitsTwo}};
inline constexpr Word kStopBitsMibWords[] = {
    {"one", StopBitsOne}, {"oneAndHalf", StopBitsOneAndHalf}, {"two", StopBitsTwo}};
inline constexpr Word kFlowWords[] = {
    {"none", FlowNone}, {"xonxoff", FlowXonXoff}, {"rtscts", FlowRtsCts}, {"dtrdsr", FlowDtrDsr}};
inline constexpr Word kDataCheckWords[] = {{"check", DataCheckOn}, {"count", DataCheckCountOnly}};
inline constexpr Word kRasStatusWords[] = {{"no", RasStatusNoBorrow}, {"yes", RasStatusMayBorrow}};
inline constexpr Word kLoopOperatingWords[] = {{"active", LoopOperatingActive},
                                               {"idleExit", LoopOperatingIdleExit}};
inline constexpr Word kAgentPresenceWords[] = {{"running", AgentPresenceRunning},
                                               {"notRunning", AgentPresenceNotRunning}};
inline constexpr Word kOutcomeWords[] = {{"passed", OutcomePassed},
                                         {"errors", OutcomeErrors},
                                         {"failed", OutcomeFailed},
                                         {"stopped", OutcomeStopped},
                                         {"interrupted", OutcomeInterrupted}};
inline constexpr Word kLineWiringWords[] = {
    {"off", LinesOff}, {"internal", LinesInternal}, {"plug", LinesPlug}, {"cable", LinesCable}};
inline constexpr Word kDataTestWords[] = {{"on", DataTestOn}, {"off", DataTestOff}};
// The input lines as people name them, in the order results list them.
inline constexpr Word kLineInputWords[] = {
    {"CTS", LineInputCts}, {"DSR", LineInputDsr}, {"DCD", LineInputDcd}, {"RI", LineInputRi}};
inline constexpr Word kAgentLifeWords[] = {{"resident", AgentLifeResident},
                                           {"onDemand", AgentLifeOnDemand}};

// The word for a value, or nothing when the table has none.
inline std::optional<std::string_view> WordOf(std::span<const Word> words, int32_t value) {
    for (const Word &entry : words) {
        if (entry.value == value) {
            return entry.word;
        }
    }
    return std::nullopt;
}

// The value for a word, or nothing.
inline std::optional<int32_t> ValueOf(std::span<const Word> words, std::string_view word) {
    for (const Word &entry : words) {
        if (entry.word == word) {
            return entry.value;
        }
    }
    return std::nullopt;
}

}  // namespace vyn::vocabulary
