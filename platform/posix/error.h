// Win32 error codes from errno values, by one table.
#pragma once

#include "platform/win32.h"

namespace vyn::platform {

// Failures that no system code describes well get codes of the platform's own, with bit 29 set
// as Win32 keeps it for application-defined codes, so that they never meet a system code.
// FormatMessageA gives their texts like any other, so that a result that quotes the system's
// reason says what happened.
// A port that is a console of this machine: it is refused before anything is opened.
inline constexpr DWORD kErrorConsolePort = 0x20000001u;
// A UART whose driver takes the internal loopback request but does not loop (many USB adapters).
inline constexpr DWORD kErrorNoInternalLoopback = 0x20000002u;
// A UART asked for stop bits it cannot send with the asked data size.
inline constexpr DWORD kErrorStopBitsUnsupported = 0x20000003u;

DWORD Win32ErrorFromErrno(int error);

// Sets the thread's last error from errno (or the given errno value) and returns FALSE, so that
// a failing call can end with `return FailWithErrno();`.
BOOL FailWithErrno();
BOOL FailWithErrno(int error);
BOOL FailWith(DWORD code);

}  // namespace vyn::platform
