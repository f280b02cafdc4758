// The HTTP API of vynloop-web for a sweep started from the page, the limit on failed logins, and
// what the rack says when its store or its agent fails.
#include <signal.h>
#include <sys/stat.h>

#include <fstream>

#include "console/rack/loop_state.h"
#include "tests/web/web_fixture.h"
#include "web/login.h"
#include "web/login_throttle.h"

namespace vyn::web::test {

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

std::string Error(const httplib::Result &answer) {
    return answer ? json::parse(answer->body, nullptr, false).value("error", answer->body) : "";
}

json Sweep(httplib::Client &client) {
    auto answer = client.Get("/api/sweep");
    return answer && answer->status == 200 ? json::parse(answer->body) : json();
}

bool WaitSweep(httplib::Client &client, const std::string &state) {
    return WaitFor([&] { return Sweep(client).value("state", "") == state; }, 60000);
}

TEST_F(WebTest, ASweepIsCheckedWithTheConsolesWords) {
    StartServer();
    struct Case {
        json settings;
        std::string says;
    };
    const Case cases[] = {
        {{{"frames", "8N1"}, {"time", 2}}, "--speeds is required"},
        {{{"speeds", {9600, "fast"}}, {"frames", "8N1"}, {"time", 2}},
         "bad speed 'fast': a number of baud, 1 or more"},
        {{{"speeds", "9600,9600"}, {"frames", "8N1"}, {"time", 2}}, "speed 9600 is given twice"},
        {{{"speeds", "9600"}, {"frames", {"8N1", "5N2"}}, {"time", 2}}, "5N2"},
        {{{"speeds", "9600"}, {"frames", "8N1"}, {"speed", 9600}, {"time", 2}}, "--speed"},
        {{{"speeds", "9600"}, {"frames", "8N1"}, {"time", 0}},
         "port 1 (COM1): a test without a time limit never ends a step; give --time SECONDS"},
        {{{"speeds", "9600"}, {"frames", "8N1"}, {"time", 2}, {"operator", std::string(300, 'a')}},
         "--operator"},
        {{{"speeds", "9600"}, {"frames", "8N1"}, {"time", 2}, {"cable", true}}, "cable"},
    };
    for (const Case &one : cases) {
        auto answer =
            Post("/api/sweep", {{"instance", "demo"}, {"ports", {1}}, {"settings", one.settings}});
        ASSERT_TRUE(answer) << one.settings;
        EXPECT_EQ(answer->status, 400) << one.settings;
        EXPECT_NE(Error(answer).find(one.says), std::string::npos)
            << one.settings << ": " << Error(answer);
    }
    EXPECT_EQ(Post("/api/sweep", {{"instance", "demo"}, {"ports", {7}}})->status, 404);
    EXPECT_EQ(Post("/api/sweep/stop", json::object())->status, 409);
    EXPECT_TRUE(Sweep(*client_).is_null());  // no sweep has run
    // Changing requests are guarded as start and stop are.
    EXPECT_EQ(client_->Post("/api/sweep", "{}", "application/json")->status, 403);
    EXPECT_EQ(client_->Post("/api/sweep/stop", "{}", "application/json")->status, 403);
}

TEST_F(WebTest, ASweepRunsItsStepsOneAtATimeAndIsRecordedAsOneRun) {
    StartBoard();
    StartServer();
    json request = {{"instance", "demo"},
                    {"ports", {1, 2}},
                    {"settings",
                     {{"speeds", {115200}},
                      {"frames", {"8N1", "7E1"}},
                      {"time", 1},
                      {"internal", true},
                      {"operator", "ann"}}}};
    auto started = Post("/api/sweep", request);
    ASSERT_EQ(started->status, 200) << started->body;
    NoteAgent(started);
    EXPECT_EQ(json::parse(started->body)["steps"], 2);
    auto second = Post("/api/sweep", {{"instance", "demo"}, {"ports", {3}}, request["settings"]});
    EXPECT_EQ(second->status, 409);
    EXPECT_NE(Error(second).find("a sweep is running on this rack"), std::string::npos)
        << Error(second);

    ASSERT_TRUE(WaitSweep(*client_, "passed")) << Sweep(*client_);
    json sweep = Sweep(*client_);
    EXPECT_EQ(sweep["steps"], json({"115200 8N1", "115200 7E1"}));
    EXPECT_EQ(sweep["cells"], json::parse(R"([["pass", "pass"], ["pass", "pass"]])"));
    EXPECT_EQ(sweep["message"], "4 of 4 tests passed; 2 of 2 steps run");
    EXPECT_EQ(Rack()["sweep"], sweep);  // the live feed carries it too
    ASSERT_TRUE(sweep["run"].is_number_integer()) << sweep;
    std::string run = std::to_string(sweep["run"].get<int>());
    json report = json::parse(client_->Get("/api/runs?run=" + run + "&format=json")->body);
    EXPECT_EQ(report["tests"].size(), 4u) << report;
    EXPECT_NE(client_->Get("/api/runs?run=" + run + "&format=junit")->body.find("<testsuite"),
              std::string::npos);
    json runs = json::parse(client_->Get("/api/runs")->body)["runs"];
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0]["operator"], "ann");
}

