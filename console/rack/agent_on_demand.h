// Starting an instance's agent before a request, as every face of a rack does it: only for the
// local store (a remote rack's subagent starts its own) and only when none runs.
#pragma once

#include <string>

#include "agent/client/agent_start.h"
#include "console/access/object_access.h"

namespace vyn::console {

// True when an agent runs now or need not be started here; `started` then holds the one this
// call started (pid -1 when none). False with the reason when it could not start.
bool StartAgentIfNone(ObjectAccess &objects, const std::string &instance,
                      const std::string &storePath, agent::StartedAgent &started,
                      std::string &reason);

}  // namespace vyn::console
