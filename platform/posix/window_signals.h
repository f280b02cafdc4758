// SIGTERM and SIGINT turned into an ordinary event: the handler only writes a byte to a pipe,
// and the window listener thread, which polls the pipe's read end, posts WM_CLOSE to the
// process's windows. A stopped service thus still runs its windows' WM_DESTROY handling.
#pragma once

namespace vyn::platform {

// Creates the pipe and installs the handlers (once per process). Returns the pipe's
// non-blocking read end, or -1 with errno set. The pipe lives as long as the process.
int InstallCloseSignals();

// Empties the pipe; the number of the last signal that arrived, 0 for none.
int TakeCloseSignals(int readFd);

}  // namespace vyn::platform
