// sweep INSTANCE PORT... --speeds LIST --frames LIST [settings]: every listed port at once
// through each speed and frame, one step after the other, recorded as one run; live progress,
// then the matrix of ports by settings.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "base/host.h"
#include "console/access/store_access.h"
#include "console/command_set.h"
#include "console/interrupt.h"
#include "console/live_view.h"
#include "console/output.h"
#include "console/port_selection.h"
#include "console/port_watch.h"
#include "console/progress_line.h"
#include "console/rack/loop_requests.h"
#include "console/rack/loop_state.h"
#include "console/rack/run_labels.h"
#include "console/rack/sweep_plan.h"
#include "console/rack/test_settings.h"

namespace vyn::console {

namespace {

using namespace std::chrono_literals;

constexpr int kAgentMissingSeconds = 3;

struct SweepCommand {
    std::string instance;
    std::vector<std::string> ports;
    SweepOptions sweep;
};

// One sweep, step by step. Ctrl-C stops the running step (its tests are stopped and their
// results waited for); a second one leaves without waiting. Finished steps are kept.
class Sweep {
  public:
    Sweep(InstanceView &view, std::vector<int> ports, std::vector<SweepStep> steps,
          const SweepOptions &options, std::string storePath)
        : view_(view),
          ports_(std::move(ports)),
          steps_(std::move(steps)),
          options_(options),
          storePath_(std::move(storePath)),
          key_(NewRunKey()),
          live_(stdout, StdoutIsTerminal()) {}

    int Run() {
        int status = kExitSuccess;
        for (std::size_t step = 0; step < steps_.size() && status == kExitSuccess && !stopping_;
             ++step) {
            status = RunStep(step);
        }
        live_.Detach();
        return Finish(status);
    }

  private:
    int RunStep(std::size_t step) {
        TestSettings settings = StepSettings(options_.settings, steps_[step]);
        mml::Error error;
        int busyPort = 0;
        if (!RequestTests(*view_.objects, view_.instance, ports_, settings,
                          LabelBindings(options_.labels, view_.instance, key_), busyPort, error)) {
            return Fail(error.message);
        }
        if (busyPort != 0) {
            return Fail(PortLabel(*view_.Find(busyPort)) +
                        " is busy: a test was requested meanwhile");
        }
        const std::string header = "step " + std::to_string(step + 1) + " of " +
                                   std::to_string(steps_.size()) + ": " + StepLabel(steps_[step]);
        int agentMissing = 0;
        bool restarted = false;
        while (true) {
            if (!ReadSnapshots(*view_.objects, view_.instance, ports_, snapshots_, error) ||
                (stopping_ && !StopStep(error))) {
                return Fail(error.message);
            }
            std::vector<std::string> lines{header};
            std::vector<std::string> progress = ProgressLines(
                snapshots_, deviceWidth_, live_.Terminal() ? tick_ : 0, live_.Columns());
            lines.insert(lines.end(), progress.begin(), progress.end());
            live_.Show(lines);
            if (std::none_of(snapshots_.begin(), snapshots_.end(),
                             [](const PortSnapshot &port) { return TestUnderway(port.State()); })) {
                break;
            }
            if (view_.objects->AgentRunning(view_.instance).value_or(true)) {
                agentMissing = 0;
            } else if (++agentMissing >= kAgentMissingSeconds) {
                // A request that no agent took: start one again, once a step.
                if (restarted || !std::any_of(snapshots_.begin(), snapshots_.end(),
                                              [](const PortSnapshot &port) {
                                                  return port.State() == LoopStateRequested;
                                              })) {
                    live_.Detach();
                    return Fail("the agent of instance " + view_.instance +
                                " has ended during step " + std::to_string(step + 1));
                }
                restarted = true;
                agentMissing = 0;
                live_.Detach();
                if (int status = StartAgentIfNeeded(view_, storePath_); status != kExitSuccess) {
                    return status;
                }
            }
            if (interrupts_.Sleep(1s)) {
                interrupts_.Take();
                if (stopping_) {
                    live_.Detach();
                    return Negative("not waiting for the stopped step's results");
                }
                stopping_ = true;
                live_.Detach();
                std::fprintf(stderr, "stopping step %zu; the finished steps are kept\n", step + 1);
                continue;
            }
            ++tick_;
        }
        std::vector<std::string> row;
        for (const PortSnapshot &port : snapshots_) {
            row.push_back(SweepCell(port.State(), port.Result()));
        }
        cells_.push_back(std::move(row));
        return kExitSuccess;
    }

