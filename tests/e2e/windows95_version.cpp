// GetVersionExA as Windows 95 answers it. A test build of the agent links this in place of the
// platform's own, so that the agent takes the board's control device for the internal loopback,
// as it does where the system is not NT.
#include <cstring>

#include "platform/win32.h"

BOOL WINAPI GetVersionExA(OSVERSIONINFOA *info) {
    if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    info->dwMajorVersion = 4;
    info->dwMinorVersion = 0;
    info->dwBuildNumber = 950;
    info->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    return TRUE;
}
