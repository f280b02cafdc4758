// A rack's ports as the pages show them, in JSON: each port's state (one of idle, running,
// passed, failed, stopped, with the finer word), settings, counters, errors by kind, rates,
// progress and result, and the data around its last error.
#pragma once

#include <map>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "console/rack/fleet_read.h"
#include "console/rack/port_snapshot.h"

namespace vyn::web {

// Whether each instance's agent runs, by instance (nothing when that cannot be told).
using AgentStates = std::map<std::string, std::optional<bool>>;

// `agentRunning` false: the agent has ended, and a test it was running ended without a result.
nlohmann::json PortJson(const console::PortSnapshot &port, std::optional<bool> agentRunning = {});

// {"host", "error" (when it could not be read), "instances": [{"instance", "agent" (true,
// false, or null when unknown), "ports": [...]}]}.
nlohmann::json RackJson(const console::Rack &rack, const AgentStates &agents = {});

// A rack's totals for the fleet page: ports, running, passed, failed (errors included),
// stopped, idle.
nlohmann::json RackTotals(const console::Rack &rack);

}  // namespace vyn::web
