// Whole racks on a flawless virtual board, as real processes: does every port carry its line in
// full and come out clean, whatever its neighbours do?
//   mixed         16 ports at once, 8N1, 10 s: 4 at 9600, 8 at 115200, 4 at 921600
//   fast          16 ports at 921600
//   mixed-faults  the mixed rack with every 1000th character corrupted on 4 ports
// For each port it prints the characters received over what its line can carry in the test's
// time (line speed / 10 x seconds) and the board's overrun count. Targets: every clean port
// carries at least 0.98 of its line and no clean port reports an error; the corrupted ports
// report data errors.
// Usage: rack_bench [mixed|fast|mixed-faults]...   (none: all of them)
#include <cstdio>
#include <numeric>
#include <set>
#include <string>
#include <vector>

#include "bench/agent/agent_rig.h"
#include "bench/agent/bench_main.h"
#include "bench/agent/verdict.h"
#include "mml/vocabulary.h"

namespace {

using vyn::bench::AgentRig;
using vyn::bench::Bound;
using vyn::bench::NotMeasured;
using vyn::bench::Verdict;

constexpr int kPorts = 16;
constexpr int kTestSeconds = 10;
constexpr int kTestLimitMs = 90000;
constexpr double kCarriedFloor = 0.98;
constexpr int kCorruptEvery = 1000;

struct Rack {
    std::string name;
    std::vector<int32_t> speeds;  // port n at speeds[n - 1]
    std::set<int> corrupted;      // ports whose received characters are corrupted
};

std::vector<int32_t> MixedSpeeds() {
    std::vector<int32_t> speeds;
    speeds.insert(speeds.end(), 4, 9600);
    speeds.insert(speeds.end(), 8, 115200);
    speeds.insert(speeds.end(), 4, 921600);
    return speeds;
}

bool Failed(const std::string &name, const std::string &why) {
    std::printf("%s: %s\n", name.c_str(), why.c_str());
    return NotMeasured(name, why);
}

bool RunRack(const Rack &rack) {
    AgentRig rig("rack", kPorts);
    std::string error;
    if (!rig.Start(error)) {
        return Failed(rack.name, error);
    }
    std::vector<std::pair<std::string, int32_t>> settings;
    for (int port = 1; port <= kPorts; ++port) {
        settings.emplace_back(rig.Name("portLoopSpeed", port), rack.speeds[port - 1]);
        settings.emplace_back(rig.Name("portLoopTime", port), kTestSeconds);
    }
    if (!rig.Set(settings, error)) {
        return Failed(rack.name, error);
    }
    for (int port : rack.corrupted) {
        std::string name = "COM" + std::to_string(port);
        auto changed = rig.board().Set(name, "corrupt=" + std::to_string(kCorruptEvery));
        if (!changed.ok()) {
            return Failed(rack.name, "board SET failed: " + changed.message);
        }
    }
    std::vector<int> ports(kPorts);
    std::iota(ports.begin(), ports.end(), 1);
    if (!rig.SetOnAllPorts("portLoopState", LoopStateRequested, error) ||
        !rig.WaitForEnd(ports, kTestLimitMs, {}, error)) {
        return Failed(rack.name, error);
    }
    std::vector<int32_t> received;
    std::vector<int32_t> states;
    if (!rig.GetOnAllPorts("portLoopRxTotal", received, error) ||
        !rig.GetOnAllPorts("portLoopState", states, error)) {
        return Failed(rack.name, error);
    }
    double lowestClean = 1e9;
    int cleanWithErrors = 0;
    int corruptedReported = 0;
    std::printf("%s: %d ports, 8N1, %d s\n", rack.name.c_str(), kPorts, kTestSeconds);
    for (int port = 1; port <= kPorts; ++port) {
        std::string text;
        if (!rig.GetText(rig.Name("portLoopStopErr", port), text, error)) {
            return Failed(rack.name, error);
        }
        auto counters = rig.board().Errors("COM" + std::to_string(port));
        std::uint64_t overruns = counters.ok() ? counters.value.overruns : 0;
        double capacity = rack.speeds[port - 1] / 10.0 * kTestSeconds;
        double carried = received[port - 1] / capacity;
        bool clean = vyn::bench::PassedClean(states[port - 1], text);
        std::printf("  COM%-2d %6d baud  carried %.4f  overruns %llu  %s\n", port,
                    rack.speeds[port - 1], carried, static_cast<unsigned long long>(overruns),
                    text.c_str());
        if (rack.corrupted.count(port) != 0) {
            corruptedReported += text.find("data error") != std::string::npos ? 1 : 0;
            continue;
        }
        lowestClean = std::min(lowestClean, carried);
        cleanWithErrors += clean ? 0 : 1;
    }
    std::string tag = "rack_" + rack.name;
    bool pass = Verdict(tag + "_carried_min", lowestClean, Bound::kAtLeast, kCarriedFloor, "", 4);
    pass = Verdict(tag + "_ports_with_errors", cleanWithErrors, Bound::kAtMost, 0, "", 0) && pass;
    if (!rack.corrupted.empty()) {
        pass = Verdict(tag + "_corrupted_reported", corruptedReported, Bound::kAtLeast,
                       static_cast<double>(rack.corrupted.size()), "", 0) &&
               pass;
    }
    return pass;
}

}  // namespace

int main(int argc, char **argv) {
    using vyn::bench::NamedBenchmark;
    return vyn::bench::RunBenchmarks(
        argc, argv,
        {NamedBenchmark{"mixed",
                        [] {
                            return RunRack({"mixed", MixedSpeeds(), {}});
                        }},
         NamedBenchmark{"fast",
                        [] {
                            return RunRack({"fast", std::vector<int32_t>(kPorts, 921600), {}});
                        }},
         NamedBenchmark{"mixed-faults", [] {
                            return RunRack({"mixed_faults", MixedSpeeds(), {2, 6, 10, 14}});
                        }}});
}
