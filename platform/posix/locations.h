// Where the platform keeps and finds things, from the environment only:
// VYNLOOP_RUNDIR (lock files and window sockets, default /run/vynloop, created 0700) and
// VYNLOOP_DEVDIR (where port names resolve, default /dev).
#pragma once

#include <string>

namespace vyn::platform {

// The run directory, created with mode 0700 when missing. Empty when it cannot be created.
std::string RunDirectory();
std::string DeviceDirectory();

}  // namespace vyn::platform
