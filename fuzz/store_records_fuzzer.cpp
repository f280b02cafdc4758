// The store's request records as any caller of the C interface may fill them: any request type,
// count, identifier (made by the library or not), value type, length and bytes. A request is
// served with an SNMPv1 answer or refused with a named failure; a set that was served reads back
// exactly as written; nothing that was refused changes anything.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "mml/dictionary.h"
#include "mml/store.h"
#include "mml/vocabulary.h"
#include "mml/vynmall.h"

namespace {

constexpr const char *kInstance = "fz";
constexpr uint32_t kMaxRecords = 64;

struct Fixture {
    std::string dir;
    MmlSessionHandle session = 0;
    std::vector<MmlOid> oids;  // every object of ports 1 and 2 (provisioned) and 3 (not)
};

Fixture *fixture = nullptr;

void RemoveFixture() {
    if (fixture != nullptr) {
        MMLTerminate(fixture->session);
        std::error_code ignored;
        std::filesystem::remove_all(fixture->dir, ignored);
    }
}

bool Setup() {
    std::string pattern = std::filesystem::temp_directory_path() / "vynfuzz.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        return false;
    }
    fixture = new Fixture{pattern, 0, {}};
    std::string path = fixture->dir + "/mib.db";
    // Ports name devices that do not exist here, so every value is the store's own.
    setenv("VYNLOOP_MIB", path.c_str(), 1);
    setenv("VYNLOOP_DEVDIR", fixture->dir.c_str(), 1);
    vyn::mml::Error error;
    auto store = vyn::mml::Store::Create(path, error);
    std::vector<vyn::mml::PortDevice> ports = {{1, "ttyF1"}, {2, "ttyF2"}};
    if (!store || !store->Provision(kInstance, ports, false, error) ||
        MMLInitialize(1, 0, 0, 0, 0, &fixture->session) != 0) {
        return false;
    }
    // After the library's first session, so that this runs before the library's tables go.
    std::atexit(RemoveFixture);
    for (const vyn::mml::ObjectDef &def : vyn::mml::Dictionary()) {
        std::string module = std::string(def.name) + "." + kInstance;
        for (int port = 1; port <= 3; ++port) {
            std::string name = def.scope == vyn::mml::Scope::PerPort
                                   ? module + "." + std::to_string(port)
                                   : module;
            MmlOid oid{};
            if (MMLStrToMMLOid(name.c_str(), &oid) == 0) {
                fixture->oids.push_back(oid);
            }
            if (def.scope != vyn::mml::Scope::PerPort) {
                break;
            }
        }
    }
    return !fixture->oids.empty();
}

MmlOid PickOid(FuzzedDataProvider &input) {
    if (input.ConsumeIntegralInRange<int>(0, 15) == 0) {
        return MmlOid{{input.ConsumeIntegral<uint32_t>(), input.ConsumeIntegral<uint32_t>()}};
    }
    return fixture->oids[input.ConsumeIntegralInRange<std::size_t>(0, fixture->oids.size() - 1)];
}

