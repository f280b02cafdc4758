// Requests to one remote rack: sending a PDU and waiting for its answer, and the one-line wording
// of every way that can fail (no answer, authentication, refusals by object, nothing of the MIB).
#pragma once

// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
// clang-format on

#include <memory>
#include <span>
#include <string>

#include "console/access/snmp_session.h"
#include "mml/store.h"

namespace vyn::console {

struct PduDeleter {
    void operator()(netsnmp_pdu *pdu) const { snmp_free_pdu(pdu); }
};
using PduPtr = std::unique_ptr<netsnmp_pdu, PduDeleter>;

// Fails `error` with `message` as the store would fail a request.
void Failed(mml::Error &error, std::string message);

class SnmpTransport {
  public:
    SnmpTransport(SnmpSession session, std::string host)
        : session_(std::move(session)), host_(std::move(host)) {}

    // HOST:PORT, as messages name the rack.
    const std::string &host() const { return host_; }

    // Sends `pdu` and waits for the answer; false with a reason naming the host, or the object
    // (among `bindings`, in the request's order) that the agent refused.
    bool Exchange(PduPtr pdu, std::span<const mml::Binding> bindings, PduPtr &response,
                  mml::Error &error);

    // Why the host's agent has no such object: either nothing of VYNLOOP-MIB is there (no
    // subagent is connected to it) or its subagent serves an older MIB.
    std::string WhyNotServed();
    // The reason when the host serves nothing of VYNLOOP-MIB.
    std::string NoModule() const;

  private:
    SnmpSession session_;
    std::string host_;
};

// Whether an answered object is one of VYNLOOP-MIB's.
bool InModule(const netsnmp_variable_list *v);

}  // namespace vyn::console
