// The one-line result of a test and the description of a failed device operation.
#include "agent/loop/report.h"
#include "tests/agent/agent_fixture.h"
#include "tests/support/system_text.h"

namespace {

CompletionFacts Facts(uint32_t inErrs, uint32_t dataErrors, uint32_t avgRate, int32_t loopTime,
                      int32_t timeRemain) {
    CompletionFacts facts{};
    facts.rxCount = 1000;
    facts.inErrs = inErrs;
    facts.dataErrors = dataErrors;
    facts.avgRate = avgRate;
    facts.loopTime = loopTime;
    facts.timeRemain = timeRemain;
    return facts;
}

std::string Compose(const CompletionFacts &facts, int32_t reason, int32_t *published = nullptr,
                    const char *message = "") {
    char text[MSG_TEXT_SIZE];
    snprintf(text, sizeof text, "%s", message);
    int32_t result = ComposeCompletionText(facts, reason, text);
    if (published != nullptr) {
        *published = result;
    }
    return text;
}

TEST(CompletionTextTest, EveryReasonWithAndWithoutErrors) {
    struct Case {
        CompletionFacts facts;
        int32_t reason;
        const char *text;
    } cases[] = {
        {Facts(0, 0, 9600, 10, 0), 5,
         "Loopback test complete, no errors detected. Avg transmission rate was 9600 Baud."},
        {Facts(0, 0, 9600, 0, -3), 5,
         "Infinite loopback test terminated due to loss of communications, no errors detected. "
         "Avg transmission rate was 9600 Baud."},
        {Facts(2, 2, 115200, 0, 40), 2,
         "Loopback test complete, 2 data errors detected. Avg transmission rate was 115200 Baud."},
        {Facts(1, 0, 300, 10, 3), 4,
         "Loopback test terminated due to errors after 7 seconds, 1 receive error detected. Avg "
         "transmission rate was 300 Baud."},
        {Facts(5, 1, 9600, 30, 10), 2,
         "Loopback test terminated by user after 20 seconds, 4 receive errors detected, 1 data "
         "error detected. Avg transmission rate was 9600 Baud."},
        // A data error counted after the last once-a-second sum: no receive errors are invented.
        {Facts(1, 3, 9600, 10, 0), 5,
         "Loopback test complete, 3 data errors detected. Avg transmission rate was 9600 Baud."},
        {Facts(0, 0, 1200, 10, 0), 9,
         "Loopback test complete, no errors detected. Avg transmission rate was 1200 Baud."},
    };
    for (const auto &c : cases) {
        int32_t published = 0;
        EXPECT_EQ(Compose(c.facts, c.reason, &published), c.text);
        EXPECT_EQ(published, c.reason);
    }
}

TEST(CompletionTextTest, TheExamplesComeOutExactly) {
    CompletionFacts stopped = Facts(4, 1, 19200, 60, 18);
    stopped.barberPole = 1;
    stopped.loopDataSize = 5;
    EXPECT_EQ(Compose(stopped, 2),
              "Loopback test terminated by user after 42 seconds, 3 receive errors detected, 1 "
              "data error detected. Avg transmission rate was 19200 Baud. Barber pole pattern "
              "used due to 5 bit data size.");
    CompletionFacts silent = Facts(0, 0, 0, 10, 0);
    silent.rxCount = 0;
    for (int32_t reason : {2, 4, 5}) {
        int32_t published = 0;
        EXPECT_EQ(Compose(silent, reason, &published),
                  "Loopback test failed, no data characters received");
        EXPECT_EQ(published, 4);
    }
}

TEST(CompletionTextTest, TimeWithoutALimitIsTheRealElapsedTime) {
    CompletionFacts facts = Facts(5, 0, 9600, 0, 41);
    facts.elapsedSeconds = 95;
    EXPECT_EQ(Compose(facts, 4),
              "Loopback test terminated due to errors after 95 seconds, 5 receive errors detected. "
              "Avg transmission rate was 9600 Baud.");
}

TEST(CompletionTextTest, AFailureMessageIsKeptAndTheNoteAddedOnlyWhole) {
    CompletionFacts facts = Facts(0, 0, 0, 10, 5);
    facts.barberPole = 1;
    facts.loopDataSize = 6;
    const char *failure =
        "Unable to read characters from target device. Device ReadFile(b) for "
        "COM3 failed. Access is denied.";
    EXPECT_EQ(Compose(facts, 4, nullptr, failure),
              std::string(failure) + " Barber pole pattern used due to 6 bit data size.");
    // The note is 49 characters: with 206 before it the result stays below 256, with 207 not.
    std::string fits(206, 'x');
    EXPECT_EQ(Compose(facts, 4, nullptr, fits.c_str()).size(), 255u);
    std::string full(207, 'x');
    EXPECT_EQ(Compose(facts, 4, nullptr, full.c_str()), full);
}

class SystemErrorTextTest : public AgentTest {};

// Windows' words, and its line end, which the text keeps; Linux's platform gives the words alone.
// Wine words its texts differently ("Access denied.").
std::string AccessDeniedText() {
    if (vyn::test::RunningUnderWine()) {
        return "Access denied.\r\n";
    }
    return vyn::test::SystemText(ERROR_ACCESS_DENIED).ends_with("\r\n") ? "Access is denied.\r\n"
                                                                        : "Access is denied.";
}

TEST_F(SystemErrorTextTest, AppendsTheSystemTextWithinTheMessageLimit) {
    SetSystemErrorText(entry, "Device CreateFile for COM3 failed", ERROR_ACCESS_DENIED);
    EXPECT_EQ(Message(), "Device CreateFile for COM3 failed. " + AccessDeniedText());
    std::string longText(250, 'd');
    SetSystemErrorText(entry, longText.c_str(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Message(),
              longText + ". " + vyn::test::SystemText(ERROR_INVALID_PARAMETER).substr(0, 4));
    EXPECT_EQ(Message().size(), 256u);
    SetSystemErrorText(entry, "Device X failed", 12345);
    EXPECT_EQ(Message(), "Device X failed. Error 12345");
}

TEST_F(SystemErrorTextTest, ARunningTestIsFailedOnceAndAnEndedOneKeepsItsOutcome) {
    snprintf(entry->portName, sizeof entry->portName, "COM3");
    entry->engineState = Running;
    entry->testRunning = 1;
    EXPECT_EQ(FailDeviceOperation(entry, "Device WriteFile(b) for %s failed", 5), 1);
    EXPECT_EQ(entry->engineState, EndedByError);
    EXPECT_EQ(entry->testRunning, 0u) << "the writer and the reader wind down";
    EXPECT_EQ(FailDeviceOperation(entry, "later", 6), 0);
    EXPECT_EQ(Message(), "Device WriteFile(b) for COM3 failed. " + AccessDeniedText());
    entry->engineState = Idle;
    EXPECT_EQ(FailDeviceOperation(entry, "too late", 6), 0);
    EXPECT_EQ(entry->engineState, Idle);
}

class ReportTest : public AgentTest {};

TEST_F(ReportTest, PublishesTheResultWithTheReasonAndReleasesWhatTheTestHeld) {
    ProvisionPort();
    entry->rxCount = 0;
    entry->writeState = 0;
    entry->writeBuffer = static_cast<char *>(HeapAlloc(GetProcessHeap(), 0, 960));
    PublishLoopResults(7, entry, LoopStateRunning);
    ReportTestCompletion(7, entry, 5);
    auto requests = fake_mml::Requests();
    ASSERT_EQ(requests.size(), 2u);
    ASSERT_EQ(requests[1].bindings.size(), static_cast<size_t>(RESULT_BINDING_COUNT));
    EXPECT_EQ(requests[1].bindings[0].text, "Loopback test failed, no data characters received");
    EXPECT_EQ(requests[1].bindings.back().integer, 4);
    EXPECT_EQ(entry->resultListBuilt, 0u);
    EXPECT_EQ(entry->writeBuffer, nullptr);
    EXPECT_EQ(fake_mml::LiveAllocations(), 0);
}

// A store that cannot take the result (busy beyond its time-out, read-only, full) changes no word
// of it: the result waits in the entry, with its reason, until a later pass gets it through.
TEST_F(ReportTest, AResultTheStoreCannotTakeWaitsUnchangedUntilItCan) {
    ProvisionPort();
    entry->rxCount = 100;
    entry->avgRate = 9600;
    entry->loopTime = 5;
    fake_mml::GetScript().failedRequests[2] = {MML_FAILURE_BUSY, 0, 0, 5, MML_FAILURE_BUSY};
    fake_mml::GetScript().failedRequests[3] = {MML_FAILURE_STORAGE, 0, 0, 8, MML_FAILURE_STORAGE};
    PublishLoopResults(7, entry, LoopStateRunning);
    EXPECT_EQ(ReportTestCompletion(7, entry, ReasonTimeOut), 0);
    EXPECT_EQ(entry->storeUnavailable, 1u);
    EXPECT_EQ(entry->resultListBuilt, 1u);
    const std::string result =
        "Loopback test complete, no errors detected. Avg transmission rate was 9600 Baud.";
    EXPECT_EQ(Message(), result);
    EXPECT_EQ(PublishWaitingResult(7, entry), 0);
    EXPECT_EQ(Message(), result);
    EXPECT_EQ(PublishWaitingResult(7, entry), 1);
    auto requests = fake_mml::Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[3].bindings[0].text, result);
    EXPECT_EQ(requests[3].bindings.back().integer, LoopStateComplete);
    EXPECT_EQ(entry->storeUnavailable, 0u);
    EXPECT_EQ(entry->resultListBuilt, 0u);
    EXPECT_EQ(fake_mml::LiveAllocations(), 0);
}

TEST_F(ReportTest, KeepsTheBufferOfAnOutstandingWriteForTheWriter) {
    entry->writeBuffer = static_cast<char *>(HeapAlloc(GetProcessHeap(), 0, 960));
    entry->writeState = 1;
    ReleaseWriteBuffer(entry);
    EXPECT_NE(entry->writeBuffer, nullptr);
    entry->writeState = 0;
    ReleaseWriteBuffer(entry);
    ReleaseWriteBuffer(entry);
    EXPECT_EQ(entry->writeBuffer, nullptr);
}

}  // namespace
