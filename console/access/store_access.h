// The local store: where it is and opening it.
#pragma once

#include <memory>
#include <string>

#include "console/access/access_options.h"
#include "mml/store.h"

namespace vyn::console {

// --mib, else VYNLOOP_MIB, else the default location.
std::string StorePath(const AccessOptions &options);

// Opens an existing store; null with the reason when it cannot.
std::unique_ptr<mml::Store> OpenStore(const AccessOptions &options, std::string &reason);

}  // namespace vyn::console
