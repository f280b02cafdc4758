// The station's own rules, without processes: frames as people write them, record times, the
// sweep's matrix cells, and the three report formats (the JUnit file checked with xmllint against
// the schemas of two of its consumers).
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

#include "console/rack/frame.h"
#include "console/rack/record_view.h"
#include "console/rack/report_formats.h"
#include "console/rack/sweep_plan.h"
#include "mml/record_fields.h"
#include "mml/vocabulary.h"
#include "tests/support/process.h"

namespace vyn::console {
namespace {

std::string FrameError(std::string_view text) {
    Frame frame;
    std::string reason;
    return ParseFrame(text, frame, reason) ? "" : reason;
}

TEST(FrameTest, FramesAsPeopleWriteThemAndOnlyThoseAUartSends) {
    struct Case {
        std::string_view text;
        int32_t dataBits, parity, stopBits;
    };
    for (const Case &c : {Case{"8N1", 8, ParityNone, StopBitsOne},
                          {"7e1", 7, ParityEven, StopBitsOne},
                          {"8N2", 8, ParityNone, StopBitsTwo},
                          {"5O1.5", 5, ParityOdd, StopBitsOneAndHalf},
                          {"6M2", 6, ParityMark, StopBitsTwo},
                          {"5S1", 5, ParitySpace, StopBitsOne}}) {
        Frame frame;
        std::string reason;
        ASSERT_TRUE(ParseFrame(c.text, frame, reason)) << c.text << ": " << reason;
        EXPECT_EQ(frame.dataBits, c.dataBits) << c.text;
        EXPECT_EQ(frame.parity, c.parity) << c.text;
        EXPECT_EQ(frame.stopBits, c.stopBits) << c.text;
    }
    EXPECT_EQ(FrameText(5, ParityOdd, StopBitsOneAndHalf), "5O1.5");
    EXPECT_NE(FrameError("9N1").find("data bits are 5 to 8"), std::string::npos);
    EXPECT_NE(FrameError("4N1").find("data bits are 5 to 8"), std::string::npos);
    EXPECT_NE(FrameError("8X1").find("parity is one of NOEMS"), std::string::npos);
    EXPECT_NE(FrameError("8N3").find("stop bits are 1, 1.5 or 2"), std::string::npos);
    EXPECT_NE(FrameError("8N1.5").find("not one a UART sends"), std::string::npos);
    EXPECT_NE(FrameError("5N2").find("not one a UART sends"), std::string::npos);
    for (std::string_view bad : {"", "8N", "N81", "8N1 ", "88N1"}) {
        EXPECT_NE(FrameError(bad), "") << "'" << bad << "'";
    }
}

TEST(RecordTimeTest, UtcTimesReadAndWritten) {
    int64_t ms = 0;
    std::string reason;
    ASSERT_TRUE(ParseRecordTime("2026-12-06", ms, reason)) << reason;
    EXPECT_EQ(RecordTime(ms), "2026-12-06T00:00:00Z");
    ASSERT_TRUE(ParseRecordTime("2026-12-06T21:25:03Z", ms, reason));
    EXPECT_EQ(RecordTime(ms), "2026-12-06T21:25:03Z");
    ASSERT_TRUE(ParseRecordTime("2024-02-29 08:05", ms, reason));
    EXPECT_EQ(RecordTime(ms), "2024-02-29T08:05:00Z");
    for (std::string_view bad : {"2026-02-30", "2026-12-06T24:00", "06/12/2026", "2026-12-6",
                                 "2026-12-06T21", "yesterday"}) {
        EXPECT_FALSE(ParseRecordTime(bad, ms, reason)) << bad;
    }
}

TEST(SweepPlanTest, StepsAndMatrixCells) {
    Frame n81{8, ParityNone, StopBitsOne};
    Frame e71{7, ParityEven, StopBitsOne};
    std::vector<SweepStep> steps = PlanSweep({9600, 115200}, {n81, e71});
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(StepLabel(steps[1]), "9600 7E1");
    EXPECT_EQ(StepLabel(steps[2]), "115200 8N1");

    EXPECT_EQ(
        SweepCell(LoopStateComplete,
                  "Loopback test complete, no errors detected. Avg transmission rate was 9600 "
                  "Baud."),
        "pass");
    EXPECT_EQ(SweepCell(LoopStateComplete, "Loopback test complete, 3 data errors detected. ..."),
              "errors");
    EXPECT_EQ(SweepCell(LoopStateFailed, "Loopback test failed, no data characters received"),
              "no data");
    EXPECT_EQ(SweepCell(LoopStateFailed, "Target device cannot be opened. ..."), "failed");
    EXPECT_EQ(SweepCell(LoopStateStopped, "Loopback test complete, no errors detected."),
              "stopped");

    auto rows = SweepMatrix({"1 COM1", "2 COM2"}, steps, {{"pass", "errors"}});
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"PORT", "9600 8N1", "9600 7E1", "115200 8N1",
                                                 "115200 7E1"}));
    EXPECT_EQ(rows[2], (std::vector<std::string>{"2 COM2", "errors", "-", "-", "-"}));
}

