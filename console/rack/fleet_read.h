// Many racks read at once over SNMP: every instance and port of each, each rack on its own
// session and thread, so that racks that do not answer cost one time-out in all, not one each.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "console/access/access_options.h"
#include "console/access/object_access.h"
#include "console/rack/port_snapshot.h"

namespace vyn::console {

struct RackInstance {
    std::string instance;
    std::vector<PortSnapshot> ports;
};

struct Rack {
    std::string host;
    std::unique_ptr<ObjectAccess> objects;  // null when no session could be opened
    std::string error;                      // empty when the rack answered
    std::vector<RackInstance> instances;
};

// Every instance of the rack and every port of each; on failure `rack.error` says why.
void ReadRack(Rack &rack);

// Appends the hosts of a file, one a line ('#' comments, blank lines skipped). False with the
// reason when it cannot be read.
bool ReadHostsFile(const std::string &path, std::vector<std::string> &hosts, std::string &reason);

// Opens a session to every host, one after the other (option parsing is not thread-safe); a
// host whose session cannot be opened keeps the reason and is listed as unreachable.
std::vector<Rack> OpenRacks(const RemoteOptions &remote, const std::vector<std::string> &hosts);

// Reads every rack that has a session, each on its own thread.
void ReadRacks(std::vector<Rack> &racks);

}  // namespace vyn::console
