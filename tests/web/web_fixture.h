// A vynloop-web server in the test's own process, on a free port of 127.0.0.1, over a store of
// the test's own with the instance "demo" on a virtual board; its HTTP API reached with
// cpp-httplib's own client.
#pragma once

#include <httplib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/process.h"
#include "web/web_server.h"

namespace vyn::web::test {

using ::vyn::test::Child;
using ::vyn::test::Program;
using ::vyn::test::RunProgram;
using ::vyn::test::WaitFor;

class WebTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "vynweb.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        dev_ = dir_ + "/dev";
        ASSERT_EQ(::mkdir(dev_.c_str(), 0700), 0);
        ::setenv("VYNLOOP_MIB", (dir_ + "/mib.db").c_str(), 1);
        ::setenv("VYNLOOP_RUNDIR", (dir_ + "/run").c_str(), 1);
        ::setenv("VYNLOOP_DEVDIR", dev_.c_str(), 1);
        ::setenv("VYNLOOP_AGENT", Program("vynloop").c_str(), 1);
        ::vyn::test::AdoptOrphans();
        ASSERT_EQ(RunProgram({Program("vynloopctl"), "init", "demo", "1=COM1", "2=COM2", "3=COM3",
                              "4=COM4"})
                      .status,
                  0);
    }
    void TearDown() override {
        StopServer();
        for (pid_t pid : agents_) {
            ::vyn::test::KillDetached(pid, Program("vynloop"));
        }
        board_.reset();
        std::filesystem::remove_all(dir_);
    }

    void StartBoard() {
        board_ = ::vyn::test::StartBoard(dev_, 4);
        ASSERT_NE(board_, nullptr) << "vynboard did not start";
    }

    // Starts the server with `options` (address and port set here); false with the reason.
    bool StartServer(WebOptions options, std::string &reason) {
        options.port = 0;
        server_ = std::make_unique<WebServer>(std::move(options));
        if (!server_->Bind(reason)) {
            server_.reset();
            return false;
        }
        serving_ = std::jthread([this] { server_->Serve(); });
        client_ = std::make_unique<httplib::Client>("127.0.0.1", server_->Port());
        client_->set_read_timeout(std::chrono::seconds(30));
        // A first request here, before any test starts client threads: the client library's
        // function-local statics (its regular expressions) are then made on this thread, which
        // ThreadSanitizer sees, not inside the uninstrumented library on whichever thread is
        // first.
        client_->Get("/api/session");
        return true;
    }
    void StartServer(WebOptions options = {}) {
        std::string reason;
        ASSERT_TRUE(StartServer(std::move(options), reason)) << reason;
    }
    void StopServer() {
        client_.reset();
        if (server_) {
            server_->Stop();
        }
        serving_ = {};
        server_.reset();
    }

    // The token that changing requests carry, from /api/session (with `cookie` when logged in).
    std::string Csrf(const std::string &cookie = "") {
        httplib::Headers headers;
        if (!cookie.empty()) {
            headers.emplace("Cookie", cookie);
        }
        auto answer = client_->Get("/api/session", headers);
        return answer ? nlohmann::json::parse(answer->body).value("csrf", "") : "";
    }

    // POSTs JSON as the page does.
    httplib::Result Post(const std::string &path, const nlohmann::json &body,
                         httplib::Headers headers = {}) {
        if (headers.find("X-CSRF-Token") == headers.end()) {
            headers.emplace("X-CSRF-Token", Csrf());
        }
        return client_->Post(path, headers, body.dump(), "application/json");
    }

    // The rack's state as the page gets it.
    nlohmann::json Rack() {
        auto answer = client_->Get("/api/rack");
        return answer && answer->status == 200 ? nlohmann::json::parse(answer->body)
                                               : nlohmann::json();
    }
    nlohmann::json Port(int number) {
        nlohmann::json rack = Rack();
        if (rack.is_null()) {
            return {};
        }
        for (const auto &port : rack["instances"][0]["ports"]) {
            if (port["port"] == number) {
                return port;
            }
        }
        return {};
    }
    bool WaitView(int port, const std::string &view, int limitMs = 30000) {
        return WaitFor([&] { return Port(port).value("view", "") == view; }, limitMs);
    }
    void NoteAgent(const httplib::Result &answer) {
        if (answer && answer->status == 200) {
            nlohmann::json body = nlohmann::json::parse(answer->body);
            if (body.contains("agentStarted")) {
                agents_.push_back(body["agentStarted"].get<pid_t>());
            }
        }
    }

    std::string dir_;
    std::string dev_;
    std::unique_ptr<Child> board_;
    std::unique_ptr<WebServer> server_;
    std::jthread serving_;
    std::unique_ptr<httplib::Client> client_;
    std::vector<pid_t> agents_;
};

}  // namespace vyn::web::test
