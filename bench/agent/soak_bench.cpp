// Sixteen ports of the virtual board tested back to back for a long stretch (300 s unless told),
// each test with the next fault of a cycle: none, the plug pulled, corruption, framing errors,
// characters dropped, stray characters, a port the remote access service holds, a stop request,
// and a port that keeps another speed. Speeds cycle through 9600, 115200 and 921600.
// The run goes in rounds of 50 s. In each, another program holds the store's write lock for 8 s
// while tests run (longer than anyone's busy time-out). After each the ports are left to finish,
// and the agent's and the board's memory and descriptors are read while nothing runs. Every
// second round ends with the agent restarted in the middle of sixteen tests, alternately with
// SIGTERM (its final reports) and SIGKILL (a crash, which the next agent must clear up).
//
// Every outcome must be its fault's and no other: its loop state, its result text, and its counts
// by kind equal to what the board injected in that test (nothing where it injected nothing),
// also for the tests that ran while the store was held. A test cut short by SIGTERM fails with
// the agent's report; one cut short by SIGKILL ends, failed, once the next agent is up. After the
// run the store must hold together (tests/support/store_invariants.h).
// Prints the outcomes by fault, each mismatch as it is found, memory and descriptors at the
// start and the end of each agent's life and of the board's, and result lines: the mismatches
// (target 0), the outcomes (at least one per port and fault on a full run), the growth of
// resident memory after the first round (at most 2 MiB) and of descriptors (none), and the
// store's problems (none). The first round is the warm-up: the allocator's pools, the store's
// page cache and the ports' buffers reach their working sizes there, once. Memory and
// descriptors are read once the threads of the tests that just ended have gone. A last line sums
// it up: outcomes, wrong ones, memory and descriptors before any test, after the first round and
// at the end, and PASS or FAIL.
// Usage: soak_bench [--seconds N]
#include <signal.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/agent/agent_rig.h"
#include "bench/agent/verdict.h"
#include "bench/proc_stats.h"
#include "mml/vocabulary.h"
#include "tests/support/store_invariants.h"

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
// Rounds, the store held in each, and the agent restarted after every second one.
constexpr int kRoundSeconds = 50;
constexpr int kHoldAtSeconds = 15;
constexpr int kHoldSeconds = 8;
constexpr int kRestartEvery = 2;
constexpr int kRestartTestSeconds = 30;
constexpr int kRecoverLimitMs = 20000;
// Memory may settle after the first round (allocator pools, the store's page cache); beyond
// that it stays within this, and descriptors stay as they were.
constexpr long kRssGrowthLimitKib = 2048;
// How long a sample waits for the threads of the tests that just ended to go.
constexpr int kSettleLimitMs = 10000;

enum class Fault {
    None,
    Unplugged,
    Corrupt,
    Framing,
    Drop,
    Stray,
    Held,
    Stop,
    KeptSpeed,
    AgentTerminated,  // the agent ended with SIGTERM mid-test, then started again
    AgentKilled,      // the agent killed with SIGKILL mid-test, then started again
};
constexpr Fault kCycle[] = {Fault::None,    Fault::Unplugged, Fault::Corrupt,
                            Fault::Framing, Fault::Drop,      Fault::Stray,
                            Fault::Held,    Fault::Stop,      Fault::KeptSpeed};
constexpr std::size_t kFaults = sizeof kCycle / sizeof kCycle[0];
constexpr Fault kRestarts[] = {Fault::AgentTerminated, Fault::AgentKilled};

const char *FaultName(Fault fault) {
    static const char *const kNames[] = {"none",      "unplugged", "corrupt", "framing",
                                         "drop",      "stray",     "held",    "stop",
                                         "keepspeed", "sigterm",   "sigkill"};
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
        {"", "", 0},
        {"", "", 0},
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
    bool storeHeld = false;  // another program held the store's write lock during the test
    Clock::time_point started;
    vyn::board::ErrorCounters before;
};

struct Kinds {
    int32_t corrupted = 0, lost = 0, extra = 0, frame = 0, parity = 0, overruns = 0, breaks = 0;
};

// Another program holding the store's write lock: a connection of its own begins a write
// transaction and keeps it for a while, on a thread of its own.
class StoreHold {
  public:
    ~StoreHold() { Join(); }

