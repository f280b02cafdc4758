// Whether a port runs at the settings a test asked for. Drivers round or ignore a speed (many USB
// adapters keep 9600 or the nearest divisor without an error) or drop part of a frame setting;
// a test must run at the setting it reports, so the port's settings are read back after they
// were applied and compared with those asked.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

// A line setting in the request's terms (LoopParity, LoopStopBits, LoopFlow).
struct LineSettings {
    uint32_t speed;
    int32_t dataSize;
    int32_t parity;
    int32_t stopBits;
    int32_t flow;
};

// A speed more than this many percent away from the one asked is another speed.
constexpr uint32_t SPEED_TOLERANCE_PERCENT = 2;

// The DCB's StopBits for a request's portStopBits (1 one, 2 one and a half, 3 two); 0 when the
// request's value is none of those.
int StopBitsForDcb(int32_t stopBits, BYTE *dcbStopBits);

// What a DCB read back from a port says, in the request's terms.
LineSettings SettingsFromDcb(const DCB &dcb);

// 1 when the port runs at what was asked: the speed within SPEED_TOLERANCE_PERCENT, the same data
// size, parity, stop bits and flow control.
int SettingsMatch(const LineSettings &asked, const LineSettings &running);

// "The port did not take the requested settings: asked 921600 8N2, it runs 9600 8N1." into
// `text` (at most `size` bytes). The flow control is named on both sides when either has one.
void ComposeSettingsMismatch(const LineSettings &asked, const LineSettings &running, char *text,
                             size_t size);