bool SameOid(const MmlOid &a, const MmlOid &b) {
    return a.words[0] == b.words[0] && a.words[1] == b.words[1];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    if (fixture == nullptr && !Setup()) {
        std::fprintf(stderr, "cannot set up the store\n");
        std::abort();
    }
    FuzzedDataProvider input(data, size);
    int32_t type = input.PickValueInArray<int32_t>(
        {MML_REQUEST_GET, MML_REQUEST_SET, MML_REQUEST_SET, input.ConsumeIntegral<int32_t>()});
    uint32_t count = input.ConsumeIntegralInRange<uint32_t>(0, kMaxRecords + 2);
    // Texts the records point at; the caller owns them.
    std::vector<std::string> texts(count);
    MmlVarBindList list{static_cast<MmlVarBind *>(MMLAlloc(sizeof(MmlVarBind) * (count + 1))),
                        count};
    for (uint32_t i = 0; i < count; ++i) {
        MmlVarBind &record = list.list[i];
        record.oid = PickOid(input);
        record.type = input.PickValueInArray<uint8_t>(
            {MML_TYPE_INTEGER, MML_TYPE_OCTETS, MML_TYPE_NULL, input.ConsumeIntegral<uint8_t>()});
        if (record.type == MML_TYPE_OCTETS) {
            texts[i] = input.ConsumeRandomLengthString(256);
            // A null text with a length is the caller's mistake, and must be refused.
            bool nullText = input.ConsumeIntegralInRange<int>(0, 31) == 0;
            record.value.text = nullText ? nullptr : texts[i].data();
            record.length = nullText ? input.ConsumeIntegral<uint32_t>()
                                     : input.ConsumeIntegralInRange<uint32_t>(
                                           0, static_cast<uint32_t>(texts[i].size()));
        } else {
            record.value.integer = input.ConsumeIntegral<int32_t>();
        }
    }
    std::vector<MmlVarBind> sent(list.list, list.list + count);
    int32_t status = -1, index = -1;
    int32_t result = MMLRequestLocal(fixture->session, type, &list, &status, &index);
    bool wellFormed =
        (type == MML_REQUEST_GET || type == MML_REQUEST_SET) && count >= 1 && count <= kMaxRecords;
    if (!wellFormed) {
        FUZZ_CHECK(result == MML_FAILURE_BAD_REQUEST);
    }
    FUZZ_CHECK(result == 0 || result == MML_FAILURE_BAD_REQUEST);
    if (result == 0) {
        FUZZ_CHECK(status == MML_ERROR_STATUS_NO_ERROR || status == MML_ERROR_STATUS_NO_SUCH_NAME ||
                   status == MML_ERROR_STATUS_BAD_VALUE);
        FUZZ_CHECK(status == MML_ERROR_STATUS_NO_ERROR ? index == 0
                                                       : index >= 1 && index <= int32_t(count));
    }
    if (result == 0 && status == MML_ERROR_STATUS_NO_ERROR && type == MML_REQUEST_SET) {
        // Read back what was set; an object set twice keeps the last value.
        std::map<std::pair<uint32_t, uint32_t>, uint32_t> last;
        for (uint32_t i = 0; i < count; ++i) {
            last[{sent[i].oid.words[0], sent[i].oid.words[1]}] = i;
        }
        MmlVarBindList check{static_cast<MmlVarBind *>(MMLAlloc(sizeof(MmlVarBind) * count)),
                             count};
        for (uint32_t i = 0; i < count; ++i) {
            check.list[i].oid = sent[i].oid;
            check.list[i].type = MML_TYPE_NULL;
        }
        FUZZ_CHECK(MMLRequestLocal(fixture->session, MML_REQUEST_GET, &check, &status, &index) ==
                       0 &&
                   status == 0);
        for (uint32_t i = 0; i < count; ++i) {
            const MmlVarBind &wrote = sent[last[{sent[i].oid.words[0], sent[i].oid.words[1]}]];
            const MmlVarBind &read = check.list[i];
            FUZZ_CHECK(SameOid(read.oid, wrote.oid));
            FUZZ_CHECK(read.type == wrote.type);
            if (read.type == MML_TYPE_OCTETS) {
                FUZZ_CHECK(read.length == wrote.length);
                FUZZ_CHECK(read.length == 0 ||
                           std::memcmp(read.value.text, wrote.value.text, read.length) == 0);
                FUZZ_CHECK(read.value.text[read.length] == '\0');
            } else {
                // A resident instance's idle exit may read active; this instance is not resident.
                FUZZ_CHECK(read.value.integer == wrote.value.integer);
            }
        }
        MMLFreeVarBindList(&check);
    }
    if (result == 0 && status == MML_ERROR_STATUS_NO_ERROR && type == MML_REQUEST_GET) {
        for (uint32_t i = 0; i < count; ++i) {
            const MmlVarBind &read = list.list[i];
            FUZZ_CHECK(read.type == MML_TYPE_INTEGER || read.type == MML_TYPE_OCTETS);
            FUZZ_CHECK(read.type != MML_TYPE_OCTETS || read.value.text[read.length] == '\0');
        }
    }
    // The list holds texts the library returned (owned) beside the caller's (not owned).
    list.len = count;
    MMLFreeVarBindList(&list);
    return 0;
}
