// Net-SNMP's agent library, included in the order it requires. Only the files that talk to
// Net-SNMP include this; the rest of the subagent does not see its macros.
#pragma once

// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>
#include <net-snmp/agent/agent_callbacks.h>
// clang-format on

#include "snmp/layout/mib_layout.h"

namespace vyn::snmp {

inline std::vector<oid> ToNetSnmp(const Oid &value) {
    return std::vector<oid>(value.begin(), value.end());
}

inline Oid FromNetSnmp(const oid *name, size_t length) {
    Oid value;
    value.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        value.push_back(static_cast<SubId>(name[i]));
    }
    return value;
}

}  // namespace vyn::snmp
