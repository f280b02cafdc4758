#include "web/rack_sweep.h"

#include <algorithm>

#include "console/rack/agent_on_demand.h"
#include "console/rack/loop_requests.h"
#include "console/rack/loop_state.h"
#include "console/rack/port_snapshot.h"
#include "mml/store.h"

namespace vyn::web {

namespace {

using namespace std::chrono_literals;

// How often a running step is read: as often as the live feed reads the rack.
constexpr auto kStepPoll = 250ms;
// Polls without an agent before the sweep acts: a request no agent took is given one agent
// started again (once a step), and tests that no agent runs end the sweep.
constexpr int kAgentMissingPolls = 12;

}  // namespace

void RackSweep::Close() {
    std::lock_guard starting(startMutex_);
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    thread_ = {};  // asks the thread to stop and joins it
}

std::string RackSweep::Refusal() const {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return "the server is stopping";
    }
    if (!running_) {
        return {};
    }
    return "a sweep is running on this rack (step " + std::to_string(progress_["step"].get<int>()) +
           " of " + std::to_string(progress_["steps"].size()) + " on instance " +
           progress_["instance"].get<std::string>() + "); stop it or wait for its end";
}

bool RackSweep::Start(SweepPlan plan, std::unique_ptr<console::ObjectAccess> objects,
                      std::string storePath, std::function<void(pid_t)> adopt,
                      std::string &reason) {
    std::lock_guard starting(startMutex_);
    reason = Refusal();
    if (!reason.empty()) {
        return false;
    }
    thread_ = {};  // the last sweep's thread has ended; collect it
    plan_ = std::move(plan);
    objects_ = std::move(objects);
    storePath_ = std::move(storePath);
    adopt_ = std::move(adopt);
    key_ = console::NewRunKey();
    stopping_ = false;
    nlohmann::json steps = nlohmann::json::array();
    for (const console::SweepStep &step : plan_.steps) {
        steps.push_back(console::StepLabel(step));
    }
    {
        std::lock_guard lock(mutex_);
        running_ = true;
        progress_ = {{"state", "running"},
                     {"instance", plan_.instance},
                     {"ports", plan_.ports},
                     {"steps", std::move(steps)},
                     {"step", 1},
                     {"current", nlohmann::json::array()},
                     {"cells", nlohmann::json::array()},
                     {"message", ""},
                     {"run", nullptr}};
    }
    thread_ = std::jthread([this](std::stop_token token) { Run(token); });
    return true;
}

bool RackSweep::Stop() {
    {
        std::lock_guard lock(mutex_);
        if (!running_) {
            return false;
        }
        if (progress_["state"] == "running") {
            progress_["state"] = "stopping";
        }
    }
    stopping_ = true;
    wake_.notify_all();
    return true;
}

nlohmann::json RackSweep::Progress() const {
    std::lock_guard lock(mutex_);
    return progress_;
}

bool RackSweep::Pause(std::stop_token token, bool stopSent) {
    std::unique_lock lock(waitMutex_);
    wake_.wait_for(lock, token, kStepPoll, [&] { return !stopSent && stopping_; });
    return !token.stop_requested();
}

void RackSweep::End(const std::string &state, const std::string &message) {
    nlohmann::json run = nullptr;
    if (objects_->Local()) {
        // The run that gathers the steps' tests, for the records page.
        mml::Error error;
        int64_t id = 0;
        auto store = mml::Store::Open(storePath_, error);
        if (store && store->FindRun(plan_.instance, key_, id, error) && id != 0) {
            run = id;
        }
    }
    std::lock_guard lock(mutex_);
    progress_["state"] = state;
    progress_["message"] = message;
    progress_["run"] = run;
    running_ = false;
}

void RackSweep::Run(std::stop_token token) {
    for (std::size_t step = 0; step < plan_.steps.size(); ++step) {
        if (stopping_) {
            break;
        }
        if (!RunStep(token, step)) {
            return;
        }
    }
    std::size_t tests = 0;
    std::size_t passed = 0;
    nlohmann::json cells = Progress()["cells"];
    for (const auto &row : cells) {
        tests += row.size();
        passed += static_cast<std::size_t>(std::count(row.begin(), row.end(), "pass"));
    }
    std::string summary = std::to_string(passed) + " of " + std::to_string(tests) +
                          " tests passed; " + std::to_string(cells.size()) + " of " +
                          std::to_string(plan_.steps.size()) + " steps run";
    End(stopping_ ? "stopped" : passed == tests ? "passed" : "failed", summary);
}

bool RackSweep::RunStep(std::stop_token token, std::size_t step) {
    const std::string stepName = "step " + std::to_string(step + 1);
    {
        std::lock_guard lock(mutex_);
        progress_["step"] = step + 1;
        progress_["current"] = nlohmann::json::array();
    }
    mml::Error error;
    int busyPort = 0;
    if (!console::RequestTests(*objects_, plan_.instance, plan_.ports,
                               console::StepSettings(plan_.settings, plan_.steps[step]),
                               console::LabelBindings(plan_.labels, plan_.instance, key_), busyPort,
                               error)) {
        End("ended", stepName + " could not be requested: " + error.message);
        return false;
    }
    if (busyPort != 0) {
        End("ended", stepName + ": port " + std::to_string(busyPort) +
                         " is busy: a test was requested meanwhile");
        return false;
    }
    std::vector<console::PortSnapshot> snapshots;
    bool stopSent = false;
    bool restarted = false;
    int agentMissing = 0;
    while (true) {
        if (!console::ReadSnapshots(*objects_, plan_.instance, plan_.ports, snapshots, error)) {
            End("ended", stepName + ": the ports cannot be read: " + error.message);
            return false;
        }
        bool unclaimed = std::any_of(snapshots.begin(), snapshots.end(), [](const auto &port) {
            return port.State() == LoopStateRequested;
        });
        // A test the agent has not taken yet is stopped once it runs.
        if (stopping_ && (!stopSent || unclaimed)) {
            std::vector<int32_t> before;
            if (!console::RequestStops(*objects_, plan_.instance, plan_.ports, before, error)) {
                End("ended", stepName + " could not be stopped: " + error.message);
                return false;
            }
            stopSent = true;
        }
        bool underway = false;
        nlohmann::json current = nlohmann::json::array();
        for (const console::PortSnapshot &port : snapshots) {
            bool running = console::TestUnderway(port.State());
            underway = underway || running;
            current.push_back(running ? console::LoopStateWord(port.State())
                                      : console::SweepCell(port.State(), port.Result()));
        }
        {
            std::lock_guard lock(mutex_);
            progress_["current"] = current;
            if (!underway) {
                progress_["cells"].push_back(std::move(current));
                return true;
            }
        }
        if (objects_->AgentRunning(plan_.instance).value_or(true)) {
            agentMissing = 0;
        } else if (++agentMissing >= kAgentMissingPolls) {
            if (restarted || !unclaimed) {
                End("ended",
                    "the agent of instance " + plan_.instance + " has ended during " + stepName);
                return false;
            }
            restarted = true;
            agentMissing = 0;
            agent::StartedAgent started;
            std::string reason;
            if (!console::StartAgentIfNone(*objects_, plan_.instance, storePath_, started,
                                           reason)) {
                End("ended", stepName + ": " + reason);
                return false;
            }
            if (started.pid > 0) {
                adopt_(started.pid);
            }
        }
        if (!Pause(token, stopSent)) {
            End("ended", "the server stopped during " + stepName);
            return false;
        }
    }
}

}  // namespace vyn::web
