// The agent measured as a whole, as real processes on the virtual board:
//   line-115200  16 ports testing at once for 10 s at 115200 8N1, internal loopback: published
//                average rate over line speed (at least 0.99 on every port), the agent's
//                processor share while the 16 run (under 5% of a core) and its peak resident
//                memory (under 8 MiB)
//   line-921600  the same at 921600 8N1 (processor share shown, not asserted)
//   idle         a resident agent with 16 ports and no test: processor share (under 0.5%)
//   start        from the request (portLoopState requested) committed to the first character at
//                the port (at most 700 ms), ten times
//   stop         from the stop request (portLoopState stopping) committed to the published result
//                (at most 3 s: half a second to see it, two monitor samples, half a second to
//                report), five times
// Usage: agent_bench [line-115200|line-921600|idle|start|stop]...   (none: all of them)
// Every figure is printed as a "result" line (see verdict.h); the exit status is 1 when a target
// is missed, 2 on a usage error.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/agent/agent_rig.h"
#include "bench/agent/bench_main.h"
#include "bench/agent/verdict.h"
#include "bench/proc_stats.h"

namespace {

using vyn::bench::AgentRig;
using vyn::bench::Bound;
using vyn::bench::Median;
using vyn::bench::Milliseconds;
using vyn::bench::NotMeasured;
using vyn::bench::Seconds;
using vyn::bench::Verdict;
using Clock = std::chrono::steady_clock;

constexpr int kPorts = 16;
constexpr int kTestSeconds = 10;
constexpr int kTestLimitMs = 60000;
constexpr double kLineUseFloor = 0.99;
constexpr double kBusyCpuCeilingPercent = 5.0;
constexpr double kIdleCpuCeilingPercent = 0.5;
constexpr double kMemoryCeilingMib = 8.0;
constexpr double kStartCeilingMs = 700.0;
constexpr int kStartRepeats = 10;
constexpr double kStopCeilingMs = 3000.0;
constexpr int kStopRepeats = 5;

// The agent's processor time over a stretch, as a percentage of one core.
class CpuShare {
  public:
    explicit CpuShare(pid_t pid)
        : pid_(pid), cpu_(vyn::bench::ProcessCpuSeconds(pid)), start_(Clock::now()) {}
    double Percent() const {
        double used = vyn::bench::ProcessCpuSeconds(pid_) - cpu_;
        return 100.0 * used / Seconds(Clock::now() - start_);
    }
    double Elapsed() const { return Seconds(Clock::now() - start_); }

