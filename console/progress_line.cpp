#include "console/progress_line.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "console/output.h"
#include "console/rack/error_kinds.h"
#include "console/rack/line_result.h"
#include "console/rack/loop_state.h"
#include "console/rack/test_settings.h"

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
std::string Count(int32_t value, const LineStyle &style) {
    auto count = static_cast<uint32_t>(value);
    return style.compactCounts ? CompactCount(count) : std::to_string(count);
}

std::string TimeLeft(const PortSnapshot &port, const LineStyle &style) {
    int32_t total = port.Integer("portLoopTime");
    int32_t left = port.Integer("portLoopTimeRemain");
    if (total == 0 && port.Integer("portRasStatus") == RasStatusNoBorrow) {
        return "until stopped";
    }
    std::string text = std::to_string(std::max(left, 0)) + "s left";
    return total == 0 && !style.shortTimeLeft ? text + " of period" : text;
}

// The progress of a test with a time limit, or the block that shows an endless one runs.
std::string Progress(const PortSnapshot &port, Outcome outcome, unsigned tick,
                     const LineStyle &style) {
    int32_t total = port.Integer("portLoopTime");
    std::string bar;
    if (total > 0) {
        long long elapsed = static_cast<long long>(total) - port.Integer("portLoopTimeRemain");
        long long percent = std::clamp(elapsed, 0LL, static_cast<long long>(total)) * 100 / total;
        if (style.barWidth > 0) {
            bar = ProgressBar(elapsed, total, style.barWidth) + ' ';
        }
        return bar + PadLeft(std::to_string(percent), 3) + '%';
    }
    if (style.barWidth == 0) {
        return "    ";  // as wide as a percentage
    }
    bar = outcome == Outcome::Pending ? MovingBlock(tick, style.barWidth)
                                      : ProgressBar(0, 0, style.barWidth);
    return bar + "     ";
}

}  // namespace

std::string ProgressBar(long long elapsed, long long total, std::size_t width) {
    std::size_t filled = 0;
    if (total > 0) {
        long long clipped = std::clamp(elapsed, 0LL, total);
        filled = static_cast<std::size_t>(clipped * static_cast<long long>(width) / total);
    }
    std::string bar;
    bar.reserve(width + 2);
    bar += '[';
    bar.append(filled, '#');
    bar.append(width - filled, '.');
    bar += ']';
    return bar;
}

std::string MovingBlock(unsigned tick, std::size_t width) {
    const std::size_t block = std::min<std::size_t>(3, width);
    const std::size_t travel = width - block;
    std::string bar(width, '.');
    if (travel > 0) {
        std::size_t step = tick % (2 * travel);
        std::size_t at = step <= travel ? step : 2 * travel - step;
        bar.replace(at, block, block, '#');
    } else {
        bar.assign(width, '#');
    }
    return "[" + bar + "]";
}

std::string CompactCount(uint32_t value) {
    if (value < 100000) {
        return std::to_string(value);
    }
    static constexpr std::array<char, 3> kUnits{'k', 'M', 'G'};
    double scaled = value / 1000.0;
    std::size_t unit = 0;
    // 999.5k shows as 1M, never as "1e+03k".
    while (scaled >= 999.5 && unit + 1 < kUnits.size()) {
        scaled /= 1000.0;
        ++unit;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%.3g%c", scaled, kUnits[unit]);
    return text;
}

std::string ProgressLine(const PortSnapshot &port, std::size_t deviceWidth, unsigned tick,
                         const LineStyle &style) {
    std::string line = PadLeft(std::to_string(port.port), 2) + ' ';
    if (style.device) {
        line += PadRight(OneLine(port.Device()), deviceWidth) + "  ";
    }
    if (style.lineSettings) {
        line += PadRight(ShortLineSettings(
                             port.Integer("portLoopSpeed"), port.Integer("portLoopDataSize"),
                             port.Integer("portLoopParity"), port.Integer("portStopBits")),
                         12) +
                "  ";
    }
    int32_t state = port.State();
    Outcome outcome = ClassifyOutcome(state, port.Result());
    if (state == LoopStateRequested) {
        return line + "waiting for the agent to start the test";
    }
    if (outcome == Outcome::None) {
        return line + "no test";
    }
    line += Progress(port, outcome, tick, style);
    line += "  tx " + Count(port.Integer("portLoopTxTotal"), style) + "  rx " +
            Count(port.Integer("portLoopRxTotal"), style);
    if (style.rate) {
        line += "  rate " + Count(port.Integer("portLoopRate"), style);
    }
    if (style.average) {
        line += "  avg " + Count(port.Integer("portLoopAvgRate"), style);
    }
    line += "  errors " + Count(port.Integer("portLoopInErrs"), style);
    if (style.kinds) {
        std::string kinds = KindsSummary(port);
        if (!kinds.empty()) {
            line += " (" + kinds + ")";
        }
        if (std::string lines = LinesSummary(port); !lines.empty()) {
            line += "  " + lines;
        }
    }
    if (outcome == Outcome::Pending) {
        return line + "  " + TimeLeft(port, style) + "  " + LoopStateWord(state);
    }
    return line + "  " + std::string(OutcomeWord(outcome));
}

std::vector<std::string> ProgressLines(const std::vector<PortSnapshot> &ports,
                                       std::size_t deviceWidth, unsigned tick,
                                       std::size_t columns) {
    // Each step gives up a little more: first what the result line repeats at the end, then
    // detail, then what the operator chose and knows; the port, its errors, time and state stay.
    std::vector<LineStyle> styles(1);
    auto sparser = [&styles](auto change) {
        LineStyle next = styles.back();
        change(next);
        styles.push_back(next);
    };
    sparser([](LineStyle &s) { s.kinds = false; });
    sparser([](LineStyle &s) { s.average = false; });
    sparser([](LineStyle &s) { s.barWidth = kBarWidth / 2; });
    sparser([](LineStyle &s) { s.compactCounts = true; });
    sparser([](LineStyle &s) { s.shortTimeLeft = true; });
    sparser([](LineStyle &s) { s.lineSettings = false; });
    sparser([](LineStyle &s) { s.rate = false; });
    sparser([](LineStyle &s) { s.barWidth = 0; });
    sparser([](LineStyle &s) { s.device = false; });

    std::vector<std::string> lines;
    for (const LineStyle &style : styles) {
        lines.clear();
        bool fits = true;
        for (const PortSnapshot &port : ports) {
            lines.push_back(ProgressLine(port, deviceWidth, tick, style));
            fits = fits && (columns == 0 || lines.back().size() <= columns);
        }
        if (fits) {
            break;
        }
    }
    return lines;
}

}  // namespace vyn::console
