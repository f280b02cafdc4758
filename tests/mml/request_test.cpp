// Requests through the C interface: typed gets, all-or-nothing sets, SNMP answers and the
// records' memory.
#include <filesystem>

#include "mml/vocabulary.h"
#include "tests/mml/mml_fixture.h"

namespace vyn::mml::test {
namespace {

class RequestTest : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        store_ = Provisioned();
        session_ = OpenSession();
    }
    void TearDown() override {
        MMLTerminate(session_);
        store_.reset();  // Windows removes no file that is open
        StoreTest::TearDown();
    }
    std::unique_ptr<Store> store_;
    MmlSessionHandle session_ = 0;
};

TEST_F(RequestTest, TextsRoundTripAndTheLibraryFreesOnlyItsOwn) {
    const std::string longest(kMaxOctetsLength, 'L');
    for (const std::string &text : {std::string(), std::string("a\0b\xff\n", 5), longest}) {
        Request set({"portLoopUData.demo.1"});
        set.SetText(0, text);
        Outcome out = Send(session_, MML_REQUEST_SET, set);
        ASSERT_TRUE(out.result == 0 && out.status == 0);
        EXPECT_EQ(set[0].value.text, text.data()) << "a set leaves the records as sent";
        Request get({"portLoopUData.demo.1", "portLoopSpeed.demo.2"});
        for (int round = 0; round < 2; ++round) {  // the second get replaces the texts it returned
            ASSERT_EQ(Send(session_, MML_REQUEST_GET, get).result, 0);
            EXPECT_EQ(get.Text(0), text);
            EXPECT_EQ(get[1].type, MML_TYPE_INTEGER);
            EXPECT_EQ(get[1].value.integer, 9600);
        }
    }
    const std::string tooLong(kMaxOctetsLength + 1, 'L');
    Request set({"portLoopUData.demo.1"});
    set.SetText(0, tooLong);
    EXPECT_EQ(Send(session_, MML_REQUEST_SET, set).status, MML_ERROR_STATUS_BAD_VALUE);
    EXPECT_EQ(Stored(*store_, "portLoopUData.demo.1").text, longest);

    Request request({"portName.demo.1", "portLoopStopErr.demo.1"});
    ASSERT_EQ(Send(session_, MML_REQUEST_GET, request).result, 0);
    std::string mine = "caller's text";
    MMLFree(request[1].value.text);  // the record now holds a text the caller owns
    request.SetText(1, mine);
    MMLFreeVarBindList(&request.list);  // frees portName's copy only (ASan checks)
    EXPECT_TRUE(request.list.list == nullptr && request.list.len == 0);
    EXPECT_EQ(mine, "caller's text");
}

TEST_F(RequestTest, RefusedRecordsAnswerTheirIndexAndChangeNothing) {
    const std::string text = "x";
    Request missing({"portLoopSpeed.demo.1", "portLoopSpeed.demo.3"});
    missing.SetInteger(0, 1200);
    missing.SetInteger(1, 1200);
    Outcome out = Send(session_, MML_REQUEST_SET, missing);
    EXPECT_TRUE(out.result == 0 && out.status == MML_ERROR_STATUS_NO_SUCH_NAME && out.index == 2);

    Request wrongType({"portLoopSpeed.demo.1", "portLoopTime.demo.2", "portLoopFlow.demo.2"});
    wrongType.SetInteger(0, 1200);
    wrongType.SetInteger(1, 60);
    wrongType.SetText(2, text);
    out = Send(session_, MML_REQUEST_SET, wrongType);
    EXPECT_TRUE(out.result == 0 && out.status == MML_ERROR_STATUS_BAD_VALUE && out.index == 3);

    Request nullSet({"portLoopSpeed.demo.1", "portName.demo.1"});
    nullSet.SetInteger(0, 1200);
    out = Send(session_, MML_REQUEST_SET, nullSet);
    EXPECT_TRUE(out.status == MML_ERROR_STATUS_BAD_VALUE && out.index == 2);

    Request get({"portLoopSpeed.demo.1", "portLoopTime.demo.2", "portName.demo.9"});
    out = Send(session_, MML_REQUEST_GET, get);
    EXPECT_TRUE(out.result == 0 && out.status == MML_ERROR_STATUS_NO_SUCH_NAME && out.index == 3);
    EXPECT_EQ(get[0].type, MML_TYPE_NULL) << "a refused get leaves the records alone";

    EXPECT_EQ(Stored(*store_, "portLoopSpeed.demo.1").integer, 9600);
    EXPECT_EQ(Stored(*store_, "portLoopTime.demo.2").integer, 10);
}

