// The console over SNMP: fleet status over twenty racks of sixteen ports, two of them not
// answering on a one-second time-out, and one refresh of a remote rack's live view (every
// per-port object of sixteen ports).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/agent/verdict.h"
#include "console/access/snmp_access.h"
#include "console/rack/port_snapshot.h"
#include "mml/store.h"
#include "tests/support/process.h"
#include "tests/support/snmp_rig.h"

namespace {

using vyn::bench::Bound;
using vyn::bench::Median;
using vyn::bench::Milliseconds;
using vyn::bench::NotMeasured;
using vyn::bench::Verdict;
using Clock = std::chrono::steady_clock;

constexpr int kRacks = 20;
constexpr int kStopped = 2;
constexpr int kPorts = 16;

struct Rack {
    std::unique_ptr<vyn::test::TempDir> dir;
    std::unique_ptr<vyn::snmp::test::SnmpRig> rig;
};

bool StartRacks(std::vector<Rack> &racks) {
    for (int i = 0; i < kRacks; ++i) {
        Rack rack;
        rack.dir = std::make_unique<vyn::test::TempDir>();
        rack.rig = std::make_unique<vyn::snmp::test::SnmpRig>(rack.dir->path());
        vyn::mml::Error error;
        auto store = vyn::mml::Store::Create(rack.rig->StorePath(), error);
        std::vector<vyn::mml::PortDevice> ports;
        for (int port = 1; port <= kPorts; ++port) {
            ports.push_back({port, "COM" + std::to_string(port)});
        }
        std::string why;
        if (!store || !store->Provision("rack" + std::to_string(i), ports, false, error) ||
            !rack.rig->StartMaster(why)) {
            std::fprintf(stderr, "rack %d: %s%s\n", i, error.message.c_str(), why.c_str());
            return false;
        }
        rack.rig->LaunchSubagent();
        racks.push_back(std::move(rack));
    }
    for (int i = 0; i < kRacks; ++i) {
        std::vector<std::string> get{vyn::test::Program("vynloopctl"),
                                     "--host",
                                     racks[i].rig->MasterAddress(),
                                     "-v",
                                     "2c",
                                     "-c",
                                     vyn::snmp::test::kReadCommunity,
                                     "get",
                                     "portName.rack" + std::to_string(i) + ".16"};
        if (!vyn::test::WaitFor([&get] { return vyn::test::RunProgram(get).out == "COM16\n"; },
                                60000)) {
            std::fprintf(stderr, "rack %d: the subagent did not answer\n", i);
            return false;
        }
    }
    for (int i = 0; i < kStopped; ++i) {
        racks[i * 7 + 3].rig->StopMaster();
    }
    return true;
}

bool FleetStatus(const std::vector<Rack> &racks) {
    std::vector<std::string> argv{
        vyn::test::Program("vynloopctl"), "fleet", "status", "-v", "2c", "-c",
        vyn::snmp::test::kReadCommunity,  "-t",    "1",      "-r", "0"};
    for (const Rack &rack : racks) {
        argv.push_back(rack.rig->MasterAddress());
    }
    std::vector<double> times;
    for (int i = 0; i < 3; ++i) {
        auto start = Clock::now();
        vyn::test::Finished run = vyn::test::RunProgram(argv);
        times.push_back(Milliseconds(Clock::now() - start) / 1000.0);
        std::size_t rows =
            static_cast<std::size_t>(std::count(run.out.begin(), run.out.end(), '\n'));
        std::size_t expected = 1 + (kRacks - kStopped) * kPorts + kStopped;
        if (run.status != 2 || rows != expected) {
            return NotMeasured("snmp_fleet_status",
                               "fleet status gave exit " + std::to_string(run.status) + " and " +
                                   std::to_string(rows) + " lines: " + run.err);
        }
    }
    std::printf("fleet status: %d racks of %d ports, %d not answering (1 s time-out, no retry)\n",
                kRacks, kPorts, kStopped);
    return Verdict("snmp_fleet_status", Median(times), Bound::kUnder, 1.5, "s", 2);
}

bool WatchRefresh(const Rack &rack) {
    vyn::console::RemoteOptions remote;
    remote.host = rack.rig->MasterAddress();
    remote.version = "2c";
    remote.community = vyn::snmp::test::kReadCommunity;
    std::string reason;
    auto objects = vyn::console::OpenSnmpAccess(remote, reason);
    if (!objects) {
        return NotMeasured("snmp_watch_refresh", reason);
    }
    std::vector<int> ports;
    for (int port = 1; port <= kPorts; ++port) {
        ports.push_back(port);
    }
    std::vector<double> times;
    for (int i = 0; i < 30; ++i) {
        std::vector<vyn::console::PortSnapshot> snapshots;
        vyn::mml::Error error;
        auto start = Clock::now();
        if (!vyn::console::ReadSnapshots(*objects, "rack0", ports, snapshots, error)) {
            return NotMeasured("snmp_watch_refresh", error.message);
        }
        times.push_back(Milliseconds(Clock::now() - start));
        if (snapshots.size() != ports.size() || snapshots.back().Device() != "COM16") {
            return NotMeasured("snmp_watch_refresh", "a refresh missed ports");
        }
    }
    std::printf("watch refresh: every per-port object of %d ports in one GETBULK\n", kPorts);
    return Verdict("snmp_watch_refresh", Median(times), Bound::kUnder, 50.0, "ms", 1);
}

}  // namespace

int main() {
    std::vector<Rack> racks;
    bool ok = StartRacks(racks);
    if (ok) {
        ok = FleetStatus(racks);
        ok = WatchRefresh(racks[0]) && ok;
    } else {
        NotMeasured("snmp_fleet_status", "the racks did not start");
    }
    for (Rack &rack : racks) {
        if (rack.rig->subagentPid() > 0) {
            rack.rig->StopSubagent();
        }
    }
    return ok ? 0 : 1;
}
