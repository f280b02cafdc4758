// The subagent's varbinds as any manager may send them: any OID in and around VYNLOOP-MIB and
// any value type, length and bytes. An OID names an object only when writing that object back
// gives the same OID; a row index decodes only to a row that encodes back to it; a value becomes
// a store value only from the types a column can have, and a value that passes a column's set
// check goes into that column's varbind and reads back as the same store value.
#include <fuzzer/FuzzedDataProvider.h>

// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
// clang-format on

#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "snmp/layout/mib_layout.h"
#include "snmp/layout/object_index.h"
#include "snmp/layout/value_codec.h"
#include "snmp/set_check.h"

namespace {

using namespace vyn::snmp;

struct VarbindFree {
    void operator()(netsnmp_variable_list *varbind) const { snmp_free_var(varbind); }
};
using VarbindPtr = std::unique_ptr<netsnmp_variable_list, VarbindFree>;

VarbindPtr NewVarbind() {
    return VarbindPtr(
        static_cast<netsnmp_variable_list *>(calloc(1, sizeof(netsnmp_variable_list))));
}

// Mostly OIDs under vynLoopObjects (a table, its entry, a column, then an index), sometimes
// anything at all.
Oid MakeOid(FuzzedDataProvider &input) {
    Oid oid;
    if (input.ConsumeIntegralInRange<int>(0, 7) != 0) {
        oid = ObjectsOid();
        int fixed = input.ConsumeIntegralInRange<int>(0, 3);
        for (int i = 0; i < fixed; ++i) {
            oid.push_back(input.ConsumeIntegralInRange<SubId>(0, 40));
        }
    }
    std::size_t tail = input.ConsumeIntegralInRange<std::size_t>(0, 40);
    for (std::size_t i = 0; i < tail && input.remaining_bytes() > 0; ++i) {
        oid.push_back(input.ConsumeBool() ? input.ConsumeIntegralInRange<SubId>(0, 0x7f)
                                          : input.ConsumeIntegral<SubId>());
    }
    return oid;
}

void CheckOid(const Oid &oid, const Column *&column) {
    column = nullptr;
    Located located = Locate(oid);
    if (located.kind == Located::Kind::Object) {
        FUZZ_CHECK(located.object.table != nullptr && located.object.column != nullptr);
        FUZZ_CHECK(ObjectOid(located.object) == oid);
        column = located.object.column;
    } else if (located.kind == Located::Kind::NoSuchInstance) {
        FUZZ_CHECK(located.object.table != nullptr && located.object.column != nullptr);
        column = located.object.column;
    }
    for (TableKind kind : {TableKind::Module, TableKind::Port}) {
        for (std::size_t skip = 0; skip <= oid.size() && skip < 16; ++skip) {
            std::span<const SubId> index(oid.data() + skip, oid.size() - skip);
            if (auto row = DecodeRowIndex(kind, index)) {
                Oid again = EncodeRowIndex(kind, *row);
                FUZZ_CHECK(std::equal(again.begin(), again.end(), index.begin(), index.end()));
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    Oid oid = MakeOid(input);
    const Column *column = nullptr;
    CheckOid(oid, column);
    if (column == nullptr) {
        // Any column, so that every value meets every column's checks.
        const auto &tables = Tables();
        const Table &table =
            tables[input.ConsumeIntegralInRange<std::size_t>(0, tables.size() - 1)];
        column =
            &table.columns[input.ConsumeIntegralInRange<std::size_t>(0, table.columns.size() - 1)];
    }
    u_char type = input.PickValueInArray<u_char>(
        {ASN_INTEGER, ASN_UNSIGNED, ASN_COUNTER, ASN_OCTET_STR, ASN_OBJECT_ID, ASN_IPADDRESS,
         ASN_TIMETICKS, ASN_COUNTER64, ASN_NULL, ASN_OPAQUE, input.ConsumeIntegral<u_char>()});
    std::vector<uint8_t> bytes =
        input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 300));
    VarbindPtr varbind = NewVarbind();
    if (type == ASN_INTEGER || type == ASN_UNSIGNED || type == ASN_COUNTER ||
        type == ASN_TIMETICKS) {
        long integer = input.ConsumeIntegral<long>();
        snmp_set_var_typed_value(varbind.get(), type, &integer, sizeof integer);
    } else {
        snmp_set_var_typed_value(varbind.get(), type, bytes.data(), bytes.size());
    }
    VarbindValue value = ReadVarbind(*varbind);
    std::optional<vyn::mml::Value> stored = StoreValue(value);
    FUZZ_CHECK(stored.has_value() == (value.kind != VarbindValue::Kind::Other));
    SetStatus status = CheckSetValue(*column, value);
    FUZZ_CHECK(!SetStatusName(status).empty());
    if (status == SetStatus::NoError) {
        FUZZ_CHECK(stored.has_value());
        VarbindPtr written = NewVarbind();
        FUZZ_CHECK(WriteVarbind(*written, *column, *stored));
        std::optional<vyn::mml::Value> back = StoreValue(ReadVarbind(*written));
        FUZZ_CHECK(back.has_value() && *back == *stored);
    }
    return 0;
}
