// history, report and retention: the host's record of tests, read from its store.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/client/agent_link.h"
#include "base/host.h"
#include "console/access/store_access.h"
#include "console/command_set.h"
#include "console/json_report.h"
#include "console/output.h"
#include "console/rack/record_view.h"
#include "console/rack/report_formats.h"

namespace vyn::console {

namespace {

// The record is in the store of the host that ran the tests; SNMP does not carry it.
int RefuseRemote(const GlobalOptions &globals, const std::string &command) {
    return Fail(command + " reads this host's store: run it on " + globals.remote.host +
                " (the tests it ran are recorded there)");
}

// Whether an instance's agent runs, asked once per instance.
class AgentProbes {
  public:
    bool operator()(const std::string &instance) {
        auto known = running_.find(instance);
        if (known == running_.end()) {
            known = running_.emplace(instance, agent::AgentRunning(instance)).first;
        }
        return known->second;
    }

  private:
    std::map<std::string, bool> running_;
};

struct HistoryOptions {
    std::string board;
    std::optional<int> port;
    std::string since;
    bool failed = false;
    std::size_t last = 20;
    bool runsOnly = false;
    bool json = false;
};

std::string RunLine(const RunReport &report, std::size_t shownTests) {
    const mml::RecordedRun &run = report.run;
    std::string line =
        "run " + std::to_string(run.id) + "  " + RecordTime(run.created) + "  " + run.instance;
    if (!run.board.empty()) {
        line += "  board " + OneLine(run.board);
    }
    if (!run.operatorName.empty()) {
        line += "  operator " + OneLine(run.operatorName);
    }
    int passed = 0;
    for (const std::string &outcome : report.outcomes) {
        passed += outcome == "passed" ? 1 : 0;
    }
    line += "  " + std::to_string(report.tests.size()) + " tests, " + std::to_string(passed) +
            " passed";
    if (shownTests != report.tests.size()) {
        line += ", " + std::to_string(shownTests) + " shown";
    }
    if (!run.note.empty()) {
        line += "  note: " + OneLine(run.note);
    }
    return line;
}

int RunHistory(const GlobalOptions &globals, const HistoryOptions &options) {
    if (!globals.remote.host.empty()) {
        return RefuseRemote(globals, "history");
    }
    mml::RunQuery query;
    query.board = options.board;
    query.port = options.port;
    query.failedOnly = options.failed;
    if (!options.since.empty()) {
        int64_t since = 0;
        std::string reason;
        if (!ParseRecordTime(options.since, since, reason)) {
            return Fail(reason);
        }
        query.since = since;
    }
    std::string reason;
    auto store = OpenStore(globals, reason);
    if (!store) {
        return Fail(reason);
    }
    // Runs are fetched in pages until enough have a test to show: a run whose failing tests are
    // all still running shows nothing under --failed.
    AgentProbes agents;
    nlohmann::json documents = nlohmann::json::array();
    std::size_t shownRuns = 0;
    bool more = false;
    std::vector<mml::RecordedRun> runs;
    mml::Error error;
    if (!store->ListRuns(query, runs, error)) {
        return Fail(error.message);
    }
    for (const mml::RecordedRun &run : runs) {
        if (options.last != 0 && shownRuns == options.last) {
            more = true;
            break;
        }
        RunReport report;
        bool found = false;
        if (!ReadRunReport(*store, run.id, std::ref(agents), report, found, error)) {
            return Fail(error.message);
        }
        std::vector<std::size_t> shown;
        for (std::size_t i = 0; i < report.tests.size(); ++i) {
            const std::string &outcome = report.outcomes[i];
            bool failing = outcome != "passed" && outcome != "running" && outcome != "requested";
            if ((!options.port || report.tests[i].port == *options.port) &&
                (!options.failed || failing)) {
                shown.push_back(i);
            }
        }
        if (!found || ((options.port || options.failed) && shown.empty())) {
            continue;
        }
        ++shownRuns;
        if (options.json) {
            RunReport filtered = report;
            filtered.tests.clear();
            filtered.outcomes.clear();
            for (std::size_t i : shown) {
                filtered.tests.push_back(report.tests[i]);
                filtered.outcomes.push_back(report.outcomes[i]);
            }
            documents.push_back(JsonReport(filtered));
            continue;
        }
        std::cout << RunLine(report, shown.size()) << "\n";
        if (options.runsOnly) {
            continue;
        }
        std::vector<std::vector<std::string>> rows;
        for (std::size_t i : shown) {
            const mml::RecordedTest &test = report.tests[i];
            rows.push_back({"   ", TestPortLabel(test), TestSettingsText(test), report.outcomes[i],
                            OneLine(RecordedField(test, "result").text)});
        }
        PrintTable(rows);
    }
    if (options.json) {
        std::cout << DumpJson({{"runs", documents}}) << std::endl;
        return kExitSuccess;
    }
    if (shownRuns == 0) {
        std::cout << "no runs recorded"
                  << (query.board.empty() && !query.since && !query.port && !query.failedOnly
                          ? ""
                          : " that match")
                  << "\n";
    } else if (more) {
        std::cout << "(the newest " << options.last << " shown; --last 0 shows every run)\n";
    }
    std::cout.flush();
    return kExitSuccess;
}

struct ReportOptions {
    int64_t run = 0;
    std::string junit;
    std::string csv;
    bool json = false;
};

bool WriteOut(const std::string &path, const std::string &text, std::string &reason) {
    if (path == "-") {
        std::cout << text;
        std::cout.flush();
        return true;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        reason = "cannot write " + path;
        return false;
    }
    return true;
}

int RunReportCommand(const GlobalOptions &globals, const ReportOptions &options) {
    if (!globals.remote.host.empty()) {
        return RefuseRemote(globals, "report");
    }
    if (options.junit.empty() && options.csv.empty() && !options.json) {
        return Fail("report: give --junit FILE, --csv FILE or --json");
    }
    std::string reason;
    auto store = OpenStore(globals, reason);
    if (!store) {
        return Fail(reason);
    }
    RunReport report;
    bool found = false;
    mml::Error error;
    AgentProbes agents;
    if (!ReadRunReport(*store, options.run, std::ref(agents), report, found, error)) {
        return Fail(error.message);
    }
    if (!found) {
        return Fail("no run " + std::to_string(options.run) + " in the record (see history)");
    }
    if (options.json) {
        std::cout << DumpJson(JsonReport(report)) << std::endl;
        return kExitSuccess;
    }
    const std::string host = OwnHostName();
    const bool junit = !options.junit.empty();
    const std::string &path = junit ? options.junit : options.csv;
    if (!WriteOut(path, junit ? JunitReport(report, host) : CsvReport(report), reason)) {
        return Fail(reason);
    }
    if (path != "-") {
        std::cout << "run " << report.run.id << ": " << report.tests.size() << " tests written to "
                  << path << "\n";
    }
    return kExitSuccess;
}

struct RetentionOptions {
    std::optional<int64_t> tests;
    std::optional<int64_t> days;
};

int RunRetention(const GlobalOptions &globals, const RetentionOptions &options) {
    if (!globals.remote.host.empty()) {
        return RefuseRemote(globals, "retention");
    }
    std::string reason;
    auto store = OpenStore(globals, reason);
    if (!store) {
        return Fail(reason);
    }
    mml::RecordLimits limits;
    mml::Error error;
    if (!store->ReadRecordLimits(limits, error)) {
        return Fail(error.message);
    }
    if (options.tests || options.days) {
        limits.keepTests = options.tests.value_or(limits.keepTests);
        limits.keepDays = options.days.value_or(limits.keepDays);
        if (!store->WriteRecordLimits(limits, error)) {
            return Fail(error.message);
        }
    }
    std::cout << "the record keeps "
              << (limits.keepTests > 0 ? "the newest " + std::to_string(limits.keepTests) + " tests"
                                       : "every test")
              << (limits.keepDays > 0
                      ? ", none older than " + std::to_string(limits.keepDays) + " days"
                      : ", of any age")
              << "\n";
    return kExitSuccess;
}

}  // namespace

void AddRecordCommands(CommandSet &commands) {
    auto history = std::make_shared<HistoryOptions>();
    CLI::App *command = commands.Add(
        "history", "List the recorded runs of tests and their tests, newest run first",
        "vynloopctl history --board SN-1042 --failed",
        [&commands, history] { return RunHistory(commands.Globals(), *history); },
        "Every test that ends on this host is recorded, whoever asked for it (vynloopctl, a "
        "sweep, an SNMP manager, a script). A run is the tests of one request, or of one sweep; "
        "it carries the board's serial number and the operator and note given. A test whose "
        "agent went away before its end reads 'interrupted'. Times are UTC.");
    command->add_option("--board", history->board, "Only runs of this board")->type_name("SN");
    command->add_option("--port", history->port, "Only tests of this port")
        ->check(CLI::Range(1, 16))
        ->type_name("N");
    command
        ->add_option("--since", history->since,
                     "Only runs from this time on: YYYY-MM-DD[THH:MM[:SS]], UTC")
        ->type_name("DATE");
    command->add_flag("--failed", history->failed, "Only tests that did not pass");
    command->add_option("--last", history->last, "At most this many runs; 0 for every one")
        ->type_name("N");
    command->add_flag("--runs", history->runsOnly, "One line per run, without its tests");
    command->add_flag("--json", history->json, "The runs and their tests as JSON");

    auto report = std::make_shared<ReportOptions>();
    command = commands.Add(
        "report", "Write a recorded run for other tools: JUnit XML, CSV or JSON",
        "vynloopctl report 12 --junit board-SN-1042.xml",
        [&commands, report] { return RunReportCommand(commands.Globals(), *report); },
        "JUnit: one test suite for the run, one test case per port and setting; a test with "
        "errors or that failed is a failure with its result text, one stopped or interrupted an "
        "error. CSV: one row per port and setting. JSON (to standard output): everything. FILE "
        "'-' is standard output.");
    command->add_option("run", report->run, "The run's number (see history)")
        ->required()
        ->check(CLI::PositiveNumber)
        ->type_name("RUN");
    CLI::Option *junit =
        command->add_option("--junit", report->junit, "Write JUnit XML")->type_name("FILE");
    CLI::Option *csv = command->add_option("--csv", report->csv, "Write CSV")->type_name("FILE");
    CLI::Option *json = command->add_flag("--json", report->json, "Print JSON");
    junit->excludes(csv)->excludes(json);
    csv->excludes(json);

    auto retention = std::make_shared<RetentionOptions>();
    command = commands.Add(
        "retention", "Show or set how much of the record of tests this host keeps",
        "vynloopctl retention --tests 200000 --days 365",
        [&commands, retention] { return RunRetention(commands.Globals(), *retention); },
        "The oldest tests go first once there are more than --tests or they are older than "
        "--days (0: no limit of that kind), and a run goes with its last test. A new limit "
        "applies at once. Default: the newest 100000 tests, of any age.");
    command->add_option("--tests", retention->tests, "Keep at most this many tests")
        ->check(CLI::NonNegativeNumber)
        ->type_name("N");
    command->add_option("--days", retention->days, "Keep no test older than this many days")
        ->check(CLI::NonNegativeNumber)
        ->type_name("DAYS");
}

}  // namespace vyn::console
