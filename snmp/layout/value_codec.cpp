#include "snmp/layout/value_codec.h"

// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
// clang-format on

namespace vyn::snmp {

VarbindValue ReadVarbind(const variable_list &varbind) {
    VarbindValue value;
    switch (varbind.type) {
        case ASN_INTEGER:
            value.kind = VarbindValue::Kind::Integer;
            value.integer = varbind.val.integer != nullptr ? *varbind.val.integer : 0;
            break;
        case ASN_UNSIGNED:  // also Gauge32
        case ASN_COUNTER:
            value.kind = VarbindValue::Kind::Unsigned;
            value.integer = varbind.val.integer != nullptr ? *varbind.val.integer : 0;
            break;
        case ASN_OCTET_STR:
            value.kind = VarbindValue::Kind::Octets;
            value.octets = std::string_view(reinterpret_cast<const char *>(varbind.val.string),
                                            varbind.val.string != nullptr ? varbind.val_len : 0);
            break;
        default:
            break;
    }
    return value;
}

std::optional<mml::Value> StoreValue(const VarbindValue &value) {
    switch (value.kind) {
        case VarbindValue::Kind::Integer:
        case VarbindValue::Kind::Unsigned:
            // The same 32 bits that the store keeps.
            return mml::Value::Integer(static_cast<int32_t>(value.integer));
        case VarbindValue::Kind::Octets:
            return mml::Value::Octets(value.octets);
        case VarbindValue::Kind::Other:
            break;
    }
    return std::nullopt;
}

bool WriteVarbind(variable_list &varbind, const Column &column, const mml::Value &value) {
    switch (column.syntax) {
        case Syntax::Integer: {
            if (value.type != MML_TYPE_INTEGER) {
                return false;
            }
            long integer = value.integer;
            return snmp_set_var_typed_value(&varbind, ASN_INTEGER, &integer, sizeof integer) == 0;
        }
        case Syntax::Unsigned: {
            if (value.type != MML_TYPE_INTEGER) {
                return false;
            }
            u_long count = static_cast<uint32_t>(value.integer);
            return snmp_set_var_typed_value(&varbind, ASN_UNSIGNED, &count, sizeof count) == 0;
        }
        case Syntax::Octets:
            return value.type == MML_TYPE_OCTETS &&
                   snmp_set_var_typed_value(&varbind, ASN_OCTET_STR, value.text.data(),
                                            value.text.size()) == 0;
    }
    return false;
}

}  // namespace vyn::snmp
