// Requests through the C interface: typed gets, all-or-nothing sets, SNMP answers and the
// records' memory.
#include <filesystem>

#include "tests/mml/mml_fixture.h"

namespace vyn::mml::test {
namespace {

using RequestTest = StoreTest;

TEST_F(RequestTest, GetAnswersTypedValuesAndOwnedTexts) {
    auto store = Provisioned();
    MmlSessionHandle session = OpenSession();
    Request get({"portName.demo.2", "portLoopSpeed.demo.2", "portmodLoopOperating.demo"});
    for (int round = 0; round < 2; ++round) {  // the second get replaces the texts it returned
        Outcome out = Send(session, MML_REQUEST_GET, get);
        ASSERT_EQ(out.result, 0);
        EXPECT_EQ(out.status, 0);
        EXPECT_EQ(get.Text(0), "COM2");
        EXPECT_EQ(get[1].type, MML_TYPE_INTEGER);
        EXPECT_EQ(get[1].value.integer, 9600);
        EXPECT_EQ(get[2].value.integer, 1);
    }
    EXPECT_EQ(MMLTerminate(session), 0);
}

TEST_F(RequestTest, TextsRoundTripEmptyBinaryAndLong) {
    auto store = Provisioned();
    MmlSessionHandle session = OpenSession();
    const std::string longest(kMaxOctetsLength, 'L');
    for (const std::string &text : {std::string(), std::string("a\0b\xff\n", 5), longest}) {
        Request set({"portLoopUData.demo.1"});
        set.SetText(0, text);
        Outcome out = Send(session, MML_REQUEST_SET, set);
        ASSERT_TRUE(out.result == 0 && out.status == 0);
        EXPECT_EQ(set[0].value.text, text.data()) << "a set leaves the records as sent";
        Request get({"portLoopUData.demo.1"});
        ASSERT_EQ(Send(session, MML_REQUEST_GET, get).result, 0);
        EXPECT_EQ(get.Text(0), text);
    }
    const std::string tooLong(kMaxOctetsLength + 1, 'L');
    Request set({"portLoopUData.demo.1"});
    set.SetText(0, tooLong);
    EXPECT_EQ(Send(session, MML_REQUEST_SET, set).status, MML_ERROR_STATUS_BAD_VALUE);
    EXPECT_EQ(Stored(*store, "portLoopUData.demo.1").text, longest);
    MMLTerminate(session);
}

TEST_F(RequestTest, RefusedRecordsAnswerTheirIndexAndChangeNothing) {
    auto store = Provisioned();
    MmlSessionHandle session = OpenSession();
    const std::string text = "x";
    Request missing({"portLoopSpeed.demo.1", "portLoopSpeed.demo.3"});
    missing.SetInteger(0, 1200);
    missing.SetInteger(1, 1200);
    Outcome out = Send(session, MML_REQUEST_SET, missing);
    EXPECT_TRUE(out.result == 0 && out.status == MML_ERROR_STATUS_NO_SUCH_NAME && out.index == 2);

    Request wrongType({"portLoopSpeed.demo.1", "portLoopTime.demo.2", "portLoopFlow.demo.2"});
    wrongType.SetInteger(0, 1200);
    wrongType.SetInteger(1, 60);
    wrongType.SetText(2, text);
    out = Send(session, MML_REQUEST_SET, wrongType);
    EXPECT_TRUE(out.result == 0 && out.status == MML_ERROR_STATUS_BAD_VALUE && out.index == 3);

    Request nullSet({"portLoopSpeed.demo.1", "portName.demo.1"});
    nullSet.SetInteger(0, 1200);
    out = Send(session, MML_REQUEST_SET, nullSet);
    EXPECT_TRUE(out.status == MML_ERROR_STATUS_BAD_VALUE && out.index == 2);

    Request get({"portLoopSpeed.demo.1", "portLoopTime.demo.2", "portName.demo.9"});
    out = Send(session, MML_REQUEST_GET, get);
    EXPECT_TRUE(out.result == 0 && out.status == MML_ERROR_STATUS_NO_SUCH_NAME && out.index == 3);
    EXPECT_EQ(get[0].type, MML_TYPE_NULL) << "a refused get leaves the records alone";

    EXPECT_EQ(Stored(*store, "portLoopSpeed.demo.1").integer, 9600);
    EXPECT_EQ(Stored(*store, "portLoopTime.demo.2").integer, 10);
    MMLTerminate(session);
}

TEST_F(RequestTest, ResidentInstanceAnswersOneToTheIdleAgentsThree) {
    for (bool resident : {false, true}) {
        auto store = Provisioned(resident);
        MmlSessionHandle session = OpenSession();
        Request set({"portmodLoopOperating.demo"});
        set.SetInteger(0, 3);
        ASSERT_EQ(Send(session, MML_REQUEST_SET, set).status, 0);
        int32_t expected = resident ? 1 : 3;
        EXPECT_EQ(set[0].value.integer, expected) << "resident " << resident;
        EXPECT_EQ(Stored(*store, "portmodLoopOperating.demo").integer, expected);
        set.SetInteger(0, 2);
        ASSERT_EQ(Send(session, MML_REQUEST_SET, set).status, 0);
        EXPECT_EQ(set[0].value.integer, 2);
        MMLTerminate(session);
        store.reset();
        std::filesystem::remove(path_);
    }
}

TEST_F(RequestTest, MalformedRequestsAndClosedSessionsFail) {
    auto store = Provisioned();
    MmlSessionHandle session = OpenSession();
    Request one({"portLoopState.demo.1"});
    int32_t status = 0, index = 0, e1 = -1, e2 = -1;
    MmlVarBindList empty{one.list.list, 0}, tooMany{one.list.list, 65};
    MmlVarBind unconverted{};
    MmlVarBindList unconvertedList{&unconverted, 1};
    for (int32_t result :
         {MMLRequestLocal(session, 161, &one.list, &status, &index),
          MMLRequestLocal(session, MML_REQUEST_GET, nullptr, &status, &index),
          MMLRequestLocal(session, MML_REQUEST_GET, &one.list, nullptr, &index),
          MMLRequestLocal(session, MML_REQUEST_GET, &empty, &status, &index),
          MMLRequestLocal(session, MML_REQUEST_GET, &tooMany, &status, &index),
          MMLRequestLocal(session, MML_REQUEST_SET, &unconvertedList, &status, &index)}) {
        EXPECT_EQ(result, MML_FAILURE_BAD_REQUEST);
    }
    EXPECT_EQ(MMLGetErrors(session, &e1, &e2), 0);
    EXPECT_EQ(e2, MML_FAILURE_BAD_REQUEST);
    ASSERT_EQ(Send(session, MML_REQUEST_GET, one).result, 0);
    EXPECT_EQ(MMLGetErrors(session, &e1, &e2), 0);
    EXPECT_TRUE(e1 == 0 && e2 == MML_FAILURE_NONE) << "a served request clears the errors";

    MmlSessionHandle other = OpenSession();
    EXPECT_NE(other, session);
    EXPECT_EQ(MMLTerminate(session), 0);
    EXPECT_EQ(Send(session, MML_REQUEST_GET, one).result, MML_FAILURE_NO_SESSION);
    EXPECT_NE(MMLGetErrors(session, &e1, &e2), 0);
    EXPECT_EQ(e2, MML_FAILURE_NO_SESSION);
    EXPECT_NE(MMLTerminate(session), 0);
    EXPECT_EQ(Send(other, MML_REQUEST_GET, one).result, 0);
    MMLTerminate(other);
}

TEST_F(RequestTest, FreeingAListFreesOnlyTheLibrarysTexts) {
    auto store = Provisioned();
    MmlSessionHandle session = OpenSession();
    Request request({"portName.demo.1", "portLoopStopErr.demo.1"});
    ASSERT_EQ(Send(session, MML_REQUEST_GET, request).result, 0);
    std::string mine = "caller's text";
    MMLFree(request[1].value.text);  // the record now holds a text the caller owns
    request.SetText(1, mine);
    MMLFreeVarBindList(&request.list);  // frees portName's copy only (ASan checks)
    EXPECT_TRUE(request.list.list == nullptr && request.list.len == 0);
    EXPECT_EQ(mine, "caller's text");
    MMLTerminate(session);
}

}  // namespace
}  // namespace vyn::mml::test
