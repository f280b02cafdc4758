// stop INSTANCE PORT... [--wait] and extend INSTANCE PORT SECONDS: a running test's end and time.
#include <chrono>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "console/command_set.h"
#include "console/loop_requests.h"
#include "console/loop_state.h"
#include "console/output.h"
#include "console/port_selection.h"
#include "console/port_watch.h"

namespace vyn::console {

namespace {

using namespace std::chrono_literals;

struct StopOptions {
    std::string instance;
    std::vector<std::string> ports;
    bool wait = false;
};

struct ExtendOptions {
    std::string instance;
    std::string port;
    int32_t seconds = 0;  // more than LeaseRenewMargin
};

int RunStop(const GlobalOptions &globals, const StopOptions &options) {
    InstanceView view;
    if (int status = OpenInstance(globals, options.instance, view); status != kExitSuccess) {
        return status;
    }
    std::vector<int> ports;
    std::string reason;
    if (!SelectPorts(view, options.ports, ports, reason)) {
        return Fail(reason);
    }
    std::vector<int32_t> before;
    mml::Error error;
    if (!RequestStops(*view.objects, view.instance, ports, before, error)) {
        return Fail(error.message);
    }
    int status = kExitSuccess;
    std::vector<int> stopping;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        std::string label = PortLabel(*view.Find(ports[i]));
        if (before[i] == LoopStateRunning || before[i] == LoopStateStopping) {
            std::printf("%s: %s\n", label.c_str(),
                        before[i] == LoopStateRunning ? "stopping" : "already stopping");
            stopping.push_back(ports[i]);
        } else if (before[i] == LoopStateRequested) {
            std::printf("%s: not running yet: its test waits for the agent to start it\n",
                        label.c_str());
            status = kExitNegative;
        } else {
            std::printf("%s: not running (%s)\n", label.c_str(), LoopStateWord(before[i]).c_str());
            status = kExitNegative;
        }
    }
    std::fflush(stdout);
    if (!options.wait || stopping.empty()) {
        return status;
    }
    WatchMode mode;
    mode.untilResults = true;
    // A stopped test never passes: only a failure of the wait changes the status.
    int watched = WatchPorts(view, stopping, mode);
    return watched == kExitFailure ? watched : status;
}

// Waits for the agent's next publication after the offer: it counts down from the new time
// when it took it.
enum class Taken { Yes, No, Ended };
Taken AwaitTaken(InstanceView &view, int port, int32_t seconds, mml::Error &error, bool &failed) {
    auto deadline = std::chrono::steady_clock::now() + 6s;
    failed = false;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!view.Refresh(error)) {
            failed = true;
            return Taken::No;
        }
        const PortSnapshot &now = *view.Find(port);
        if (now.State() != LoopStateRunning) {
            return Taken::Ended;
        }
        int32_t left = now.Integer("portLoopTimeRemain");
        if (left < seconds) {
            return left > seconds - LeaseRenewMargin ? Taken::Yes : Taken::No;
        }
        std::this_thread::sleep_for(100ms);
    }
    return Taken::No;
}

int RunExtend(const GlobalOptions &globals, const ExtendOptions &options) {
    const int32_t seconds = options.seconds;
    InstanceView view;
    if (int status = OpenInstance(globals, options.instance, view); status != kExitSuccess) {
        return status;
    }
    std::vector<int> ports;
    std::string reason;
    if (!SelectPorts(view, {options.port}, ports, reason)) {
        return Fail(reason);
    }
    const PortSnapshot &port = *view.Find(ports[0]);
    const std::string label = PortLabel(port);
    if (port.State() != LoopStateRunning) {
        return Negative(label + " is not running (" + LoopStateWord(port.State()) + ")");
    }
    if (port.Integer("portLoopTime") != 0 || port.Integer("portRasStatus") == RasStatusNoBorrow) {
        return Negative(label +
                        ": only a test without a time limit on a port with --ras-status 1 runs "
                        "in periods that can be renewed");
    }
    int32_t left = port.Integer("portLoopTimeRemain");
    if (seconds - LeaseRenewMargin <= left) {
        return Negative(label + " has " + std::to_string(left) + " s left; give more than " +
                        std::to_string(left + LeaseRenewMargin));
    }
    // The agent reads the offer and then publishes its own time over it; an offer written in
    // between is lost, so it is made again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        bool running = false;
        mml::Error error;
        if (!OfferTime(*view.objects, view.instance, ports[0], seconds, running, error)) {
            return Fail(error.message);
        }
        if (!running) {
            return Negative(label + " is no longer running");
        }
        bool failed = false;
        Taken taken = AwaitTaken(view, ports[0], seconds, error, failed);
        if (failed) {
            return Fail(error.message);
        }
        if (taken == Taken::Ended) {
            return Negative(label + " is no longer running");
        }
        if (taken == Taken::Yes) {
            std::printf("%s: %d s left\n", label.c_str(),
                        view.Find(ports[0])->Integer("portLoopTimeRemain"));
            return kExitSuccess;
        }
    }
    return Negative(label + ": the agent did not take the new time");
}

}  // namespace

void AddStopExtendCommands(CommandSet &commands) {
    auto stop = std::make_shared<StopOptions>();
    CLI::App *stopCommand = commands.Add(
        "stop", "Stop the running tests of ports", "vynloopctl stop demo 1 2 --wait",
        [&commands, stop] { return RunStop(commands.Globals(), *stop); },
        "Exit status 1 when a port has no running test. With --wait, waits for the results and "
        "prints them.");
    stopCommand->add_option("instance", stop->instance, "Instance name")
        ->required()
        ->type_name("INSTANCE");
    stopCommand->add_option("ports", stop->ports, "Port number 1 to 16, or its device name")
        ->required()
        ->type_name("PORT");
    stopCommand->add_flag("--wait", stop->wait, "Wait for the results and print them");

    auto extend = std::make_shared<ExtendOptions>();
    CLI::App *extendCommand = commands.Add(
        "extend", "Renew a running test that has no time limit", "vynloopctl extend demo 1 60",
        [&commands, extend] { return RunExtend(commands.Globals(), *extend); },
        "A test without a time limit on a port with --ras-status 1 runs in 60-second periods "
        "and ends unless renewed. extend gives it SECONDS from now; the agent takes the new time "
        "only when SECONDS - 10 is more than what is left. Prints the time left once the agent "
        "has taken it.");
    extendCommand->add_option("instance", extend->instance, "Instance name")
        ->required()
        ->type_name("INSTANCE");
    extendCommand->add_option("port", extend->port, "Port number 1 to 16, or its device name")
        ->required()
        ->type_name("PORT");
    // A time the agent would never take is refused before anything is read.
    const CLI::Validator renewable(
        [](std::string &text) {
            std::string error =
                CLI::Range(LeaseRenewMargin + 1, std::numeric_limits<int32_t>::max())(text);
            return error.empty()
                       ? error
                       : error + " (the agent takes a new time only when it is more " + "than " +
                             std::to_string(LeaseRenewMargin) + " s above what is left)";
        },
        "");
    extendCommand->add_option("seconds", extend->seconds, "The new time left")
        ->required()
        ->type_name("SECONDS")
        ->check(renewable);
}

}  // namespace vyn::console
