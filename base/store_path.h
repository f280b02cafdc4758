// Where the store is, for every program that opens it: VYNLOOP_MIB, else the default location.
#pragma once

#include <cstdlib>
#include <string>

namespace vyn {

// /var/lib/vynloop/mib.db; on Windows vynloop\mib.db in the folder of all users' program data
// (store_path_posix.cpp, store_path_windows.cpp).
std::string DefaultStorePath();

// VYNLOOP_MIB when it is set and not empty, else DefaultStorePath().
inline std::string StorePathFromEnvironment() {
    const char *path = std::getenv("VYNLOOP_MIB");
    return path != nullptr && path[0] != '\0' ? path : DefaultStorePath();
}

// The store a program was given on its command line (--mib), else StorePathFromEnvironment().
inline std::string StorePathOr(const std::string &given) {
    return given.empty() ? StorePathFromEnvironment() : given;
}

}  // namespace vyn
