// A Net-SNMP session to one remote rack, opened with the options and the snmp.conf files and
// environment that the Net-SNMP tools use.
#pragma once

#include <memory>
#include <string>

#include "console/access/access_options.h"

namespace vyn::console {

struct SessionCloser {
    void operator()(void *session) const;
};
// The library's single-session handle.
using SnmpSession = std::unique_ptr<void, SessionCloser>;

// Opens a session to `remote.host`; nothing is sent yet. Null with a one-line reason when the
// options are bad or the session cannot be opened.
SnmpSession OpenSnmpSession(const RemoteOptions &remote, std::string &reason);

// HOST[:PORT] as messages name it: with the standard port when none is given.
std::string HostAndPort(const std::string &host);

}  // namespace vyn::console
