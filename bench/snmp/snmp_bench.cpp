// The SNMP face measured through a private snmpd and vynloop-snmp, with 16 provisioned ports:
//   get   one GET of one object, from the manager's request to its answer: median of 2000
//         (under 1 ms)
//   set   one SET of three objects: median of 300 (under 3 ms)
//   walk  a GETBULK walk of the port table, 16 ports x every column: median of 30 (under 100 ms)
//   idle  the subagent with nothing asked of it for 20 s: processor share (under 0.1% of a
//         core) and its proportional set size (under 8 MiB), with the resident size beside it:
//         the pages of shared libraries (the crypto library Net-SNMP maps at start, the C++
//         runtime) count in PSS only by the share of this process among their users
// Usage: snmp_bench [get|set|walk|idle]...   (none: all of them)
// Every figure is printed as a "result" line (bench/agent/verdict.h); the exit status is 1 when
// a target is missed, 2 on a usage error.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/agent/verdict.h"
#include "bench/proc_stats.h"
#include "mml/store.h"
#include "snmp/layout/object_index.h"
#include "snmp/netsnmp.h"
#include "tests/support/snmp_rig.h"

namespace {

using vyn::bench::Bound;
using vyn::bench::Median;
using vyn::bench::Milliseconds;
using vyn::bench::NotMeasured;
using vyn::bench::PreciseCpuSeconds;
using vyn::bench::RollupKib;
using vyn::bench::Verdict;
using Clock = std::chrono::steady_clock;
namespace snmp = vyn::snmp;

constexpr int kPorts = 16;
constexpr const char *kInstance = "bench";
constexpr int kGets = 2000;
constexpr int kSets = 300;
constexpr int kWalks = 30;
constexpr int kBulkRepetitions = 50;
constexpr auto kIdleWindow = std::chrono::seconds(20);

std::vector<oid> PortObject(std::string_view column, int port) {
    auto named = snmp::FindColumnByName(column);
    return snmp::ToNetSnmp(snmp::ObjectOid({named->table, named->column, {kInstance, port}}));
}

// A manager's SNMPv2c session with the master agent.
class Manager {
  public:
    explicit Manager(const std::string &address) {
        netsnmp_session config;
        snmp_sess_init(&config);
        peer_ = address;
        config.peername = peer_.data();
        config.version = SNMP_VERSION_2c;
        config.community = reinterpret_cast<u_char *>(community_.data());
        config.community_len = community_.size();
        config.timeout = 5000000;
        config.retries = 0;
        session_ = snmp_sess_open(&config);
    }
    ~Manager() {
        if (session_ != nullptr) {
            snmp_sess_close(session_);
        }
    }
    Manager(const Manager &) = delete;
    Manager &operator=(const Manager &) = delete;

    bool open() const { return session_ != nullptr; }

    // Sends `request` and keeps the answer in `answer` (null on failure); false unless the
    // answer came with no error.
    bool Ask(netsnmp_pdu *request, netsnmp_pdu *&answer) {
        answer = nullptr;
        int status = snmp_sess_synch_response(session_, request, &answer);
        return status == STAT_SUCCESS && answer != nullptr && answer->errstat == SNMP_ERR_NOERROR;
    }

