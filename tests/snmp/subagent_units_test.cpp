// The subagent's units without Net-SNMP: row indexes, the walk order over the rows, the value
// checks of a SET, a SET's store transaction, and telling new results from old ones.
#include <gtest/gtest.h>

#include <limits>

#include "mml/vocabulary.h"
#include "snmp/completion_watch.h"
#include "snmp/layout/object_index.h"
#include "snmp/row_directory.h"
#include "snmp/set_check.h"
#include "snmp/set_transaction.h"
#include "tests/support/process.h"

namespace vyn::snmp {
namespace {

Oid Concat(Oid head, std::initializer_list<SubId> tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

ObjectRef Port(std::string_view column, const std::string &instance, int port) {
    auto named = FindColumnByName(column);
    return {named->table, named->column, {instance, port}};
}

// Row indexes ---------------------------------------------------------------------------------

TEST(RowIndexTest, RefusesEveryMalformedIndex) {
    const TableKind port = TableKind::Port;
    EXPECT_TRUE(DecodeRowIndex(port, Oid{1, 'a', 16}));
    EXPECT_FALSE(DecodeRowIndex(port, Oid{}));
    EXPECT_FALSE(DecodeRowIndex(port, Oid{2, 'a', 1})) << "shorter than its length";
    EXPECT_FALSE(DecodeRowIndex(port, Oid{1, 'a', 1, 1})) << "something left over";
    EXPECT_FALSE(DecodeRowIndex(port, Oid{0, 1})) << "empty name";
    EXPECT_FALSE(DecodeRowIndex(port, Oid{1, 'a', 0}));
    EXPECT_FALSE(DecodeRowIndex(port, Oid{1, 'a', 17}));
    EXPECT_FALSE(DecodeRowIndex(port, Oid{1, 0x141, 1})) << "not an octet";
    EXPECT_FALSE(DecodeRowIndex(port, Oid{1, ',', 1})) << "a name the store refuses";
    EXPECT_FALSE(DecodeRowIndex(port, Oid{3, 'a', '.', '3', 1})) << "ends in a number";
    EXPECT_FALSE(DecodeRowIndex(TableKind::Module, Oid{1, 'a', 1}));
    Oid longest(33, 'x');
    longest[0] = 32;
    EXPECT_FALSE(DecodeRowIndex(TableKind::Module, longest)) << "32 octets";

    RowKey row{"rack.b", 7};
    EXPECT_EQ(DecodeRowIndex(port, EncodeRowIndex(port, row)), row);
}

TEST(RowIndexTest, LocateTellsObjectsRowsAndStrangers) {
    const Oid speed = ColumnOid(PortTable(), *FindColumnByName("portLoopSpeed")->column);
    Located found = Locate(Concat(speed, {4, 'd', 'e', 'm', 'o', 2}));
    ASSERT_EQ(found.kind, Located::Kind::Object);
    EXPECT_EQ(found.object.column->object, "portLoopSpeed");
    EXPECT_EQ(found.object.row, (RowKey{"demo", 2}));
    EXPECT_EQ(Locate(Concat(speed, {4, 'd', 2})).kind, Located::Kind::NoSuchInstance);
    EXPECT_EQ(Locate(speed).kind, Located::Kind::NoSuchObject) << "no index at all";
    EXPECT_EQ(Locate(ModuleOid({kObjectsArc, 2, kEntryArc, 1, 1, 'a', 1})).kind,
              Located::Kind::NoSuchObject)
        << "the port number index is not a column";
    EXPECT_EQ(Locate(ModuleOid({kObjectsArc, 2, kEntryArc, 99, 1, 'a', 1})).kind,
              Located::Kind::NoSuchObject);
    EXPECT_EQ(Locate(ModuleOid({kObjectsArc, 3, kEntryArc, 2, 1, 'a'})).kind,
              Located::Kind::NoSuchObject);
    EXPECT_EQ(Locate(Oid{1, 3, 6, 1, 2, 1, 1, 3, 0}).kind, Located::Kind::NoSuchObject);
}

// The walk order ------------------------------------------------------------------------------

class WalkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // "zz" sorts before "demo" by length; "solo" has no port.
        rows_.Assign({{"demo", {2, 1}}, {"zz", {16}}, {"solo", {}}});
    }
    std::vector<std::string> WalkFrom(Oid start) {
        std::vector<std::string> seen;
        while (auto next = rows_.Next(start)) {
            seen.push_back(std::string(next->column->object) + "." + next->row.instance + "." +
                           std::to_string(next->row.port));
            start = ObjectOid(*next);
        }
        return seen;
    }
    RowDirectory rows_;
};

TEST_F(WalkTest, ContinuesFromAnyPointInsideOrBetweenObjects) {
    const Oid name = ColumnOid(PortTable(), *FindColumnByName("portName")->column);
    auto next = rows_.Next(Concat(name, {4, 'd', 'e', 'm', 'o'}));  // a row's beginning
    ASSERT_TRUE(next);
    EXPECT_EQ(next->row, (RowKey{"demo", 1}));
    next = rows_.Next(Concat(name, {4, 'd', 'e', 'm', 'o', 1, 5, 5}));  // below a row
    ASSERT_TRUE(next);
    EXPECT_EQ(next->row, (RowKey{"demo", 2}));
    next = rows_.Next(Concat(name, {4, 'd', 'e', 'm', 'o', 2}));  // last row: next column
    ASSERT_TRUE(next);
    EXPECT_EQ(next->column->object, "portLoopMode");
    EXPECT_EQ(next->row, (RowKey{"zz", 16}));
    next = rows_.Next(Concat(name, {std::numeric_limits<SubId>::max()}));
    ASSERT_TRUE(next);
    EXPECT_EQ(next->column->object, "portLoopMode");
    EXPECT_FALSE(rows_.Next(ModuleOid({kObjectsArc, 3})));
    EXPECT_FALSE(RowDirectory().Next(ObjectsOid())) << "no rows at all";
}

// Value checks --------------------------------------------------------------------------------

VarbindValue Integer(int64_t value) {
    return {VarbindValue::Kind::Integer, value, {}};
}
VarbindValue Octets(std::string_view value) {
    return {VarbindValue::Kind::Octets, 0, value};
}

SetStatus Check(std::string_view column, const VarbindValue &value) {
    return CheckSetValue(*FindColumnByName(column)->column, value);
}

// The edges that a manager's tools will not send: they check values against the MIB first.
TEST(SetCheckTest, ValuesPastTheMibsLimitsAreRefused) {
    EXPECT_EQ(Check("portLoopSpeed", Integer(2147483647)), SetStatus::NoError);
    EXPECT_EQ(Check("portLoopSpeed", Integer(2147483648)), SetStatus::WrongValue);
    EXPECT_EQ(Check("portLoopUData", Octets(std::string(256, '\0'))), SetStatus::NoError);
    EXPECT_EQ(Check("portName", Octets("COM\x7f")), SetStatus::WrongValue);
    // A value past 32 bits must not pass for the one it truncates to.
    EXPECT_EQ(Check("portLoopParity", Integer((int64_t{1} << 32) + ParityOdd)),
              SetStatus::WrongValue);
    EXPECT_EQ(Check("portRasStatus", Integer(RasStatusUnknown)), SetStatus::WrongValue);
    EXPECT_EQ(Check("portLoopSpeed", {VarbindValue::Kind::Unsigned, 9600, {}}),
              SetStatus::WrongType);
    EXPECT_EQ(Check("portLoopState", Integer(LoopStateStopping)), SetStatus::NoError);
    EXPECT_EQ(Check(ObjectLoopLines, Integer(LinesCable)), SetStatus::NoError);
    EXPECT_EQ(Check(ObjectLoopLines, Integer(0)), SetStatus::WrongValue);
    EXPECT_EQ(Check(ObjectLoopLinePeer, Integer(17)), SetStatus::WrongValue);
    EXPECT_EQ(Check(ObjectLoopBreakTime, Integer(kMaxBreakTime + 1)), SetStatus::WrongValue);
    EXPECT_EQ(Check(ObjectLoopLinesFailed, Integer(0)), SetStatus::NotWritable);
    for (int32_t agentOnly : std::initializer_list<int32_t>{LoopStateIdle, LoopStateStopped,
                                                            LoopStateRunning, LoopStateFailed, 6}) {
        EXPECT_EQ(Check("portLoopState", Integer(agentOnly)), SetStatus::WrongValue) << agentOnly;
    }
}

// A SET's store transaction --------------------------------------------------------------------

class SetTransactionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        mml::Error error;
        store_ = mml::Store::Create(dir_ / "mib.db", error);
        ASSERT_TRUE(store_) << error.message;
        std::vector<mml::PortDevice> ports{{1, "COM1"}, {2, "COM2"}};
        ASSERT_TRUE(store_->Provision("demo", ports, false, error)) << error.message;
    }
    void Write(const std::string &name, const mml::Value &value) {
        mml::Error error;
        ASSERT_TRUE(store_->SetValue(name, value, error)) << error.message;
    }
    mml::Value Read(const std::string &name) {
        mml::Value value;
        mml::Error error;
        EXPECT_TRUE(store_->GetValue(name, value, error)) << error.message;
        return value;
    }
    SetResult Apply(const std::vector<SetItem> &items) { return ApplySet(*store_, items); }

    vyn::test::TempDir dir_;
    std::unique_ptr<mml::Store> store_;
};

