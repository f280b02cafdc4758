// The console's way to the store: where it is, opening it, and reading names and values from
// the command line.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "console/command_set.h"
#include "mml/store.h"

namespace vyn::console {

// --mib, else VYNLOOP_MIB, else the default location.
std::string StorePath(const GlobalOptions &globals);

// Opens an existing store; on failure prints the reason and leaves `status` at kExitFailure.
std::unique_ptr<mml::Store> OpenStore(const GlobalOptions &globals, int &status);

// Parses a full object name; false with a one-line reason that names it.
bool ParseName(std::string_view name, mml::ObjectKey &key, std::string &reason);

// A strict 32-bit decimal integer: an optional sign and digits, nothing else.
bool ParseInteger(std::string_view text, int32_t &value);

// Empty when `instance` is a valid instance name, else the reason.
std::string CheckInstance(std::string_view instance);

}  // namespace vyn::console
