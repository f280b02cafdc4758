// fleet status HOST... [--hosts-file FILE] [--json]: every instance and port of many racks in one
// table, each rack read over SNMP on its own session and thread, so that racks that do not
// answer cost one time-out in all, not one each.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "console/command_set.h"
#include "console/json_report.h"
#include "console/output.h"
#include "console/rack/fleet_read.h"
#include "console/rack/loop_state.h"
#include "console/rack/port_snapshot.h"

namespace vyn::console {

namespace {

struct FleetOptions {
    std::vector<std::string> hosts;
    std::string hostsFile;
    bool json = false;
};

uint32_t Count(const PortSnapshot &port, std::string_view object) {
    return static_cast<uint32_t>(port.Integer(object));
}

Outcome PortOutcome(const PortSnapshot &port) {
    return ClassifyOutcome(port.State(), port.Result());
}

// The exit status: a rack that could not be read outweighs a port that failed.
int FleetStatus(const std::vector<Rack> &racks) {
    bool failed = false;
    for (const Rack &rack : racks) {
        if (!rack.error.empty()) {
            return kExitFailure;
        }
        for (const RackInstance &instance : rack.instances) {
            for (const PortSnapshot &port : instance.ports) {
                Outcome outcome = PortOutcome(port);
                failed = failed || outcome == Outcome::Errors || outcome == Outcome::Failed ||
                         outcome == Outcome::Interrupted;
            }
        }
    }
    return failed ? kExitNegative : kExitSuccess;
}

void PrintFleetJson(const std::vector<Rack> &racks) {
    nlohmann::json document = {{"hosts", nlohmann::json::array()}};
    for (const Rack &rack : racks) {
        nlohmann::json host = {{"host", rack.host}, {"reachable", rack.error.empty()}};
        if (!rack.error.empty()) {
            host["error"] = rack.error;
        }
        host["instances"] = nlohmann::json::array();
        for (const RackInstance &instance : rack.instances) {
            nlohmann::json ports = nlohmann::json::array();
            for (const PortSnapshot &port : instance.ports) {
                ports.push_back({{"port", port.port},
                                 {"device", port.Device()},
                                 {"loopState", port.State()},
                                 {"loopStateWord", LoopStateWord(port.State())},
                                 {"outcome", OutcomeWord(PortOutcome(port))},
                                 {"result", port.Result()},
                                 {"rate", Count(port, "portLoopRate")},
                                 {"avgRate", Count(port, "portLoopAvgRate")}});
            }
            host["instances"].push_back(
                {{"instance", instance.instance}, {"ports", std::move(ports)}});
        }
        document["hosts"].push_back(std::move(host));
    }
    std::cout << DumpJson(document) << std::endl;
}

void PrintFleetTable(const std::vector<Rack> &racks) {
    std::vector<std::vector<std::string>> rows{{"HOST", "INSTANCE", "PORT", "DEVICE", "STATE",
                                                "OUTCOME", "RATE", "AVG RATE", "LAST RESULT"}};
    for (const Rack &rack : racks) {
        if (!rack.error.empty()) {
            rows.push_back(
                {rack.host, "-", "-", "-", "unreachable", "-", "-", "-", OneLine(rack.error)});
            continue;
        }
        for (const RackInstance &instance : rack.instances) {
            for (const PortSnapshot &port : instance.ports) {
                rows.push_back({rack.host, instance.instance, std::to_string(port.port),
                                OneLine(port.Device()), LoopStateWord(port.State()),
                                std::string(OutcomeWord(PortOutcome(port))),
                                std::to_string(Count(port, "portLoopRate")),
                                std::to_string(Count(port, "portLoopAvgRate")),
                                OneLine(port.Result())});
            }
        }
    }
    PrintTable(rows);
    std::cout << std::flush;
}

int RunFleetStatus(const GlobalOptions &globals, const FleetOptions &options) {
    std::vector<std::string> hosts = options.hosts;
    std::string reason;
    if (!options.hostsFile.empty() && !ReadHostsFile(options.hostsFile, hosts, reason)) {
        return Fail(reason);
    }
    if (hosts.empty()) {
        return Fail("no hosts given (HOST... or --hosts-file FILE)");
    }
    std::vector<Rack> racks = OpenRacks(globals.remote, hosts);
    ReadRacks(racks);
    if (options.json) {
        PrintFleetJson(racks);
    } else {
        PrintFleetTable(racks);
    }
    return FleetStatus(racks);
}

}  // namespace

void AddFleetCommand(CommandSet &commands) {
    auto options = std::make_shared<FleetOptions>();
    auto chosen = std::make_shared<CLI::App *>(nullptr);
    CLI::App *fleet =
        commands.Add("fleet", "Show many racks at once over SNMP",
                     "vynloopctl fleet status rack1 rack2:1161 -v 2c -c public -t 1 -r 0",
                     [&commands, options, chosen] {
                         if (!(*chosen)->parsed()) {
                             return Fail("fleet needs a subcommand: status");
                         }
                         return RunFleetStatus(commands.Globals(), *options);
                     });
    fleet->require_subcommand(0, 1);
    CLI::App *status = fleet->add_subcommand(
        "status",
        "One table of every instance and port of each host: state, outcome, rates and last "
        "result; hosts that do not answer are shown with the reason");
    status->add_option("hosts", options->hosts, "Hosts to read")->type_name("HOST[:PORT]");
    status->add_option("--hosts-file", options->hostsFile, "More hosts, one a line ('#' comments)")
        ->type_name("FILE");
    status->add_flag("--json", options->json, "Print JSON");
    commands.AddGlobalOptions(*status);
    *chosen = status;
    status->footer(
        "Hosts are read concurrently; use -t and -r to bound the wait for a host that does not "
        "answer.\nExit status: 0 when every port passed or is untested, 1 when any port failed "
        "or had errors, 2 when a host could not be read.\n--json prints {\"hosts\": [{\"host\", "
        "\"reachable\", \"error\" (when not), \"instances\": [{\"instance\", \"ports\": "
        "[{\"port\", \"device\", \"loopState\", \"loopStateWord\", \"outcome\", \"result\", "
        "\"rate\", \"avgRate\"}]}]}]}");
}

}  // namespace vyn::console
