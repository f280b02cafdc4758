// An instance opened for a command: its store and every provisioned port as it stands, and the
// ports that the command line names (by number or by device name).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "console/command_set.h"
#include "console/rack/port_snapshot.h"
#include "console/rack/test_settings.h"
#include "mml/store.h"

namespace vyn::console {

struct InstanceView {
    std::string instance;
    std::unique_ptr<ObjectAccess> objects;  // the local store or the remote rack
    std::vector<PortSnapshot> ports;        // every provisioned port, ascending

    const PortSnapshot *Find(int port) const;
    std::vector<int> Numbers() const;
    // Reads every provisioned port again.
    bool Refresh(mml::Error &error);
};

// Checks the instance name, opens the store and reads every provisioned port. On failure prints
// the reason (an instance without ports is not provisioned) and returns kExitFailure.
int OpenInstance(const GlobalOptions &globals, const std::string &instance, InstanceView &view);

// "PORT" words: a number 1 to 16 or a device name, each a provisioned port, none twice.
bool SelectPorts(const InstanceView &view, const std::vector<std::string> &words,
                 std::vector<int> &ports, std::string &reason);

// Opens the instance and selects the ports that the command line names for a test request:
// each must be free (no test underway) and able to run with `settings`. Returns kExitSuccess,
// or the failure's status after printing why.
int OpenPortsForRequest(const GlobalOptions &globals, const std::string &instance,
                        const std::vector<std::string> &words, const TestSettings &settings,
                        InstanceView &view, std::vector<int> &ports);

}  // namespace vyn::console
