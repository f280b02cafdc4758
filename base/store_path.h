// Where the store is, for every program that opens it: VYNLOOP_MIB, else the default location.
#pragma once

#include <cstdlib>
#include <string>

namespace vyn {

inline constexpr const char *kDefaultStorePath = "/var/lib/vynloop/mib.db";

// VYNLOOP_MIB when it is set and not empty, else kDefaultStorePath.
inline std::string StorePathFromEnvironment() {
    const char *path = std::getenv("VYNLOOP_MIB");
    return path != nullptr && path[0] != '\0' ? path : kDefaultStorePath;
}

// The store a program was given on its command line (--mib), else StorePathFromEnvironment().
inline std::string StorePathOr(const std::string &given) {
    return given.empty() ? StorePathFromEnvironment() : given;
}

}  // namespace vyn
