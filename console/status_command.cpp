// status INSTANCE [--json]: every provisioned port's device, loop state and last result, and
// whether the instance's agent runs; in JSON, every per-port object as well.
#include <algorithm>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/client/agent_link.h"
#include "console/command_set.h"
#include "console/json_report.h"
#include "console/output.h"
#include "console/port_selection.h"
#include "console/rack/error_kinds.h"
#include "console/rack/loop_state.h"
#include "mml/outcome.h"

namespace vyn::console {

namespace {

struct StatusOptions {
    std::string instance;
    bool json = false;
};

int RunStatus(const GlobalOptions &globals, const StatusOptions &options) {
    InstanceView view;
    if (int status = OpenInstance(globals, options.instance, view); status != kExitSuccess) {
        return status;
    }
    std::optional<bool> agentRunning = view.objects->AgentRunning(view.instance);
    if (options.json) {
        mml::Error error;
        std::optional<bool> resident = view.objects->Resident(view.instance, error);
        mml::Binding operating;
        operating.key.object = *mml::FindObject("portmodLoopOperating");
        operating.key.instance = view.instance;
        if (error.Failed() || !view.objects->Read(std::span(&operating, 1), error)) {
            return Fail(error.message);
        }
        std::cout << DumpJson(StatusJson(view, agentRunning, resident, operating.value.integer))
                  << std::endl;
        return kExitSuccess;
    }
    std::vector<std::vector<std::string>> rows{{"PORT", "DEVICE", "STATE", "LAST RESULT"}};
    for (const PortSnapshot &port : view.ports) {
        bool orphaned = mml::TestOrphaned(port.State(), agentRunning);
        rows.push_back({std::to_string(port.port), OneLine(port.Device()),
                        orphaned ? std::string(OutcomeWord(Outcome::Interrupted))
                                 : LoopStateWord(port.State()),
                        orphaned ? std::string(kOrphanedResult) : OneLine(port.Result())});
    }
    PrintTable(rows);
    std::cout << "agent: "
              << (!agentRunning   ? "not known (the host's subagent does not tell)"
                  : *agentRunning ? "running"
                                  : "not running")
              << std::endl;
    return kExitSuccess;
}

int RunResults(const GlobalOptions &globals, const StatusOptions &options) {
    InstanceView view;
    if (int status = OpenInstance(globals, options.instance, view); status != kExitSuccess) {
        return status;
    }
    if (options.json) {
        std::cout << DumpJson(ResultsJson(view)) << std::endl;
        return kExitSuccess;
    }
    std::vector<std::vector<std::string>> rows{{"PORT", "DEVICE", "OUTCOME", "RESULT"}};
    std::vector<std::string> details;
    std::optional<bool> agentRunning = view.objects->AgentRunning(view.instance);
    for (const PortSnapshot &port : view.ports) {
        Outcome outcome = ClassifyOutcome(port.State(), port.Result());
        bool orphaned = mml::TestOrphaned(port.State(), agentRunning);
        if (orphaned) {
            outcome = Outcome::Interrupted;
        }
        rows.push_back({std::to_string(port.port), OneLine(port.Device()),
                        outcome == Outcome::Pending ? LoopStateWord(port.State())
                                                    : std::string(OutcomeWord(outcome)),
                        orphaned ? std::string(kOrphanedResult) : OneLine(port.Result())});
        for (const std::string &line : ResultDetails(port)) {
            details.push_back("port " + std::to_string(port.port) + " (" + OneLine(port.Device()) +
                              "): " + line);
        }
    }
    PrintTable(rows);
    if (!details.empty()) {
        std::cout << '\n';
        for (const std::string &line : details) {
            std::cout << line << '\n';
        }
    }
    std::cout << std::flush;
    return kExitSuccess;
}

}  // namespace

void AddStatusCommand(CommandSet &commands) {
    auto status = std::make_shared<StatusOptions>();
    CLI::App *command = commands.Add(
        "status",
        "Show each provisioned port's device, loop state and last result, and whether the "
        "instance's agent runs",
        "vynloopctl status demo --json",
        [&commands, status] { return RunStatus(commands.Globals(), *status); },
        "--json prints one object: {\"instance\", \"agentRunning\" (bool), \"resident\" (bool), "
        "\"loopOperating\" (portmodLoopOperating), \"ports\": [{\"port\", \"device\", "
        "\"loopState\" (number), \"loopStateWord\" (" +
            JoinWords(vocabulary::kLoopStateWords, ", ") +
            "), \"outcome\" (as results gives it), \"objects\": {every "
            "per-port object by name, e.g. \"portLoopTxTotal\": its integer or text, as get prints "
            "it}, \"octetsHex\": {each text object's exact bytes in hex}}]}");
    command->add_option("instance", status->instance, "Instance name")
        ->required()
        ->type_name("INSTANCE");
    command->add_flag("--json", status->json, "Print JSON (keys below)");

    auto results = std::make_shared<StatusOptions>();
    command = commands.Add(
        "results", "Show each provisioned port's last test result and its outcome",
        "vynloopctl results demo --json",
        [&commands, results] { return RunResults(commands.Globals(), *results); },
        "Outcomes: passed (the test ran its full time and its result begins \"Loopback test "
        "complete, no errors detected\"), errors (receive or data errors), failed (could not "
        "run, received nothing, or an endless test lost its line), stopped, none (never "
        "tested), pending (requested, running or stopping; the table shows which).\n"
        "Below the table, each port whose characters did not all fit or whose driver counted "
        "errors gets a line with the counts by kind and the first misfit, and a test whose "
        "line carried under " +
            std::to_string(kLowLineSharePercent) +
            "% of its speed with no flow control holding it gets a warning.\n"
            "--json prints one object: {\"instance\", \"ports\": [{\"port\", \"device\", "
            "\"loopState\", \"loopStateWord\", \"outcome\", \"result\", \"txTotal\", "
            "\"rxTotal\", \"inErrs\", \"avgRate\", \"errorsByKind\": {\"corrupted\", \"lost\", "
            "\"extra\", \"frameErrors\", \"parityErrors\", \"overruns\", \"breaks\"}, "
            "\"lineSharePercent\", \"firstMisfit\": {\"position\", \"expected\", \"received\"} "
            "(character codes) or null, \"lines\": {\"wiring\", \"checked\", \"failed\" (lists "
            "of CTS, DSR, DCD, RI), \"breaksBack\", \"result\"} or null when no line or break "
            "test ran}]} (counts unsigned).");
    command->add_option("instance", results->instance, "Instance name")
        ->required()
        ->type_name("INSTANCE");
    command->add_flag("--json", results->json, "Print JSON (keys below)");
}

}  // namespace vyn::console
