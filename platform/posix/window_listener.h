// The thread that makes a process's windows reachable from outside: it accepts connections on
// every window's socket, answers their requests (see window_protocol.h), and turns SIGTERM and
// SIGINT into WM_CLOSE for every window. It starts with the process's first window; at process
// exit it stops and removes the socket files of the windows that still exist.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/win32.h"

namespace vyn::platform {

// Starts the listener, the close signals and the clean-up at exit, once per process.
// ERROR_SUCCESS, or the code of what could not be set up.
DWORD StartWindowListener();

// Makes the listener take up a changed set of windows (a window created or destroyed).
void WakeWindowListener();

// The answer to one request line (without its line end) from a peer of user `peerUid`, for the
// window `target` of this process. Only root and this process's own user may post.
std::string AnswerWindowRequest(HWND target, std::string_view line, uid_t peerUid);

// Posts WM_CLOSE to every window of the process.
void PostCloseToAllWindows();

}  // namespace vyn::platform
