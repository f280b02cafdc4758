// status INSTANCE: every provisioned port's device, loop state and last result, and whether the
// instance's agent runs.
#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "console/agent_link.h"
#include "console/command_set.h"
#include "console/loop_state.h"
#include "console/output.h"
#include "console/store_access.h"

namespace vyn::console {

namespace {

struct PortRow {
    std::string port;
    std::string device;
    std::string state;
    std::string result;
};

std::vector<mml::Binding> StatusBindings(const std::string &instance, int port) {
    std::vector<mml::Binding> bindings;
    for (const char *object : {"portName", "portLoopState", "portLoopStopErr"}) {
        mml::Binding binding;
        mml::ParseObjectName(std::string(object) + "." + instance + "." + std::to_string(port),
                             binding.key);
        bindings.push_back(std::move(binding));
    }
    return bindings;
}

void PrintTable(const std::vector<PortRow> &rows) {
    std::size_t deviceWidth = 6;
    std::size_t stateWidth = 5;
    for (const PortRow &row : rows) {
        deviceWidth = std::max(deviceWidth, row.device.size());
        stateWidth = std::max(stateWidth, row.state.size());
    }
    auto line = [&](const std::string &port, const std::string &device, const std::string &state,
                    const std::string &result) {
        std::string text = port + std::string(6 - std::min<std::size_t>(port.size(), 5), ' ');
        text += device + std::string(deviceWidth - device.size() + 2, ' ');
        text += state + std::string(stateWidth - state.size() + 2, ' ');
        text += result;
        while (!text.empty() && text.back() == ' ') {
            text.pop_back();
        }
        std::cout << text << '\n';
    };
    line("PORT", "DEVICE", "STATE", "LAST RESULT");
    for (const PortRow &row : rows) {
        line(row.port, row.device, row.state, row.result);
    }
}

int RunStatus(const GlobalOptions &globals, const std::string &instance) {
    if (std::string reason = CheckInstance(instance); !reason.empty()) {
        return Fail(reason);
    }
    int status = kExitSuccess;
    auto store = OpenStore(globals, status);
    if (!store) {
        return status;
    }
    mml::Error error;
    std::vector<int> ports;
    if (!store->ListPorts(instance, ports, error)) {
        return Fail(error.message);
    }
    if (ports.empty()) {
        return Fail("instance " + instance + " is not provisioned");
    }
    std::vector<mml::Binding> bindings;
    for (int port : ports) {
        std::vector<mml::Binding> more = StatusBindings(instance, port);
        bindings.insert(bindings.end(), more.begin(), more.end());
    }
    if (!store->Read(bindings, error)) {
        return Fail(error.message);
    }
    std::vector<PortRow> rows;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const mml::Binding *values = &bindings[i * 3];
        rows.push_back({std::to_string(ports[i]), OneLine(values[0].value.text),
                        LoopStateWord(values[1].value.integer), OneLine(values[2].value.text)});
    }
    PrintTable(rows);
    std::cout << "agent: " << (AgentRunning(instance) ? "running" : "not running") << std::endl;
    return kExitSuccess;
}

}  // namespace

void AddStatusCommand(CommandSet &commands) {
    auto instance = std::make_shared<std::string>();
    CLI::App *status =
        commands.Add("status", "Show each provisioned port's device, loop state and last result",
                     "vynloopctl status demo",
                     [&commands, instance] { return RunStatus(commands.Globals(), *instance); });
    status->add_option("instance", *instance, "Instance name")->required()->type_name("INSTANCE");
}

}  // namespace vyn::console
