// A port's errors by kind as people read them: the characters corrupted, lost and extra in the
// data, the driver's frame, parity, overrun and break counts, the first character that did not
// fit, and a warning when the line carried far less than its speed without flow control holding
// it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "console/rack/port_snapshot.h"

namespace vyn::console {

// Below this share of its speed, a line that no flow control held was not kept busy.
inline constexpr int32_t kLowLineSharePercent = 90;

// "3 corrupted, 1 lost, 2 frame errors": the counts that are not 0, or "" when all are.
std::string KindsSummary(const PortSnapshot &port);

// "first misfit: character 1000, 'A' expected, '@' received", or "" when every one fitted.
std::string FirstMisfit(const PortSnapshot &port);

// The warning for a finished test whose line carried far less than its speed allows without
// flow control holding it, or nothing.
std::optional<std::string> LineShareWarning(const PortSnapshot &port);

// What a result line leaves out: "3 corrupted, 1 lost; first misfit: ..." when anything did not
// fit or the driver counted errors, "warning: ..." when the line was not kept busy, and the line
// and break tests' result when the result line does not carry it. None to three lines.
std::vector<std::string> ResultDetails(const PortSnapshot &port);

// {"corrupted", "lost", "extra", "frameErrors", "parityErrors", "overruns", "breaks"}.
nlohmann::json KindsJson(const PortSnapshot &port);
// {"position", "expected", "received"} (character codes), or null when every one fitted.
nlohmann::json FirstMisfitJson(const PortSnapshot &port);

}  // namespace vyn::console