TEST_F(WebTest, AStoppedSweepEndsItsStepAndKeepsTheFinishedOnes) {
    StartBoard();
    StartServer();
    auto started =
        Post("/api/sweep",
             {{"instance", "demo"},
              {"ports", {1, 2}},
              {"settings",
               {{"speeds", "9600,19200"}, {"frames", "8N1"}, {"time", 60}, {"internal", true}}}});
    ASSERT_EQ(started->status, 200) << started->body;
    NoteAgent(started);
    ASSERT_TRUE(WaitFor([&] {
        return Sweep(*client_)["current"] == json({"running", "running"});
    })) << Sweep(*client_);
    // Its ports are busy for a plain start meanwhile.
    EXPECT_EQ(Post("/api/start", {{"instance", "demo"}, {"ports", {2}}})->status, 409);
    ASSERT_EQ(Post("/api/sweep/stop", json::object())->status, 200);
    ASSERT_TRUE(WaitSweep(*client_, "stopped")) << Sweep(*client_);
    json sweep = Sweep(*client_);
    EXPECT_EQ(sweep["cells"], json::parse(R"([["stopped", "stopped"]])"));
    EXPECT_EQ(sweep["message"], "0 of 2 tests passed; 1 of 2 steps run");
    EXPECT_TRUE(WaitView(1, "stopped"));
    EXPECT_EQ(Post("/api/sweep/stop", json::object())->status, 409);
}

TEST(LoginThrottleTest, AFewFailuresAreFreeThenTheWaitGrowsUpToItsCeiling) {
    LoginThrottle throttle;
    auto now = LoginThrottle::Clock::now();
    for (int i = 0; i < LoginThrottle::kFreeFailures - 1; ++i) {
        throttle.Failed("10.0.0.1", now);
        EXPECT_EQ(throttle.Wait("10.0.0.1", now), 0s) << i;
    }
    throttle.Failed("10.0.0.1", now);
    EXPECT_EQ(throttle.Wait("10.0.0.1", now), 2s);
    EXPECT_EQ(throttle.Wait("10.0.0.2", now), 0s);  // another address is not held
    now += 2s;
    EXPECT_EQ(throttle.Wait("10.0.0.1", now), 0s);
    throttle.Failed("10.0.0.1", now);
    EXPECT_EQ(throttle.Wait("10.0.0.1", now), 4s);
    for (int i = 0; i < 30; ++i) {
        throttle.Failed("10.0.0.1", now);
    }
    EXPECT_EQ(throttle.Wait("10.0.0.1", now), LoginThrottle::kLongestWait);
    throttle.Succeeded("10.0.0.1");
    EXPECT_EQ(throttle.Wait("10.0.0.1", now), 0s);
    // Failures long ago are forgotten: the next one is free again.
    for (int i = 0; i < LoginThrottle::kFreeFailures; ++i) {
        throttle.Failed("10.0.0.3", now);
    }
    now += 2h;
    throttle.Failed("10.0.0.3", now);
    EXPECT_EQ(throttle.Wait("10.0.0.3", now), 0s);
}

TEST_F(WebTest, FailedLoginsFromOneAddressAreHeldOff) {
    {
        std::ofstream file(dir_ + "/users");
        file << HashPassword("ann", "right") << "\n";
    }
    WebOptions options;
    options.credentials = dir_ + "/users";
    StartServer(options);
    auto login = [&](const std::string &password) {
        return client_->Post("/api/login", json{{"user", "ann"}, {"password", password}}.dump(),
                             "application/json");
    };
    for (int i = 0; i < LoginThrottle::kFreeFailures; ++i) {
        EXPECT_EQ(login("guess")->status, 401) << i;
    }
    // Even the right password waits now.
    auto held = login("right");
    ASSERT_EQ(held->status, 429);
    EXPECT_NE(Error(held).find("too many failed logins from this address: try again in"),
              std::string::npos)
        << Error(held);
    EXPECT_EQ(held->get_header_value("Retry-After"), "2");
    EXPECT_EQ(held->get_header_value("Set-Cookie"), "");
}

TEST_F(WebTest, TheRackSaysWhenItsAgentHasEndedAndWhenItsStoreFails) {
    StartBoard();
    StartServer();
    auto started = Post(
        "/api/start",
        {{"instance", "demo"}, {"ports", {1}}, {"settings", {{"time", 0}, {"internal", true}}}});
    ASSERT_EQ(started->status, 200) << started->body;
    pid_t agent = json::parse(started->body)["agentStarted"].get<pid_t>();
    agents_.push_back(agent);
    ASSERT_TRUE(WaitFor([&] { return Port(1).value("sent", 0) > 0; }));
    ASSERT_EQ(::kill(agent, SIGKILL), 0);
    ASSERT_TRUE(WaitView(1, "stopped")) << Port(1);
    EXPECT_EQ(Port(1)["state"], "interrupted");
    EXPECT_NE(Port(1)["result"].get<std::string>().find(vyn::console::kOrphanedResult),
              std::string::npos);
    EXPECT_EQ(Rack()["instances"][0]["agent"], false);

    // Another program holds the store's write lock: a change is refused in words.
    {
        // It holds the lock while it waits to open a pipe that nobody writes.
        ASSERT_EQ(::mkfifo((dir_ + "/never").c_str(), 0600), 0);
        Child holder({"/usr/bin/sqlite3", dir_ + "/mib.db", "BEGIN EXCLUSIVE;",
                      ".shell touch " + dir_ + "/held", ".read " + dir_ + "/never"});
        ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(dir_ + "/held"); }));
        auto busy = Post("/api/stop", {{"instance", "demo"}, {"ports", {1}}});
        EXPECT_EQ(busy->status, 503);
        EXPECT_NE(Error(busy).find("holds the store's write lock"), std::string::npos)
            << Error(busy);
    }  // killed: the lock goes with it

    // A store overwritten with garbage: the rack's state says so.
    {
        std::ofstream garbage(dir_ + "/mib.db", std::ios::binary | std::ios::trunc);
        garbage << std::string(8192, 'x');
    }
    ASSERT_TRUE(WaitFor([&] { return Rack().contains("error"); })) << Rack();
    EXPECT_NE(Rack()["error"].get<std::string>().find("damaged"), std::string::npos) << Rack();
}

}  // namespace

}  // namespace vyn::web::test