  private:
    pid_t pid_;
    double cpu_;
    Clock::time_point start_;
};

bool Failed(const std::string &name, const std::string &why) {
    std::printf("%s: %s\n", name.c_str(), why.c_str());
    return NotMeasured(name, why);
}

// 16 timed tests at once at `baud` 8N1. The agent's processor share is taken over a window of
// 8 s while all 16 tests run (each runs 10 s from its first write), and shown also over the
// whole of the tests, from the request to the last result; its memory is the peak over the run.
// Asserts the line use and the memory, and the processor share when `cpuBudget`.
bool LineUse(uint32_t baud, bool cpuBudget) {
    constexpr auto kWindow = std::chrono::seconds(8);
    std::string tag = std::to_string(baud);
    std::string name = "line_use_" + tag;
    AgentRig rig("bench", kPorts);
    std::string error;
    if (!rig.Start(error)) {
        return Failed(name, error);
    }
    std::vector<std::pair<std::string, int32_t>> settings;
    for (int port = 1; port <= kPorts; ++port) {
        settings.emplace_back(rig.Name("portLoopSpeed", port), static_cast<int32_t>(baud));
        settings.emplace_back(rig.Name("portLoopTime", port), kTestSeconds);
    }
    if (!rig.Set(settings, error)) {
        return Failed(name, error);
    }
    std::vector<int> ports(kPorts);
    std::iota(ports.begin(), ports.end(), 1);
    pid_t agent = rig.agentPid();
    long peakRssKib = 0;
    std::optional<CpuShare> window;
    double windowPercent = -1;
    CpuShare whole(agent);
    auto watch = [&](const std::vector<int32_t> &states) {
        peakRssKib = std::max(peakRssKib, vyn::bench::ProcessMemoryKib(agent, "VmRSS"));
        bool allRunning = std::all_of(states.begin(), states.end(),
                                      [](int32_t s) { return s == LoopStateRunning; });
        if (!window && allRunning) {
            window.emplace(agent);
        } else if (window && windowPercent < 0 && window->Elapsed() >= Seconds(kWindow)) {
            windowPercent = allRunning ? window->Percent() : -2;
        }
    };
    if (!rig.SetOnAllPorts("portLoopState", LoopStateRequested, error) ||
        !rig.WaitForEnd(ports, kTestLimitMs, watch, error)) {
        return Failed(name, error);
    }
    double wholePercent = whole.Percent();
    double wholeSeconds = whole.Elapsed();
    long highWaterKib = vyn::bench::ProcessMemoryKib(agent, "VmHWM");

    std::vector<int32_t> rates;
    std::vector<int32_t> states;
    if (!rig.GetOnAllPorts("portLoopAvgRate", rates, error) ||
        !rig.GetOnAllPorts("portLoopState", states, error)) {
        return Failed(name, error);
    }
    std::vector<double> ratios;
    int clean = 0;
    for (int port = 1; port <= kPorts; ++port) {
        std::string text;
        if (!rig.GetText(rig.Name("portLoopStopErr", port), text, error)) {
            return Failed(name, error);
        }
        ratios.push_back(static_cast<double>(rates[port - 1]) / baud);
        if (vyn::bench::PassedClean(states[port - 1], text)) {
            ++clean;
        } else {
            std::printf("  COM%d: state %d, \"%s\"\n", port, states[port - 1], text.c_str());
        }
    }
    auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
    double mean = std::accumulate(ratios.begin(), ratios.end(), 0.0) / kPorts;
    std::printf(
        "%d ports at %u 8N1 for %d s: average rate / line speed min %.4f mean %.4f max %.4f\n",
        kPorts, baud, kTestSeconds, *low, mean, *high);
    char windowText[32] = "n/a";
    if (windowPercent >= 0) {
        std::snprintf(windowText, sizeof windowText, "%.2f%%", windowPercent);
    }
    std::printf(
        "  agent CPU %s of a core while all %d run (%.0f s window), %.2f%% from the request to "
        "the last result (%.1f s); VmRSS peak %.2f MiB (VmHWM %.2f MiB)\n",
        windowText, kPorts, Seconds(kWindow), wholePercent, wholeSeconds, peakRssKib / 1024.0,
        highWaterKib / 1024.0);
    bool pass = Verdict(name + "_min", *low, Bound::kAtLeast, kLineUseFloor, "", 4);
    pass = Verdict("clean_tests_" + tag, clean, Bound::kAtLeast, kPorts, "", 0) && pass;
    if (cpuBudget) {
        if (windowPercent < 0) {
            pass = NotMeasured("agent_cpu_busy_" + tag,
                               "the 16 tests did not all run together for the whole window") &&
                   pass;
        } else {
            pass = Verdict("agent_cpu_busy_" + tag, windowPercent, Bound::kUnder,
                           kBusyCpuCeilingPercent, "%", 3) &&
                   pass;
        }
    }
    // The high-water mark is the true peak (sampling could miss a short one).
    pass = Verdict("agent_rss_peak_" + tag, std::max(peakRssKib, highWaterKib) / 1024.0,
                   Bound::kUnder, kMemoryCeilingMib, "MiB", 2) &&
           pass;
    return pass;
}

// A resident agent with 16 ports and nothing to do. Its control thread polls the store twice a
// second; after 15 s without a test it also asks, at every pass, whether it may stop. Both
// stretches are shown; the steady state after the first 16 s is asserted.
bool Idle() {
    const std::string name = "agent_cpu_idle";
    constexpr auto kSettle = std::chrono::seconds(1);
    constexpr auto kEarly = std::chrono::seconds(15);
    constexpr auto kSteady = std::chrono::seconds(20);
    AgentRig rig("bench", kPorts);
    std::string error;
    if (!rig.Start(error)) {
        return Failed(name, error);
    }
    std::this_thread::sleep_for(kSettle);
    CpuShare early(rig.agentPid());
    std::this_thread::sleep_for(kEarly);
    double earlyPercent = early.Percent();
    CpuShare steady(rig.agentPid());
    std::this_thread::sleep_for(kSteady);
    double steadyPercent = steady.Percent();
    long rssKib = vyn::bench::ProcessMemoryKib(rig.agentPid(), "VmRSS");
    std::printf(
        "idle agent, %d ports provisioned: CPU %.3f%% of a core in its first %.0f s, %.3f%% over "
        "the next %.0f s; VmRSS %.2f MiB\n",
        kPorts, earlyPercent, Seconds(kEarly), steadyPercent, Seconds(kSteady), rssKib / 1024.0);
    return Verdict(name, steadyPercent, Bound::kUnder, kIdleCpuCeilingPercent, "%", 3);
}

// Time from the set returning to the first moment the board holds a character of the test on
// COM1 (in its transmit queue, or already sent), and to the first character sent.
struct StartTimes {
    double firstByteMs = -1;
    double firstSentMs = -1;
};

bool MeasureStart(AgentRig &rig, StartTimes &times, std::string &error) {
    auto counters = rig.board().Errors("COM1");
    if (!counters.ok()) {
        error = "board ERRORS failed: " + counters.message;
        return false;
    }
    std::uint64_t sentBefore = counters.value.sent;
    if (!rig.Set({{rig.Name("portLoopState", 1), LoopStateRequested}}, error)) {
        return false;
    }
    Clock::time_point set = Clock::now();
    Clock::time_point deadline = set + std::chrono::seconds(5);
    while (times.firstSentMs < 0) {
        if (Clock::now() > deadline) {
            error = "no character on the line within 5 s";
            return false;
        }
        if (times.firstByteMs < 0) {
            auto queue = rig.board().Queue("COM1");
            if (queue.ok() && queue.value > 0) {
                times.firstByteMs = Milliseconds(Clock::now() - set);
            }
        }
        counters = rig.board().Errors("COM1");
        if (counters.ok() && counters.value.sent > sentBefore) {
            times.firstSentMs = Milliseconds(Clock::now() - set);
            if (times.firstByteMs < 0) {
                times.firstByteMs = times.firstSentMs;
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Starts the rig with COM1 set for 115200 baud and `seconds` of test time (0: until stopped).
bool StartWithCom1(AgentRig &rig, int32_t seconds, std::string &error) {
    return rig.Start(error) &&
           rig.Set({{rig.Name("portLoopSpeed", 1), 115200}, {rig.Name("portLoopTime", 1), seconds}},
                   error);
}

// Sleeps up to `limitMs`, at random, so that the next request falls anywhere in the agent's
// polling period.
class RandomPause {
  public:
    explicit RandomPause(int limitMs) : pause_(0, limitMs) {}
    void Sleep() { std::this_thread::sleep_for(std::chrono::milliseconds(pause_(random_))); }

  private:
    std::mt19937 random_{std::random_device{}()};
    std::uniform_int_distribution<int> pause_;
};

bool StartLatency() {
    const std::string name = "start_latency_max";
    AgentRig rig("bench", kPorts);
    std::string error;
    if (!StartWithCom1(rig, 1, error)) {
        return Failed(name, error);
    }
    RandomPause pause(500);
    std::vector<double> firstBytes;
    std::vector<double> firstSent;
    for (int repeat = 0; repeat < kStartRepeats; ++repeat) {
        bool quiet = vyn::test::WaitFor([&] {
            auto queue = rig.board().Queue("COM1");
            return queue.ok() && queue.value == 0;
        });
        if (!quiet) {
            return Failed(name, "COM1 still has characters queued from the previous test");
        }
        pause.Sleep();
        StartTimes times;
        std::vector<int32_t> state;
        if (!MeasureStart(rig, times, error) || !rig.WaitForEnd({1}, kTestLimitMs, {}, error) ||
            !rig.GetIntegers({rig.Name("portLoopState", 1)}, state, error)) {
            return Failed(name, error);
        }
        if (state[0] != LoopStateComplete) {
            return Failed(name, "the test ended in state " + std::to_string(state[0]));
        }
        std::printf(
            "  start %2d: first character at the port after %6.1f ms, sent after %6.1f ms\n",
            repeat + 1, times.firstByteMs, times.firstSentMs);
        firstBytes.push_back(times.firstByteMs);
        firstSent.push_back(times.firstSentMs);
    }
    std::printf(
        "start latency over %d starts: first character at the port median %.1f ms, max %.1f ms; "
        "first character sent median %.1f ms, max %.1f ms\n",
        kStartRepeats, Median(firstBytes), *std::max_element(firstBytes.begin(), firstBytes.end()),
        Median(firstSent), *std::max_element(firstSent.begin(), firstSent.end()));
    bool pass = Verdict(name, *std::max_element(firstBytes.begin(), firstBytes.end()),
                        Bound::kAtMost, kStartCeilingMs, "ms", 1);
    return Verdict("start_latency_median", Median(firstBytes), Bound::kAtMost, kStartCeilingMs,
                   "ms", 1) &&
           pass;
}

// A test without a time limit on COM1, stopped at a random moment of the agent's polling period;
// the time until the port's result is published.
bool StopLatency() {
    const std::string name = "stop_latency_max";
    AgentRig rig("bench", kPorts);
    std::string error;
    if (!StartWithCom1(rig, 0, error)) {
        return Failed(name, error);
    }
    RandomPause pause(1000);
    std::vector<double> stops;
    for (int repeat = 0; repeat < kStopRepeats; ++repeat) {
        std::vector<int32_t> state;
        auto running = [&] {
            return rig.GetIntegers({rig.Name("portLoopState", 1)}, state, error) &&
                   state[0] == LoopStateRunning;
        };
        if (!rig.Set({{rig.Name("portLoopState", 1), LoopStateRequested}}, error) ||
            !vyn::test::WaitFor(running)) {
            return Failed(name, "the test did not start: " + error);
        }
        pause.Sleep();
        if (!rig.Set({{rig.Name("portLoopState", 1), LoopStateStopping}}, error)) {
            return Failed(name, error);
        }
        Clock::time_point asked = Clock::now();
        bool stopped = vyn::test::WaitFor(
            [&] {
                return rig.GetIntegers({rig.Name("portLoopState", 1)}, state, error) &&
                       state[0] == LoopStateStopped;
            },
            30000);
        if (!stopped) {
            return Failed(name, "the test did not stop within 30 s");
        }
        stops.push_back(Milliseconds(Clock::now() - asked));
        std::printf("  stop %d: result published after %6.1f ms\n", repeat + 1, stops.back());
    }
    std::printf("stop latency over %d stops: median %.1f ms, max %.1f ms\n", kStopRepeats,
                Median(stops), *std::max_element(stops.begin(), stops.end()));
    return Verdict(name, *std::max_element(stops.begin(), stops.end()), Bound::kAtMost,
                   kStopCeilingMs, "ms", 1);
}

}  // namespace

int main(int argc, char **argv) {
    using vyn::bench::NamedBenchmark;
    return vyn::bench::RunBenchmarks(argc, argv,
                                     {{"line-115200", [] { return LineUse(115200, true); }},
                                      {"line-921600", [] { return LineUse(921600, false); }},
                                      {"idle", Idle},
                                      {"start", StartLatency},
                                      {"stop", StopLatency}});
}