TEST_F(SetTransactionTest, TestRequestUsesTheValuesOfTheSameSet) {
    SetResult result = Apply({{Port("portLoopState", "demo", 2), mml::Value::Integer(1)},
                              {Port("portLoopPattern", "demo", 2), mml::Value::Integer(2)},
                              {Port("portLoopUData", "demo", 2), mml::Value::Octets("U")}});
    ASSERT_EQ(result.status, SetStatus::NoError) << result.reason;
    EXPECT_EQ(result.requested, (std::vector<RowKey>{{"demo", 2}}));
    EXPECT_EQ(Read("portLoopState.demo.2"), mml::Value::Integer(LoopStateRequested));
    EXPECT_EQ(Read("portLoopUData.demo.2"), mml::Value::Octets("U"));

    // The undo puts back what the set replaced.
    ASSERT_EQ(result.previous.size(), 3u);
    mml::Error error;
    ASSERT_TRUE(UndoSet(*store_, result.previous, error)) << error.message;
    EXPECT_EQ(Read("portLoopState.demo.2"), mml::Value::Integer(LoopStateIdle));
    EXPECT_EQ(Read("portLoopPattern.demo.2"), mml::Value::Integer(LoopPatternBarber));
    EXPECT_EQ(Read("portLoopUData.demo.2"), mml::Value::Octets(""));
}

