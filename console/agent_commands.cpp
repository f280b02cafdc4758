// ping INSTANCE and notify INSTANCE topology-exiting: the instance's running agent.
#include <iostream>
#include <memory>
#include <string>

#include "agent/client/agent_link.h"
#include "console/arguments.h"
#include "console/command_set.h"
#include "console/output.h"

namespace vyn::console {

namespace {

struct NotifyOptions {
    std::string instance;
    std::string event;
};

int RunPing(const std::string &instance) {
    if (std::string reason = CheckInstance(instance); !reason.empty()) {
        return Fail(reason);
    }
    bool running = agent::AgentRunning(instance);
    std::cout << (running ? "running" : "not running") << std::endl;
    return running ? kExitSuccess : kExitNegative;
}

int RunNotify(const NotifyOptions &options) {
    if (std::string reason = CheckInstance(options.instance); !reason.empty()) {
        return Fail(reason);
    }
    bool noAgent = false;
    std::string reason;
    // The only event so far: the board's topology is going away, so tests must end.
    if (!agent::PostToAgent(options.instance, "WM_KYR_TOPOLOGY_EXITING", noAgent, reason)) {
        return noAgent ? Negative(reason) : Fail(reason);
    }
    return kExitSuccess;
}

}  // namespace

void AddAgentCommands(CommandSet &commands) {
    auto instance = std::make_shared<std::string>();
    CLI::App *ping =
        commands.Add("ping", "Tell whether the instance's agent runs (exit 0) or not (exit 1)",
                     "vynloopctl ping demo", [instance] { return RunPing(*instance); });
    ping->add_option("instance", *instance, "Instance name")->required()->type_name("INSTANCE");

    auto options = std::make_shared<NotifyOptions>();
    CLI::App *notify = commands.Add(
        "notify",
        "Tell the instance's agent about an event; topology-exiting ends its tests and lets it "
        "stop soon",
        "vynloopctl notify demo topology-exiting", [options] { return RunNotify(*options); });
    notify->add_option("instance", options->instance, "Instance name")
        ->required()
        ->type_name("INSTANCE");
    notify->add_option("event", options->event, "The event")
        ->required()
        ->check(CLI::IsMember({"topology-exiting"}))
        ->type_name("EVENT");
}

}  // namespace vyn::console
