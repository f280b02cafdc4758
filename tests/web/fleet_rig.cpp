// Racks for the fleet page's browser test: `web_fleet_rig COUNT` starts COUNT private snmpd racks
// (each with vynloop-snmp and a store holding instance "rackN" of two ports) and one address
// where nothing answers, prints "rack ADDRESS" for each and "down ADDRESS", then "ready", and
// ends everything it started once its standard input closes.
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "mml/store.h"
#include "tests/support/snmp_rig.h"

namespace {

using vyn::snmp::test::SnmpRig;

volatile std::sig_atomic_t stopping = 0;
void Stop(int) {
    stopping = 1;
}

struct Rack {
    std::unique_ptr<vyn::test::TempDir> dir;
    std::unique_ptr<SnmpRig> rig;
    std::string instance;
};

bool StartRack(int number, Rack &rack, std::string &why) {
    rack.dir = std::make_unique<vyn::test::TempDir>();
    rack.rig = std::make_unique<SnmpRig>(rack.dir->path());
    rack.instance = "rack" + std::to_string(number);
    vyn::mml::Error error;
    auto store = vyn::mml::Store::Create(rack.rig->StorePath(), error);
    std::vector<vyn::mml::PortDevice> devices{{1, "COM1"}, {2, "COM2"}};
    if (!store || !store->Provision(rack.instance, devices, false, error)) {
        why = error.message;
        return false;
    }
    if (!rack.rig->StartMaster(why)) {
        return false;
    }
    rack.rig->LaunchSubagent();
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    int count = argc == 2 ? std::atoi(argv[1]) : 0;
    if (count < 1) {
        std::cerr << "usage: web_fleet_rig COUNT\n";
        return 2;
    }
    std::signal(SIGTERM, Stop);
    std::signal(SIGINT, Stop);
    std::vector<Rack> racks(count);
    for (int i = 0; i < count; ++i) {
        std::string why;
        if (!StartRack(i, racks[i], why)) {
            std::cerr << "web_fleet_rig: " << why << '\n';
            return 1;
        }
    }
    // Each rig set the environment for its own daemons; the racks are read as the console reads
    // them, each by its address.
    for (Rack &rack : racks) {
        if (!rack.rig->WaitConsoleValue("portLoopState." + rack.instance + ".2", "0")) {
            std::cerr << "web_fleet_rig: " << rack.rig->SubagentLog() << '\n';
            return 1;
        }
        std::cout << "rack " << rack.rig->MasterAddress() << '\n';
    }
    vyn::snmp::test::UdpPort silent;
    std::cout << "down " << silent.Address() << "\nready" << std::endl;
    // Until standard input closes or a stop signal comes, whichever is first.
    char byte = 0;
    while (!stopping) {
        pollfd input{0, POLLIN, 0};
        if (::poll(&input, 1, 200) == 1 && ::read(0, &byte, 1) <= 0) {
            break;
        }
    }
    for (Rack &rack : racks) {
        rack.rig->StopSubagent();
    }
    return 0;
}
