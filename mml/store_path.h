// Where the store is, for every program that opens it: VYNLOOP_MIB, else the default location.
#pragma once

#include <cstdlib>
#include <string>

#include "mml/store_file.h"

namespace vyn::mml {

// VYNLOOP_MIB when it is set and not empty, else DefaultStorePath().
inline std::string StorePathFromEnvironment() {
    const char *path = std::getenv("VYNLOOP_MIB");
    return path != nullptr && path[0] != '\0' ? path : DefaultStorePath();
}

}  // namespace vyn::mml
