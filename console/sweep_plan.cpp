#include "console/sweep_plan.h"

#include "console/rack/loop_state.h"

namespace vyn::console {

std::vector<SweepStep> PlanSweep(const std::vector<int32_t> &speeds,
                                 const std::vector<Frame> &frames) {
    std::vector<SweepStep> steps;
    for (int32_t speed : speeds) {
        for (const Frame &frame : frames) {
            steps.push_back({speed, frame});
        }
    }
    return steps;
}

std::string StepLabel(const SweepStep &step) {
    return std::to_string(step.speed) + ' ' +
           FrameText(step.frame.dataBits, step.frame.parity, step.frame.stopBits);
}

std::string SweepCell(int32_t state, std::string_view result) {
    switch (ClassifyOutcome(state, result)) {
        case Outcome::Passed:
            return "pass";
        case Outcome::Errors:
            return "errors";
        case Outcome::Stopped:
            return "stopped";
        case Outcome::Interrupted:
            return "interrupted";
        case Outcome::Failed:
            return result.find("no data characters received") != std::string_view::npos ? "no data"
                                                                                        : "failed";
        default:
            return "-";
    }
}

std::vector<std::vector<std::string>> SweepMatrix(
    const std::vector<std::string> &portLabels, const std::vector<SweepStep> &steps,
    const std::vector<std::vector<std::string>> &cells) {
    std::vector<std::vector<std::string>> rows(1, {"PORT"});
    for (const SweepStep &step : steps) {
        rows[0].push_back(StepLabel(step));
    }
    for (std::size_t port = 0; port < portLabels.size(); ++port) {
        std::vector<std::string> row{portLabels[port]};
        for (std::size_t step = 0; step < steps.size(); ++step) {
            row.push_back(step < cells.size() && port < cells[step].size() ? cells[step][port]
                                                                           : "-");
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace vyn::console
