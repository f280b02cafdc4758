#include "console/rack/record_view.h"

#include <chrono>
#include <cstdio>
#include <span>

#include "console/rack/frame.h"
#include "mml/record_fields.h"
#include "mml/vocabulary.h"

namespace vyn::console {

namespace {

bool ReadNumber(std::string_view text, std::size_t at, std::size_t digits, int &value) {
    if (at + digits > text.size()) {
        return false;
    }
    value = 0;
    for (std::size_t i = at; i < at + digits; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// The coded settings and their words.
struct CodedColumn {
    std::string_view column;
    std::span<const vocabulary::Word> words;
};
constexpr CodedColumn kCodedColumns[] = {
    {"mode", vocabulary::kLoopModeWords},      {"parity", vocabulary::kParityWords},
    {"stop_bits", vocabulary::kStopBitsWords}, {"flow", vocabulary::kFlowWords},
    {"pattern", vocabulary::kPatternWords},    {"data_check", vocabulary::kDataCheckWords},
};

const CodedColumn *CodedColumnOf(std::size_t field) {
    if (field >= mml::RecordedObjects().size()) {
        return nullptr;
    }
    for (const CodedColumn &coded : kCodedColumns) {
        if (coded.column == mml::RecordedObjects()[field].column) {
            return &coded;
        }
    }
    return nullptr;
}

}  // namespace

bool FieldIsWord(std::size_t field) {
    return CodedColumnOf(field) != nullptr;
}

std::string FieldText(const mml::RecordedTest &test, std::size_t field) {
    if (field >= test.fields.size() || test.fields[field].type == MML_TYPE_NULL) {
        return {};
    }
    const mml::Value &value = test.fields[field];
    if (value.type == MML_TYPE_OCTETS) {
        return value.text;
    }
    if (const CodedColumn *coded = CodedColumnOf(field)) {
        if (auto word = vocabulary::WordOf(coded->words, value.integer)) {
            return std::string(*word);
        }
    }
    return std::to_string(value.integer);
}

std::string RecordTime(int64_t ms) {
    using namespace std::chrono;
    sys_time<milliseconds> at{milliseconds(ms)};
    sys_days day = floor<days>(at);
    year_month_day date(day);
    hh_mm_ss<seconds> time(floor<seconds>(at - day));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

bool ParseRecordTime(std::string_view text, int64_t &ms, std::string &reason) {
    reason = "bad time '" + std::string(text) +
             "': YYYY-MM-DD, optionally with THH:MM or THH:MM:SS (UTC)";
    if (!text.empty() && text.back() == 'Z') {
        text.remove_suffix(1);
    }
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!ReadNumber(text, 0, 4, year) || text.size() < 10 || text[4] != '-' || text[7] != '-' ||
        !ReadNumber(text, 5, 2, month) || !ReadNumber(text, 8, 2, day)) {
        return false;
    }
    if (text.size() > 10) {
        if ((text[10] != 'T' && text[10] != ' ') || text.size() < 16 || text[13] != ':' ||
            !ReadNumber(text, 11, 2, hour) || !ReadNumber(text, 14, 2, minute)) {
            return false;
        }
        if (text.size() > 16 &&
            (text.size() != 19 || text[16] != ':' || !ReadNumber(text, 17, 2, second))) {
            return false;
        }
    }
    using namespace std::chrono;
    year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                        std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok() || hour > 23 || minute > 59 || second > 59) {
        return false;
    }
    auto at = sys_days(date) + hours(hour) + minutes(minute) + seconds(second);
    ms = duration_cast<milliseconds>(at.time_since_epoch()).count();
    return true;
}

std::string TestOutcomeWord(const mml::RecordedTest &test, bool agentRunning, int64_t nowMs) {
    if (test.ended) {
        auto word = vocabulary::WordOf(vocabulary::kOutcomeWords, test.outcome.value_or(0));
        return std::string(word.value_or("unknown"));
    }
    if (agentRunning && nowMs - test.updated < kSilenceLimitMs) {
        return test.started ? "running" : "requested";
    }
    return std::string(*vocabulary::WordOf(vocabulary::kOutcomeWords, OutcomeInterrupted));
}

const mml::Value &RecordedField(const mml::RecordedTest &test, std::string_view column) {
    static const mml::Value kNone;
    for (std::size_t i = 0; i < mml::RecordedObjects().size() && i < test.fields.size(); ++i) {
        if (mml::RecordedObjects()[i].column == column) {
            return test.fields[i];
        }
    }
    return kNone;
}

std::string TestSettingsText(const mml::RecordedTest &test) {
    return std::to_string(RecordedField(test, "speed").integer) + ' ' +
           FrameText(RecordedField(test, "data_bits").integer,
                     RecordedField(test, "parity").integer,
                     RecordedField(test, "stop_bits").integer);
}

std::string TestPortLabel(const mml::RecordedTest &test) {
    return "port " + std::to_string(test.port) + " (" + RecordedField(test, "device").text + ")";
}

bool ReadRunReport(mml::Store &store, int64_t id, const AgentProbe &agentRunning, RunReport &report,
                   bool &found, mml::Error &error) {
    mml::RunQuery query;
    query.run = id;
    std::vector<mml::RecordedRun> runs;
    if (!store.ListRuns(query, runs, error)) {
        return false;
    }
    found = !runs.empty();
    if (!found) {
        return true;
    }
    report.run = runs[0];
    mml::TestQuery tests;
    tests.runs = {id};
    if (!store.ListTests(tests, report.tests, error)) {
        return false;
    }
    bool running = report.run.open > 0 && agentRunning(report.run.instance);
    int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
    report.outcomes.clear();
    for (const mml::RecordedTest &test : report.tests) {
        report.outcomes.push_back(TestOutcomeWord(test, running, now));
    }
    return true;
}

}  // namespace vyn::console
