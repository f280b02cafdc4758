// The one translation between SNMP varbinds and the store's values, for the subagent and for
// whoever reads a rack over SNMP: a varbind's value as it came, the store value it stands for,
// and a stored value put into a varbind with its column's syntax.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "mml/store.h"
#include "snmp/layout/mib_layout.h"

// Net-SNMP's varbind (netsnmp_variable_list); only the codec's source sees Net-SNMP's headers.
struct variable_list;

namespace vyn::snmp {

// A varbind's value as it travelled.
struct VarbindValue {
    enum class Kind : uint8_t { Integer, Unsigned, Octets, Other };
    Kind kind = Kind::Other;
    int64_t integer = 0;      // Integer and Unsigned (Unsigned32, Gauge32, Counter32)
    std::string_view octets;  // Octets; points into the varbind
};

VarbindValue ReadVarbind(const variable_list &varbind);

// The store's value for a varbind value: an integer of either kind as the store's 32 bits, octets
// as they are; nothing for any other kind.
std::optional<mml::Value> StoreValue(const VarbindValue &value);

// Puts a stored value into `varbind` with the column's syntax; false when the value is of another
// type than the column's.
bool WriteVarbind(variable_list &varbind, const Column &column, const mml::Value &value);

}  // namespace vyn::snmp
