#include "web/agent_children.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>

#include "base/host.h"

namespace vyn::web {

AgentChildren::AgentChildren()
    : collector_([this](std::stop_token stop) {
          std::mutex sleep;
          std::condition_variable_any wake;
          std::unique_lock lock(sleep);
          while (!stop.stop_requested()) {
              wake.wait_for(lock, stop, std::chrono::seconds(1), [] { return false; });
              Collect();
          }
      }) {}

AgentChildren::~AgentChildren() {
    collector_ = {};
}

void AgentChildren::Add(pid_t pid) {
    std::lock_guard lock(mutex_);
    pids_.push_back(pid);
}

void AgentChildren::Collect() {
    std::lock_guard lock(mutex_);
    std::erase_if(pids_, [](pid_t pid) { return DetachedEnded(pid).has_value(); });
}

}  // namespace vyn::web
