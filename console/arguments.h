// Reading object names, instance names and numbers from the command line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mml/store.h"

namespace vyn::console {

// Parses a full object name; false with a one-line reason that names it.
bool ParseName(std::string_view name, mml::ObjectKey &key, std::string &reason);

// A strict 32-bit decimal integer: an optional sign and digits, nothing else.
bool ParseInteger(std::string_view text, int32_t &value);

// Empty when `instance` is a valid instance name, else the reason.
std::string CheckInstance(std::string_view instance);

}  // namespace vyn::console
