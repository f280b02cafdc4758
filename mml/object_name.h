// Full object names ("portLoopState.demo.3", "portmodLoopOperating.demo"): parsing, checking and
// the compact identifiers that requests carry.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "mml/vynmall.h"

namespace vyn::mml {

// One object of one instance. `port` is 0 for a module-wide object.
struct ObjectKey {
    std::size_t object = 0;  // position in the dictionary
    std::string instance;
    int port = 0;
};

// Splits and checks a full name: the object is up to the first dot, the port (per-port objects)
// after the last dot, the instance in between. Returns 0 or an MML_OID_ERROR_* code.
int ParseObjectName(std::string_view name, ObjectKey &key);

std::string FullName(const ObjectKey &key);

// An English text for an MML_OID_ERROR_* code, e.g. "unknown object".
std::string_view DescribeNameError(int code);

// Identifiers: word 0 holds the dictionary position + 1 shifted left by 8, or'ed with the port;
// word 1 an instance-name number interned for the life of the process (never 0). A zeroed
// identifier is thus never valid.
MmlOid EncodeOid(const ObjectKey &key);
// False when `oid` was not made by EncodeOid in this process.
bool DecodeOid(const MmlOid &oid, ObjectKey &key);

}  // namespace vyn::mml