mml::RecordedTest Test(int64_t id, int port, int32_t outcome, const std::string &result) {
    mml::RecordedTest test;
    test.id = id;
    test.run = 7;
    test.instance = "demo";
    test.port = port;
    test.requested = 1796515200000;  // 2026-12-06T00:00:00Z
    test.started = test.requested + 100;
    test.updated = test.ended.emplace(test.requested + 5100);
    test.endState = outcome == OutcomePassed ? LoopStateComplete : LoopStateFailed;
    test.outcome = outcome;
    for (const mml::RecordedObject &recorded : mml::RecordedObjects()) {
        if (recorded.column == "device") {
            test.fields.push_back(mml::Value::Octets("COM" + std::to_string(port)));
        } else if (recorded.column == "result") {
            test.fields.push_back(mml::Value::Octets(result));
        } else if (recorded.column == "speed") {
            test.fields.push_back(mml::Value::Integer(115200));
        } else if (recorded.column == "parity") {
            test.fields.push_back(mml::Value::Integer(ParityEven));
        } else if (recorded.column == "data_bits") {
            test.fields.push_back(mml::Value::Integer(7));
        } else if (recorded.column == "stop_bits") {
            test.fields.push_back(mml::Value::Integer(StopBitsOne));
        } else if (recorded.column == "error_data") {
            test.fields.push_back(mml::Value::Null());
        } else if (recorded.part == mml::RecordedPart::Result) {
            test.fields.push_back(mml::Value::Integer(42));
        } else {
            test.fields.push_back(mml::Value::Integer(1));
        }
    }
    return test;
}

RunReport SampleRun() {
    RunReport report;
    report.run.id = 7;
    report.run.instance = "demo";
    report.run.board = "SN-1";
    report.run.operatorName = "Zoë \"Z\" <ops>";
    report.run.note = std::string("bad byte \xff, comma, & \x01 control");
    report.run.created = 1796515200000;
    report.run.tests = 3;
    report.run.passed = 1;
    report.tests = {Test(1, 1, OutcomePassed, "Loopback test complete, no errors detected."),
                    Test(2, 2, OutcomeFailed, "Loopback test failed, no data characters received"),
                    Test(3, 3, OutcomeInterrupted, "")};
    report.tests[2].ended.reset();
    report.outcomes = {"passed", "failed", "interrupted"};
    return report;
}

TEST(RunReportTest, JunitPassesTheSchemasOfItsConsumers) {
    const std::string schemas = VYNLOOP_JUNIT_SCHEMAS_DIR;
    ::vyn::test::TempDir dir;
    const std::string file = dir / "run.xml";
    std::ofstream(file) << JunitReport(SampleRun(), "station-1");
    for (const std::string schema : {"jenkins-junit.xsd", "JUnit.xsd"}) {
        ASSERT_TRUE(std::ifstream(schemas + "/" + schema).good())
            << schema << " is missing from " << schemas << ": run scripts/lib/fetch-junit-schemas";
        ::vyn::test::Finished run = ::vyn::test::RunProgram(
            {"/usr/bin/xmllint", "--noout", "--schema", schemas + "/" + schema, file});
        EXPECT_EQ(run.status, 0) << schema << ":\n" << run.err;
    }
    std::string xml = ::vyn::test::ReadFile(file);
    EXPECT_NE(xml.find("tests=\"3\" failures=\"1\" errors=\"1\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("<failure message=\"Loopback test failed, no data characters received\" "
                       "type=\"failed\">"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<error message=\"the test interrupted\" type=\"interrupted\">"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("name=\"port 2 (COM2) 115200 7E1\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("value=\"Zoë &quot;Z&quot; &lt;ops&gt;\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("timestamp=\"2026-12-06T00:00:00\""), std::string::npos) << xml;

    // A file with a flaw must fail: the check reads xmllint's verdict, not its silence.
    std::ofstream(file) << "<testsuites><testsuite/></testsuites>";
    EXPECT_NE(::vyn::test::RunProgram(
                  {"/usr/bin/xmllint", "--noout", "--schema", schemas + "/jenkins-junit.xsd", file})
                  .status,
              0);
}

TEST(RunReportTest, CsvAndJsonCarryEveryTest) {
    const RunReport report = SampleRun();
    std::string csv = CsvReport(report);
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = csv.find("\r\n", at)) != std::string::npos; at = end + 2) {
        lines.push_back(csv.substr(at, end - at));
    }
    ASSERT_EQ(lines.size(), 4u) << csv;
    EXPECT_EQ(lines[0].substr(0, 35), "run,board,operator,instance,port,se");
    EXPECT_NE(lines[1].find("7,SN-1,\"Zoë \"\"Z\"\" <ops>\",demo,1,115200 7E1,passed,"),
              std::string::npos)
        << lines[1];
    EXPECT_NE(lines[2].find(",failed,"), std::string::npos);
    EXPECT_NE(lines[2].find(",COM2,"), std::string::npos);
    EXPECT_NE(lines[2].find(",even,"), std::string::npos) << "coded settings in words";

    nlohmann::json json = JsonReport(report);
    EXPECT_EQ(json["run"]["board"], "SN-1");
    EXPECT_EQ(json["run"]["note"], "bad byte \xEF\xBF\xBD, comma, & \x01 control");
    ASSERT_EQ(json["tests"].size(), 3u);
    EXPECT_EQ(json["tests"][1]["outcome"], "failed");
    EXPECT_EQ(json["tests"][1]["sent"], 42);
    EXPECT_EQ(json["tests"][1]["parity"], "even");
    EXPECT_TRUE(json["tests"][2]["ended"].is_null());
    EXPECT_TRUE(json["tests"][2]["error_data"].is_null());
}

}  // namespace
}  // namespace vyn::console