    bool StopStep(mml::Error &error) {
        std::vector<int32_t> before;
        return RequestStops(*view_.objects, view_.instance, ports_, before, error);
    }

    int Finish(int status) {
        std::vector<std::string> labels;
        for (int port : ports_) {
            labels.push_back(std::to_string(port) + " " + OneLine(view_.Find(port)->Device()));
        }
        std::size_t passed = 0;
        std::size_t tests = 0;
        for (const auto &row : cells_) {
            tests += row.size();
            passed += static_cast<std::size_t>(std::count(row.begin(), row.end(), "pass"));
        }
        std::cout << "\n";
        PrintTable(SweepMatrix(labels, steps_, cells_));
        std::cout << passed << " of " << tests << " tests passed";
        if (cells_.size() < steps_.size()) {
            std::cout << "; " << cells_.size() << " of " << steps_.size() << " steps run";
        }
        std::cout << "\n" << RecordLine() << std::endl;
        if (status != kExitSuccess) {
            return status;
        }
        return passed == tests && cells_.size() == steps_.size() ? kExitSuccess : kExitNegative;
    }

    std::string RecordLine() {
        if (!view_.objects->Local()) {
            return "recorded on the host as one run (vynloopctl history there)";
        }
        mml::Error error;
        int64_t run = 0;
        auto store = mml::Store::Open(storePath_, error);
        if (!store || !store->FindRun(view_.instance, key_, run, error) || run == 0) {
            return "not found in the record: " + error.message;
        }
        return "recorded as run " + std::to_string(run) + " (vynloopctl report " +
               std::to_string(run) + " --junit FILE)";
    }

    InstanceView &view_;
    std::vector<int> ports_;
    std::vector<SweepStep> steps_;
    const SweepOptions &options_;
    std::string storePath_;
    std::string key_;
    LiveView live_;
    InterruptWatch interrupts_;
    std::vector<PortSnapshot> snapshots_;
    std::vector<std::vector<std::string>> cells_;  // by step, then port
    std::size_t deviceWidth_ = 4;
    unsigned tick_ = 0;
    bool stopping_ = false;
};

int RunSweep(const GlobalOptions &globals, const SweepCommand &command) {
    const SweepOptions &options = command.sweep;
    std::vector<SweepStep> steps;
    std::string reason;
    if (!PlanSweepOptions(options, steps, reason)) {
        return Fail(reason);
    }
    InstanceView view;
    std::vector<int> ports;
    if (int status = OpenPortsForRequest(globals, command.instance, command.ports, options.settings,
                                         view, ports);
        status != kExitSuccess) {
        return status;
    }
    for (int number : ports) {
        const PortSnapshot &port = *view.Find(number);
        if (std::string why = CheckStepsEnd(options.settings, port); !why.empty()) {
            return Fail(PortLabel(port) + ": " + why);
        }
    }
    const std::string storePath = StorePath(globals);
    if (int status = StartAgentIfNeeded(view, storePath); status != kExitSuccess) {
        return status;
    }
    Sweep sweep(view, ports, std::move(steps), options, storePath);
    return sweep.Run();
}

}  // namespace

void AddSweepCommand(CommandSet &commands) {
    auto options = std::make_shared<SweepCommand>();
    CLI::App *sweep = commands.Add(
        "sweep", "Test ports at once through every speed and frame, and show the matrix",
        "vynloopctl sweep demo 1 2 3 4 --speeds 9600,115200 --frames 8N1,7E1,8N2 --time 5 "
        "--board SN-1042 --operator ann",
        [&commands, options] { return RunSweep(commands.Globals(), *options); },
        "Each speed with each frame is one step: every listed port is tested at once with it, "
        "and the next step starts when every port has its result. Frames are data bits, parity "
        "(N, O, E, M, S) and stop bits: 8N1, 7E1, 8N2, 5O1.5; 1.5 stop bits go with 5 data "
        "bits and 2 with 6 to 8, as a UART sends them. The other settings apply to every step; "
        "left out, they keep the port's values.\n"
        "The sweep is one run in the host's record of tests (see history and report). Ctrl-C "
        "stops the running step and keeps the finished ones; a second Ctrl-C leaves at once.\n"
        "Exit status: 0 when every test passed, 1 when any did not (or the sweep was stopped), "
        "2 when the sweep could not run.");
    sweep->add_option("instance", options->instance, "Instance name")
        ->required()
        ->type_name("INSTANCE");
    sweep->add_option("ports", options->ports, "Port number 1 to 16, or its device name")
        ->required()
        ->type_name("PORT");
    AddSweepOptions(*sweep, options->sweep);
}

}  // namespace vyn::console
