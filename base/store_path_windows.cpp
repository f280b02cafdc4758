#include <cstdlib>

#include "base/store_path.h"

namespace vyn {

std::string DefaultStorePath() {
    const char *programData = std::getenv("ProgramData");
    return std::string(programData != nullptr && programData[0] != '\0' ? programData
                                                                        : "C:\\ProgramData") +
           "\\vynloop\\mib.db";
}

}  // namespace vyn
