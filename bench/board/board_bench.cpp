// Line rates of the virtual board and its processor use, measured end to end: writers stream
// into the ports (internal loopback on), readers count what comes back over a 10 s window.
// Each benchmark prints the measured rate against the expected one as a ratio (1.000 = exact)
// and fails when a ratio is off by more than 0.5% or the board uses more than half a core.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/proc_stats.h"
#include "board/client/client.h"
#include "tests/support/process.h"

namespace {

using vyn::board::LineSetting;
using SteadyClock = std::chrono::steady_clock;

constexpr auto kWarmUp = std::chrono::seconds(1);
constexpr auto kWindow = std::chrono::seconds(10);
constexpr double kTolerance = 0.005;
constexpr double kCpuLimit = 0.5;

// A board in a directory of the benchmark's own, ended and removed afterwards.
struct BoardProcess {
    explicit BoardProcess(int ports) : process(vyn::test::StartBoard(dir.path(), ports)) {}
    vyn::test::TempDir dir;
    std::unique_ptr<vyn::test::Child> process;
    vyn::board::Client client{vyn::board::Client::SocketPathIn(dir.path())};
};

struct Measurement {
    std::vector<double> rates;  // characters per second, per port
    double cpu = 0;             // the board's share of one core
};

// Streams through `ports` ports with the given line until the window has passed.
bool Measure(BoardProcess &board, int ports, const LineSetting &line, Measurement &result,
             std::string &error) {
    std::vector<int> fds;
    for (int number = 1; number <= ports; ++number) {
        std::string name = "COM" + std::to_string(number);
        if (!board.client.SetLine(name, line).ok() || !board.client.SetLoopback(name, true).ok()) {
            error = "cannot configure " + name;
            return false;
        }
        int fd = open((board.dir / name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            error = "cannot open " + name;
            return false;
        }
        fds.push_back(fd);
    }
    std::string pattern;
    for (int i = 0; i < 4096; ++i) {
        pattern += static_cast<char>(0x20 + i % 60);
    }
    std::vector<std::uint64_t> received(fds.size()), atStart(fds.size());
    std::vector<pollfd> entries(fds.size());
    auto begin = SteadyClock::now();
    auto windowStart = begin + kWarmUp;
    auto windowEnd = windowStart + kWindow;
    bool started = false;
    double cpuStart = 0;
    char buffer[65536];
    for (;;) {
        auto now = SteadyClock::now();
        if (!started && now >= windowStart) {
            started = true;
            atStart = received;
            cpuStart = vyn::bench::ProcessCpuSeconds(board.process->pid());
            windowStart = now;
        }
        if (now >= windowEnd) {
            double seconds = std::chrono::duration<double>(now - windowStart).count();
            result.cpu = (vyn::bench::ProcessCpuSeconds(board.process->pid()) - cpuStart) / seconds;
            for (std::size_t i = 0; i < fds.size(); ++i) {
                result.rates.push_back(static_cast<double>(received[i] - atStart[i]) / seconds);
            }
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            entries[i] = {fds[i], POLLIN | POLLOUT, 0};
        }
        poll(entries.data(), entries.size(), 5);
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (entries[i].revents & POLLIN) {
                ssize_t count = read(fds[i], buffer, sizeof buffer);
                received[i] += count > 0 ? static_cast<std::uint64_t>(count) : 0;
            }
            if (entries[i].revents & POLLOUT) {
                [[maybe_unused]] ssize_t count = write(fds[i], pattern.data(), pattern.size());
            }
        }
    }
    for (int fd : fds) {
        close(fd);
    }
    return true;
}

void RunRate(benchmark::State &state, int ports, LineSetting line, double expected,
             const char *label) {
    for (auto _ : state) {
        BoardProcess board(ports);
        Measurement measurement;
        std::string error;
        if (!board.process) {
            state.SkipWithError("the board did not start");
            return;
        }
        if (!Measure(board, ports, line, measurement, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        auto [low, high] = std::minmax_element(measurement.rates.begin(), measurement.rates.end());
        state.SetIterationTime(std::chrono::duration<double>(kWindow).count());
        state.counters["expected"] = expected;
        state.counters["ratio_min"] = *low / expected;
        state.counters["ratio_max"] = *high / expected;
        state.counters["board_cpu"] = measurement.cpu;
        std::printf(
            "%s: %d port(s), %.1f to %.1f characters/s, expected %.1f, ratio %.4f to "
            "%.4f, board CPU %.3f of a core\n",
            label, ports, *low, *high, expected, *low / expected, *high / expected,
            measurement.cpu);
        std::fflush(stdout);
        if (*low / expected < 1 - kTolerance || *high / expected > 1 + kTolerance) {
            state.SkipWithError("line rate outside +-0.5%");
        } else if (measurement.cpu > kCpuLimit) {
            state.SkipWithError("the board used more than half a core");
        }
    }
}

void BM_Line9600_8N1(benchmark::State &state) {
    RunRate(state, 1, LineSetting{9600, 8, vyn::board::Parity::kNone, vyn::board::StopBits::kOne},
            960.0, "9600 8N1");
}

void BM_Line19200_7E2(benchmark::State &state) {
    RunRate(state, 1, LineSetting{19200, 7, vyn::board::Parity::kEven, vyn::board::StopBits::kTwo},
            19200.0 / 11, "19200 7E2");
}

void BM_SixteenPorts921600_8N1(benchmark::State &state) {
    RunRate(state, 16,
            LineSetting{921600, 8, vyn::board::Parity::kNone, vyn::board::StopBits::kOne}, 92160.0,
            "921600 8N1");
}

}  // namespace

BENCHMARK(BM_Line9600_8N1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Line19200_7E2)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_SixteenPorts921600_8N1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
