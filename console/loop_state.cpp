#include "console/loop_state.h"

namespace vyn::console {

std::string LoopStateWord(int32_t state) {
    switch (state) {
        case 0:
            return "idle";
        case 1:
            return "requested";
        case 2:
            return "stopped";
        case 3:
            return "running";
        case 4:
            return "failed";
        case 5:
            return "complete";
        case 7:
            return "stopping";
        default:
            return "state " + std::to_string(state);
    }
}

}  // namespace vyn::console
