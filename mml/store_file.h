// The store's file on this system: creating it for its owner alone, the piece of the store that
// differs between POSIX (store_file_posix.cpp) and Windows (store_file_windows.cpp).
#pragma once

#include <string>

namespace vyn::mml {

enum class FileCreation { Created, AlreadyThere, Failed };

// Creates `path` empty. AlreadyThere when it existed (or was created meanwhile by someone else);
// Failed with `reason` ("cannot create store PATH: ...") otherwise.
FileCreation CreateOwnerOnlyFile(const std::string &path, std::string &reason);

}  // namespace vyn::mml
