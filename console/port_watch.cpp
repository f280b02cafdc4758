#include "console/port_watch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "agent/client/agent_link.h"
#include "agent/client/agent_start.h"
#include "base/host.h"
#include "console/interrupt.h"
#include "console/live_view.h"
#include "console/output.h"
#include "console/progress_line.h"
#include "console/rack/agent_on_demand.h"
#include "console/rack/error_kinds.h"
#include "console/rack/loop_requests.h"
#include "console/rack/loop_state.h"

namespace vyn::console {

namespace {

using namespace std::chrono_literals;

constexpr int kAgentMissingTicks = 3;  // seconds without an agent before acting on it

bool Finished(const PortSnapshot &port) {
    return !TestUnderway(port.State());
}

void Notice(const std::string &text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

class PortWatch {
  public:
    PortWatch(InstanceView &view, const std::vector<int> &ports, const WatchMode &mode)
        : view_(view), ports_(ports), mode_(mode), live_(stdout, StdoutIsTerminal()) {
        for (const PortSnapshot &port : view.ports) {
            deviceWidth_ = std::max(deviceWidth_, OneLine(port.Device()).size());
        }
    }

    int Run() {
        while (true) {
            mml::Error error;
            if (!ReadSnapshots(*view_.objects, view_.instance, ports_, snapshots_, error) ||
                (stopping_ && !StopRunningTests(error))) {
                return Fail(error.message);
            }
            Draw();
            if (mode_.untilResults && std::all_of(snapshots_.begin(), snapshots_.end(), Finished)) {
                return Results();
            }
            if (int status = CheckAgent(Published()); status >= 0) {
                return status;
            }
            if (interrupts_.Sleep(1s)) {
                interrupts_.Take();
                if (!mode_.stopOnInterrupt) {
                    return kExitSuccess;
                }
                if (stopping_) {
                    return Negative("not waiting for the results; the tests are being stopped");
                }
                stopping_ = ConfirmStop();
                continue;  // at once: the stop is written by the next pass
            }
            ++tick_;
        }
    }

  private:
    void Draw() {
        // Without a terminal the moving block stays put, so that a line is printed again only
        // when a published value changed.
        live_.Show(
            ProgressLines(snapshots_, deviceWidth_, live_.Terminal() ? tick_ : 0, live_.Columns()));
    }

    // Asks first when someone can answer; stdin elsewhere means nobody is there to ask.
    bool ConfirmStop() {
        bool yes = true;
        if (StdinIsTerminal()) {
            live_.Detach();
            yes = AskYesNo("Stop the running tests?");
            interrupts_.Take();
        }
        if (yes) {
            Notice("stopping the tests");
        }
        live_.Detach();
        return yes;
    }

    // A test requested but not yet started is stopped as soon as it runs: the agent writes its
    // running state over anything written before.
    bool StopRunningTests(mml::Error &error) {
        std::vector<int32_t> before;
        if (!RequestStops(*view_.objects, view_.instance, ports_, before, error)) {
            return false;
        }
        for (std::size_t i = 0; i < snapshots_.size(); ++i) {
            if (before[i] == LoopStateRunning) {
                std::size_t state = *mml::FindObject("portLoopState");
                snapshots_[i].values[state] = mml::Value::Integer(LoopStateStopping);
            }
        }
        return true;
    }

    // Whether a port's published values changed since the last look.
    bool Published() {
        bool changed = false;
        lastValues_.resize(snapshots_.size());
        for (std::size_t i = 0; i < snapshots_.size(); ++i) {
            if (snapshots_[i].values != lastValues_[i]) {
                changed = true;
                lastValues_[i] = snapshots_[i].values;
            }
        }
        return changed;
    }

    // -1 to go on, else the exit status. An agent that has just published is running: it is
    // looked for only when nothing changed (which spares a remote rack a request a second).
    int CheckAgent(bool published) {
        auto pending = std::find_if(snapshots_.begin(), snapshots_.end(),
                                    [](const PortSnapshot &port) { return !Finished(port); });
        if (pending == snapshots_.end() || published ||
            view_.objects->AgentRunning(view_.instance).value_or(true)) {
            agentMissing_ = 0;
            return -1;
        }
        if (++agentMissing_ < kAgentMissingTicks) {
            return -1;
        }
        agentMissing_ = 0;
        bool waiting = std::any_of(snapshots_.begin(), snapshots_.end(), [](const auto &port) {
            return port.State() == LoopStateRequested;
        });
        if (!mode_.untilResults) {
            return -1;  // a plain watch shows what there is
        }
        if (waiting && !view_.objects->Local()) {
            // A remote host's subagent starts the agent for a requested test, or fails the
            // request with the reason: the result comes either way.
            return -1;
        }
        if (mode_.restartAgent && waiting && !restarted_) {
            restarted_ = true;
            agent::StartedAgent started;
            std::string reason;
            if (!agent::StartAgent(view_.instance, mode_.storePath, 10s, started, reason)) {
                return Fail(reason);
            }
            live_.Detach();
            if (started.pid > 0) {
                Notice("started the agent of instance " + view_.instance +
                       " again: the last one had ended (" + started.program + ", pid " +
                       std::to_string(started.pid) + ")");
            }
            return -1;
        }
        return Negative("the agent of instance " + view_.instance + " has ended; " +
                        PortLabel(*pending) + " has no result");
    }

    // A port that never had a test is listed but does not count against the others.
    int Results() {
        bool allPassed = true;
        for (const PortSnapshot &port : snapshots_) {
            std::printf("%s\n", ResultLine(port).c_str());
            for (const std::string &detail : ResultDetails(port)) {
                std::printf("  %s\n", detail.c_str());
            }
            Outcome outcome = ClassifyOutcome(port.State(), port.Result());
            allPassed = allPassed && (outcome == Outcome::Passed || outcome == Outcome::None);
        }
        std::fflush(stdout);
        return allPassed ? kExitSuccess : kExitNegative;
    }

    InstanceView &view_;
    std::vector<int> ports_;
    WatchMode mode_;
    LiveView live_;
    InterruptWatch interrupts_;
    std::vector<PortSnapshot> snapshots_;
    std::vector<std::vector<mml::Value>> lastValues_;  // each port's values at the last look
    std::size_t deviceWidth_ = 4;
    unsigned tick_ = 0;
    bool stopping_ = false;
    bool restarted_ = false;
    int agentMissing_ = 0;
};

}  // namespace

int WatchPorts(InstanceView &view, const std::vector<int> &ports, const WatchMode &mode) {
    PortWatch watch(view, ports, mode);
    return watch.Run();
}

int StartAgentIfNeeded(const InstanceView &view, const std::string &storePath) {
    agent::StartedAgent agent;
    std::string reason;
    if (!StartAgentIfNone(*view.objects, view.instance, storePath, agent, reason)) {
        return Fail(reason);
    }
    if (agent.pid > 0) {
        std::fprintf(stderr, "started the agent of instance %s (%s, pid %d)\n",
                     view.instance.c_str(), agent.program.c_str(), static_cast<int>(agent.pid));
    }
    return kExitSuccess;
}

std::string ResultLine(const PortSnapshot &port) {
    if (ClassifyOutcome(port.State(), port.Result()) == Outcome::None) {
        return PortLabel(port) + ": no test";
    }
    return PortLabel(port) + " " +
           std::string(OutcomeWord(ClassifyOutcome(port.State(), port.Result()))) + ": " +
           OneLine(port.Result());
}

}  // namespace vyn::console
