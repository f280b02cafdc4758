// A sweep's plan and its outcome: every speed with every frame, one step each (speeds outer),
// and the matrix of ports by settings that it ends with.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/rack/frame.h"

namespace vyn::console {

struct SweepStep {
    int32_t speed = 0;
    Frame frame;
};

std::vector<SweepStep> PlanSweep(const std::vector<int32_t> &speeds,
                                 const std::vector<Frame> &frames);

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
