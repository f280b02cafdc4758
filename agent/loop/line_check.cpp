#include "agent/loop/line_check.h"

#include <cstdio>
#include <cstring>

#include "platform/driver_control.h"

const uint32_t kLineSteps[LINE_STEP_COUNT] = {0,         ModemRts,  ModemDtr,
                                              ModemOut1, ModemOut2, ModemOutputs};

namespace {

constexpr size_t kLineTextSize = 260;

struct LineName {
    uint32_t modem;
    int32_t input;  // LineInput, for inputs
    const char *name;
};

const LineName kInputNames[] = {
    {ModemCts, LineInputCts, "CTS"},
    {ModemDsr, LineInputDsr, "DSR"},
    {ModemDcd, LineInputDcd, "DCD"},
    {ModemRi, LineInputRi, "RI"},
};
const LineName kOutputNames[] = {
    {ModemRts, 0, "RTS"},
    {ModemDtr, 0, "DTR"},
    {ModemOut1, 0, "OUT1"},
    {ModemOut2, 0, "OUT2"},
};

const char *OutputName(uint32_t output) {
    for (const LineName &line : kOutputNames) {
        if (line.modem == output) {
            return line.name;
        }
    }
    return "?";
}

void Append(char *text, size_t size, const char *piece) {
    size_t length = strlen(text);
    if (length < size) {
        snprintf(text + length, size - length, "%s", piece);
    }
}

// The steps at which `output` was on, one bit per step.
uint32_t OutputSteps(uint32_t output) {
    uint32_t steps = 0;
    for (int step = 0; step < LINE_STEP_COUNT; ++step) {
        steps |= (kLineSteps[step] & output) != 0 ? 1u << step : 0;
    }
    return steps;
}

// The output, other than `own`, whose steps the input followed; 0 when none.
uint32_t FollowedInstead(int32_t wiring, uint32_t seenSteps, uint32_t own) {
    for (const LineName &line : kOutputNames) {
        if (line.modem != own && (WiringOutputs(wiring) & line.modem) != 0 &&
            OutputSteps(line.modem) == seenSteps) {
            return line.modem;
        }
    }
    return 0;
}

// The sentence about one input that did not follow, or was not tested.
void DescribeInput(const LineName &input, uint32_t output, int32_t wiring, uint32_t seenSteps,
                   int32_t peer, char *piece, size_t size) {
    char driver[24];
    if (wiring == LinesCable) {
        snprintf(driver, sizeof driver, "%s of port %d", OutputName(output), peer);
    } else {
        snprintf(driver, sizeof driver, "%s", OutputName(output));
    }
    constexpr uint32_t kAllSteps = (1u << LINE_STEP_COUNT) - 1;
    uint32_t instead = FollowedInstead(wiring, seenSteps, output);
    if (seenSteps == kAllSteps) {
        snprintf(piece, size, "%s stays on", input.name);
    } else if (instead != 0) {
        snprintf(piece, size, "%s followed %s, not %s", input.name, OutputName(instead), driver);
    } else {
        snprintf(piece, size, "%s did not follow %s", input.name, driver);
    }
}

}  // namespace

uint32_t WiringOutputs(int32_t wiring) {
    switch (wiring) {
        case LinesInternal:
            return ModemOutputs;
        case LinesPlug:
        case LinesCable:
            return ModemRts | ModemDtr;
        default:
            return 0;
    }
}

uint32_t DrivingOutput(int32_t wiring, uint32_t input) {
    switch (wiring) {
        case LinesInternal:
            return input == ModemCts   ? ModemRts
                   : input == ModemDsr ? ModemDtr
                   : input == ModemRi  ? ModemOut1
                   : input == ModemDcd ? ModemOut2
                                       : 0;
        case LinesPlug:
            return input == ModemCts ? ModemRts : input != 0 ? ModemDtr : 0;
        case LinesCable:
            return input == ModemCts                        ? ModemRts
                   : input == ModemDsr || input == ModemDcd ? ModemDtr
                                                            : 0;  // a null-modem cable has no RI
        default:
            return 0;
    }
}

LineVerdict JudgeLines(int32_t wiring, const LineObservation &seen, char *text, size_t size) {
    LineVerdict verdict = {0, 0};
    char failures[kLineTextSize];
    char untested[kLineTextSize];
    char passed[kLineTextSize];
    failures[0] = untested[0] = passed[0] = 0;
    int passedCount = 0;
    for (const LineName &input : kInputNames) {
        uint32_t output = DrivingOutput(wiring, input.modem);
        if (output == 0) {
            continue;
        }
        char piece[96];
        if ((seen.readable & input.modem) == 0 || (seen.switched & output) == 0) {
            if ((seen.readable & input.modem) == 0) {
                snprintf(piece, sizeof piece, "%s not tested, the driver cannot read it",
                         input.name);
            } else {
                snprintf(piece, sizeof piece, "%s not tested, the driver does not switch %s",
                         input.name, OutputName(output));
            }
            Append(untested, sizeof untested, "; ");
            Append(untested, sizeof untested, piece);
            continue;
        }
        verdict.checked |= static_cast<uint32_t>(input.input);
        uint32_t seenSteps = 0;
        for (int step = 0; step < LINE_STEP_COUNT; ++step) {
            seenSteps |= (seen.inputs[step] & input.modem) != 0 ? 1u << step : 0;
        }
        if (seenSteps == OutputSteps(output)) {
            Append(passed, sizeof passed, passedCount == 0 ? "" : ", ");
            Append(passed, sizeof passed, input.name);
            ++passedCount;
            continue;
        }
        verdict.failed |= static_cast<uint32_t>(input.input);
        DescribeInput(input, output, wiring, seenSteps, seen.peer, piece, sizeof piece);
        Append(failures, sizeof failures, failures[0] == 0 ? "" : "; ");
        Append(failures, sizeof failures, piece);
    }
    text[0] = 0;
    if (verdict.failed != 0) {
        Append(text, size, failures);
    } else if (passedCount != 0) {
        Append(text, size, passed);
        Append(text, size, passedCount == 1 ? " followed its output" : " followed their outputs");
    } else {
        Append(text, size, "no line could be tested");
    }
    Append(text, size, untested);
    Append(text, size, ".");
    return verdict;
}

int JudgeBreak(int32_t lengthMs, const BreakObservation &seen, char *text, size_t size) {
    int good = seen.breaks == 1 && seen.otherErrors == 0 && seen.characters == 1 && seen.nuls == 1;
    if (good) {
        snprintf(text, size, "Break of %d ms came back.", lengthMs);
    } else if (seen.breaks == 0 && seen.characters == 0 && seen.otherErrors == 0) {
        snprintf(text, size, "Break of %d ms: no break came back.", lengthMs);
    } else {
        snprintf(text, size,
                 "Break of %d ms: %u breaks, %u other receive errors and %u characters came "
                 "back, one break and its NUL expected.",
                 lengthMs, seen.breaks, seen.otherErrors, seen.characters);
    }
    return good;
}
