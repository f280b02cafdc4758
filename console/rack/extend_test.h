// Renewing a running test that has no time limit: the checks before the offer (the port runs such
// a test, the new time is one the agent takes) and the offer, made again while the agent's own
// publication overwrites it, until the agent counts down from the new time.
#pragma once

#include <cstdint>
#include <string>

#include "console/access/object_access.h"
#include "console/rack/port_snapshot.h"

namespace vyn::console {

struct ExtendOutcome {
    enum class Kind { Taken, Refused, StoreFailure } kind = Kind::Refused;
    std::string reason;  // why not, beginning with the label ("port 3 (COM3) is not running ...")
    int32_t left = 0;    // the time left once taken
};

// `port` is the port as read just before; `label` names it in reasons.
ExtendOutcome ExtendTest(ObjectAccess &objects, const std::string &instance,
                         const PortSnapshot &port, const std::string &label, int32_t seconds);

}  // namespace vyn::console