TEST_F(RequestTest, MalformedRequestsAndClosedSessionsFail) {
    Request one({"portLoopState.demo.1"});
    int32_t status = 0, index = 0, e1 = -1, e2 = -1;
    MmlVarBindList empty{one.list.list, 0}, tooMany{one.list.list, 65};
    MmlVarBind unconverted{};
    MmlVarBindList unconvertedList{&unconverted, 1};
    for (int32_t result :
         {MMLRequestLocal(session_, 161, &one.list, &status, &index),
          MMLRequestLocal(session_, MML_REQUEST_GET, nullptr, &status, &index),
          MMLRequestLocal(session_, MML_REQUEST_GET, &one.list, nullptr, &index),
          MMLRequestLocal(session_, MML_REQUEST_GET, &empty, &status, &index),
          MMLRequestLocal(session_, MML_REQUEST_GET, &tooMany, &status, &index),
          MMLRequestLocal(session_, MML_REQUEST_SET, &unconvertedList, &status, &index)}) {
        EXPECT_EQ(result, MML_FAILURE_BAD_REQUEST);
    }
    EXPECT_EQ(MMLGetErrors(session_, &e1, &e2), 0);
    EXPECT_EQ(e2, MML_FAILURE_BAD_REQUEST);
    ASSERT_EQ(Send(session_, MML_REQUEST_GET, one).result, 0);
    EXPECT_EQ(MMLGetErrors(session_, &e1, &e2), 0);
    EXPECT_TRUE(e1 == 0 && e2 == MML_FAILURE_NONE) << "a served request clears the errors";

    MmlSessionHandle other = OpenSession();
    EXPECT_NE(other, session_);
    EXPECT_EQ(MMLTerminate(other), 0);
    EXPECT_EQ(Send(other, MML_REQUEST_GET, one).result, MML_FAILURE_NO_SESSION);
    EXPECT_NE(MMLGetErrors(other, &e1, &e2), 0);
    EXPECT_EQ(e2, MML_FAILURE_NO_SESSION);
    EXPECT_NE(MMLTerminate(other), 0);
    EXPECT_EQ(Send(session_, MML_REQUEST_GET, one).result, 0);
}

TEST_F(RequestTest, ResidentInstanceAnswersActiveToTheIdleAgentsIdleExit) {
    for (bool resident : {false, true}) {
        Error error;
        ASSERT_TRUE(store_->Provision("demo", {}, resident, error)) << error.message;
        Request set({"portmodLoopOperating.demo"});
        set.SetInteger(0, LoopOperatingIdleExit);
        ASSERT_EQ(Send(session_, MML_REQUEST_SET, set).status, 0);
        int32_t expected = resident ? LoopOperatingActive : LoopOperatingIdleExit;
        EXPECT_EQ(set[0].value.integer, expected) << "resident " << resident;
        EXPECT_EQ(Stored(*store_, "portmodLoopOperating.demo").integer, expected);
        set.SetInteger(0, 2);  // a value with no name is kept as it is
        ASSERT_EQ(Send(session_, MML_REQUEST_SET, set).status, 0);
        EXPECT_EQ(set[0].value.integer, 2);
    }
}

}  // namespace
}  // namespace vyn::mml::test
