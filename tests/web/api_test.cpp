// The HTTP API of vynloop-web: what it serves, what it refuses and why, and tests started,
// extended and stopped on a virtual board through it.
#include <atomic>
#include <fstream>

#include "mml/vocabulary.h"
#include "tests/web/web_fixture.h"
#include "web/login.h"

namespace vyn::web::test {

namespace {

using nlohmann::json;

std::string Error(const httplib::Result &answer) {
    return answer ? json::parse(answer->body, nullptr, false).value("error", answer->body) : "";
}

TEST_F(WebTest, ServesItsOwnPagesAndNothingElse) {
    StartServer();
    for (const char *path : {"/", "/fleet.html", "/port.html", "/vendor/uPlot.iife.min.js"}) {
        auto answer = client_->Get(path);
        ASSERT_TRUE(answer) << path;
        EXPECT_EQ(answer->status, 200) << path;
    }
    EXPECT_NE(client_->Get("/")->get_header_value("Content-Security-Policy"), "");
    // Nothing outside the built-in pages, however the path is written.
    for (const char *path : {"/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/web_server.cpp",
                             "/vendor/", "//etc/passwd", "/index.html%00.js"}) {
        auto answer = client_->Get(path);
        ASSERT_TRUE(answer) << path;
        EXPECT_GE(answer->status, 400) << path;
        EXPECT_LT(answer->status, 500) << path;
        EXPECT_EQ(answer->body.find("root:"), std::string::npos) << path;
    }
    EXPECT_EQ(client_->Delete("/api/rack")->status, 405);
    // Without a login it answers only to its loopback name (no DNS rebinding).
    EXPECT_EQ(client_->Get("/api/rack", {{"Host", "evil.example:80"}})->status, 403);
    EXPECT_EQ(client_->Get("/api/rack", {{"Host", "127.0.0.1.evil.example"}})->status, 403);
    EXPECT_EQ(client_->Get("/api/rack", {{"Host", "localhost:8080"}})->status, 200);
}

TEST_F(WebTest, BadRequestsGetA4xxWithTheConsolesWords) {
    StartServer();
    struct Case {
        json body;
        int status;
        std::string says;
    };
    const Case cases[] = {
        {json::array(), 400, "not a JSON object"},
        {{{"ports", {1}}}, 400, "\"instance\""},
        {{{"instance", "nosuch"}, {"ports", {1}}}, 404, "not provisioned"},
        {{{"instance", "demo"}, {"ports", {9}}}, 404, "port 9 is not provisioned"},
        {{{"instance", "demo"}, {"ports", {1, 1}}}, 400, "given twice"},
        {{{"instance", "demo"}, {"ports", "1"}}, 400, "list of port numbers"},
        {{{"instance", "demo"}, {"ports", {1}}, {"settings", {{"speed", "fast"}}}},
         400,
         "--speed: Value 'fast' is not a decimal number"},
        {{{"instance", "demo"}, {"ports", {1}}, {"settings", {{"data-bits", 9}}}},
         400,
         "--data-bits"},
        {{{"instance", "demo"}, {"ports", {1}}, {"settings", {{"parity", "purple"}}}},
         400,
         "--parity"},
        {{{"instance", "demo"},
          {"ports", {1}},
          {"settings", {{"internal", true}, {"external", true}}}},
         400,
         "excludes"},
        {{{"instance", "demo"}, {"ports", {1}}, {"settings", {{"colour", "red"}}}},
         400,
         "--colour"},
        {{{"instance", "demo"}, {"ports", {1}}, {"settings", {{"--time", 1}}}},
         400,
         "no setting is called"},
        {{{"instance", "demo"}, {"ports", {1}}, {"settings", {{"pattern", "user"}}}},
         400,
         "the user pattern needs data"},
    };
    for (const Case &one : cases) {
        auto answer = Post("/api/start", one.body);
        ASSERT_TRUE(answer) << one.body;
        EXPECT_EQ(answer->status, one.status) << one.body;
        EXPECT_NE(Error(answer).find(one.says), std::string::npos)
            << one.body << ": " << Error(answer);
    }
    auto extend = Post("/api/extend", {{"instance", "demo"}, {"port", 1}, {"seconds", 5}});
    EXPECT_EQ(extend->status, 400);
    EXPECT_NE(Error(extend).find("above 10"), std::string::npos) << Error(extend);
    EXPECT_EQ(Post("/api/stop", {{"instance", "demo"}, {"ports", {1}}})->status, 409);
    // Not JSON, too big, or not a rack of this server.
    std::string csrf = Csrf();
    EXPECT_EQ(
        client_->Post("/api/start", {{"X-CSRF-Token", csrf}}, "{", "application/json")->status,
        400);
    EXPECT_EQ(
        client_->Post("/api/start", {{"X-CSRF-Token", csrf}}, "ports=1", "text/plain")->status,
        415);
    EXPECT_EQ(client_
                  ->Post("/api/start", {{"X-CSRF-Token", csrf}}, std::string(100000, '['),
                         "application/json")
                  ->status,
              413);
    EXPECT_EQ(client_->Get("/api/rack?host=elsewhere")->status, 404);
    EXPECT_EQ(client_->Get("/api/events?host=elsewhere")->status, 404);
    // Nothing of it changed a port.
    EXPECT_EQ(Port(1).value("state", ""), "idle");
}

TEST_F(WebTest, ACrossSiteRequestChangesNothing) {
    StartServer();
    json start = {{"instance", "demo"}, {"ports", {1}}, {"settings", {{"time", 1}}}};
    auto noToken = client_->Post("/api/start", start.dump(), "application/json");
    EXPECT_EQ(noToken->status, 403);
    auto otherSite = Post("/api/start", start, {{"Origin", "http://evil.example"}});
    EXPECT_EQ(otherSite->status, 403);
    EXPECT_NE(otherSite->body.find("cross-site"), std::string::npos);
    EXPECT_EQ(Port(1).value("state", ""), "idle");
}

TEST_F(WebTest, StartsExtendsAndStopsTestsOnABoard) {
    StartBoard();
    StartServer();
    // Two ports without a time limit in renewable periods, one with a short test.
    auto started =
        Post("/api/start", {{"instance", "demo"},
                            {"ports", {1, 2}},
                            {"settings", {{"time", 0}, {"ras-status", 1}, {"internal", true}}}});
    ASSERT_EQ(started->status, 200) << started->body;
    NoteAgent(started);
    ASSERT_TRUE(WaitView(1, "running"));
    ASSERT_TRUE(WaitFor([&] { return Port(1).value("sent", 0) > 0; }));
    auto busy = Post("/api/start", {{"instance", "demo"}, {"ports", {2, 3}}});
    EXPECT_EQ(busy->status, 409);
    EXPECT_NE(Error(busy).find("port 2 (COM2) is busy"), std::string::npos) << Error(busy);

    auto extended = Post("/api/extend", {{"instance", "demo"}, {"port", 1}, {"seconds", 300}});
    ASSERT_EQ(extended->status, 200) << extended->body;
    EXPECT_GT(json::parse(extended->body)["left"].get<int>(), 280);
    auto tooShort = Post("/api/extend", {{"instance", "demo"}, {"port", 1}, {"seconds", 20}});
    EXPECT_EQ(tooShort->status, 409);
    EXPECT_NE(Error(tooShort).find("s left; give more than"), std::string::npos);

    auto stopped = Post("/api/stop", {{"instance", "demo"}, {"ports", {1, 2, 3}}});
    ASSERT_EQ(stopped->status, 200) << stopped->body;
    EXPECT_EQ(json::parse(stopped->body)["notRunning"], json({3}));
    ASSERT_TRUE(WaitView(1, "stopped"));
    ASSERT_TRUE(WaitView(2, "stopped"));
    EXPECT_EQ(Port(1)["state"], "stopped");

    // The run is in the record, and downloads in each format.
    json runs = json::parse(client_->Get("/api/runs")->body)["runs"];
    ASSERT_EQ(runs.size(), 1u);
    std::string run = std::to_string(runs[0]["id"].get<int>());
    auto junit = client_->Get("/api/runs?run=" + run + "&format=junit");
    EXPECT_EQ(junit->status, 200);
    EXPECT_NE(junit->get_header_value("Content-Disposition").find("run-" + run + ".xml"),
              std::string::npos);
    EXPECT_NE(junit->body.find("<testsuite"), std::string::npos);
    EXPECT_EQ(client_->Get("/api/runs?run=" + run + "&format=csv")->status, 200);
    EXPECT_EQ(
        json::parse(client_->Get("/api/runs?run=" + run + "&format=json")->body)["tests"].size(),
        2u);
    EXPECT_EQ(client_->Get("/api/runs?run=" + run + "&format=pdf")->status, 400);
    EXPECT_EQ(client_->Get("/api/runs?run=99&format=csv")->status, 404);
    EXPECT_EQ(client_->Get("/api/runs?run=1x&format=csv")->status, 400);
}

TEST_F(WebTest, AStoreChangeReachesEveryLiveStream) {
    StartServer();
    std::atomic<bool> done = false;
    auto watch = [&](std::atomic<bool> &saw) {
        httplib::Client client("127.0.0.1", server_->Port());
        client.set_read_timeout(std::chrono::seconds(30));
        client.Get("/api/events", [&](const char *data, std::size_t size) {
            if (std::string(data, size).find("19200 7E1") != std::string::npos) {
                saw = true;
            }
            return !saw && !done;
        });
    };
    std::atomic<bool> first = false;
    std::atomic<bool> second = false;
    std::jthread one([&] { watch(first); });
    std::jthread two([&] { watch(second); });
    ASSERT_TRUE(WaitFor([&] { return server_ && Port(3).is_object(); }));
    ASSERT_EQ(RunProgram({Program("vynloopctl"), "set", "portLoopSpeed.demo.3=19200",
                          "portLoopDataSize.demo.3=7",
                          "portLoopParity.demo.3=" + std::to_string(ParityEven)})
                  .status,
              0);
    EXPECT_TRUE(WaitFor([&] { return first && second; }));
    done = true;
    StopServer();  // ends the streams that are still open
}

TEST_F(WebTest, LiveStreamsPastTheLimitGet503) {
    WebOptions options;
    options.maxStreams = 1;
    StartServer(options);
    std::atomic<bool> open = false;
    std::atomic<bool> done = false;
    std::jthread viewer([&] {
        httplib::Client client("127.0.0.1", server_->Port());
        client.Get("/api/events", [&](const char *, std::size_t) {
            open = true;
            return !done.load();
        });
    });
    ASSERT_TRUE(WaitFor([&] { return open.load(); }));
    auto refused = client_->Get("/api/events");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 503);
    EXPECT_NE(refused->body.find("at most 1"), std::string::npos);
    EXPECT_EQ(client_->Get("/api/rack")->status, 200);  // plain requests still served
    done = true;
    StopServer();
}

TEST_F(WebTest, ALoginGuardsEveryRequestAndChangesNeedTheSessionsToken) {
    {
        std::ofstream file(dir_ + "/users");
        file << "# who may log in\n" << HashPassword("ann", "s3cret pass") << "\n";
    }
    WebOptions options;
    options.credentials = dir_ + "/users";
    StartServer(options);
    EXPECT_EQ(client_->Get("/api/rack")->status, 401);
    EXPECT_EQ(client_->Get("/")->status, 200);  // the pages hold no data
    auto wrong = client_->Post("/api/login", json{{"user", "ann"}, {"password", "guess"}}.dump(),
                               "application/json");
    EXPECT_EQ(wrong->status, 401);
    EXPECT_EQ(wrong->get_header_value("Set-Cookie"), "");
    auto nobody =
        client_->Post("/api/login", json{{"user", "bob"}, {"password", "s3cret pass"}}.dump(),
                      "application/json");
    EXPECT_EQ(nobody->status, 401);

    auto right =
        client_->Post("/api/login", json{{"user", "ann"}, {"password", "s3cret pass"}}.dump(),
                      "application/json");
    ASSERT_EQ(right->status, 200);
    std::string cookie = right->get_header_value("Set-Cookie");
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
    EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
    cookie = cookie.substr(0, cookie.find(';'));
    EXPECT_EQ(client_->Get("/api/rack", {{"Cookie", cookie}})->status, 200);

    json stop = {{"instance", "demo"}, {"ports", {1}}};
    auto withoutToken =
        client_->Post("/api/stop", {{"Cookie", cookie}}, stop.dump(), "application/json");
    EXPECT_EQ(withoutToken->status, 403);
    auto withToken = Post("/api/stop", stop, {{"Cookie", cookie}, {"X-CSRF-Token", Csrf(cookie)}});
    EXPECT_EQ(withToken->status, 409);  // served: nothing runs on port 1
    client_->Post("/api/logout", {{"Cookie", cookie}, {"X-CSRF-Token", Csrf(cookie)}}, "{}",
                  "application/json");
    EXPECT_EQ(client_->Get("/api/rack", {{"Cookie", cookie}})->status, 401);
}

TEST_F(WebTest, OtherAddressesNeedTlsAndALogin) {
    WebOptions open;
    open.address = "0.0.0.0";
    std::string reason;
    EXPECT_FALSE(StartServer(open, reason));
    EXPECT_NE(reason.find("needs TLS and a login"), std::string::npos) << reason;

    ASSERT_EQ(RunProgram({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                          "-subj", "/CN=127.0.0.1", "-days", "1", "-keyout", dir_ + "/key.pem",
                          "-out", dir_ + "/cert.pem"})
                  .status,
              0);
    {
        std::ofstream file(dir_ + "/users");
        file << HashPassword("ann", "pw") << "\n";
    }
    WebOptions secure;
    secure.certificate = dir_ + "/cert.pem";
    secure.key = dir_ + "/key.pem";
    secure.credentials = dir_ + "/users";
    WebOptions halfTls = secure;
    halfTls.key.clear();
    EXPECT_FALSE(StartServer(halfTls, reason));
    EXPECT_NE(reason.find("both --cert and --key"), std::string::npos) << reason;

    StartServer(secure);
    httplib::SSLClient client("127.0.0.1", server_->Port());
    client.enable_server_certificate_verification(false);
    auto session = client.Get("/api/session");
    ASSERT_TRUE(session) << httplib::to_string(session.error());
    EXPECT_EQ(json::parse(session->body)["loginRequired"], true);
    auto login = client.Post("/api/login", json{{"user", "ann"}, {"password", "pw"}}.dump(),
                             "application/json");
    ASSERT_EQ(login->status, 200);
    EXPECT_NE(login->get_header_value("Set-Cookie").find("Secure"), std::string::npos);
    EXPECT_FALSE(client_->Get("/api/session"));  // plain HTTP is not spoken there
}

}  // namespace

}  // namespace vyn::web::test
