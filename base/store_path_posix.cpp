#include "base/store_path.h"

namespace vyn {

std::string DefaultStorePath() {
    return "/var/lib/vynloop/mib.db";
}

}  // namespace vyn
