// What the pages ask of a rack: start tests on chosen ports with the console's settings (the
// same words, limits and errors), stop them, extend one. Each takes the request's JSON body and
// answers an HTTP status with a JSON body: {"ok": true, ...} or {"error": "one line"}.
#pragma once

#include <sys/types.h>

#include <string>

#include <nlohmann/json.hpp>

#include "console/access/object_access.h"
#include "console/rack/sweep_plan.h"
#include "console/rack/test_settings.h"

namespace vyn::web {

struct Answer {
    int status = 200;
    nlohmann::json body;
    pid_t startedAgent = -1;  // an agent started for the request, which the caller collects
};

// Settings as {"speed": 115200, "parity": "even", "internal": true, ...}: every key is one of
// the console's test options without its dashes, with its value (true for a flag). False with
// the console's own one-line error for a bad one.
bool ParseSettings(const nlohmann::json &settings, console::TestSettings &parsed,
                   std::string &reason);

// {"instance", "ports": [numbers], "settings": {...}}. Starts the instance's agent first when
// the objects are local and none runs (on the store at `storePath`).
Answer StartTests(console::ObjectAccess &objects, const std::string &storePath,
                  const nlohmann::json &request);
// A sweep's request, checked: the instance, its ports and the steps with what each asks.
struct SweepPlan {
    std::string instance;
    std::vector<int> ports;
    std::vector<console::SweepStep> steps;
    console::TestSettings settings;  // besides each step's speed and frame
    console::RunLabels labels;
};

// {"instance", "ports": [numbers], "settings": {"speeds": [9600, 115200], "frames": ["8N1"],
// "time": 5, ...}}: the console's sweep options by name, a list as a JSON list or as the
// console's comma-separated words. Checks them as the console does and starts the instance's
// agent when none runs; on 200 `plan` holds the sweep to run.
Answer PlanSweepRequest(console::ObjectAccess &objects, const std::string &storePath,
                        const nlohmann::json &request, SweepPlan &plan);
// {"instance", "ports": [numbers]}.
Answer StopTests(console::ObjectAccess &objects, const nlohmann::json &request);
// {"instance", "port", "seconds"}.
Answer ExtendRun(console::ObjectAccess &objects, const nlohmann::json &request);

}  // namespace vyn::web
