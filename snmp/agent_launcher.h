// Starting instances' agents on demand, on a thread of its own so that SNMP requests are never
// held up by a start: the console's start (agent/client/agent_start.h), the same program, the
// same environment, the same wait for its window. The agents it started are reaped when they end;
// they are not stopped when the launcher ends.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vyn::snmp {

struct LaunchFailure {
    std::string instance;
    std::string reason;
};

class AgentLauncher {
  public:
    AgentLauncher(std::string storePath, std::chrono::milliseconds startLimit);
    ~AgentLauncher();
    AgentLauncher(const AgentLauncher &) = delete;
    AgentLauncher &operator=(const AgentLauncher &) = delete;

    // Asks for an agent of `instance` to run: starts one unless one answers already.
    void Ensure(const std::string &instance);

    // The starts that failed since the last call.
    std::vector<LaunchFailure> TakeFailures();

  private:
    void Run();
    void Launch(const std::string &instance);
    void Reap();

    const std::string storePath_;
    const std::chrono::milliseconds startLimit_;
    std::mutex mutex_;
    std::condition_variable wake_;         // signalled under mutex_ for queue_ and stopping_
    std::deque<std::string> queue_;        // guarded by mutex_
    std::vector<LaunchFailure> failures_;  // guarded by mutex_
    bool stopping_ = false;                // guarded by mutex_
    std::vector<pid_t> children_;          // the launcher thread's own
    std::thread thread_;                   // last: starts once the rest is ready
};

}  // namespace vyn::snmp
