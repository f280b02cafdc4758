#include "agent/loop/settings_check.h"

#include <cstdio>

#include "mml/vocabulary.h"

namespace {

// Anything but the three handshakes is no flow control.
int32_t FlowOf(int32_t flow) {
    return flow == FlowXonXoff || flow == FlowRtsCts || flow == FlowDtrDsr ? flow : FlowNone;
}

char ParityLetter(int32_t parity) {
    switch (parity) {
        case ParityNone:
            return 'N';
        case ParityOdd:
            return 'O';
        case ParityEven:
            return 'E';
        case ParityMark:
            return 'M';
        case ParitySpace:
            return 'S';
        default:
            return '?';
    }
}

const char *StopBitsText(int32_t stopBits) {
    switch (stopBits) {
        case StopBitsOne:
            return "1";
        case StopBitsOneAndHalf:
            return "1.5";
        case StopBitsTwo:
            return "2";
        default:
            return "?";
    }
}

const char *FlowText(int32_t flow) {
    switch (FlowOf(flow)) {
        case FlowXonXoff:
            return " with XON/XOFF";
        case FlowRtsCts:
            return " with RTS/CTS";
        case FlowDtrDsr:
            return " with DTR/DSR";
        default:
            return " without flow control";
    }
}

// "921600 8N2", and the flow control when asked for.
void Describe(const LineSettings &settings, int withFlow, char *text, size_t size) {
    snprintf(text, size, "%u %d%c%s%s", settings.speed, settings.dataSize,
             ParityLetter(settings.parity), StopBitsText(settings.stopBits),
             withFlow ? FlowText(settings.flow) : "");
}

}  // namespace

int StopBitsForDcb(int32_t stopBits, BYTE *dcbStopBits) {
    switch (stopBits) {
        case StopBitsOne:
            *dcbStopBits = ONESTOPBIT;
            return 1;
        case StopBitsOneAndHalf:
            *dcbStopBits = ONE5STOPBITS;
            return 1;
        case StopBitsTwo:
            *dcbStopBits = TWOSTOPBITS;
            return 1;
        default:
            return 0;
    }
}

LineSettings SettingsFromDcb(const DCB &dcb) {
    LineSettings settings;
    settings.speed = dcb.BaudRate;
    settings.dataSize = dcb.ByteSize;
    settings.parity = static_cast<int32_t>(dcb.Parity) + ParityNone;
    settings.stopBits = dcb.StopBits == ONE5STOPBITS  ? StopBitsOneAndHalf
                        : dcb.StopBits == TWOSTOPBITS ? StopBitsTwo
                                                      : StopBitsOne;
    settings.flow = (dcb.fOutX || dcb.fInX)                                          ? FlowXonXoff
                    : (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) ? FlowRtsCts
                    : (dcb.fOutxDsrFlow || dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) ? FlowDtrDsr
                                                                                     : FlowNone;
    return settings;
}

int SettingsMatch(const LineSettings &asked, const LineSettings &running) {
    uint64_t difference =
        asked.speed > running.speed ? asked.speed - running.speed : running.speed - asked.speed;
    return difference * 100 <= static_cast<uint64_t>(asked.speed) * SPEED_TOLERANCE_PERCENT &&
           asked.dataSize == running.dataSize && asked.parity == running.parity &&
           asked.stopBits == running.stopBits && FlowOf(asked.flow) == FlowOf(running.flow);
}

void ComposeSettingsMismatch(const LineSettings &asked, const LineSettings &running, char *text,
                             size_t size) {
    int withFlow = FlowOf(asked.flow) != FlowNone || FlowOf(running.flow) != FlowNone;
    char askedText[96];
    char runningText[96];
    Describe(asked, withFlow, askedText, sizeof askedText);
    Describe(running, withFlow, runningText, sizeof runningText);
    snprintf(text, size, "The port did not take the requested settings: asked %s, it runs %s.",
             askedText, runningText);
}