    // Returns once the lock is held, or the attempt failed (see Join).
    void Start(const std::string &path, int seconds) {
        Join();
        done_ = false;
        thread_ = std::thread([this, path, seconds] { Hold(path, seconds); });
        while (!active_ && !done_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    bool Active() const { return active_; }
    bool Started() const { return thread_.joinable(); }
    // Waits for the hold to end; false with the reason when it could not be taken.
    bool Join(std::string *error = nullptr) {
        if (thread_.joinable()) {
            thread_.join();
        }
        if (error != nullptr && !failure_.empty()) {
            *error = failure_;
            return false;
        }
        return true;
    }

  private:
    void Hold(const std::string &path, int seconds) {
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
            sqlite3_busy_timeout(db, 30000) != SQLITE_OK ||
            sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
            failure_ = "cannot hold the store: " + std::string(sqlite3_errmsg(db));
        } else {
            active_ = true;
            std::this_thread::sleep_for(std::chrono::seconds(seconds));
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
            active_ = false;
        }
        sqlite3_close(db);
        done_ = true;
    }

    std::thread thread_;
    std::atomic<bool> active_{false};  // the lock is held
    std::atomic<bool> done_{false};    // the thread has finished
    std::string failure_;              // written by the thread, read after it is joined
};

// Memory and descriptors of a process, read while no test runs, over one life of it.
class Footprint {
  public:
    explicit Footprint(const char *who) : who_(who) {}

    // The figures before any test, for the summary: what the first round's warm-up added shows
    // as the difference to the first sample of the first life. Its threads are the process's
    // own, with no test's.
    void TakeStart(pid_t pid) {
        start_ = Read(pid);
        idleThreads_ = vyn::bench::ProcessThreads(pid);
    }
    // A sample once the threads of the tests that just ended have gone (a test's last thread
    // still closes its descriptors for a moment after its result is published).
    void Take(pid_t pid) {
        vyn::test::WaitFor([&] { return vyn::bench::ProcessThreads(pid) <= idleThreads_; },
                           kSettleLimitMs);
        samples_.push_back(Read(pid));
        last_ = samples_.back();
        if (firstOfRun_.rssKib < 0) {
            firstOfRun_ = last_;
        }
    }
    // "resident S -> F -> E KiB, descriptors ...": before any test, after the first round, at
    // the end.
    std::string Summary() const {
        char text[200];
        std::snprintf(text, sizeof text,
                      "%s resident %ld -> %ld -> %ld KiB, descriptors %d -> %d -> %d", who_,
                      start_.rssKib, firstOfRun_.rssKib, last_.rssKib, start_.fds, firstOfRun_.fds,
                      last_.fds);
        return text;
    }
    // Prints the life and keeps its growth from its first sample (taken after one round) to its
    // last; lives with a single sample tell nothing.
    void EndLife() {
        if (samples_.size() >= 2) {
            const Sample &first = samples_.front(), &last = samples_.back();
            std::printf(
                "%s, life %d: resident %ld -> %ld KiB, descriptors %d -> %d (%zu samples)\n", who_,
                ++lives_, first.rssKib, last.rssKib, first.fds, last.fds, samples_.size());
            rssGrowth_ = std::max(rssGrowth_, last.rssKib - first.rssKib);
            fdGrowth_ = std::max(fdGrowth_, last.fds - first.fds);
            measured_ = measured_ || (first.rssKib >= 0 && first.fds >= 0);
        }
        samples_.clear();
    }
    bool Judge() const {
        std::string rss = std::string("soak_") + who_ + "_rss_growth";
        std::string fds = std::string("soak_") + who_ + "_fd_growth";
        if (!measured_) {
            vyn::bench::NotMeasured(rss, "no life of two rounds");
            return vyn::bench::NotMeasured(fds, "no life of two rounds");
        }
        bool pass = Verdict(rss, static_cast<double>(rssGrowth_), Bound::kAtMost,
                            kRssGrowthLimitKib, "KiB", 0);
        return Verdict(fds, fdGrowth_, Bound::kAtMost, 0, "", 0) && pass;
    }

