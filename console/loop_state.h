// The loop state of a port (portLoopState) in words.
#pragma once

#include <cstdint>
#include <string>

namespace vyn::console {

// 0 idle, 1 requested, 2 stopped, 3 running, 4 failed, 5 complete, 7 stopping; "state N" else.
std::string LoopStateWord(int32_t state);

}  // namespace vyn::console
