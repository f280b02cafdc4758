#include "web/run_records.h"

#include <nlohmann/json.hpp>

#include <charconv>

#include "base/host.h"
#include "console/access/store_access.h"
#include "console/rack/record_view.h"
#include "console/rack/report_formats.h"

namespace vyn::web {

namespace {

Download Refused(int status, const std::string &reason) {
    return {status, reason + "\n", "text/plain; charset=utf-8", ""};
}

}  // namespace

Download ListRuns(const console::AccessOptions &access, std::size_t limit) {
    std::string reason;
    std::unique_ptr<mml::Store> store = console::OpenStore(access, reason);
    if (!store) {
        return Refused(503, reason);
    }
    mml::RunQuery query;
    query.limit = limit;
    std::vector<mml::RecordedRun> runs;
    mml::Error error;
    if (!store->ListRuns(query, runs, error)) {
        return Refused(503, error.message);
    }
    nlohmann::json list = nlohmann::json::array();
    for (const mml::RecordedRun &run : runs) {
        list.push_back({{"id", run.id},
                        {"instance", run.instance},
                        {"board", run.board},
                        {"operator", run.operatorName},
                        {"note", run.note},
                        {"created", console::RecordTime(run.created)},
                        {"tests", run.tests},
                        {"passed", run.passed},
                        {"open", run.open}});
    }
    return {200, nlohmann::json{{"runs", list}}.dump(), "application/json", ""};
}

Download RunReport(const console::AccessOptions &access, console::ObjectAccess &objects,
                   const std::string &run, const std::string &format) {
    int64_t id = 0;
    auto [end, failure] = std::from_chars(run.data(), run.data() + run.size(), id);
    if (run.empty() || failure != std::errc() || end != run.data() + run.size() || id < 1) {
        return Refused(400, "run must be a run number (see the list of runs)");
    }
    if (format != "junit" && format != "csv" && format != "json") {
        return Refused(400, "format must be junit, csv or json");
    }
    std::string reason;
    std::unique_ptr<mml::Store> store = console::OpenStore(access, reason);
    if (!store) {
        return Refused(503, reason);
    }
    console::RunReport report;
    bool found = false;
    mml::Error error;
    auto agentRunning = [&objects](const std::string &instance) {
        return objects.AgentRunning(instance).value_or(false);
    };
    if (!console::ReadRunReport(*store, id, agentRunning, report, found, error)) {
        return Refused(503, error.message);
    }
    if (!found) {
        return Refused(404, "no run " + run + " in the record");
    }
    std::string name = "run-" + run;
    if (format == "junit") {
        return {200, console::JunitReport(report, OwnHostName()), "application/xml", name + ".xml"};
    }
    if (format == "csv") {
        return {200, console::CsvReport(report), "text/csv; charset=utf-8", name + ".csv"};
    }
    return {200, console::JsonReport(report).dump(2) + "\n", "application/json", name + ".json"};
}

}  // namespace vyn::web
