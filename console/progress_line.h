// One port's line in the live view: port, device, line settings, a progress bar (a moving block
// for tests without a time limit), characters sent and received, current and average rate,
// input errors, time left and the state.
#pragma once

#include <cstddef>
#include <string>

#include "console/port_snapshot.h"

namespace vyn::console {

inline constexpr std::size_t kBarWidth = 20;

// `tick` moves the block of an endless test; a fixed tick gives a line that changes only
// when the published values do.
std::string ProgressLine(const PortSnapshot &port, std::size_t deviceWidth, unsigned tick);

// "[#########...........]": `elapsed` of `total` seconds, clipped to the bar.
std::string ProgressBar(long long elapsed, long long total);
// "[......###...........]" with the block at a position that `tick` moves back and forth.
std::string MovingBlock(unsigned tick);

}  // namespace vyn::console
