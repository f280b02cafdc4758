#include "snmp/layout/mib_layout.h"

#include "mml/dictionary.h"
#include "mml/record_fields.h"

namespace vyn::snmp {

namespace {

namespace v = vocabulary;

constexpr int32_t kInt32Max = 2147483647;
constexpr int64_t kMaxResultText = 256;  // the agent's result and error data texts

// A manager starts a test or stops one; the agent writes every other state.
constexpr int32_t kSettableLoopStates[] = {LoopStateRequested, LoopStateStopping};

constexpr Column Parameter(SubId number, std::string_view object, int64_t low, int64_t high) {
    return {number, object, Syntax::Integer, Access::ReadWrite, low, high};
}
constexpr Column Choice(SubId number, std::string_view object,
                        std::span<const vocabulary::Word> words) {
    return {number, object, Syntax::Integer, Access::ReadWrite, 0, 0, words};
}
constexpr Column Count(SubId number, std::string_view object) {
    return {number, object, Syntax::Unsigned, Access::ReadOnly};
}

constexpr Column Fact(SubId number, std::string_view object,
                      std::span<const vocabulary::Word> words, Source source) {
    return {number, object,       Syntax::Integer, Access::ReadOnly, 0, 0, words,
            {},     Content::Any, source};
}

constexpr Column kModuleColumns[] = {
    {2, "portmodLoopOperating", Syntax::Integer, Access::ReadOnly, 0, 0, v::kLoopOperatingWords},
    Fact(3, "vynModuleAgent", v::kAgentPresenceWords, Source::AgentPresence),
    Fact(4, "vynModuleAgentLife", v::kAgentLifeWords, Source::AgentLife),
    {5, mml::kBoardSerialObject, Syntax::Octets, Access::ReadWrite, 0, mml::kMaxRunLabelLength},
    {6, mml::kRunKeyObject, Syntax::Octets, Access::ReadWrite, 0, mml::kMaxRunLabelLength},
    {7, mml::kRunOperatorObject, Syntax::Octets, Access::ReadWrite, 0, mml::kMaxRunLabelLength},
    {8, mml::kRunNoteObject, Syntax::Octets, Access::ReadWrite, 0, mml::kMaxRunNoteLength},
};

// Column 1 of the port table is its port number index.
constexpr Column kPortColumns[] = {
    {2,
     "portName",
     Syntax::Octets,
     Access::ReadWrite,
     1,
     mml::kMaxPortNameLength,
     {},
     {},
     Content::DeviceName},
    Choice(3, "portLoopMode", v::kLoopModeWords),
    {4, "portLoopState", Syntax::Integer, Access::ReadWrite, 0, 0, v::kLoopStateWords,
     kSettableLoopStates},
    Choice(5, "portLoopPattern", v::kPatternWords),
    {6, "portLoopUData", Syntax::Octets, Access::ReadWrite, 0, UserDataSize},
    Parameter(7, "portLoopSpeed", 1, kInt32Max),
    Choice(8, "portLoopParity", v::kParityWords),
    Parameter(9, "portLoopDataSize", 5, 8),
    Choice(10, "portLoopFlow", v::kFlowWords),
    Choice(11, "portLoopDataCheck", v::kDataCheckWords),
    Parameter(12, "portLoopTime", 0, kInt32Max),
    Parameter(13, "portLoopStopOnErr", 0, kInt32Max),
    Count(14, "portErrStatRxTotal"),
    Choice(15, "portStopBits", v::kStopBitsMibWords),
    Parameter(16, "portInBuffSize", 1, 65536),
    Choice(17, "portRasStatus", v::kRasStatusWords),
    {18, "portLoopStopErr", Syntax::Octets, Access::ReadOnly, 0, kMaxResultText},
    Count(19, "portLoopTxTotal"),
    Count(20, "portLoopRxTotal"),
    Count(21, "portLoopInErrs"),
    Count(22, "portLoopRate"),
    Count(23, "portLoopAvgRate"),
    Parameter(24, "portLoopTimeRemain", 0, kInt32Max),
    Count(25, "portLoopLocErr"),
    {26, "portLoopErrData", Syntax::Octets, Access::ReadOnly, 0, kMaxResultText},
    Count(27, ObjectLoopCorrupted),
    Count(28, ObjectLoopLost),
    Count(29, ObjectLoopExtra),
    Count(30, ObjectLoopFrameErrs),
    Count(31, ObjectLoopParityErrs),
    Count(32, ObjectLoopOverruns),
    Count(33, ObjectLoopBreaks),
    Count(34, ObjectLoopLineShare),
    Count(35, ObjectLoopFirstBadPos),
    Count(36, ObjectLoopFirstBadExpected),
    Count(37, ObjectLoopFirstBadReceived),
    Choice(38, ObjectLoopLines, v::kLineWiringWords),
    Parameter(39, ObjectLoopLinePeer, 0, 16),
    Parameter(40, ObjectLoopBreakTime, 0, kMaxBreakTime),
    Choice(41, ObjectLoopDataTest, v::kDataTestWords),
    Count(42, ObjectLoopLinesChecked),
    Count(43, ObjectLoopLinesFailed),
    Count(44, ObjectLoopBreaksBack),
    {45, ObjectLoopLineResult, Syntax::Octets, Access::ReadOnly, 0, kMaxResultText},
};

constexpr Table kTables[] = {
    {1, TableKind::Module, "vynModuleTable", kModuleColumns},
    {2, TableKind::Port, "vynPortTable", kPortColumns},
};

}  // namespace

std::span<const Table> Tables() {
    return kTables;
}

const Table &ModuleTable() {
    return kTables[0];
}

const Table &PortTable() {
    return kTables[1];
}

const Column *FindColumn(const Table &table, SubId number) {
    for (const Column &column : table.columns) {
        if (column.number == number) {
            return &column;
        }
    }
    return nullptr;
}

std::optional<NamedColumn> FindColumnByName(std::string_view object) {
    for (const Table &table : kTables) {
        for (const Column &column : table.columns) {
            if (column.object == object) {
                return NamedColumn{&table, &column};
            }
        }
    }
    return std::nullopt;
}

Oid ModuleOid(std::initializer_list<SubId> tail) {
    Oid oid(kModuleOid.begin(), kModuleOid.end());
    oid.insert(oid.end(), tail.begin(), tail.end());
    return oid;
}

Oid ColumnOid(const Table &table, const Column &column) {
    return ModuleOid({kObjectsArc, table.number, kEntryArc, column.number});
}

Oid TestCompletedOid() {
    return ModuleOid({kNotificationsArc, kTestCompleted});
}

}  // namespace vyn::snmp
