// Win32 error codes from errno values, by one table.
#pragma once

#include "platform/win32.h"

namespace vyn::platform {

DWORD Win32ErrorFromErrno(int error);

// Sets the thread's last error from errno (or the given errno value) and returns FALSE, so that
// a failing call can end with `return FailWithErrno();`.
BOOL FailWithErrno();
BOOL FailWithErrno(int error);
BOOL FailWith(DWORD code);

}  // namespace vyn::platform
