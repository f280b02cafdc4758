// stop INSTANCE PORT... [--wait] and extend INSTANCE PORT SECONDS: a running test's end and time.
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "console/command_set.h"
#include "console/output.h"
#include "console/port_selection.h"
#include "console/port_watch.h"
#include "console/rack/extend_test.h"
#include "console/rack/loop_requests.h"
#include "console/rack/loop_state.h"

namespace vyn::console {

namespace {

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

int RunExtend(const GlobalOptions &globals, const ExtendOptions &options) {
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
    ExtendOutcome outcome = ExtendTest(*view.objects, view.instance, port, label, options.seconds);
    switch (outcome.kind) {
        case ExtendOutcome::Kind::StoreFailure:
            return Fail(outcome.reason);
        case ExtendOutcome::Kind::Refused:
            return Negative(outcome.reason);
        case ExtendOutcome::Kind::Taken:
            break;
    }
    std::printf("%s: %d s left\n", label.c_str(), outcome.left);
    return kExitSuccess;
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
