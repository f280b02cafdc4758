#include "web/rack_json.h"

#include "console/rack/error_kinds.h"
#include "console/rack/line_result.h"
#include "console/rack/loop_state.h"
#include "console/rack/test_settings.h"
#include "console/rack/words.h"
#include "mml/vocabulary.h"

namespace vyn::web {

namespace {

using console::Outcome;
using console::PortSnapshot;

// The five states a row shows as a colour.
std::string_view View(Outcome outcome) {
    switch (outcome) {
        case Outcome::Pending:
            return "running";
        case Outcome::Passed:
            return "passed";
        case Outcome::Errors:
        case Outcome::Failed:
            return "failed";
        case Outcome::Stopped:
        case Outcome::Interrupted:  // ended without a verdict; its result text says why
            return "stopped";
        case Outcome::None:
            break;
    }
    return "idle";
}

std::string WordOr(std::span<const vocabulary::Word> table, int32_t value) {
    auto word = vocabulary::WordOf(table, value);
    return word ? std::string(*word) : std::to_string(value);
}

uint32_t Count(const PortSnapshot &port, std::string_view object) {
    return static_cast<uint32_t>(port.Integer(object));
}

// The received data kept around the last data error, as bytes, and where in it the error is.
nlohmann::json ErrorData(const PortSnapshot &port) {
    const std::string &data = port.Text("portLoopErrData");
    if (data.empty()) {
        return nullptr;
    }
    nlohmann::json bytes = nlohmann::json::array();
    for (unsigned char c : data) {
        bytes.push_back(c);
    }
    return {{"bytes", std::move(bytes)}, {"at", port.Integer("portLoopLocErr")}};
}

}  // namespace

nlohmann::json PortJson(const PortSnapshot &port, std::optional<bool> agentRunning) {
    Outcome outcome = console::ClassifyOutcome(port.State(), port.Result());
    int32_t speed = port.Integer("portLoopSpeed");
    nlohmann::json json = {
        {"port", port.port},
        {"device", console::OneLine(port.Device())},
        {"view", View(outcome)},
        {"state", outcome == Outcome::Pending || outcome == Outcome::None
                      ? console::LoopStateWord(port.State())
                      : std::string(console::OutcomeWord(outcome))},
        {"line",
         console::ShortLineSettings(speed, port.Integer("portLoopDataSize"),
                                    port.Integer("portLoopParity"), port.Integer("portStopBits"))},
        {"mode", WordOr(vocabulary::kLoopModeWords, port.Integer("portLoopMode"))},
        {"flow", WordOr(vocabulary::kFlowWords, port.Integer("portLoopFlow"))},
        {"pattern", WordOr(vocabulary::kPatternWords, port.Integer("portLoopPattern"))},
        {"time", port.Integer("portLoopTime")},
        {"left", port.Integer("portLoopTimeRemain")},
        {"sent", Count(port, "portLoopTxTotal")},
        {"received", Count(port, "portLoopRxTotal")},
        {"dataErrors", Count(port, "portLoopInErrs")},
        {"rxErrors", Count(port, "portErrStatRxTotal")},
        {"kinds", console::KindsJson(port)},
        {"kindsText", console::KindsSummary(port)},
        {"misfit", console::FirstMisfit(port)},
        {"rate", Count(port, "portLoopRate")},
        {"avgRate", Count(port, "portLoopAvgRate")},
        {"result", console::OneLine(port.Result())},
        {"details", console::ResultDetails(port)},
        {"errorData", ErrorData(port)},
        {"lines", console::LinesJson(port)},
    };
    if (console::TestOrphaned(port.State(), agentRunning)) {
        // The store still says running, but no agent will ever finish the test.
        json["view"] = View(Outcome::Interrupted);
        json["state"] = console::OutcomeWord(Outcome::Interrupted);
        json["left"] = 0;
        json["result"] = console::kOrphanedResult;
    }
    return json;
}

nlohmann::json RackJson(const console::Rack &rack, const AgentStates &agents) {
    nlohmann::json document = {{"host", rack.host}, {"instances", nlohmann::json::array()}};
    if (!rack.error.empty()) {
        document["error"] = console::OneLine(rack.error);
    }
    for (const console::RackInstance &instance : rack.instances) {
        auto agent = agents.find(instance.instance);
        std::optional<bool> running = agent != agents.end() ? agent->second : std::nullopt;
        nlohmann::json ports = nlohmann::json::array();
        for (const PortSnapshot &port : instance.ports) {
            ports.push_back(PortJson(port, running));
        }
        document["instances"].push_back({{"instance", instance.instance},
                                         {"agent", running ? nlohmann::json(*running) : nullptr},
                                         {"ports", std::move(ports)}});
    }
    return document;
}

nlohmann::json RackTotals(const console::Rack &rack) {
    nlohmann::json totals = {{"ports", 0},  {"running", 0}, {"passed", 0},
                             {"failed", 0}, {"stopped", 0}, {"idle", 0}};
    for (const console::RackInstance &instance : rack.instances) {
        for (const PortSnapshot &port : instance.ports) {
            totals["ports"] = totals["ports"].get<int>() + 1;
            std::string view(View(console::ClassifyOutcome(port.State(), port.Result())));
            totals[view] = totals[view].get<int>() + 1;
        }
    }
    return totals;
}

}  // namespace vyn::web
