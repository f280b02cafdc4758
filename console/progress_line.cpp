#include "console/progress_line.h"

#include <algorithm>

#include "console/loop_state.h"
#include "console/output.h"
#include "console/test_settings.h"

namespace vyn::console {

namespace {

std::string PadRight(std::string text, std::size_t width) {
    if (text.size() < width) {
        text.append(width - text.size(), ' ');
    }
    return text;
}

std::string PadLeft(const std::string &text, std::size_t width) {
    return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

// Counters are published as signed 32-bit words; show them as the unsigned counts they are.
std::string Count(int32_t value) {
    return std::to_string(static_cast<uint32_t>(value));
}

std::string TimeLeft(const PortSnapshot &port) {
    int32_t total = port.Integer("portLoopTime");
    int32_t left = port.Integer("portLoopTimeRemain");
    if (total == 0 && port.Integer("portRasStatus") == RasStatusNoBorrow) {
        return "until stopped";
    }
    std::string text = std::to_string(std::max(left, 0)) + "s left";
    return total == 0 ? text + " of period" : text;
}

}  // namespace

std::string ProgressBar(long long elapsed, long long total) {
    std::size_t filled = 0;
    if (total > 0) {
        long long clipped = std::clamp(elapsed, 0LL, total);
        filled = static_cast<std::size_t>(clipped * static_cast<long long>(kBarWidth) / total);
    }
    return "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "]";
}

std::string MovingBlock(unsigned tick) {
    constexpr std::size_t kBlock = 3;
    constexpr std::size_t kTravel = kBarWidth - kBlock;
    std::size_t step = tick % (2 * kTravel);
    std::size_t at = step <= kTravel ? step : 2 * kTravel - step;
    std::string bar(kBarWidth, '.');
    bar.replace(at, kBlock, kBlock, '#');
    return "[" + bar + "]";
}

std::string ProgressLine(const PortSnapshot &port, std::size_t deviceWidth, unsigned tick) {
    std::string line = PadLeft(std::to_string(port.port), 2) + ' ' +
                       PadRight(OneLine(port.Device()), deviceWidth) + "  ";
    line +=
        PadRight(ShortLineSettings(port.Integer("portLoopSpeed"), port.Integer("portLoopDataSize"),
                                   port.Integer("portLoopParity"), port.Integer("portStopBits")),
                 12) +
        "  ";
    int32_t state = port.State();
    Outcome outcome = ClassifyOutcome(state, port.Result());
    if (state == LoopStateRequested) {
        return line + "waiting for the agent to start the test";
    }
    if (outcome == Outcome::None) {
        return line + "no test";
    }
    int32_t total = port.Integer("portLoopTime");
    if (total > 0) {
        long long elapsed = static_cast<long long>(total) - port.Integer("portLoopTimeRemain");
        line += ProgressBar(elapsed, total) + ' ' +
                PadLeft(std::to_string(std::clamp(elapsed, 0LL, static_cast<long long>(total)) *
                                       100 / total),
                        3) +
                '%';
    } else {
        line += (outcome == Outcome::Pending ? MovingBlock(tick) : ProgressBar(0, 0)) + "     ";
    }
    line += "  tx " + Count(port.Integer("portLoopTxTotal")) + "  rx " +
            Count(port.Integer("portLoopRxTotal")) + "  rate " +
            Count(port.Integer("portLoopRate")) + "  avg " +
            Count(port.Integer("portLoopAvgRate")) + "  errors " +
            Count(port.Integer("portLoopInErrs"));
    if (outcome == Outcome::Pending) {
        return line + "  " + TimeLeft(port) + "  " + LoopStateWord(state);
    }
    return line + "  " + std::string(OutcomeWord(outcome));
}

}  // namespace vyn::console
