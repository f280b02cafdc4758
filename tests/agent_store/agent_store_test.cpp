// The agent's reads, publications and reports against a real store, as a console sees them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "agent/loop/engine.h"
#include "agent/loop/report.h"
#include "agent/mib/store_access.h"
#include "agent/table/port_state.h"
#include "mml/store.h"
#include "tests/support/process.h"

namespace vyn::test {
namespace {

class AgentStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        storePath_ = dir_ / "mib.db";
        setenv("VYNLOOP_MIB", storePath_.c_str(), 1);
        mml::Error error;
        auto store = mml::Store::Create(storePath_, error);
        ASSERT_TRUE(store) << error.message;
        mml::PortDevice ports[] = {{3, "COM12"}};
        ASSERT_TRUE(store->Provision("abc", ports, true, error)) << error.message;
        ASSERT_EQ(MMLInitialize(1, 0, 0, 0, 0, &session_), 0);
        snprintf(instanceName, sizeof instanceName, "abc");
        entry_ = &PortTestTable[2];
        entry_->portNumber = 3;
        entry_->engineState = Idle;
    }
    void TearDown() override { MMLTerminate(session_); }

    std::vector<std::string> Get(const std::vector<std::string> &names) {
        std::vector<std::string> argv{Program("vynloopctl"), "--mib", storePath_, "get"};
        argv.insert(argv.end(), names.begin(), names.end());
        Finished got = RunProgram(argv);
        EXPECT_EQ(got.status, 0) << got.err;
        std::vector<std::string> lines;
        size_t at = 0;
        for (size_t end; (end = got.out.find('\n', at)) != std::string::npos; at = end + 1) {
            lines.push_back(got.out.substr(at, end - at));
        }
        return lines;
    }

    TempDir dir_;
    std::string storePath_;
    MmlSessionHandle session_ = 0;
    PortTestEntry *entry_ = nullptr;
};

TEST_F(AgentStoreTest, ReadsTheProvisionedRequest) {
    ASSERT_EQ(ReadPortCmdTable(session_, entry_), 1);
    EXPECT_STREQ(entry_->portName, "COM12");
    EXPECT_EQ(entry_->portNameNumber, 12);
    EXPECT_EQ(entry_->loopSpeed, 9600u);
    EXPECT_EQ(entry_->loopDataSize, 8);
    EXPECT_EQ(entry_->loopTime, 10);
    EXPECT_EQ(entry_->inBuffSize, 4096);
    EXPECT_EQ(entry_->userDataLength, 0);
    EXPECT_EQ(entry_->rasStatus, 0);
    EXPECT_EQ(entry_->engineState, Idle);
    int32_t state = -1;
    EXPECT_EQ(GetPortLoopState(session_, entry_, &state), 1);
    EXPECT_EQ(state, 0);
    // The instance is resident: the store keeps the agent polling.
    EXPECT_EQ(SetPortmodLoopOperating(session_, 3), 1);
}

TEST_F(AgentStoreTest, AConsoleReadsExactlyWhatTheReportPublished) {
    PublishLoopResults(session_, entry_, LoopStateRunning);
    EXPECT_EQ(Get({"portLoopState.abc.3"}), std::vector<std::string>{"3"});
    entry_->rxCount = 95940;
    entry_->txTotal = 96000;
    entry_->rxTotal = 95940;
    entry_->inErrs = 3;
    entry_->dataErrors = 1;
    entry_->rate = 9550;
    entry_->avgRate = 9597;
    entry_->loopTime = 100;
    entry_->timeRemain = 0;
    entry_->locErr = 21;
    snprintf(entry_->errData, sizeof entry_->errData, "%s", "ABCDEFGHIJKLMNOPQRSTUvWXYZ");
    ReportTestCompletion(session_, entry_, 5);
    const std::string text =
        "Loopback test complete, 2 receive errors detected, 1 data error detected. Avg "
        "transmission rate was 9597 Baud.";
    EXPECT_STREQ(entry_->msgText, text.c_str());
    EXPECT_EQ(Get({"portLoopStopErr.abc.3", "portLoopTxTotal.abc.3", "portLoopRxTotal.abc.3",
                   "portLoopInErrs.abc.3", "portLoopRate.abc.3", "portLoopAvgRate.abc.3",
                   "portLoopTimeRemain.abc.3", "portLoopLocErr.abc.3", "portLoopErrData.abc.3",
                   "portLoopState.abc.3"}),
              (std::vector<std::string>{text, "96000", "95940", "3", "9550", "9597", "0", "21",
                                        "ABCDEFGHIJKLMNOPQRSTUvWXYZ", "5"}));
    EXPECT_EQ(entry_->resultListBuilt, 0u);
}

TEST_F(AgentStoreTest, AnObjectNeverProvisionedIsARequestFailure) {
    entry_->portNumber = 4;
    int32_t value = 0;
    EXPECT_EQ(GetPortLoopState(session_, entry_, &value), 0);
    EXPECT_STREQ(entry_->msgText,
                 "Internal Error MMLRequestLocal(c) failed, errorStatus = 2, errorIndex = 1, "
                 "Error1 = 0, Error2 = 0");
    EXPECT_EQ(entry_->engineState, EndedByError);
}

}  // namespace
}  // namespace vyn::test
