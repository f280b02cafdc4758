// A run of the record written for other tools: JUnit XML for build servers (one test suite per
// run, one test case per port and setting, failures with the result text), CSV for spreadsheets
// (one row per port and setting) and JSON with everything.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "console/rack/record_view.h"

namespace vyn::console {

// The suite carries `hostname` (the host whose record it is) and times in UTC.
std::string JunitReport(const RunReport &report, const std::string &hostname);
std::string CsvReport(const RunReport &report);
nlohmann::json JsonReport(const RunReport &report);

}  // namespace vyn::console
