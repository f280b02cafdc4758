// The agents this server started on demand stay its children until they end; they are collected
// here once they do, so that none lingers as a zombie while the server runs for weeks.
#pragma once

#include <sys/types.h>

#include <mutex>
#include <thread>
#include <vector>

namespace vyn::web {

class AgentChildren {
  public:
    AgentChildren();
    ~AgentChildren();
    void Add(pid_t pid);

  private:
    void Collect();

    std::mutex mutex_;  // guards pids_
    std::vector<pid_t> pids_;
    std::jthread collector_;  // last: stopped and joined first
};

}  // namespace vyn::web
