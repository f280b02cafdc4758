// The objects of a remote rack, through its SNMP agent and VYNLOOP-MIB: a store object name
// "portLoopSpeed.demo.3" is the column's OID, the instance name as a length-prefixed OCTET STRING
// index and the port.
#pragma once

#include <memory>
#include <string>

#include "console/access/access_options.h"
#include "console/access/object_access.h"

namespace vyn::console {

// Opens an SNMP session to `remote.host` with the options and the snmp.conf defaults that the
// Net-SNMP tools use. Nothing is sent yet. Null with a one-line reason when the options are bad.
std::unique_ptr<ObjectAccess> OpenSnmpAccess(const RemoteOptions &remote, std::string &reason);

}  // namespace vyn::console
