// Sixteen ports of the virtual board tested back to back for a long stretch (300 s unless told),
// each test with the next fault of a cycle: none, the plug pulled, corruption, framing errors,
// characters dropped, stray characters, a port the remote access service holds, a stop request,
// and a port that keeps another speed. Speeds cycle through 9600, 115200 and 921600.
//
// Every outcome must be its fault's and no other: its loop state, its result text, and its counts
// by kind equal to what the board injected in that test (nothing where it injected nothing).
// Prints the outcomes by fault, each mismatch as it is found, and two result lines: the
// mismatches (target 0) and the outcomes (at least one per port and fault on a full run).
// Usage: soak_bench [--seconds N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/agent/agent_rig.h"
#include "bench/agent/verdict.h"
#include "mml/vocabulary.h"

namespace {

using vyn::bench::AgentRig;
using vyn::bench::Bound;
using vyn::bench::NotMeasured;
using vyn::bench::Verdict;
using Clock = std::chrono::steady_clock;

constexpr int kPorts = 16;
constexpr int kDefaultSeconds = 300;
constexpr int kTestSeconds = 2;
constexpr int kStopAfterMs = 1000;
constexpr int kPollMs = 100;
constexpr int kEndLimitMs = 120000;
constexpr int32_t kSpeeds[] = {9600, 115200, 921600};
constexpr int32_t kKeptSpeed = 9600;
constexpr int32_t kKeptSpeedAsked = 115200;

enum class Fault { None, Unplugged, Corrupt, Framing, Drop, Stray, Held, Stop, KeptSpeed };
constexpr Fault kCycle[] = {Fault::None,    Fault::Unplugged, Fault::Corrupt,
                            Fault::Framing, Fault::Drop,      Fault::Stray,
                            Fault::Held,    Fault::Stop,      Fault::KeptSpeed};
constexpr std::size_t kFaults = sizeof kCycle / sizeof kCycle[0];

const char *FaultName(Fault fault) {
    static const char *const kNames[] = {"none",  "unplugged", "corrupt", "framing",  "drop",
                                         "stray", "held",      "stop",    "keepspeed"};
    return kNames[static_cast<int>(fault)];
}

// How the board plays a fault, and takes it away again: the setting, followed by the fault's
// period (kPeriodic) or by a value of its own. The service takes a held port back a moment after
// a test gave it back; freeing it ends the hold.
constexpr int32_t kPeriodic = -1;
struct Knob {
    const char *set;
    const char *clear;
    int32_t value;  // 0: none
};

const Knob &KnobOf(Fault fault) {
    static const Knob kKnobs[] = {
        {"", "", 0},
        {"plug=none", "plug=loop", 0},
        {"corrupt=", "corrupt=0", kPeriodic},
        {"framing=", "framing=0", kPeriodic},
        {"drop=", "drop=0", kPeriodic},
        {"stray=0d0a", "", 0},
        {"ras=hold", "ras=free", 0},
        {"", "", 0},
        {"keepspeed=", "keepspeed=0", kKeptSpeed},
    };
    return kKnobs[static_cast<int>(fault)];
}

// What a port's test is doing.
struct PortRun {
    std::size_t next = 0;  // position in the fault cycle
    std::size_t speedIndex = 0;
    Fault fault = Fault::None;
    int32_t speed = 9600;
    uint32_t every = 0;
    bool running = false;
    bool stopAsked = false;
    Clock::time_point started;
    vyn::board::ErrorCounters before;
};

struct Kinds {
    int32_t corrupted = 0, lost = 0, extra = 0, frame = 0, parity = 0, overruns = 0, breaks = 0;
};

class Soak {
  public:
    explicit Soak(AgentRig &rig) : rig_(rig), runs_(kPorts) {}

    bool Run(int seconds, std::string &error) {
        for (int port = 1; port <= kPorts; ++port) {
            // Every port has its plug in; the unplugged tests pull it and put it back.
            if (!rig_.board().Set(Board(port), "plug=loop").ok()) {
                error = "the board refused a plug";
                return false;
            }
            // Ports start at different places of the cycles, so that every moment mixes faults.
            runs_[port - 1].next = static_cast<std::size_t>(port - 1) % kFaults;
            runs_[port - 1].speedIndex = static_cast<std::size_t>(port - 1) % 3;
        }
        Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
        for (;;) {
            bool starting = Clock::now() < end;
            bool busy = false;
            for (int port = 1; port <= kPorts; ++port) {
                PortRun &run = runs_[port - 1];
                if (!run.running && starting && !Begin(port, run, error)) {
                    return false;
                }
                if (run.running && !Look(port, run, error)) {
                    return false;
                }
                busy = busy || run.running;
            }
            if (!starting && !busy) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        }
    }

    void Report(int seconds) const {
        std::printf("outcomes by fault (%d s, %d ports, %d s tests):\n", seconds, kPorts,
                    kTestSeconds);
        for (std::size_t i = 0; i < kFaults; ++i) {
            auto found = outcomes_.find(kCycle[i]);
            std::printf("  %-10s %5d\n", FaultName(kCycle[i]),
                        found == outcomes_.end() ? 0 : found->second);
        }
        std::printf("  %-10s %5d, %d of them not their fault's\n", "all", total_, mismatches_);
    }

