// A rack's ports as the pages show them, in JSON: each port's state (one of idle, running,
// passed, failed, stopped, with the finer word), settings, counters, errors by kind, rates,
// progress and result, and the data around its last error.
#pragma once

#include <nlohmann/json.hpp>

#include "console/rack/fleet_read.h"
#include "console/rack/port_snapshot.h"

namespace vyn::web {

nlohmann::json PortJson(const console::PortSnapshot &port);

// {"host", "error" (when it could not be read), "instances": [{"instance", "ports": [...]}]}.
nlohmann::json RackJson(const console::Rack &rack);

// A rack's totals for the fleet page: ports, running, passed, failed (errors included),
// stopped, idle.
nlohmann::json RackTotals(const console::Rack &rack);

}  // namespace vyn::web
