// Requests through the C interface: typed gets, all-or-nothing sets, SNMP answers and the
// records' memory.
#include <filesystem>
#include <string>

#include "tests/mml/mml_fixture.h"

namespace vyn::mml::test {
namespace {

using RequestTest = StoreTest;

TEST_F(RequestTest, GetReturnsProvisionedDefaultsTyped) {
    auto store = Provisioned();
    MmlSessionHandle session = OpenSession();
    Request get({"portName.demo.2", "portLoopSpeed.demo.2", "portmodLoopOperating.demo",
                 "portLoopStopErr.demo.1", "portInBuffSize.demo.1"});
    Outcome out = Send(session, MML_REQUEST_GET, get);
    ASSERT_EQ(out.result, 0);
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(get.Text(0), "COM2");
    EXPECT_EQ(get[1].type, MML_TYPE_INTEGER);
    EXPECT_EQ(get[1].value.integer, 9600);
    EXPECT_EQ(get[2].value.integer, 1);
    EXPECT_EQ(get.Text(3), "");
    EXPECT_EQ(get[4].value.integer, 4096);
    // A second get into the same records replaces the texts it returned before.
    ASSERT_EQ(Send(session, MML_REQUEST_GET, get).result, 0);
    EXPECT_EQ(get.Text(0), "COM2");
    EXPECT_EQ(MMLTerminate(session), 0);
}

TEST_F(RequestTest, TextsRoundTripEmptyBinaryAndLong) {
    auto store = Provisioned();
    MmlSessionHandle session = OpenSession();
    const std::string binary("a\0b\xff\n", 5);
    const std::string longest(kMaxOctetsLength, 'L');
    for (const std::string &text : {std::string(), binary, longest}) {
        Request set({"portLoopUData.demo.1"});
        set.SetText(0, text);
        Outcome out = Send(session, MML_REQUEST_SET, set);
        ASSERT_EQ(out.result, 0);
        ASSERT_EQ(out.status, 0);
        EXPECT_EQ(set[0].value.text, text.data()) << "a set leaves the records as sent";
        Request get({"portLoopUData.demo.1"});
        ASSERT_EQ(Send(session, MML_REQUEST_GET, get).result, 0);
        EXPECT_EQ(get.Text(0), text);
    }
    const std::string tooLong(kMaxOctetsLength + 1, 'L');
    Request set({"portLoopUData.demo.1"});
    set.SetText(0, tooLong);
    Outcome out = Send(session, MML_REQUEST_SET, set);
    EXPECT_EQ(out.status, MML_ERROR_STATUS_BAD_VALUE);
    Value kept;
    Error error;
    ASSERT_TRUE(store->GetValue("portLoopUData.demo.1", kept, error));
    EXPECT_EQ(kept.text, longest);
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
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.status, MML_ERROR_STATUS_NO_SUCH_NAME);
    EXPECT_EQ(out.index, 2);

    Request wrongType({"portLoopSpeed.demo.1", "portLoopTime.demo.2", "portLoopFlow.demo.2"});
    wrongType.SetInteger(0, 1200);
    wrongType.SetInteger(1, 60);
    wrongType.SetText(2, text);
    out = Send(session, MML_REQUEST_SET, wrongType);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.status, MML_ERROR_STATUS_BAD_VALUE);
    EXPECT_EQ(out.index, 3);

    Request nullSet({"portLoopSpeed.demo.1", "portName.demo.1"});
    nullSet.SetInteger(0, 1200);
    out = Send(session, MML_REQUEST_SET, nullSet);
    EXPECT_EQ(out.status, MML_ERROR_STATUS_BAD_VALUE);
    EXPECT_EQ(out.index, 2);

    Request get({"portLoopSpeed.demo.1", "portLoopTime.demo.2", "portName.demo.9"});
    out = Send(session, MML_REQUEST_GET, get);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.status, MML_ERROR_STATUS_NO_SUCH_NAME);
    EXPECT_EQ(out.index, 3);
    EXPECT_EQ(get[0].type, MML_TYPE_NULL) << "a refused get leaves the records alone";

    Request check({"portLoopSpeed.demo.1", "portLoopTime.demo.2", "portLoopFlow.demo.2"});
    ASSERT_EQ(Send(session, MML_REQUEST_GET, check).status, 0);
    EXPECT_EQ(check[0].value.integer, 9600);
    EXPECT_EQ(check[1].value.integer, 10);
    EXPECT_EQ(check[2].value.integer, 1);
    MMLTerminate(session);
}

TEST_F(RequestTest, ResidentInstanceKeepsItsAgentUp) {
    for (bool resident : {false, true}) {
        auto store = Provisioned(resident);
        MmlSessionHandle session = OpenSession();
        Request set({"portmodLoopOperating.demo"});
        set.SetInteger(0, 3);
        ASSERT_EQ(Send(session, MML_REQUEST_SET, set).status, 0);
        int32_t expected = resident ? 1 : 3;
        EXPECT_EQ(set[0].value.integer, expected) << "resident " << resident;
        Value stored;
        Error error;
        ASSERT_TRUE(store->GetValue("portmodLoopOperating.demo", stored, error));
        EXPECT_EQ(stored.integer, expected);
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
    auto expectBad = [&](int32_t result) {
        EXPECT_EQ(result, MML_FAILURE_BAD_REQUEST);
        EXPECT_EQ(MMLGetErrors(session, &e1, &e2), 0);
        EXPECT_EQ(e2, MML_FAILURE_BAD_REQUEST);
    };
    expectBad(MMLRequestLocal(session, 161, &one.list, &status, &index));
    expectBad(MMLRequestLocal(session, MML_REQUEST_GET, nullptr, &status, &index));
    expectBad(MMLRequestLocal(session, MML_REQUEST_GET, &one.list, nullptr, &index));
    MmlVarBindList empty{one.list.list, 0};
    expectBad(MMLRequestLocal(session, MML_REQUEST_GET, &empty, &status, &index));
    MmlVarBindList tooMany{one.list.list, 65};
    expectBad(MMLRequestLocal(session, MML_REQUEST_GET, &tooMany, &status, &index));
    MmlVarBind unconverted{};
    MmlVarBindList unconvertedList{&unconverted, 1};
    expectBad(MMLRequestLocal(session, MML_REQUEST_GET, &unconvertedList, &status, &index));

    ASSERT_EQ(Send(session, MML_REQUEST_GET, one).result, 0);
    EXPECT_EQ(MMLGetErrors(session, &e1, &e2), 0);
    EXPECT_EQ(e1, 0);
    EXPECT_EQ(e2, MML_FAILURE_NONE) << "a served request clears the errors";

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
    MMLFree(request[1].value.text);  // hand the record a text the caller owns instead
    request.SetText(1, mine);
    MMLFreeVarBindList(&request.list);  // must free portName's copy only (checked under ASan)
    EXPECT_EQ(request.list.list, nullptr);
    EXPECT_EQ(request.list.len, 0u);
    EXPECT_EQ(mine, "caller's text");
    MMLFreeVarBindList(&request.list);
    MMLTerminate(session);
}

}  // namespace
}  // namespace vyn::mml::test
