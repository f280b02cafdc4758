// Sleep and GetTickCount.
//
// GetTickCount reads the monotonic clock in milliseconds, cut to 32 bits, so that it wraps every
// 49.7 days as callers that compare ticks by unsigned subtraction expect. The environment
// variable VYNLOOP_TEST_TICK_OFFSET (milliseconds, an unsigned decimal number) is added to every
// reading: a test sets it, for this process or for a program it starts, to bring the wrap within
// moments. It is read once, at the first call; anything but a plain decimal number is ignored.
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "platform/win32.h"

namespace vyn::platform {

namespace {

uint64_t ParseTickOffset(const char *text) {
    if (text == nullptr || *text == '\0') {
        return 0;
    }
    uint64_t value = 0;
    for (const char *c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') {
            return 0;
        }
        uint64_t digit = static_cast<uint64_t>(*c - '0');
        if (value > (UINT64_MAX - digit) / 10) {
            return 0;
        }
        value = value * 10 + digit;
    }
    return value;
}

uint64_t TickOffset() {
    static const uint64_t offset = ParseTickOffset(std::getenv("VYNLOOP_TEST_TICK_OFFSET"));
    return offset;
}

}  // namespace

}  // namespace vyn::platform

void WINAPI Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        ::sched_yield();
        return;
    }
    if (milliseconds == INFINITE) {
        for (;;) {
            ::pause();
        }
    }
    // An absolute end on the monotonic clock: a signal that interrupts the sleep neither
    // shortens it nor, by restarting with the full time, stretches it.
    timespec end{};
    ::clock_gettime(CLOCK_MONOTONIC, &end);
    end.tv_sec += static_cast<time_t>(milliseconds / 1000);
    end.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (end.tv_nsec >= 1000000000L) {
        end.tv_sec += 1;
        end.tv_nsec -= 1000000000L;
    }
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &end, nullptr) == EINTR) {
    }
}

DWORD WINAPI GetTickCount(void) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms + vyn::platform::TickOffset());
}
