#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "mml/store_file.h"

namespace vyn::mml {

std::string DefaultStorePath() {
    return "/var/lib/vynloop/mib.db";
}

FileCreation CreateOwnerOnlyFile(const std::string &path, std::string &reason) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        if (errno == EEXIST) {
            return FileCreation::AlreadyThere;
        }
        reason = "cannot create store " + path + ": " + std::strerror(errno);
        return FileCreation::Failed;
    }
    // The umask may have taken bits away; the store is the owner's alone either way.
    int result = ::fchmod(fd, 0600);
    int err = errno;
    ::close(fd);
    if (result != 0) {
        reason = "cannot set the mode of " + path + ": " + std::strerror(err);
        return FileCreation::Failed;
    }
    return FileCreation::Created;
}

}  // namespace vyn::mml