  private:
    std::string peer_;
    std::string community_ = "private";
    void *session_ = nullptr;
};

bool Get(Manager &manager) {
    std::vector<double> times;
    std::vector<oid> speed = PortObject("portLoopSpeed", 7);
    for (int i = 0; i < kGets; ++i) {
        netsnmp_pdu *request = snmp_pdu_create(SNMP_MSG_GET);
        snmp_add_null_var(request, speed.data(), speed.size());
        netsnmp_pdu *answer = nullptr;
        auto start = Clock::now();
        bool ok = manager.Ask(request, answer) && answer->variables->type == ASN_INTEGER;
        times.push_back(Milliseconds(Clock::now() - start));
        if (answer != nullptr) {
            snmp_free_pdu(answer);
        }
        if (!ok) {
            return NotMeasured("snmp_get_median", "a GET failed");
        }
    }
    return Verdict("snmp_get_median", Median(times), Bound::kUnder, 1.0, "ms", 3);
}

bool Set(Manager &manager) {
    std::vector<double> times;
    std::vector<oid> speed = PortObject("portLoopSpeed", 3);
    std::vector<oid> dataSize = PortObject("portLoopDataSize", 3);
    std::vector<oid> parity = PortObject("portLoopParity", 3);
    for (int i = 0; i < kSets; ++i) {
        long values[] = {i % 2 == 0 ? 115200L : 9600L, i % 2 == 0 ? 7L : 8L,
                         i % 2 == 0 ? long{ParityEven} : long{ParityNone}};
        netsnmp_pdu *request = snmp_pdu_create(SNMP_MSG_SET);
        snmp_pdu_add_variable(request, speed.data(), speed.size(), ASN_INTEGER, &values[0],
                              sizeof(long));
        snmp_pdu_add_variable(request, dataSize.data(), dataSize.size(), ASN_INTEGER, &values[1],
                              sizeof(long));
        snmp_pdu_add_variable(request, parity.data(), parity.size(), ASN_INTEGER, &values[2],
                              sizeof(long));
        netsnmp_pdu *answer = nullptr;
        auto start = Clock::now();
        bool ok = manager.Ask(request, answer);
        times.push_back(Milliseconds(Clock::now() - start));
        if (answer != nullptr) {
            snmp_free_pdu(answer);
        }
        if (!ok) {
            return NotMeasured("snmp_set3_median", "a SET failed");
        }
    }
    return Verdict("snmp_set3_median", Median(times), Bound::kUnder, 3.0, "ms", 3);
}

// One walk of the port table with GETBULK; the number of objects it gave, -1 on a failure.
int Walk(Manager &manager) {
    const std::vector<oid> table =
        snmp::ToNetSnmp(snmp::ModuleOid({snmp::kObjectsArc, snmp::PortTable().number}));
    std::vector<oid> next = table;
    int objects = 0;
    for (;;) {
        netsnmp_pdu *request = snmp_pdu_create(SNMP_MSG_GETBULK);
        request->non_repeaters = 0;
        request->max_repetitions = kBulkRepetitions;
        snmp_add_null_var(request, next.data(), next.size());
        netsnmp_pdu *answer = nullptr;
        if (!manager.Ask(request, answer)) {
            if (answer != nullptr) {
                snmp_free_pdu(answer);
            }
            return -1;
        }
        bool inside = true;
        for (netsnmp_variable_list *vb = answer->variables; vb != nullptr && inside;
             vb = vb->next_variable) {
            inside = vb->type != SNMP_ENDOFMIBVIEW && vb->name_length > table.size() &&
                     std::equal(table.begin(), table.end(), vb->name);
            if (inside) {
                ++objects;
                next.assign(vb->name, vb->name + vb->name_length);
            }
        }
        snmp_free_pdu(answer);
        if (!inside) {
            return objects;
        }
    }
}

bool Walks(Manager &manager) {
    const int expected = kPorts * static_cast<int>(snmp::PortTable().columns.size());
    std::vector<double> times;
    for (int i = 0; i < kWalks; ++i) {
        auto start = Clock::now();
        int objects = Walk(manager);
        times.push_back(Milliseconds(Clock::now() - start));
        if (objects != expected) {
            return NotMeasured("snmp_walk_median", "a walk gave " + std::to_string(objects) +
                                                       " objects instead of " +
                                                       std::to_string(expected));
        }
    }
    std::printf("walk: %d objects in %d GETBULK requests of %d\n", expected,
                (expected + kBulkRepetitions - 1) / kBulkRepetitions + 1, kBulkRepetitions);
    return Verdict("snmp_walk_median", Median(times), Bound::kUnder, 100.0, "ms", 2);
}

bool Idle(pid_t subagent) {
    double before = PreciseCpuSeconds(subagent);
    auto start = Clock::now();
    std::this_thread::sleep_for(kIdleWindow);
    double used = PreciseCpuSeconds(subagent) - before;
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    long rssKib = vyn::bench::ProcessMemoryKib(subagent, "VmRSS");
    long pssKib = RollupKib(subagent, "Pss");
    if (before < 0 || rssKib < 0 || pssKib < 0) {
        return NotMeasured("snmp_idle_cpu", "the subagent's figures cannot be read");
    }
    std::printf(
        "idle: load average %.2f, resident %ld KiB (peak %ld KiB), proportional %ld KiB, "
        "private %ld KiB\n",
        vyn::bench::LoadAverage(), rssKib, vyn::bench::ProcessMemoryKib(subagent, "VmHWM"), pssKib,
        RollupKib(subagent, "Private_Clean") + RollupKib(subagent, "Private_Dirty"));
    bool cpu = Verdict("snmp_idle_cpu", 100.0 * used / seconds, Bound::kUnder, 0.1, "%core", 4);
    char rss[48];
    std::snprintf(rss, sizeof rss, "(RSS %.2fMiB)", static_cast<double>(rssKib) / 1024.0);
    bool memory = Verdict("snmp_idle_pss", static_cast<double>(pssKib) / 1024.0, Bound::kUnder, 8.0,
                          "MiB", 2, rss);
    return cpu && memory;
}

}  // namespace

int main(int argc, char **argv) {
    const std::set<std::string> known{"get", "set", "walk", "idle"};
    std::set<std::string> wanted(argv + 1, argv + argc);
    for (const std::string &word : wanted) {
        if (!known.contains(word)) {
            std::fprintf(stderr, "usage: snmp_bench [get|set|walk|idle]...\n");
            return 2;
        }
    }
    if (wanted.empty()) {
        wanted = known;
    }
    vyn::test::TempDir dir;
    vyn::snmp::test::SnmpRig rig(dir.path());
    {
        vyn::mml::Error error;
        auto store = vyn::mml::Store::Create(rig.StorePath(), error);
        std::vector<vyn::mml::PortDevice> ports;
        for (int port = 1; port <= kPorts; ++port) {
            ports.push_back({port, "COM" + std::to_string(port)});
        }
        if (!store || !store->Provision(kInstance, ports, false, error)) {
            NotMeasured("snmp_bench", "cannot provision the store: " + error.message);
            return 1;
        }
    }
    std::string why;
    if (!rig.StartMaster(why) || !rig.StartSubagent(why, {})) {  // as installed: its defaults
        NotMeasured("snmp_bench", why);
        return 1;
    }
    init_snmp("vynloop-bench");
    Manager manager(rig.MasterAddress());
    if (!manager.open()) {
        NotMeasured("snmp_bench", "cannot open an SNMP session");
        return 1;
    }
    bool met = true;
    if (wanted.contains("get")) {
        met = Get(manager) && met;
    }
    if (wanted.contains("set")) {
        met = Set(manager) && met;
    }
    if (wanted.contains("walk")) {
        met = Walks(manager) && met;
    }
    if (wanted.contains("idle")) {
        met = Idle(rig.subagentPid()) && met;
    }
    snmp_shutdown("vynloop-bench");
    return met ? 0 : 1;
}
