#include "agent/loop/line_math.h"

#include <cstring>

#include "agent/table/port_test.h"

uint32_t FrameBits(int32_t dataSize, int32_t stopBits, int32_t parity) {
    return 1 + static_cast<uint32_t>(dataSize) + (stopBits == StopBitsTwo ? 2 : 1) +
           (parity != ParityNone ? 1 : 0);
}

uint32_t BitTime10(int32_t dataSize, int32_t stopBits, int32_t parity) {
    uint32_t stopPart = stopBits == StopBitsOneAndHalf ? 15 : stopBits == StopBitsTwo ? 20 : 10;
    uint32_t parityPart = parity != ParityNone ? 10 : 0;
    return 10 * (1 + static_cast<uint32_t>(dataSize)) + stopPart + parityPart;
}

WritePlan PlanWrites(uint32_t loopSpeed, int32_t dataSize, int32_t stopBits, int32_t parity,
                     uint32_t patternLength) {
    WritePlan plan;
    plan.charsPerSecond = loopSpeed / FrameBits(dataSize, stopBits, parity);
    plan.writeBufferSize = plan.charsPerSecond;
    plan.txBacklogLimit = plan.charsPerSecond < SLOW_LINE_CHARS_PER_SECOND ? 2 * plan.charsPerSecond
                                                                           : BACKLOG_UNLIMITED;
    plan.copies = patternLength != 0 ? plan.charsPerSecond / patternLength : 1;
    if (plan.copies < 1) {
        plan.copies = 1;
    }
    if (plan.copies > MAX_PATTERN_COPIES) {
        plan.copies = MAX_PATTERN_COPIES;
    }
    plan.writeChunk = plan.copies * patternLength;
    if (plan.writeChunk > plan.writeBufferSize) {
        plan.writeBufferSize = plan.writeChunk + 1;
    }
    return plan;
}

uint32_t RateInBaud(uint32_t characters, uint32_t intervalMs, uint32_t bitTime10) {
    if (intervalMs == 0) {
        return 0;
    }
    double rate =
        static_cast<double>(characters) / static_cast<double>(intervalMs) * bitTime10 * 100.0;
    return rate >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(rate);
}

uint32_t LineSharePercent(uint32_t characters, uint32_t intervalMs, uint32_t bitTime10,
                          uint32_t loopSpeed) {
    if (intervalMs == 0 || loopSpeed == 0) {
        return 0;
    }
    double baud = static_cast<double>(characters) / intervalMs * bitTime10 * 100.0;
    double share = baud * 100.0 / loopSpeed;
    return share >= 100.0 ? 100u : static_cast<uint32_t>(share);
}

uint32_t BarberPolePattern(int32_t dataSize, char *pattern) {
    uint32_t length;
    unsigned char first;
    if (dataSize == 5) {
        first = 0x01;
        length = 8;
    } else if (dataSize == 6) {
        first = 0x20;
        length = 30;
    } else {
        first = 0x20;
        length = 60;
    }
    for (uint32_t i = 0; i < length; ++i) {
        pattern[i] = static_cast<char>(first + i);
    }
    return length;
}

PatternChoice SettlePattern(int32_t loopPattern, int32_t dataSize, char *userData,
                            int32_t userDataLength) {
    PatternChoice choice{loopPattern, userDataLength, 0};
    if (loopPattern == LoopPatternUser) {
        if (dataSize == 5) {
            choice.barberPole = 1;
        } else if (dataSize == 6) {
            for (int32_t i = 0; i < userDataLength && i < UserDataSize; ++i) {
                if (static_cast<unsigned char>(userData[i]) > 0x3F) {
                    choice.barberPole = 1;
                    break;
                }
            }
        }
        if (!choice.barberPole) {
            if (choice.length > UserDataSize) {
                choice.length = UserDataSize;
            }
            return choice;
        }
        choice.loopPattern = LoopPatternBarber;
    }
    memset(userData, 0, UserDataSize);
    choice.length = static_cast<int32_t>(BarberPolePattern(dataSize, userData));
    return choice;
}

uint32_t ReceiveErrors(uint32_t totalNow, uint32_t totalStart, uint32_t driverErrors) {
    uint32_t published = totalNow > totalStart ? totalNow - totalStart : 0;
    return published > driverErrors ? published : driverErrors;
}
