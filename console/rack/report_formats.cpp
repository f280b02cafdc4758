#include "console/rack/report_formats.h"

#include <cstdio>

#include "mml/record_fields.h"
#include "mml/vocabulary.h"

namespace vyn::console {

namespace {

// Valid UTF-8 of `text`, with each byte that does not begin a valid sequence given as U+FFFD,
// and, for XML, the control characters that XML 1.0 forbids given as blanks.
std::string CleanText(std::string_view text, bool forXml) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80           ? 1
                             : (c >> 5) == 0x6  ? 2
                             : (c >> 4) == 0xE  ? 3
                             : (c >> 3) == 0x1E ? 4
                                                : 0;
        bool valid = length != 0 && i + length <= text.size() && !(length == 2 && c < 0xC2);
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        }
        if (!valid) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (forXml && c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            out += ' ';
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

std::string Xml(std::string_view text) {
    std::string out;
    for (char c : CleanText(text, true)) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Seconds(int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(ms < 0 ? 0 : ms) / 1000.0);
    return text;
}

// The test's own time: from its start (or its request, for one that never started) to its end
// (or the last word of it).
int64_t TestDurationMs(const mml::RecordedTest &test) {
    return test.ended.value_or(test.updated) - test.started.value_or(test.requested);
}

int64_t RunEndMs(const RunReport &report) {
    int64_t end = report.run.created;
    for (const mml::RecordedTest &test : report.tests) {
        end = std::max(end, test.ended.value_or(test.updated));
    }
    return end;
}

bool IsFailure(const std::string &outcome) {
    return outcome == "errors" || outcome == "failed";
}

std::string Csv(std::string_view text) {
    std::string clean = CleanText(text, false);
    if (clean.find_first_of(",\"\r\n") == std::string::npos) {
        return clean;
    }
    std::string out = "\"";
    for (char c : clean) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

std::string Counts(const mml::RecordedTest &test) {
    std::string text;
    for (std::size_t i = 0; i < mml::RecordedObjects().size(); ++i) {
        const mml::RecordedObject &recorded = mml::RecordedObjects()[i];
        if (recorded.part == mml::RecordedPart::Result && i < test.fields.size() &&
            test.fields[i].type == MML_TYPE_INTEGER) {
            text += (text.empty() ? "" : ", ") + std::string(recorded.column) + " " +
                    std::to_string(test.fields[i].integer);
        }
    }
    return text;
}

}  // namespace

std::string JunitReport(const RunReport &report, const std::string &hostname) {
    const mml::RecordedRun &run = report.run;
    int failures = 0;
    int errors = 0;
    for (const std::string &outcome : report.outcomes) {
        failures += IsFailure(outcome) ? 1 : 0;
        errors += (!IsFailure(outcome) && outcome != "passed") ? 1 : 0;
    }
    std::string timestamp = RecordTime(run.created);
    timestamp.pop_back();  // the suite's timestamp has no zone; it is UTC
    std::string label = run.board.empty() ? run.instance : run.board;
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n";
    xml += "  <testsuite name=\"" + Xml("run " + std::to_string(run.id) + " " + label) +
           "\" package=\"" + Xml("vynloop." + run.instance) + "\" id=\"" + std::to_string(run.id) +
           "\" timestamp=\"" + timestamp + "\" hostname=\"" +
           Xml(hostname.empty() ? "localhost" : hostname) + "\" tests=\"" +
           std::to_string(report.tests.size()) + "\" failures=\"" + std::to_string(failures) +
           "\" errors=\"" + std::to_string(errors) + "\" time=\"" +
           Seconds(RunEndMs(report) - run.created) + "\">\n";
    xml += "    <properties>\n";
    auto property = [&xml](std::string_view name, std::string_view value) {
        xml +=
            "      <property name=\"" + std::string(name) + "\" value=\"" + Xml(value) + "\"/>\n";
    };
    property("run", std::to_string(run.id));
    property("instance", run.instance);
    property("board", run.board);
    property("operator", run.operatorName);
    property("note", run.note);
    xml += "    </properties>\n";
    for (std::size_t i = 0; i < report.tests.size(); ++i) {
        const mml::RecordedTest &test = report.tests[i];
        const std::string &outcome = report.outcomes[i];
        xml += "    <testcase name=\"" + Xml(TestPortLabel(test) + " " + TestSettingsText(test)) +
               "\" classname=\"" + Xml(label + ".port" + std::to_string(test.port)) + "\" time=\"" +
               Seconds(TestDurationMs(test)) + "\"";
        if (outcome == "passed") {
            xml += "/>\n";
            continue;
        }
        const std::string element = IsFailure(outcome) ? "failure" : "error";
        const std::string &result = RecordedField(test, "result").text;
        xml += ">\n      <" + element + " message=\"" +
               Xml(result.empty() ? "the test " + outcome : result) + "\" type=\"" + outcome +
               "\">" + Xml(Counts(test)) + "</" + element + ">\n    </testcase>\n";
    }
    xml += "    <system-out>" +
           Xml(std::to_string(run.passed) + " of " + std::to_string(run.tests) + " tests passed") +
           "</system-out>\n    <system-err></system-err>\n  </testsuite>\n</testsuites>\n";
    return xml;
}

std::string CsvReport(const RunReport &report) {
    const mml::RecordedRun &run = report.run;
    std::string csv =
        "run,board,operator,instance,port,settings,outcome,requested,started,ended,"
        "seconds";
    for (const mml::RecordedObject &recorded : mml::RecordedObjects()) {
        csv.append(",").append(recorded.column);
    }
    csv += "\r\n";
    for (std::size_t i = 0; i < report.tests.size(); ++i) {
        const mml::RecordedTest &test = report.tests[i];
        csv += std::to_string(run.id) + "," + Csv(run.board) + "," + Csv(run.operatorName) + "," +
               Csv(test.instance) + "," + std::to_string(test.port) + "," +
               Csv(TestSettingsText(test)) + "," + report.outcomes[i] + "," +
               RecordTime(test.requested) + "," + (test.started ? RecordTime(*test.started) : "") +
               "," + (test.ended ? RecordTime(*test.ended) : "") + "," +
               Seconds(TestDurationMs(test));
        for (std::size_t field = 0; field < mml::RecordedObjects().size(); ++field) {
            csv.append(",").append(Csv(FieldText(test, field)));
        }
        csv += "\r\n";
    }
    return csv;
}

nlohmann::json JsonReport(const RunReport &report) {
    const mml::RecordedRun &run = report.run;
    nlohmann::json document = {{"run",
                                {{"id", run.id},
                                 {"instance", run.instance},
                                 {"key", CleanText(run.key, false)},
                                 {"board", CleanText(run.board, false)},
                                 {"operator", CleanText(run.operatorName, false)},
                                 {"note", CleanText(run.note, false)},
                                 {"created", RecordTime(run.created)},
                                 {"tests", run.tests},
                                 {"passed", run.passed}}},
                               {"tests", nlohmann::json::array()}};
    auto time = [](const std::optional<int64_t> &ms) {
        return ms ? nlohmann::json(RecordTime(*ms)) : nlohmann::json(nullptr);
    };
    for (std::size_t i = 0; i < report.tests.size(); ++i) {
        const mml::RecordedTest &test = report.tests[i];
        nlohmann::json entry = {
            {"id", test.id},
            {"instance", test.instance},
            {"port", test.port},
            {"settings", TestSettingsText(test)},
            {"outcome", report.outcomes[i]},
            {"requested", RecordTime(test.requested)},
            {"started", time(test.started)},
            {"ended", time(test.ended)},
            {"lastHeard", RecordTime(test.updated)},
            {"endState", test.endState ? nlohmann::json(*test.endState) : nlohmann::json(nullptr)},
        };
        for (std::size_t field = 0; field < mml::RecordedObjects().size(); ++field) {
            const mml::Value &value = test.fields[field];
            std::string column(mml::RecordedObjects()[field].column);
            if (value.type == MML_TYPE_NULL) {
                entry[column] = nullptr;
            } else if (value.type == MML_TYPE_INTEGER && !FieldIsWord(field)) {
                entry[column] = value.integer;
            } else {
                entry[column] = CleanText(FieldText(test, field), false);
            }
        }
        document["tests"].push_back(std::move(entry));
    }
    return document;
}

}  // namespace vyn::console
