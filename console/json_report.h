// The JSON forms of status and results. Keys are stable; see the commands' help.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>

#include "console/port_selection.h"

namespace vyn::console {

// {"instance", "agentRunning", "resident", "loopOperating", "ports": [{"port", "device",
// "loopState", "loopStateWord", "outcome", "objects": {every per-port object by name: integer or
// text}, "octetsHex": {every octet string object by name: its exact bytes in hex}}]}
nlohmann::json StatusJson(const InstanceView &view, std::optional<bool> agentRunning,
                          std::optional<bool> resident, int32_t loopOperating);

// {"instance", "ports": [{"port", "device", "loopState", "loopStateWord", "outcome", "result",
// "txTotal", "rxTotal", "inErrs", "avgRate", "errorsByKind": {"corrupted", "lost", "extra",
// "frameErrors", "parityErrors", "overruns", "breaks"}, "lineSharePercent", "firstMisfit":
// {"position", "expected", "received"} or null}]}
nlohmann::json ResultsJson(const InstanceView &view);

// One line; texts that are not UTF-8 have their bad bytes replaced.
std::string DumpJson(const nlohmann::json &document);

}  // namespace vyn::console
