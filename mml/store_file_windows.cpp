#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "mml/store_file.h"

namespace vyn::mml {

std::string DefaultStorePath() {
    const char *programData = std::getenv("ProgramData");
    return std::string(programData != nullptr && programData[0] != '\0' ? programData
                                                                        : "C:\\ProgramData") +
           "\\vynloop\\mib.db";
}

// Windows has no mode bits to set: the file takes the access list of its folder (the installer
// keeps the store's folder to the administrators and the system).
FileCreation CreateOwnerOnlyFile(const std::string &path, std::string &reason) {
    int fd = ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                     _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        if (errno == EEXIST) {
            return FileCreation::AlreadyThere;
        }
        reason = "cannot create store " + path + ": " + std::strerror(errno);
        return FileCreation::Failed;
    }
    ::_close(fd);
    return FileCreation::Created;
}

}  // namespace vyn::mml