  private:
    struct Sample {
        long rssKib = -1;
        int fds = -1;
    };
    static Sample Read(pid_t pid) {
        return {vyn::bench::ProcessMemoryKib(pid, "VmRSS"), vyn::bench::ProcessDescriptors(pid)};
    }
    const char *who_;
    Sample start_, firstOfRun_, last_;
    int idleThreads_ = 0;
    std::vector<Sample> samples_;
    int lives_ = 0;
    long rssGrowth_ = 0;
    int fdGrowth_ = 0;
    bool measured_ = false;
};

// Ctrl-C or SIGTERM ends the soak early, as if its time were up: the tests running end, the
// figures so far are printed, and the board and the agent are stopped.
std::atomic<bool> interrupted{false};

void Interrupt(int) {
    interrupted = true;
}

bool Going(Clock::time_point until) {
    return !interrupted && Clock::now() < until;
}

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
        agent_.TakeStart(rig_.agentPid());
        board_.TakeStart(rig_.boardPid());
        Clock::time_point begin = Clock::now();
        Clock::time_point end = begin + std::chrono::seconds(seconds);
        for (int round = 1; Going(end); ++round) {
            Clock::time_point start = Clock::now();
            if (!Cycle(std::min(end, start + std::chrono::seconds(kRoundSeconds)),
                       start + std::chrono::seconds(kHoldAtSeconds), error)) {
                return false;
            }
            agent_.Take(rig_.agentPid());
            board_.Take(rig_.boardPid());
            std::printf("round %d ended at %.0f s, %d outcomes so far\n", round,
                        std::chrono::duration<double>(Clock::now() - begin).count(), total_);
            std::fflush(stdout);
            if (round % kRestartEvery == 0 && Going(end) &&
                !Restart(kRestarts[(round / kRestartEvery - 1) % 2], error)) {
                return false;
            }
        }
        agent_.EndLife();
        board_.EndLife();
        return true;
    }

    void Report(int seconds) const {
        std::printf("outcomes by fault (%d s, %d ports, %d s tests):\n", seconds, kPorts,
                    kTestSeconds);
        std::vector<Fault> faults(std::begin(kCycle), std::end(kCycle));
        faults.insert(faults.end(), std::begin(kRestarts), std::end(kRestarts));
        for (Fault fault : faults) {
            auto found = outcomes_.find(fault);
            auto wrong = wrong_.find(fault);
            std::printf("  %-10s %5d  (%d not its fault's)\n", FaultName(fault),
                        found == outcomes_.end() ? 0 : found->second,
                        wrong == wrong_.end() ? 0 : wrong->second);
        }
        std::printf("  %-10s %5d, %d of them not their fault's\n", "all", total_, mismatches_);
        std::printf("  while another program held the store: %d, %d of them not their fault's\n",
                    heldTotal_, heldMismatches_);
    }

    int total() const { return total_; }
    int mismatches() const { return mismatches_; }
    const Footprint &agent() const { return agent_; }
    const Footprint &board() const { return board_; }

  private:
    std::string Board(int port) const { return "COM" + std::to_string(port); }

    // Tests back to back until `until`, the store held from `holdAt` for a while; then waits
    // for the tests to end and for the hold to be over.
    bool Cycle(Clock::time_point until, Clock::time_point holdAt, std::string &error) {
        StoreHold hold;
        for (;;) {
            bool starting = Going(until);
            if (starting && !hold.Started() && Clock::now() >= holdAt) {
                hold.Start(rig_.storePath(), kHoldSeconds);
            }
            bool busy = false;
            for (int port = 1; port <= kPorts; ++port) {
                PortRun &run = runs_[port - 1];
                if (!run.running && starting && !Begin(port, run, error)) {
                    return false;
                }
                run.storeHeld = run.storeHeld || (run.running && hold.Active());
                if (run.running && !Look(port, run, error)) {
                    return false;
                }
                busy = busy || run.running;
            }
            if (!starting && !busy) {
                return hold.Join(&error);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        }
    }

    // Sixteen long tests, the agent ended with `fault`'s signal once each has data going, and a
    // new agent started. With SIGTERM each test has its final report before the agent is gone;
    // after SIGKILL the new agent must end them.
    bool Restart(Fault fault, std::string &error) {
        std::vector<std::pair<std::string, int32_t>> request;
        for (int port = 1; port <= kPorts; ++port) {
            runs_[port - 1].fault = fault;
            runs_[port - 1].speed = 115200;
            for (auto [object, value] : {std::pair<const char *, int32_t>{"portLoopSpeed", 115200},
                                         {"portLoopTime", kRestartTestSeconds},
                                         {"portLoopMode", LoopModeInternal},
                                         {"portRasStatus", RasStatusNoBorrow},
                                         {"portLoopState", LoopStateRequested}}) {
                request.emplace_back(rig_.Name(object, port), value);
            }
        }
        if (!rig_.Set(request, error)) {
            return false;
        }
        // Running on every port, and data received since: an agent publishes the state and its
        // counters cleared together, so an earlier test's count cannot pass for this one's.
        std::vector<int32_t> running;
        std::vector<int32_t> received;
        auto flowing = [&] {
            return rig_.GetOnAllPorts("portLoopState", running, error) &&
                   std::all_of(running.begin(), running.end(),
                               [](int32_t state) { return state == LoopStateRunning; }) &&
                   rig_.GetOnAllPorts("portLoopRxTotal", received, error) &&
                   std::all_of(received.begin(), received.end(), [](int32_t n) { return n > 0; });
        };
        if (!vyn::test::WaitFor(flowing, kEndLimitMs)) {
            error = error.empty() ? "the restart's tests did not all start" : error;
            return false;
        }
        if (!rig_.RestartAgent(fault == Fault::AgentTerminated ? SIGTERM : SIGKILL, error)) {
            return false;
        }
        agent_.EndLife();
        std::vector<int32_t> states;
        vyn::test::WaitFor(
            [&] {
                return rig_.GetOnAllPorts("portLoopState", states, error) &&
                       std::all_of(states.begin(), states.end(), vyn::bench::TestEnded);
            },
            kRecoverLimitMs);
        if (!error.empty()) {
            return false;
        }
        for (int port = 1; port <= kPorts; ++port) {
            std::vector<int32_t> state{states[port - 1]};
            std::string text;
            if (!error.empty() || !rig_.GetText(rig_.Name("portLoopStopErr", port), text, error)) {
                return false;
            }
            std::string why;
            if (state[0] != LoopStateFailed) {
                why = "state " + std::to_string(state[0]) + " " +
                      std::to_string(kRecoverLimitMs / 1000) + " s after the restart, not " +
                      std::to_string(LoopStateFailed);
            } else if (fault == Fault::AgentTerminated &&
                       text.rfind("Loopback test terminated due to errors after ", 0) != 0) {
                why = "not the report of a test cut short";
            } else if (text.empty()) {
                why = "no result";
            }
            Count(port, runs_[port - 1], state[0], text, why);
        }
        return true;
    }

    void Count(int port, const PortRun &run, int32_t state, const std::string &text,
               const std::string &why) {
        ++outcomes_[run.fault];
        ++total_;
        heldTotal_ += run.storeHeld ? 1 : 0;
        if (!why.empty()) {
            ++mismatches_;
            ++wrong_[run.fault];
            heldMismatches_ += run.storeHeld ? 1 : 0;
            std::printf("mismatch: port %d, %s at %d%s: %s (state %d, \"%s\")\n", port,
                        FaultName(run.fault), run.speed,
                        run.storeHeld ? " while the store was held" : "", why.c_str(), state,
                        text.c_str());
            std::fflush(stdout);
        }
    }

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
        run.storeHeld = false;
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
            // A test that never ends is a wrong outcome too; the port is asked to stop and the
            // soak goes on with its next test.
            Count(port, run, state[0], "",
                  "no end " + std::to_string(kEndLimitMs / 1000) + " s after the request");
            run.running = false;
            return rig_.Set({{rig_.Name("portLoopState", port), LoopStateStopping}}, error) &&
                   Clear(port, run, error);
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
        Count(port, run, state, text, Mismatch(run, state, text, got, counters.value));
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
    std::map<Fault, int> wrong_;
    int total_ = 0;
    int mismatches_ = 0;
    int heldTotal_ = 0;
    int heldMismatches_ = 0;
    Footprint agent_{"agent"};
    Footprint board_{"board"};
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
    std::signal(SIGINT, Interrupt);
    std::signal(SIGTERM, Interrupt);
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
    pass = soak.agent().Judge() && pass;
    pass = soak.board().Judge() && pass;
    std::vector<std::string> problems = vyn::test::CheckStoreInvariants(rig.storePath());
    for (const std::string &problem : problems) {
        std::printf("store: %s\n", problem.c_str());
    }
    pass = Verdict("soak_store_problems", static_cast<double>(problems.size()), Bound::kAtMost, 0,
                   "", 0) &&
           pass;
    std::printf("soak: %d outcomes, %d wrong; %s; %s: %s\n", soak.total(), soak.mismatches(),
                soak.agent().Summary().c_str(), soak.board().Summary().c_str(),
                pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}
