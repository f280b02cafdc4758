// The options that name a remote rack and how to reach it over SNMP, as the Net-SNMP tools take
// them (--host, -v, -c, -u, -l, -a, -A, -x, -X, -t, -r): one declaration for every program.
#pragma once

#include <CLI/CLI.hpp>

#include "console/access/access_options.h"

namespace vyn::console {

// Adds --host and the SNMP options to `app`, filling `remote`.
void AddRemoteOptions(CLI::App &app, RemoteOptions &remote);

}  // namespace vyn::console
