#include "snmp/agent_launcher.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "agent/client/agent_link.h"
#include "agent/client/agent_start.h"

namespace vyn::snmp {

namespace {

// How often the thread looks for agents that ended, when nothing else wakes it.
constexpr std::chrono::seconds kReapPeriod{1};

}  // namespace

AgentLauncher::AgentLauncher(std::string storePath, std::chrono::milliseconds startLimit)
    : storePath_(std::move(storePath)), startLimit_(startLimit), thread_([this] { Run(); }) {}

AgentLauncher::~AgentLauncher() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void AgentLauncher::Ensure(const std::string &instance) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (std::find(queue_.begin(), queue_.end(), instance) != queue_.end()) {
            return;
        }
        queue_.push_back(instance);
    }
    wake_.notify_all();
}

std::vector<LaunchFailure> AgentLauncher::TakeFailures() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(failures_, {});
}

void AgentLauncher::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (queue_.empty()) {
            wake_.wait_for(lock, kReapPeriod);
        }
        if (!queue_.empty() && !stopping_) {
            std::string instance = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            Launch(instance);
            lock.lock();
        }
        lock.unlock();
        Reap();
        lock.lock();
    }
}

void AgentLauncher::Launch(const std::string &instance) {
    if (agent::AgentRunning(instance)) {
        return;
    }
    agent::StartedAgent agent;
    std::string reason;
    bool started = agent::StartAgent(instance, storePath_, startLimit_, agent, reason);
    if (agent.pid > 0) {
        children_.push_back(agent.pid);  // reaped when it ends, whether it answered or not
    }
    if (!started) {
        std::fprintf(stderr, "cannot start the agent of instance %s: %s\n", instance.c_str(),
                     reason.c_str());
        std::lock_guard<std::mutex> lock(mutex_);
        failures_.push_back({instance, reason});
        return;
    }
    if (agent.pid > 0) {
        std::fprintf(stderr, "started the agent of instance %s (%s, pid %d)\n", instance.c_str(),
                     agent.program.c_str(), static_cast<int>(agent.pid));
    }
}

void AgentLauncher::Reap() {
    std::erase_if(children_, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
}

}  // namespace vyn::snmp
