// Starting an instance's agent on demand, detached from the console (no terminal or console of
// the console's, standard streams on the null device), with the console's environment and the
// store the console uses.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

namespace vyn::console {

// The agent program: $VYNLOOP_AGENT, else "vynloop" next to this program or in ../sbin from
// it, else the first "vynloop" in PATH. Empty when none is found.
std::string FindAgentProgram();

struct StartedAgent {
    pid_t pid = -1;
    std::string program;
};

// Starts the agent for `instance` on the store `storePath` and waits up to `limit` until its
// window answers. False with the reason when it cannot start, ends early or stays silent. When
// another agent of the instance answers instead (started meanwhile by someone else, so that
// ours gave way), true with `pid` -1.
bool StartAgent(const std::string &instance, const std::string &storePath,
                std::chrono::milliseconds limit, StartedAgent &started, std::string &reason);

}  // namespace vyn::console
