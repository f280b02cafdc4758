// A port's line and break test results as people and scripts read them.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "console/rack/port_snapshot.h"

namespace vyn::console {

// "CTS DSR DCD RI", the names of the LineInput bits set in `lines`, or "none".
std::string LineNames(uint32_t lines);

// For the live view: "lines ok", "lines: CTS DCD failed", or "" when no line or break test ran.
std::string LinesSummary(const PortSnapshot &port);

// The line result for the lines under the results table, or "" when it is empty or the result
// text already carries it (a test that ran only the line and break tests).
std::string LineDetail(const PortSnapshot &port);

// {"wiring" (the word, null for an unknown value), "checked": [...], "failed": [...],
// "breaksBack", "result"}, or null when no line or break test ran.
nlohmann::json LinesJson(const PortSnapshot &port);

}  // namespace vyn::console
