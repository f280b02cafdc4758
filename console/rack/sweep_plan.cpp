#include "console/rack/sweep_plan.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>

#include "console/rack/loop_state.h"

namespace vyn::console {

namespace {

bool ParseSpeeds(const std::vector<std::string> &words, std::vector<int32_t> &speeds,
                 std::string &reason) {
    for (const std::string &word : words) {
        int32_t speed = 0;
        const char *end = word.data() + word.size();
        auto [next, error] = std::from_chars(word.data(), end, speed);
        if (word.empty() || word.find_first_not_of("0123456789") != std::string::npos ||
            error != std::errc() || next != end || speed < 1) {
            reason = "bad speed '" + word + "': a number of baud, 1 or more";
            return false;
        }
        if (std::find(speeds.begin(), speeds.end(), speed) != speeds.end()) {
            reason = "speed " + word + " is given twice";
            return false;
        }
        speeds.push_back(speed);
    }
    return true;
}

bool ParseFrames(const std::vector<std::string> &words, std::vector<Frame> &frames,
                 std::string &reason) {
    for (const std::string &word : words) {
        Frame frame;
        if (!ParseFrame(word, frame, reason)) {
            return false;
        }
        for (const Frame &earlier : frames) {
            if (earlier.dataBits == frame.dataBits && earlier.parity == frame.parity &&
                earlier.stopBits == frame.stopBits) {
                reason = "frame " + word + " is given twice";
                return false;
            }
        }
        frames.push_back(frame);
    }
    return true;
}

}  // namespace

void AddSweepOptions(CLI::App &command, SweepOptions &options) {
    command.add_option("--speeds", options.speeds, "Speeds in baud, comma-separated")
        ->required()
        ->delimiter(',')
        ->type_name("LIST");
    command.add_option("--frames", options.frames, "Frames, comma-separated: 8N1,7E1,...")
        ->required()
        ->delimiter(',')
        ->type_name("LIST");
    AddSettingOptions(command, options.settings, false);
    AddRunLabelOptions(command, options.labels);
}

bool PlanSweepOptions(const SweepOptions &options, std::vector<SweepStep> &steps,
                      std::string &reason) {
    std::vector<int32_t> speeds;
    std::vector<Frame> frames;
    if (!ParseSpeeds(options.speeds, speeds, reason) ||
        !ParseFrames(options.frames, frames, reason)) {
        return false;
    }
    steps = PlanSweep(speeds, frames);
    return true;
}

TestSettings StepSettings(const TestSettings &base, const SweepStep &step) {
    TestSettings settings = base;
    settings.speed = step.speed;
    settings.dataBits = step.frame.dataBits;
    settings.parity = step.frame.parity;
    settings.stopBits = step.frame.stopBits;
    return settings;
}

std::string CheckStepsEnd(const TestSettings &settings, const PortSnapshot &port) {
    if (settings.time.value_or(port.Integer("portLoopTime")) == 0) {
        return "a test without a time limit never ends a step; give --time SECONDS";
    }
    return {};
}

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