    int total() const { return total_; }
    int mismatches() const { return mismatches_; }

  private:
    std::string Board(int port) const { return "COM" + std::to_string(port); }

    bool Begin(int port, PortRun &run, std::string &error) {
        run.fault = kCycle[run.next];
        run.next = (run.next + 1) % kFaults;
        run.speed = kSpeeds[run.speedIndex];
        run.speedIndex = (run.speedIndex + 1) % 3;
        // About four faults a test: the line carries speed / 10 characters a second.
        run.every = static_cast<uint32_t>(run.speed / 10 * kTestSeconds / 4);
        if (run.fault == Fault::KeptSpeed) {
            run.speed = kKeptSpeedAsked;
        }
        const Knob &knob = KnobOf(run.fault);
        std::string settings = knob.set;
        if (knob.value != 0) {
            settings += std::to_string(knob.value == kPeriodic ? run.every
                                                               : static_cast<uint32_t>(knob.value));
        }
        if (!settings.empty() && !rig_.board().Set(Board(port), settings).ok()) {
            error = "the board refused " + settings;
            return false;
        }
        auto counters = rig_.board().Errors(Board(port));
        if (!counters.ok()) {
            error = counters.message;
            return false;
        }
        run.before = counters.value;
        bool external = run.fault == Fault::Unplugged;
        if (!rig_.Set(
                {{rig_.Name("portLoopSpeed", port), run.speed},
                 {rig_.Name("portLoopTime", port), run.fault == Fault::Stop ? 30 : kTestSeconds},
                 {rig_.Name("portLoopMode", port), external ? LoopModeExternal : LoopModeInternal},
                 {rig_.Name("portRasStatus", port),
                  run.fault == Fault::Held ? RasStatusMayBorrow : RasStatusNoBorrow},
                 {rig_.Name("portLoopState", port), LoopStateRequested}},
                error)) {
            return false;
        }
        run.running = true;
        run.stopAsked = false;
        run.started = Clock::now();
        return true;
    }

    bool Look(int port, PortRun &run, std::string &error) {
        std::vector<int32_t> state;
        if (!rig_.GetIntegers({rig_.Name("portLoopState", port)}, state, error)) {
            return false;
        }
        if (run.fault == Fault::Stop && !run.stopAsked && state[0] == LoopStateRunning &&
            Clock::now() - run.started > std::chrono::milliseconds(kStopAfterMs)) {
            if (!rig_.Set({{rig_.Name("portLoopState", port), LoopStateStopping}}, error)) {
                return false;
            }
            run.stopAsked = true;
        }
        if (vyn::bench::TestEnded(state[0])) {
            return Finish(port, run, state[0], error);
        }
        if (Clock::now() - run.started > std::chrono::milliseconds(kEndLimitMs)) {
            error = "port " + std::to_string(port) + " did not end its " + FaultName(run.fault) +
                    " test";
            return false;
        }
        return true;
    }

    bool Finish(int port, PortRun &run, int32_t state, std::string &error) {
        std::string text;
        std::vector<int32_t> values;
        std::vector<std::string> names;
        for (const char *object :
             {ObjectLoopCorrupted, ObjectLoopLost, ObjectLoopExtra, ObjectLoopFrameErrs,
              ObjectLoopParityErrs, ObjectLoopOverruns, ObjectLoopBreaks}) {
            names.push_back(rig_.Name(object, port));
        }
        if (!rig_.GetText(rig_.Name("portLoopStopErr", port), text, error) ||
            !rig_.GetIntegers(names, values, error)) {
            return false;
        }
        Kinds got{values[0], values[1], values[2], values[3], values[4], values[5], values[6]};
        auto counters = rig_.board().Errors(Board(port));
        if (!counters.ok()) {
            error = counters.message;
            return false;
        }
        std::string why = Mismatch(run, state, text, got, counters.value);
        ++outcomes_[run.fault];
        ++total_;
        if (!why.empty()) {
            ++mismatches_;
            std::printf("mismatch: port %d, %s at %d: %s (state %d, \"%s\")\n", port,
                        FaultName(run.fault), run.speed, why.c_str(), state, text.c_str());
            std::fflush(stdout);
        }
        run.running = false;
        return Clear(port, run, error);
    }

