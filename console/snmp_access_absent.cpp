// A console built without Net-SNMP (the Windows build) works on the local store only.
#include "console/snmp_access.h"

namespace vyn::console {

std::unique_ptr<ObjectAccess> OpenSnmpAccess(const RemoteOptions &remote, std::string &reason) {
    reason = "--host " + remote.host +
             ": this vynloopctl is built without SNMP; reach remote racks with a vynloopctl "
             "that has it (the Linux build)";
    return nullptr;
}

}  // namespace vyn::console
