#include "snmp/set_check.h"

#include <algorithm>

#include "mml/dictionary.h"

namespace vyn::snmp {

namespace {

SetStatus CheckInteger(const Column &column, int64_t value) {
    if (!column.words.empty()) {
        if (!vocabulary::WordOf(column.words, static_cast<int32_t>(value)) ||
            value != static_cast<int32_t>(value)) {
            return SetStatus::WrongValue;
        }
        if (!column.settable.empty() && std::find(column.settable.begin(), column.settable.end(),
                                                  value) == column.settable.end()) {
            return SetStatus::WrongValue;
        }
        return SetStatus::NoError;
    }
    return value < column.low || value > column.high ? SetStatus::WrongValue : SetStatus::NoError;
}

SetStatus CheckOctets(const Column &column, std::string_view octets) {
    if (static_cast<int64_t>(octets.size()) < column.low ||
        static_cast<int64_t>(octets.size()) > column.high) {
        return SetStatus::WrongLength;
    }
    if (column.content == Content::DeviceName && !mml::IsValidDeviceName(octets)) {
        return SetStatus::WrongValue;
    }
    return SetStatus::NoError;
}

}  // namespace

std::string_view SetStatusName(SetStatus status) {
    switch (status) {
        case SetStatus::NoError:
            return "noError";
        case SetStatus::WrongType:
            return "wrongType";
        case SetStatus::WrongLength:
            return "wrongLength";
        case SetStatus::WrongValue:
            return "wrongValue";
        case SetStatus::NotWritable:
            return "notWritable";
        case SetStatus::NoCreation:
            return "noCreation";
        case SetStatus::InconsistentValue:
            return "inconsistentValue";
        case SetStatus::ResourceUnavailable:
            return "resourceUnavailable";
        case SetStatus::GenErr:
            return "genErr";
    }
    return "genErr";
}

SetStatus CheckSetValue(const Column &column, const VarbindValue &value) {
    if (column.access != Access::ReadWrite) {
        return SetStatus::NotWritable;
    }
    switch (column.syntax) {
        case Syntax::Integer:
            return value.kind != VarbindValue::Kind::Integer ? SetStatus::WrongType
                                                             : CheckInteger(column, value.integer);
        case Syntax::Octets:
            return value.kind != VarbindValue::Kind::Octets ? SetStatus::WrongType
                                                            : CheckOctets(column, value.octets);
        case Syntax::Unsigned:
            return SetStatus::NotWritable;  // only counters and rates are Unsigned32
    }
    return SetStatus::GenErr;
}

}  // namespace vyn::snmp
