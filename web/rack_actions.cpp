#include "web/rack_actions.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <optional>
#include <vector>

#include "console/rack/agent_on_demand.h"
#include "console/rack/extend_test.h"
#include "console/rack/loop_requests.h"
#include "console/rack/loop_state.h"
#include "console/rack/port_snapshot.h"
#include "mml/store.h"

namespace vyn::web {

namespace {

using console::PortSnapshot;

Answer Error(int status, const std::string &reason) {
    return {status, {{"error", reason}}};
}

// The instance and its chosen ports as they stand, checked: the instance exists, every port is
// provisioned and given once.
struct Chosen {
    std::string instance;
    std::vector<int> ports;
    std::vector<PortSnapshot> snapshots;  // in the order of `ports`
};

bool Choose(console::ObjectAccess &objects, const nlohmann::json &request, bool several,
            Chosen &chosen, Answer &answer) {
    if (!request.is_object() || !request.contains("instance") || !request["instance"].is_string()) {
        answer = Error(400, "the request needs \"instance\", a name");
        return false;
    }
    chosen.instance = request["instance"].get<std::string>();
    const char *key = several ? "ports" : "port";
    nlohmann::json given = request.contains(key) ? request[key] : nlohmann::json();
    if (!several && given.is_number_integer()) {
        given = nlohmann::json::array({given});
    }
    if (!given.is_array() || given.empty() ||
        !std::all_of(given.begin(), given.end(),
                     [](const auto &p) { return p.is_number_integer(); })) {
        answer = Error(400, several ? "the request needs \"ports\", a list of port numbers"
                                    : "the request needs \"port\", a port number");
        return false;
    }
    mml::Error error;
    std::vector<std::string> instances;
    std::vector<int> provisioned;
    if (!objects.ListInstances(instances, error) ||
        !objects.ListPorts(chosen.instance, provisioned, error)) {
        answer = Error(503, error.message);
        return false;
    }
    if (std::find(instances.begin(), instances.end(), chosen.instance) == instances.end() ||
        provisioned.empty()) {
        answer = Error(404, "instance " + chosen.instance + " is not provisioned");
        return false;
    }
    for (const auto &entry : given) {
        long long number = entry.get<long long>();
        if (std::find(provisioned.begin(), provisioned.end(), number) == provisioned.end()) {
            answer = Error(404, "port " + std::to_string(number) +
                                    " is not provisioned in instance " + chosen.instance);
            return false;
        }
        if (std::find(chosen.ports.begin(), chosen.ports.end(), number) != chosen.ports.end()) {
            answer = Error(400, "port " + std::to_string(number) + " is given twice");
            return false;
        }
        chosen.ports.push_back(static_cast<int>(number));
    }
    if (!console::ReadSnapshots(objects, chosen.instance, chosen.ports, chosen.snapshots, error)) {
        answer = Error(503, error.message);
        return false;
    }
    return true;
}

// Empty when every chosen port is free and can run a test with `settings`; else the refusal.
std::optional<Answer> CheckStartable(const console::TestSettings &settings, const Chosen &chosen) {
    if (std::string why = console::CheckLinePorts(settings, chosen.ports.size()); !why.empty()) {
        return Error(400, why);
    }
    for (const PortSnapshot &port : chosen.snapshots) {
        if (console::TestUnderway(port.State())) {
            return Error(409, console::PortLabel(port) + " is busy: its test is " +
                                  console::LoopStateWord(port.State()));
        }
        if (std::string why = console::CheckRunnable(settings, port); !why.empty()) {
            return Error(400, console::PortLabel(port) + ": " + why);
        }
    }
    return std::nullopt;
}

}  // namespace

bool ParseOptions(const nlohmann::json &given, CLI::App &app, std::string &reason) {
    if (given.is_null()) {
        return true;
    }
    if (!given.is_object()) {
        reason = "\"settings\" must be an object such as {\"speed\": 115200}";
        return false;
    }
    // The console's own options parse the settings, so that the words, limits and errors are
    // the console's.
    std::vector<std::string> words;
    for (const auto &[name, value] : given.items()) {
        if (name.empty() || name[0] == '-' ||
            name.find_first_not_of("abcdefghijklmnopqrstuvwxyz-") != std::string::npos) {
            reason = "no setting is called \"" + name + "\"";
            return false;
        }
        if (value.is_boolean()) {
            if (value.get<bool>()) {
                words.push_back("--" + name);
            }
            continue;
        }
        // A list is given as the console takes it: its words joined by commas.
        std::string text;
        for (const auto &item : value.is_array() ? value : nlohmann::json::array({value})) {
            if (!item.is_string() && !item.is_number_integer()) {
                reason = "setting " + name + ": give a word, a whole number or true";
                return false;
            }
            text += (text.empty() ? "" : ",") +
                    (item.is_string() ? item.get<std::string>() : item.dump());
        }
        words.push_back("--" + name);
        words.push_back(text);
    }
    std::reverse(words.begin(), words.end());  // CLI11 takes a vector last word first
    try {
        app.parse(words);
    } catch (const CLI::ParseError &error) {
        reason = error.what();
        return false;
    }
    return true;
}

bool ParseSettings(const nlohmann::json &settings, console::TestSettings &parsed,
                   std::string &reason) {
    CLI::App app("settings");
    console::AddSettingOptions(app, parsed);
    return ParseOptions(settings, app, reason);
}

Answer StartTests(console::ObjectAccess &objects, const std::string &storePath,
                  const nlohmann::json &request) {
    Chosen chosen;
    Answer answer;
    if (!Choose(objects, request, true, chosen, answer)) {
        return answer;
    }
    console::TestSettings settings;
    std::string reason;
    if (!ParseSettings(request.value("settings", nlohmann::json()), settings, reason)) {
        return Error(400, reason);
    }
    if (std::optional<Answer> refused = CheckStartable(settings, chosen)) {
        return *refused;
    }
    agent::StartedAgent started;
    if (!console::StartAgentIfNone(objects, chosen.instance, storePath, started, reason)) {
        return Error(503, reason);
    }
    int busyPort = 0;
    mml::Error error;
    if (!console::RequestTests(objects, chosen.instance, chosen.ports, settings, {}, busyPort,
                               error)) {
        answer = Error(503, error.message);
    } else if (busyPort != 0) {
        answer = Error(
            409, "port " + std::to_string(busyPort) + " is busy: a test was requested meanwhile");
    } else {
        answer = {200, {{"ok", true}, {"requested", chosen.ports}}};
        if (started.pid > 0) {
            answer.body["agentStarted"] = started.pid;
        }
    }
    answer.startedAgent = started.pid;
    return answer;
}

Answer PlanSweepRequest(console::ObjectAccess &objects, const std::string &storePath,
                        const nlohmann::json &request, SweepPlan &plan) {
    Chosen chosen;
    Answer answer;
    if (!Choose(objects, request, true, chosen, answer)) {
        return answer;
    }
    console::SweepOptions options;
    std::string reason;
    CLI::App app("sweep");
    console::AddSweepOptions(app, options);
    if (!ParseOptions(request.value("settings", nlohmann::json::object()), app, reason) ||
        !console::PlanSweepOptions(options, plan.steps, reason)) {
        return Error(400, reason);
    }
    if (std::optional<Answer> refused = CheckStartable(options.settings, chosen)) {
        return *refused;
    }
    for (const PortSnapshot &port : chosen.snapshots) {
        if (std::string why = console::CheckStepsEnd(options.settings, port); !why.empty()) {
            return Error(400, console::PortLabel(port) + ": " + why);
        }
    }
    agent::StartedAgent started;
    if (!console::StartAgentIfNone(objects, chosen.instance, storePath, started, reason)) {
        return Error(503, reason);
    }
    plan.instance = chosen.instance;
    plan.ports = chosen.ports;
    plan.settings = options.settings;
    plan.labels = options.labels;
    answer = {200, {{"ok", true}, {"steps", plan.steps.size()}}};
    if (started.pid > 0) {
        answer.body["agentStarted"] = started.pid;
    }
    answer.startedAgent = started.pid;
    return answer;
}

Answer StopTests(console::ObjectAccess &objects, const nlohmann::json &request) {
    Chosen chosen;
    Answer answer;
    if (!Choose(objects, request, true, chosen, answer)) {
        return answer;
    }
    std::vector<int32_t> before;
    mml::Error error;
    if (!console::RequestStops(objects, chosen.instance, chosen.ports, before, error)) {
        return Error(503, error.message);
    }
    nlohmann::json stopping = nlohmann::json::array();
    nlohmann::json notRunning = nlohmann::json::array();
    for (std::size_t i = 0; i < chosen.ports.size(); ++i) {
        bool stops = before[i] == LoopStateRunning || before[i] == LoopStateStopping;
        (stops ? stopping : notRunning).push_back(chosen.ports[i]);
    }
    if (stopping.empty()) {
        return Error(409, "no test of those ports is running");
    }
    return {200, {{"ok", true}, {"stopping", stopping}, {"notRunning", notRunning}}};
}

Answer ExtendRun(console::ObjectAccess &objects, const nlohmann::json &request) {
    Chosen chosen;
    Answer answer;
    if (!Choose(objects, request, false, chosen, answer)) {
        return answer;
    }
    const nlohmann::json seconds = request.value("seconds", nlohmann::json());
    if (!seconds.is_number_integer() || seconds.get<long long>() <= LeaseRenewMargin ||
        seconds.get<long long>() > std::numeric_limits<int32_t>::max()) {
        return Error(400, "\"seconds\" must be a whole number above " +
                              std::to_string(LeaseRenewMargin) +
                              " (the agent takes a new time only when it is more than " +
                              std::to_string(LeaseRenewMargin) + " s above what is left)");
    }
    const PortSnapshot &port = chosen.snapshots[0];
    console::ExtendOutcome outcome = console::ExtendTest(
        objects, chosen.instance, port, console::PortLabel(port), seconds.get<int32_t>());
    switch (outcome.kind) {
        case console::ExtendOutcome::Kind::StoreFailure:
            return Error(503, outcome.reason);
        case console::ExtendOutcome::Kind::Refused:
            return Error(409, outcome.reason);
        case console::ExtendOutcome::Kind::Taken:
            break;
    }
    return {200, {{"ok", true}, {"left", outcome.left}}};
}

}  // namespace vyn::web
