// Publishing a port's results: the list built once per test, with or without the state binding,
// failures.
#include <algorithm>

#include "tests/agent/agent_fixture.h"

namespace {

class PublishTest : public AgentTest {
  protected:
    void SetUp() override {
        AgentTest::SetUp();
        ProvisionPort();
    }
    void TearDown() override {
        if (entry->resultListBuilt) {
            MMLFreeVarBindList(&entry->resultList);
            entry->resultListBuilt = 0;
        } else if (entry->resultBindings != nullptr) {
            MMLFree(entry->resultBindings);
        }
        entry->resultBindings = nullptr;
        EXPECT_EQ(fake_mml::LiveAllocations(), 0);
    }
};

TEST_F(PublishTest, SendsEveryResultWithAStateAndAllButTheStateWithout) {
    snprintf(entry->msgText, sizeof entry->msgText, "running");
    entry->txTotal = 960;
    entry->rxTotal = 950;
    entry->inErrs = 2;
    entry->rate = 9600;
    entry->avgRate = 9500;
    entry->timeRemain = 8;
    entry->locErr = 23;
    snprintf(entry->errData, sizeof entry->errData, "abc");
    entry->charsCorrupted = 5;
    entry->charsLost = 4;
    entry->charsExtra = 3;
    entry->breaks = 2;
    entry->lineShare = 99;
    entry->firstBadPos = 1234;
    entry->firstBadExpected = 'A';
    entry->firstBadReceived = '@';
    PublishLoopResults(7, entry, LoopStateRunning);
    auto requests = fake_mml::Requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto &sent = requests[0].bindings;
    ASSERT_EQ(sent.size(), 21u);
    EXPECT_EQ(requests[0].type, MML_REQUEST_SET);
    EXPECT_EQ(sent[0].name, "portLoopStopErr.abc.3");
    EXPECT_EQ(sent[0].text, "running");
    EXPECT_EQ(sent[1].integer, 960);
    EXPECT_EQ(sent[4].name, "portLoopRate.abc.3");
    EXPECT_EQ(sent[6].integer, 8);
    EXPECT_EQ(sent[7].integer, 23);
    EXPECT_EQ(sent[8].text, "abc");
    // The errors by kind follow, each under its own name.
    const std::pair<const char *, int32_t> kinds[] = {{"portLoopCorrupted", 5},
                                                      {"portLoopLost", 4},
                                                      {"portLoopExtra", 3},
                                                      {"portLoopBreaks", 2},
                                                      {"portLoopLineShare", 99},
                                                      {"portLoopFirstBadPos", 1234},
                                                      {"portLoopFirstBadExpected", 'A'},
                                                      {"portLoopFirstBadReceived", '@'}};
    for (const auto &[object, value] : kinds) {
        std::string name = std::string(object) + ".abc.3";
        auto found = std::find_if(sent.begin(), sent.end(),
                                  [&](const auto &binding) { return binding.name == name; });
        ASSERT_NE(found, sent.end()) << name;
        EXPECT_EQ(found->integer, value) << name;
    }
    EXPECT_EQ(sent[20].name, "portLoopState.abc.3");
    EXPECT_EQ(sent[20].integer, 3);
    EXPECT_EQ(entry->loopState, LoopStateRunning);

    entry->msgText[0] = 0;
    entry->errData[0] = 0;
    int conversions = fake_mml::Conversions();
    PublishLoopResults(7, entry, PUBLISH_NO_STATE);
    requests = fake_mml::Requests();
    ASSERT_EQ(requests.size(), 2u);
    ASSERT_EQ(requests[1].bindings.size(), 20u);
    EXPECT_EQ(requests[1].bindings[0].type, MML_TYPE_OCTETS);
    EXPECT_EQ(requests[1].bindings[0].text, "");
    EXPECT_EQ(requests[1].bindings[8].text, "");
    EXPECT_EQ(fake_mml::Conversions(), conversions) << "names are converted once per test";
    EXPECT_EQ(fake_mml::Object("portLoopState.abc.3")->integer, LoopStateRunning);
}

TEST_F(PublishTest, WithoutASessionTheListIsBuiltAndNothingSent) {
    snprintf(entry->msgText, sizeof entry->msgText, "kept");
    PublishLoopResults(0, entry, LoopStateRunning);
    EXPECT_EQ(entry->resultListBuilt, 1u);
    EXPECT_TRUE(fake_mml::Requests().empty());
    EXPECT_EQ(Message(), "kept");
}

TEST_F(PublishTest, ARefusedNameLeavesNoListAndTheNextPublicationStartsAgain) {
    fake_mml::GetScript().refusedNames["portLoopRate.abc.3"] = 2;
    PublishLoopResults(7, entry, LoopStateRunning);
    EXPECT_EQ(entry->resultListBuilt, 0u);
    EXPECT_EQ(entry->resultBindings, nullptr);
    EXPECT_EQ(Message(), "Internal Error MMLStrToMMLOid failed for portLoopRate.abc.3, Error 2");
    EXPECT_TRUE(fake_mml::Requests().empty());
    EXPECT_EQ(fake_mml::Conversions(), 4);

    fake_mml::GetScript().refusedNames.clear();
    PublishLoopResults(7, entry, LoopStateRunning);
    EXPECT_EQ(entry->resultListBuilt, 1u);
    EXPECT_EQ(fake_mml::Conversions(), 4 + 21);

    MMLFreeVarBindList(&entry->resultList);
    entry->resultListBuilt = 0;
    fake_mml::GetScript().refusedNames["portLoopState.abc.3"] = 5;
    PublishLoopResults(7, entry, LoopStateRunning);
    EXPECT_EQ(Message(),
              "Internal Error MMLStrToMMLOid(b) failed for portLoopState.abc.3, Error 5");
}

TEST_F(PublishTest, AFailedRequestReplacesTheMessageAndKeepsTheList) {
    fake_mml::GetScript().failedRequests[1] = {1, 0, 0, 14, 5};
    PublishLoopResults(7, entry, PUBLISH_NO_STATE);
    EXPECT_EQ(Message(),
              "Internal Error MMLRequestLocal(a) failed, errorStatus = 0, errorIndex = 0, "
              "Error1 = 14, Error2 = 5");
    EXPECT_EQ(entry->resultListBuilt, 1u);
    EXPECT_EQ(entry->engineState, Idle);
}

}  // namespace
