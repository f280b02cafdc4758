// One port's line in the live view: port, device, line settings, a progress bar (a moving block
// for tests without a time limit), characters sent and received, current and average rate,
// input errors (and their kinds, once there are any), time left and the state. On a terminal the
// lines are fitted to its width.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "console/rack/port_snapshot.h"

namespace vyn::console {

inline constexpr std::size_t kBarWidth = 20;

// How much of a line to show. The full line first; a narrow terminal gets sparser ones.
struct LineStyle {
    std::size_t barWidth = kBarWidth;  // 0: the percentage alone
    bool device = true;
    bool lineSettings = true;
    bool rate = true;            // the current rate
    bool average = true;         // the average rate (the result line gives it at the end)
    bool kinds = true;           // the errors by kind, after the error count
    bool compactCounts = false;  // "4.29G" for 4294967295; counts below 100000 stay exact
    bool shortTimeLeft = false;  // "42s left" for "42s left of period"
};

// `tick` moves the block of an endless test; a fixed tick gives a line that changes only
// when the published values do.
std::string ProgressLine(const PortSnapshot &port, std::size_t deviceWidth, unsigned tick,
                         const LineStyle &style = {});

// The lines of `ports`, each at most `columns` characters wide (0: no limit). Fields are
// shortened or left out, least important first, until every line fits; all lines get the same
// style, so that their columns stay aligned. The port number, error count, time left and state
// are always there; a line that still does not fit is left to the caller to cut.
std::vector<std::string> ProgressLines(const std::vector<PortSnapshot> &ports,
                                       std::size_t deviceWidth, unsigned tick, std::size_t columns);

// "[#########...........]": `elapsed` of `total` seconds, clipped to a bar of `width`.
std::string ProgressBar(long long elapsed, long long total, std::size_t width = kBarWidth);
// "[......###...........]" with the block at a position that `tick` moves back and forth.
std::string MovingBlock(unsigned tick, std::size_t width = kBarWidth);

// A counter for a narrow line: exact below 100000, else three figures and k, M or G.
std::string CompactCount(uint32_t value);

}  // namespace vyn::console