TEST_F(SetTransactionTest, InconsistentRequestNamesItsItemAndWritesNothing) {
    Write("portLoopState.demo.1", mml::Value::Integer(LoopStateRunning));
    SetResult busy = Apply({{Port("portLoopSpeed", "demo", 2), mml::Value::Integer(1200)},
                            {Port("portLoopState", "demo", 2), mml::Value::Integer(1)},
                            {Port("portLoopState", "demo", 1), mml::Value::Integer(1)}});
    EXPECT_EQ(busy.status, SetStatus::InconsistentValue);
    EXPECT_EQ(busy.failedItem, 2u);
    EXPECT_TRUE(busy.requested.empty());
    EXPECT_EQ(Read("portLoopSpeed.demo.2"), mml::Value::Integer(9600));
    EXPECT_EQ(Read("portLoopState.demo.2"), mml::Value::Integer(LoopStateIdle));

    Write("portLoopPattern.demo.2", mml::Value::Integer(LoopPatternUser));
    SetResult noData = Apply({{Port("portLoopState", "demo", 2), mml::Value::Integer(1)}});
    EXPECT_EQ(noData.status, SetStatus::InconsistentValue);
    SetResult emptied = Apply({{Port("portLoopUData", "demo", 2), mml::Value::Octets("")},
                               {Port("portLoopState", "demo", 1), mml::Value::Integer(7)}});
    EXPECT_EQ(emptied.status, SetStatus::NoError) << "a stop of a running test";
    EXPECT_EQ(Read("portLoopState.demo.1"), mml::Value::Integer(LoopStateStopping));
    SetResult again = Apply({{Port("portLoopState", "demo", 1), mml::Value::Integer(7)}});
    EXPECT_EQ(again.status, SetStatus::InconsistentValue) << "stopping is not running";
}

// New results ---------------------------------------------------------------------------------

PortResult At(int port, int32_t state, const std::string &text) {
    return {{"demo", port}, state, text};
}

TEST(CompletionWatchTest, KnowsWhatTheFirstLookFindsAndReportsEachResultOnce) {
    CompletionWatch watch;
    EXPECT_TRUE(watch.Look(std::vector{At(1, LoopStateComplete, "old"), At(2, 0, "")}).empty());
    EXPECT_TRUE(watch.Look(std::vector{At(1, LoopStateComplete, "old"), At(2, 0, "")}).empty());
    auto fresh =
        watch.Look(std::vector{At(1, LoopStateComplete, "old"), At(2, LoopStateFailed, "x")});
    ASSERT_EQ(fresh.size(), 1u);
    EXPECT_EQ(fresh[0].port.port, 2);
    EXPECT_TRUE(
        watch.Look(std::vector{At(1, LoopStateComplete, "old"), At(2, LoopStateFailed, "x")})
            .empty());
    // The same text again after the port ran once more, or another text without a look at the
    // run in between: both are new.
    EXPECT_TRUE(watch.Look(std::vector{At(2, LoopStateRunning, "")}).empty());
    EXPECT_EQ(watch.Look(std::vector{At(2, LoopStateFailed, "x")}).size(), 1u);
    EXPECT_EQ(watch.Look(std::vector{At(1, LoopStateComplete, "new")}).size(), 1u);
}

TEST(CompletionWatchTest, ARequestedTestsResultIsNewEvenWhenItReadsLikeTheLastOne) {
    CompletionWatch watch;
    watch.Look(std::vector{At(1, LoopStateFailed, "cannot open")});
    watch.ExpectResult({"demo", 1});
    EXPECT_EQ(watch.Look(std::vector{At(1, LoopStateFailed, "cannot open")}).size(), 1u);
    EXPECT_TRUE(watch.Look(std::vector{At(1, LoopStateFailed, "cannot open")}).empty());
    // A port provisioned after the first look, whose test was requested at once.
    watch.ExpectResult({"demo", 9});
    EXPECT_EQ(watch.Look(std::vector{At(9, LoopStateComplete, "done")}).size(), 1u);
}

}  // namespace
}  // namespace vyn::snmp
