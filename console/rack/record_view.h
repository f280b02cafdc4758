// The record of tests as the console shows it: times, a test's settings and outcome in words,
// and a run read whole (its tests with what became of them).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "mml/store.h"
#include "mml/test_record.h"

namespace vyn::console {

// "2026-12-06T21:25:03Z" (UTC).
std::string RecordTime(int64_t ms);

// "YYYY-MM-DD", optionally followed by "THH:MM" or "THH:MM:SS" (a blank for the T, and a final Z,
// may be given), read as UTC. False with a one-line reason.
bool ParseRecordTime(std::string_view text, int64_t &ms, std::string &reason);

// How long an open test may go without a word before it is taken for interrupted, even when an
// agent of its instance runs (a running test publishes every two seconds or so).
inline constexpr int64_t kSilenceLimitMs = 60000;

// What became of a recorded test, in the vocabulary's words: passed, errors, failed, stopped,
// interrupted; an open test is running or requested while its instance's agent runs and it was
// heard of lately, else interrupted.
std::string TestOutcomeWord(const mml::RecordedTest &test, bool agentRunning, int64_t nowMs);

// A recorded field by its column name (null when there is none).
const mml::Value &RecordedField(const mml::RecordedTest &test, std::string_view column);

// A recorded field as people read it: a coded setting in the vocabulary's word ("even"), a
// number in figures, a text as it is; empty when not known.
std::string FieldText(const mml::RecordedTest &test, std::size_t field);
// Whether the field is a coded setting that FieldText gives in words.
bool FieldIsWord(std::size_t field);

// "115200 8N1".
std::string TestSettingsText(const mml::RecordedTest &test);

// "port 3 (COM3)".
std::string TestPortLabel(const mml::RecordedTest &test);

// A run with its tests, and what became of each one.
struct RunReport {
    mml::RecordedRun run;
    std::vector<mml::RecordedTest> tests;
    std::vector<std::string> outcomes;  // TestOutcomeWord of each test
};

// Whether the agent of an instance runs now.
using AgentProbe = std::function<bool(const std::string &instance)>;

// Reads run `id` and its tests. False with `error` set, or with `found` false for no such run.
bool ReadRunReport(mml::Store &store, int64_t id, const AgentProbe &agentRunning, RunReport &report,
                   bool &found, mml::Error &error);

}  // namespace vyn::console
