// What a SET may write: the checks that need nothing but the value and its column (type, size,
// range, enumeration), in the order in which SNMP reports them, and the outcome statuses of a
// whole SET.
#pragma once

#include <cstdint>
#include <string_view>

#include "snmp/layout/mib_layout.h"
#include "snmp/layout/value_codec.h"

namespace vyn::snmp {

// The error statuses that a SET of this module can end with.
enum class SetStatus : uint8_t {
    NoError,
    WrongType,            // not the column's syntax
    WrongLength,          // an octet string of a size the column does not take
    WrongValue,           // a value the column never takes
    NotWritable,          // a read-only column, or no column at all
    NoCreation,           // a row that is not provisioned: rows are not created over SNMP
    InconsistentValue,    // a value that the port cannot take now (see VYNLOOP-MIB)
    ResourceUnavailable,  // the store stayed busy
    GenErr,               // the store failed
};

std::string_view SetStatusName(SetStatus status);

// NoError when `value` may be written to `column` as far as the value alone goes.
SetStatus CheckSetValue(const Column &column, const VarbindValue &value);

}  // namespace vyn::snmp
