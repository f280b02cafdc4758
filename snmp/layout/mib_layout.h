// The shape of VYNLOOP-MIB as the subagent serves it: where the module sits, its two tables and
// their columns, each column tied to the store object of the same name with its SNMP syntax,
// its access and the values that a set may give it. The MIB text says the same in SMIv2; a test
// holds the two together.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "mml/vocabulary.h"

namespace vyn::snmp {

using SubId = uint32_t;
using Oid = std::vector<SubId>;

// vynLoopMIB: under the Net-SNMP experimental arc (netSnmpPlaypen, 1.3.6.1.4.1.8072.9999.9999)
// until a private enterprise number is registered. Everything below is relative to it.
inline constexpr std::array<SubId, 10> kModuleOid = {1, 3, 6, 1, 4, 1, 8072, 9999, 9999, 1};

inline constexpr SubId kNotificationsArc = 0;  // vynLoopNotifications
inline constexpr SubId kObjectsArc = 1;        // vynLoopObjects
inline constexpr SubId kTestCompleted = 1;     // vynLoopTestCompleted, under the notifications
inline constexpr SubId kEntryArc = 1;          // a table's entry, under the table

// How a column's values travel. Integer is Integer32 (and its enumerations), Unsigned is
// Unsigned32 (the same 32 bits as the store's integer), Octets an OCTET STRING.
enum class Syntax : uint8_t { Integer, Unsigned, Octets };

enum class Access : uint8_t { ReadOnly, ReadWrite };

// What an octet string may hold besides its size.
enum class Content : uint8_t {
    Any,
    DeviceName,  // a device name that the store accepts for portName
};

// Where a column's values come from: the store object of the column's name, or a fact about
// the instance's agent on the subagent's host.
enum class Source : uint8_t {
    Store,
    AgentPresence,  // whether the instance's agent runs now
    AgentLife,      // whether the instance was provisioned resident
};

struct Column {
    SubId number;
    std::string_view object;  // the MIB's descriptor, and for Source::Store the store's object
    Syntax syntax;
    Access access;
    // Integer: the value range; Octets: the size range (ignored when `words` is not empty).
    int64_t low = 0;
    int64_t high = 0;
    // An enumeration: the values and their MIB labels.
    std::span<const vocabulary::Word> words = {};
    // When not empty, the only values of the enumeration that a manager may set.
    std::span<const int32_t> settable = {};
    Content content = Content::Any;
    Source source = Source::Store;
};

enum class TableKind : uint8_t {
    Module,  // indexed by the instance name
    Port,    // indexed by the instance name and the port number
};

struct Table {
    SubId number;  // under vynLoopObjects
    TableKind kind;
    std::string_view name;
    std::span<const Column> columns;  // ascending by number; the index columns are not listed
};

// Both tables, in OID order.
std::span<const Table> Tables();

const Table &ModuleTable();
const Table &PortTable();

// The column of `table` with `number`, if any.
const Column *FindColumn(const Table &table, SubId number);

// The column named `object` in either table, with its table.
struct NamedColumn {
    const Table *table = nullptr;
    const Column *column = nullptr;
};
std::optional<NamedColumn> FindColumnByName(std::string_view object);

// The full OID of vynLoopMIB followed by `tail`.
Oid ModuleOid(std::initializer_list<SubId> tail = {});

// A column's full OID without the row index.
Oid ColumnOid(const Table &table, const Column &column);

// The full OID of vynLoopTestCompleted.
Oid TestCompletedOid();

}  // namespace vyn::snmp
