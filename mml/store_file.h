// The store's file on this system: where it is unless VYNLOOP_MIB says, and creating it for its
// owner alone. The pieces of the store that differ between POSIX (store_file_posix.cpp) and
// Windows (store_file_windows.cpp).
#pragma once

#include <string>

namespace vyn::mml {

// /var/lib/vynloop/mib.db; on Windows vynloop\mib.db in the folder of all users' program data.
std::string DefaultStorePath();

enum class FileCreation { Created, AlreadyThere, Failed };

// Creates `path` empty. AlreadyThere when it existed (or was created meanwhile by someone else);
// Failed with `reason` ("cannot create store PATH: ...") otherwise.
FileCreation CreateOwnerOnlyFile(const std::string &path, std::string &reason);

}  // namespace vyn::mml
