// The live view of some ports of an instance, refreshed each second, for `watch`, `test --wait`
// and `stop --wait`.
#pragma once

#include <string>
#include <vector>

#include "console/port_selection.h"

namespace vyn::console {

struct WatchMode {
    // End once every port has a result and print each port's result line; the exit status is 0
    // when every test passed, else 1. Without it the view runs until Ctrl-C (exit 0).
    bool untilResults = false;
    // Ctrl-C offers to stop the ports' tests (asking first when standard input is a terminal)
    // and then waits on for their results; a second Ctrl-C leaves. Without it Ctrl-C ends the view.
    bool stopOnInterrupt = false;
    // When the agent is gone while a request waits for it, start it again (once). The store
    // path is handed to the new agent.
    bool restartAgent = false;
    std::string storePath;
};

int WatchPorts(InstanceView &view, const std::vector<int> &ports, const WatchMode &mode);

// Starts the instance's agent when the objects are local and none runs (remotely the host's
// subagent starts it for a request), saying so on standard error with its process id. Returns
// kExitSuccess, or the failure's status after printing why.
int StartAgentIfNeeded(const InstanceView &view, const std::string &storePath);

// "port 1 (COM1) passed: Loopback test complete, no errors detected. ...", or "port 2 (COM2): no
// test" for a port that never had one.
std::string ResultLine(const PortSnapshot &port);

}  // namespace vyn::console
