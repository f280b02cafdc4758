#include "console/rack/fleet_read.h"

#include <fstream>
#include <thread>

#include "console/access/snmp_access.h"

namespace vyn::console {

void ReadRack(Rack &rack) {
    mml::Error error;
    std::vector<std::string> names;
    if (!rack.objects->ListInstances(names, error)) {
        rack.error = error.message;
        return;
    }
    for (const std::string &name : names) {
        RackInstance instance{name, {}};
        std::vector<int> ports;
        if (!rack.objects->ListPorts(name, ports, error) ||
            !ReadSnapshots(*rack.objects, name, ports, instance.ports, error)) {
            rack.error = error.message;
            return;
        }
        rack.instances.push_back(std::move(instance));
    }
}

bool ReadHostsFile(const std::string &path, std::vector<std::string> &hosts, std::string &reason) {
    std::ifstream file(path);
    if (!file) {
        reason = "cannot read the hosts file " + path;
        return false;
    }
    std::string line;
    while (std::getline(file, line)) {
        std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') {
            continue;
        }
        std::size_t last = line.find_last_not_of(" \t\r");
        hosts.push_back(line.substr(first, last - first + 1));
    }
    return true;
}

// Opens a session to every host, one after the other (option parsing is not thread-safe); a
// host whose session cannot be opened keeps the reason and is listed as unreachable.
std::vector<Rack> OpenRacks(const RemoteOptions &remote, const std::vector<std::string> &hosts) {
    std::vector<Rack> racks(hosts.size());
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        RemoteOptions one = remote;
        one.host = hosts[i];
        racks[i].host = hosts[i];
        racks[i].objects = OpenSnmpAccess(one, racks[i].error);
    }
    return racks;
}

// Reads every rack that has a session, each on its own thread.
void ReadRacks(std::vector<Rack> &racks) {
    std::vector<std::jthread> readers;
    for (Rack &rack : racks) {
        if (rack.objects) {
            readers.emplace_back([&rack] { ReadRack(rack); });
        }
    }
}

}  // namespace vyn::console
