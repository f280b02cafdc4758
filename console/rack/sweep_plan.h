// A sweep's plan and its outcome: every speed with every frame, one step each (speeds outer),
// and the matrix of ports by settings that it ends with. Every face of a rack that starts a sweep
// (the console, the web server) declares and checks its options here, so that the words, limits
// and errors are the same.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/rack/frame.h"
#include "console/rack/port_snapshot.h"
#include "console/rack/run_labels.h"
#include "console/rack/test_settings.h"

namespace CLI {
class App;
}  // namespace CLI

namespace vyn::console {

// What a sweep asks besides its instance and ports, as given (checked by PlanSweepOptions).
struct SweepOptions {
    std::vector<std::string> speeds;
    std::vector<std::string> frames;
    TestSettings settings;  // what every step asks besides speed and frame
    RunLabels labels;
};

// Declares --speeds LIST, --frames LIST (both required, comma-separated), the test settings
// other than the line's and the run labels as options of `command`, into `options`.
void AddSweepOptions(CLI::App &command, SweepOptions &options);

struct SweepStep {
    int32_t speed = 0;
    Frame frame;
};

std::vector<SweepStep> PlanSweep(const std::vector<int32_t> &speeds,
                                 const std::vector<Frame> &frames);

// The steps of parsed options: every speed a number of baud, every frame a frame, none twice.
// False with a one-line reason that names the bad word.
bool PlanSweepOptions(const SweepOptions &options, std::vector<SweepStep> &steps,
                      std::string &reason);

// The settings of one step: `base` with the step's speed and frame.
TestSettings StepSettings(const TestSettings &base, const SweepStep &step);

// Empty when the port's steps end by themselves; else why not (no time limit given or kept).
std::string CheckStepsEnd(const TestSettings &settings, const PortSnapshot &port);

// "115200 8N1".
std::string StepLabel(const SweepStep &step);

// A finished test in the matrix: "pass", or what went wrong: "errors" (receive or data errors),
// "no data" (nothing came back), "failed" (anything else the agent ended), "stopped".
std::string SweepCell(int32_t state, std::string_view result);

// The matrix: a header row of the steps' settings, then one row per port (its label, then its
// cell in each step; "-" for a step not run).
std::vector<std::vector<std::string>> SweepMatrix(
    const std::vector<std::string> &portLabels, const std::vector<SweepStep> &steps,
    const std::vector<std::vector<std::string>> &cells);

}  // namespace vyn::console
