// The subagent as a whole: connects to the master agent over AgentX, serves VYNLOOP-MIB from
// the store, looks at the ports' results a few times a second to send vynLoopTestCompleted,
// and starts agents for tests that were requested. Runs until SIGTERM or SIGINT.
#pragma once

#include <chrono>
#include <string>

namespace vyn::snmp {

struct SubagentOptions {
    std::string storePath;
    std::string agentxSocket;     // empty: the agent library's default (or its configuration)
    int pingIntervalSeconds = 5;  // how often the master agent is checked; it is reconnected
    std::chrono::milliseconds pollPeriod{200};
    int busyTimeoutMs = 250;  // a SET waits this long for another writer of the store
    std::chrono::milliseconds agentStartLimit{10000};
};

// Returns the process's exit status.
int RunSubagent(const SubagentOptions &options);

}  // namespace vyn::snmp
