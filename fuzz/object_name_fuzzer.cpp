// Object names as anybody may write them. A name is refused with one of the named codes, or its
// key writes back to a full name that parses to the same key; the C call agrees with the parser
// and its identifier decodes to that key.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "mml/dictionary.h"
#include "mml/object_name.h"
#include "mml/vynmall.h"

namespace {

using vyn::mml::ObjectKey;

bool SameKey(const ObjectKey &a, const ObjectKey &b) {
    return a.object == b.object && a.instance == b.instance && a.port == b.port;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    std::string_view name(reinterpret_cast<const char *>(data), size);
    ObjectKey key;
    int code = vyn::mml::ParseObjectName(name, key);
    FUZZ_CHECK(code >= 0 && code <= MML_OID_ERROR_BAD_PORT && code != MML_OID_ERROR_NULL);
    FUZZ_CHECK(!vyn::mml::DescribeNameError(code).empty() || code == 0);
    if (code == 0) {
        FUZZ_CHECK(key.object < vyn::mml::Dictionary().size());
        FUZZ_CHECK(vyn::mml::IsValidInstance(key.instance));
        bool perPort = vyn::mml::Dictionary()[key.object].scope == vyn::mml::Scope::PerPort;
        FUZZ_CHECK(perPort ? key.port >= vyn::mml::kFirstPort && key.port <= vyn::mml::kLastPort
                           : key.port == 0);
        ObjectKey again;
        FUZZ_CHECK(vyn::mml::ParseObjectName(vyn::mml::FullName(key), again) == 0);
        FUZZ_CHECK(SameKey(key, again));
    }
    // The C call reads up to the first NUL.
    std::string terminated(name);
    ObjectKey cKey;
    int cCode = vyn::mml::ParseObjectName(terminated.c_str(), cKey);
    MmlOid oid{};
    FUZZ_CHECK(MMLStrToMMLOid(terminated.c_str(), &oid) == cCode);
    if (cCode == 0) {
        ObjectKey decoded;
        FUZZ_CHECK(vyn::mml::DecodeOid(oid, decoded));
        FUZZ_CHECK(SameKey(decoded, cKey));
    }
    return 0;
}
