// Reading a port's test request and its single objects, every failure path of every call site.
#include "tests/agent/agent_fixture.h"

namespace {

class CmdTableTest : public AgentTest {
  protected:
    void SetUp() override {
        AgentTest::SetUp();
        ProvisionPort();
    }
    void Set(const std::string &object, fake_mml::Value value) {
        fake_mml::GetScript().objects[object + ".abc.3"] = std::move(value);
    }
};

TEST_F(CmdTableTest, ReadsFifteenParametersInOneGetThenRasStatusThenTheLineTests) {
    Set("portLoopSpeed", fake_mml::Integer(19200));
    Set(ObjectLoopLines, fake_mml::Integer(LinesPlug));
    Set(ObjectLoopBreakTime, fake_mml::Integer(250));
    Set("portLoopUData", fake_mml::Text("hello"));
    Set("portRasStatus", fake_mml::Integer(RasStatusMayBorrow));
    Set("portInBuffSize", fake_mml::Integer(4096));
    ASSERT_EQ(ReadPortCmdTable(7, entry), 1);
    auto requests = fake_mml::Requests();
    ASSERT_EQ(requests.size(), 3u);
    ASSERT_EQ(requests[0].bindings.size(), 15u);
    ASSERT_EQ(requests[2].bindings.size(), 4u);
    EXPECT_EQ(requests[2].bindings[0].name, "portLoopLines.abc.3");
    EXPECT_EQ(entry->lineObjects, 1u);
    EXPECT_EQ(entry->lineWiring, LinesPlug);
    EXPECT_EQ(entry->breakTime, 250);
    EXPECT_EQ(entry->dataTest, DataTestOn);
    EXPECT_EQ(requests[0].type, MML_REQUEST_GET);
    EXPECT_EQ(requests[0].bindings[0].name, "portName.abc.3");
    EXPECT_EQ(requests[0].bindings[4].name, "portLoopUData.abc.3");
    EXPECT_EQ(requests[0].bindings[14].name, "portInBuffSize.abc.3");
    EXPECT_EQ(requests[1].bindings[0].name, "portRasStatus.abc.3");
    EXPECT_STREQ(entry->portName, "COM3");
    EXPECT_EQ(entry->portNameNumber, 3);
    EXPECT_EQ(entry->loopSpeed, 19200u);
    EXPECT_STREQ(entry->userData, "hello");
    EXPECT_EQ(entry->userDataLength, 5);
    EXPECT_EQ(entry->rasStatus, RasStatusMayBorrow);
    EXPECT_EQ(entry->inBuffSize, 4096);
    EXPECT_EQ(entry->engineState, Idle);
    EXPECT_EQ(fake_mml::LiveAllocations(), 0);
}

TEST_F(CmdTableTest, AFailedFirstRequestChangesNoField) {
    ASSERT_EQ(ReadPortCmdTable(7, entry), 1);
    entry->engineState = Idle;
    std::string portNameBefore = entry->portName;
    int32_t loopState = entry->loopState, rasStatus = entry->rasStatus;
    Set("portName", fake_mml::Text("COM9"));
    Set("portLoopState", fake_mml::Integer(LoopStateRequested));
    fake_mml::GetScript().failedRequests[4] = {0, 5, 7, 11, 13};
    EXPECT_EQ(ReadPortCmdTable(7, entry), 0);
    EXPECT_EQ(Message(),
              "Internal Error MMLRequestLocal(b) failed, errorStatus = 5, errorIndex = 7, "
              "Error1 = 11, Error2 = 13");
    EXPECT_EQ(entry->engineState, EndedByError);
    EXPECT_EQ(entry->portName, portNameBefore);
    EXPECT_EQ(entry->loopState, loopState);
    EXPECT_EQ(entry->rasStatus, rasStatus);
    EXPECT_EQ(fake_mml::LiveAllocations(), 0);
}

TEST_F(CmdTableTest, ARefusedNameSendsNothing) {
    fake_mml::GetScript().refusedNames["portLoopFlow.abc.3"] = 4;
    EXPECT_EQ(ReadPortCmdTable(7, entry), 0);
    EXPECT_EQ(Message(), "Internal Error MMLStrToMMLOid(c) failed for portLoopFlow.abc.3, Error 4");
    EXPECT_TRUE(fake_mml::Requests().empty());
    EXPECT_EQ(fake_mml::LiveAllocations(), 0);
}

TEST_F(CmdTableTest, PortNameNumberComesFromTheFirstDigits) {
    struct Case {
        const char *name;
        int number;
    } cases[] = {{"COM12", 12}, {"X7Y9", 7}, {"ttyXR", 7}, {"COM1", 1}};
    for (const auto &c : cases) {
        Set("portName", fake_mml::Text(c.name));
        ASSERT_EQ(ReadPortCmdTable(7, entry), 1);
        EXPECT_EQ(entry->portNameNumber, c.number) << c.name;
    }
}

TEST_F(CmdTableTest, TextsAreCutToTheirFields) {
    Set("portName", fake_mml::Text("ABCDEFGHIJKLMNOPQRSTUVWXYZ"));
    Set("portLoopUData", fake_mml::Text(std::string(300, 'u')));
    ASSERT_EQ(ReadPortCmdTable(7, entry), 1);
    EXPECT_STREQ(entry->portName, "ABCDEFGHIJKLMNOPQRS");
    EXPECT_EQ(entry->userDataLength, 300);
    EXPECT_EQ(std::string(entry->userData, UserDataSize), std::string(256, 'u'));

    Set("portLoopUData", fake_mml::Text(""));
    ASSERT_EQ(ReadPortCmdTable(7, entry), 1);
    EXPECT_EQ(entry->userData[0], 0);
    EXPECT_EQ(entry->userDataLength, 0);
}

TEST_F(CmdTableTest, AnUnexpectedTypeIsReportedAndLeavesItsFieldAlone) {
    Set("portLoopSpeed", fake_mml::Integer(19200));
    ASSERT_EQ(ReadPortCmdTable(7, entry), 1);
    entry->engineState = Idle;
    Set("portLoopSpeed", fake_mml::Integer(300));
    Set("portLoopTime", fake_mml::Integer(42));
    fake_mml::GetScript().answerTypes["portLoopSpeed.abc.3"] = 65;
    EXPECT_EQ(ReadPortCmdTable(7, entry), 1);
    EXPECT_EQ(Message(), "Internal Error Unknown MIB type 65 for portLoopSpeed");
    EXPECT_EQ(entry->engineState, EndedByError);
    EXPECT_EQ(entry->loopSpeed, 19200u);
    EXPECT_EQ(entry->loopTime, 42);

    entry->engineState = Idle;
    fake_mml::GetScript().answerTypes.clear();
    fake_mml::GetScript().answerTypes["portLoopTime.abc.3"] = MML_TYPE_OCTETS;
    EXPECT_EQ(ReadPortCmdTable(7, entry), 1);
    EXPECT_EQ(Message(), "Internal Error Unknown MIB type 4 for portLoopTime");
    EXPECT_EQ(entry->loopTime, 42);
    EXPECT_EQ(fake_mml::LiveAllocations(), 0);
}

TEST_F(CmdTableTest, RasStatusIsZeroForARefusedNameAndTwoForAFailedRead) {
    Set("portRasStatus", fake_mml::Integer(RasStatusMayBorrow));
    fake_mml::GetScript().refusedNames["portRasStatus.abc.3"] = 2;
    EXPECT_EQ(ReadPortCmdTable(7, entry), 1);
    EXPECT_EQ(entry->rasStatus, 0);
    fake_mml::GetScript().refusedNames.clear();
    fake_mml::GetScript().failedObjects["portRasStatus.abc.3"] = {3, 0, 0, 0, 0};
    EXPECT_EQ(ReadPortCmdTable(7, entry), 1);
    EXPECT_EQ(entry->rasStatus, RasStatusUnknown);
    EXPECT_EQ(entry->engineState, Idle);
    EXPECT_EQ(Message(), "");
}

class LoopObjectsTest : public AgentTest {};

TEST_F(LoopObjectsTest, EachGetWritesItsOwnCallSiteTexts) {
    using Getter = int (*)(MmlSessionHandle, PortTestEntry *, int32_t *);
    auto errStat = [](MmlSessionHandle s, PortTestEntry *e, int32_t *v) {
        return GetPortErrStatRxTotal(s, e, reinterpret_cast<uint32_t *>(v));
    };
    struct Case {
        Getter get;
        const char *object;
        const char *nameText;
        const char *requestText;
    } cases[] = {
        {GetPortLoopState, "portLoopState.abc.3",
         "Internal Error MMLStrToMMLOid(d) failed for portLoopState.abc.3, Error 3",
         "Internal Error MMLRequestLocal(c) failed, errorStatus = 2, errorIndex = 1, Error1 = 0, "
         "Error2 = 0"},
        {GetPortLoopTimeRemain, "portLoopTimeRemain.abc.3",
         "Internal Error MMLStrToMMLOid(e) failed for portLoopTimeRemain.abc.3, Error 3",
         "Internal Error MMLRequestLocal(c) failed, errorStatus = 2, errorIndex = 1, Error1 = 0, "
         "Error2 = 0"},
        {errStat, "portErrStatRxTotal.abc.3",
         "Internal Error MMLStrToMMLOid failed for portErrStatRxTotal.abc.3, Error 3",
         "Internal Error MMLRequestLocal(e) failed, errorStatus = 2, errorIndex = 1, Error1 = 0, "
         "Error2 = 0"},
    };
    for (const auto &c : cases) {
        fake_mml::Reset();
        entry->engineState = Running;
        int32_t value = 77;
        fake_mml::GetScript().refusedNames[c.object] = 3;
        EXPECT_EQ(c.get(7, entry, &value), 0);
        EXPECT_EQ(Message(), c.nameText);
        EXPECT_EQ(entry->engineState, EndedByError);
        EXPECT_TRUE(fake_mml::Requests().empty());

        fake_mml::Reset();  // not provisioned: noSuchName on record 1
        entry->engineState = Running;
        EXPECT_EQ(c.get(7, entry, &value), 0);
        EXPECT_EQ(Message(), c.requestText);
        EXPECT_EQ(value, 77);

        fake_mml::GetScript().objects[c.object] = fake_mml::Integer(12);
        entry->engineState = Running;
        EXPECT_EQ(c.get(7, entry, &value), 1);
        EXPECT_EQ(value, 12);
        EXPECT_EQ(entry->engineState, Running);
        EXPECT_EQ(fake_mml::LiveAllocations(), 0);
    }
}

TEST_F(LoopObjectsTest, AFailureDoesNotReplaceAnOutcomeAlreadyDecided) {
    entry->engineState = EndedByTime;
    int32_t value = 0;
    EXPECT_EQ(GetPortLoopState(7, entry, &value), 0);
    EXPECT_EQ(entry->engineState, EndedByTime);
    EXPECT_EQ(Message(), "");
}

TEST_F(LoopObjectsTest, SetPortmodLoopOperatingAnswersWithTheRecordOrOne) {
    auto &script = fake_mml::GetScript();
    script.objects["portmodLoopOperating.abc"] = fake_mml::Integer(1);
    EXPECT_EQ(SetPortmodLoopOperating(7, 3), 3);
    auto requests = fake_mml::Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].type, MML_REQUEST_SET);
    EXPECT_EQ(requests[0].bindings[0].name, "portmodLoopOperating.abc");
    EXPECT_EQ(requests[0].bindings[0].integer, 3);

    script.setAnswers["portmodLoopOperating.abc"] = 1;  // a resident instance
    EXPECT_EQ(SetPortmodLoopOperating(7, 3), 1);
    script.setAnswers.clear();
    script.failedObjects["portmodLoopOperating.abc"] = {1, 0, 0, 0, 0};
    EXPECT_EQ(SetPortmodLoopOperating(7, 3), 1);
    script.refusedNames["portmodLoopOperating.abc"] = 2;
    EXPECT_EQ(SetPortmodLoopOperating(7, 3), 1);
    EXPECT_EQ(Message(), "");
    EXPECT_EQ(fake_mml::LiveAllocations(), 0);
}

}  // namespace