    // What is wrong with an outcome, or "" when it is its fault's and no other.
    static std::string Mismatch(const PortRun &run, int32_t state, const std::string &text,
                                const Kinds &got, const vyn::board::ErrorCounters &after) {
        const vyn::board::ErrorCounters &before = run.before;
        auto delta = [](uint64_t now, uint64_t then) { return static_cast<int32_t>(now - then); };
        Kinds want;
        int32_t wantState = LoopStateComplete;
        std::string lead = "Loopback test complete, no errors detected.";
        switch (run.fault) {
            case Fault::Unplugged:
                wantState = LoopStateFailed;
                lead = "Loopback test failed, no data characters received";
                break;
            case Fault::Corrupt:
                // A wrong stretch of the data is one data error; the counts say how many
                // characters.
                want.corrupted = delta(after.corrupted, before.corrupted);
                lead = "Loopback test complete, ";
                break;
            case Fault::Framing:
                want.frame = want.lost = delta(after.framingErrors, before.framingErrors);
                lead = "Loopback test complete, " + std::to_string(want.frame) + " receive error";
                break;
            case Fault::Drop: {
                // The drop count restarted when the fault was set: a character lost last leaves
                // no gap behind it.
                int32_t received = delta(after.received, before.received);
                want.lost = delta(after.dropped, before.dropped) -
                            (received % static_cast<int32_t>(run.every) == 0 ? 1 : 0);
                lead = want.lost == 0 ? lead : "Loopback test complete, ";
                break;
            }
            case Fault::Stray:
                want.extra = 2;
                lead = "Loopback test complete, ";
                break;
            case Fault::Stop:
                wantState = LoopStateStopped;
                lead = "Loopback test terminated by user after ";
                break;
            case Fault::KeptSpeed:
                wantState = LoopStateFailed;
                lead = "The port did not take the requested settings: asked " +
                       std::to_string(kKeptSpeedAsked) + " 8N1, it runs " +
                       std::to_string(kKeptSpeed) + " 8N1.";
                break;
            default:
                break;
        }
        if (state != wantState) {
            return "state " + std::to_string(state) + ", not " + std::to_string(wantState);
        }
        if (text.rfind(lead, 0) != 0) {
            return "the result does not begin \"" + lead + "\"";
        }
        if (run.fault == Fault::Stop && text.find(", no errors detected.") == std::string::npos) {
            return "a stopped test with errors";
        }
        // Only a fault that loses characters at the receiver makes receive errors; only one
        // that changes, loses or adds characters makes data errors.
        bool receiveErrors = text.find(" receive error") != std::string::npos;
        bool dataErrors = text.find(" data error") != std::string::npos;
        if (receiveErrors != (run.fault == Fault::Framing && want.frame != 0)) {
            return receiveErrors ? "receive errors without a framing fault" : "no receive errors";
        }
        bool changed = want.corrupted + want.lost + want.extra != 0;
        if (dataErrors != changed) {
            return dataErrors ? "data errors where nothing changed" : "no data errors";
        }
        if (got.corrupted != want.corrupted || got.lost != want.lost || got.extra != want.extra ||
            got.frame != want.frame || got.parity != 0 || got.overruns != 0 || got.breaks != 0) {
            char counts[200];
            std::snprintf(counts, sizeof counts,
                          "counts corrupted %d lost %d extra %d frame %d parity %d overruns %d "
                          "breaks %d, not %d %d %d %d 0 0 0",
                          got.corrupted, got.lost, got.extra, got.frame, got.parity, got.overruns,
                          got.breaks, want.corrupted, want.lost, want.extra, want.frame);
            return counts;
        }
        if (run.fault == Fault::KeptSpeed && after.sent != before.sent) {
            return "characters were sent at a speed the port did not take";
        }
        return "";
    }

    // Takes the fault away again.
    bool Clear(int port, const PortRun &run, std::string &error) {
        std::string settings = KnobOf(run.fault).clear;
        if (!settings.empty() && !rig_.board().Set(Board(port), settings).ok()) {
            error = "the board refused " + settings;
            return false;
        }
        return true;
    }

    AgentRig &rig_;
    std::vector<PortRun> runs_;
    std::map<Fault, int> outcomes_;
    int total_ = 0;
    int mismatches_ = 0;
};

int Usage(const char *program) {
    std::fprintf(stderr, "usage: %s [--seconds N]   (N from 10; default %d)\n", program,
                 kDefaultSeconds);
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    int seconds = kDefaultSeconds;
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word == "--seconds" && i + 1 < argc) {
            char *end = nullptr;
            long value = std::strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != 0 || value < 10 || value > 86400) {
                return Usage(argv[0]);
            }
            seconds = static_cast<int>(value);
        } else {
            return Usage(argv[0]);
        }
    }
    if (std::getenv("VYNLOOP_BIN_DIR") == nullptr) {
        std::string here = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
        setenv("VYNLOOP_BIN_DIR", here.c_str(), 1);
    }
    AgentRig rig("soak", kPorts, {.publishesErrors = true, .remoteAccess = true});
    std::string error;
    if (!rig.Start(error)) {
        return NotMeasured("soak_outcomes", error) ? 0 : 1;
    }
    Soak soak(rig);
    bool ran = soak.Run(seconds, error);
    soak.Report(seconds);
    if (!ran) {
        std::printf("soak: %s\n", error.c_str());
        NotMeasured("soak_mismatches", error);
        return 1;
    }
    bool pass = Verdict("soak_mismatches", soak.mismatches(), Bound::kAtMost, 0, "", 0);
    // Every port meets every fault at least once in a full cycle of tests.
    double floor = static_cast<double>(kPorts * kFaults) * seconds / kDefaultSeconds;
    pass = Verdict("soak_outcomes", soak.total(), Bound::kAtLeast, floor, "", 0) && pass;
    return pass ? 0 : 1;
}
