// A rack's sweep started from the page: at most one at a time, run step by step on its own
// thread and its own objects, so that neither the pages nor a running test wait for it. Its
// progress (which step, which ports, each finished step's outcome by port) is read by the rack's
// live feed; a stop ends the running step's tests and keeps the finished steps.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "console/access/object_access.h"
#include "web/rack_actions.h"

namespace vyn::web {

class RackSweep {
  public:
    RackSweep() = default;
    RackSweep(const RackSweep &) = delete;
    RackSweep &operator=(const RackSweep &) = delete;

    // Runs `plan` on `objects` (an agent that must be started again is started on `storePath`
    // and handed to `adopt`). False, with why, while another sweep runs.
    bool Start(SweepPlan plan, std::unique_ptr<console::ObjectAccess> objects,
               std::string storePath, std::function<void(pid_t)> adopt, std::string &reason);
    // Asks the running sweep to stop; false when none runs.
    bool Stop();
    // Ends the running sweep's thread (its tests run on to their end) and refuses new sweeps:
    // the server is stopping.
    void Close();
    // Why a new sweep would be refused now; empty when none runs.
    std::string Refusal() const;
    // {"state": running|stopping|passed|failed|stopped|ended, "instance", "ports", "steps":
    // [labels], "step" (1-based, the running or last one), "current": [the running step's word by
    // port], "cells": [[outcome by port] by finished step], "message", "run"}; null before any
    // sweep.
    nlohmann::json Progress() const;

  private:
    void Run(std::stop_token token);
    // One step: request it, then follow it until every port has its result. False with the
    // sweep's end written into progress_.
    bool RunStep(std::stop_token token, std::size_t step);
    void End(const std::string &state, const std::string &message);
    // Waits up to the poll period, less when a stop comes that is not sent yet; false when the
    // server is stopping.
    bool Pause(std::stop_token token, bool stopSent);

    std::mutex startMutex_;  // one Start at a time
    // Set by Start before the thread begins, then the sweep thread's alone.
    SweepPlan plan_;
    std::unique_ptr<console::ObjectAccess> objects_;
    std::string storePath_;
    std::function<void(pid_t)> adopt_;
    std::string key_;

    std::atomic<bool> stopping_{false};  // set by Stop from a request thread
    mutable std::mutex mutex_;           // guards progress_, running_ and closed_
    nlohmann::json progress_;
    bool running_ = false;
    bool closed_ = false;
    std::mutex waitMutex_;  // for wake_ only
    std::condition_variable_any wake_;
    std::jthread thread_;  // last: stopped and joined first
};

}  // namespace vyn::web
