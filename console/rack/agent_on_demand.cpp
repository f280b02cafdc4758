#include "console/rack/agent_on_demand.h"

#include <chrono>

namespace vyn::console {

bool StartAgentIfNone(ObjectAccess &objects, const std::string &instance,
                      const std::string &storePath, agent::StartedAgent &started,
                      std::string &reason) {
    started = {};
    if (!objects.Local() || objects.AgentRunning(instance).value_or(true)) {
        return true;
    }
    return agent::StartAgent(instance, storePath, std::chrono::seconds(10), started, reason);
}

}  // namespace vyn::console
