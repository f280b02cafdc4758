// Tests of the whole system: a board, the store, a resident agent and the console, with the
// store read directly for the published objects and the board asked for its counters.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "board/client/client.h"
#include "mml/store.h"
#include "mml/vocabulary.h"
#include "tests/e2e/e2e_fixture.h"

namespace vyn::test {

struct TestEnd {
    int state = 0;
    std::string text;
};

class EngineTest : public EndToEndTest {
  protected:
    static constexpr const char *kInstance = "e2e";

    // A board of `ports` ports publishing into the store, the instance on all of them, and its
    // agent running. The agent learns once, when it starts, whether the board's remote access
    // service runs.
    void StartSystem(int ports, bool resident = true, bool remoteAccess = false) {
        std::vector<std::string> words{"init", kInstance};
        if (resident) {
            words.push_back("--resident");
        }
        for (int port = 1; port <= ports; ++port) {
            words.push_back(std::to_string(port) + "=COM" + std::to_string(port));
        }
        Finished init = Ctl(words);
        ASSERT_EQ(init.status, 0) << init.err;
        board_ = StartBoard(ports, kInstance);
        ASSERT_NE(board_, nullptr);
        if (remoteAccess) {
            ASSERT_TRUE(BoardClient().SetServiceRunning(true).ok());
        }
        agent_ = StartAgent({kInstance});
        ASSERT_TRUE(WaitFor([&] { return AgentRuns(kInstance); }));
    }

    static std::string Name(const std::string &object, int port) {
        return object + "." + kInstance + "." + std::to_string(port);
    }

    // Sets the port's parameters and asks for the test, in one request.
    void Request(int port, const std::map<std::string, std::string> &settings) {
        std::vector<std::string> words{"set"};
        for (const auto &[object, value] : settings) {
            words.push_back(Name(object, port) + "=" + value);
        }
        words.push_back(Name("portLoopState", port) + "=" + std::to_string(LoopStateRequested));
        Finished done = Ctl(words);
        ASSERT_EQ(done.status, 0) << done.err;
    }

    mml::Value Read(const std::string &name) {
        if (!store_) {
            mml::Error error;
            store_ = mml::Store::Open(storePath_, error);
            EXPECT_TRUE(store_) << error.message;
        }
        mml::Value value;
        mml::Error error;
        EXPECT_TRUE(store_->GetValue(name, value, error)) << name << ": " << error.message;
        return value;
    }
    int Integer(const std::string &object, int port) { return Read(Name(object, port)).integer; }
    std::string Text(const std::string &object, int port) { return Read(Name(object, port)).text; }

    // Waits for the port's result: portLoopState stopped, failed or complete.
    TestEnd WaitForEnd(int port, int limitMs = 120000) {
        TestEnd end;
        bool ended = WaitFor(
            [&] {
                end.state = Integer("portLoopState", port);
                return end.state == LoopStateStopped || end.state == LoopStateFailed ||
                       end.state == LoopStateComplete;
            },
            limitMs);
        EXPECT_TRUE(ended) << "port " << port << " still in state " << end.state;
        end.text = Text("portLoopStopErr", port);
        return end;
    }

    bool WaitForState(int port, int state, int limitMs = 30000) {
        return WaitFor([&] { return Integer("portLoopState", port) == state; }, limitMs);
    }

    board::Client &BoardClient() {
        if (!boardClient_) {
            boardClient_ = std::make_unique<board::Client>(board::Client::SocketPathIn(dev_));
        }
        return *boardClient_;
    }

    void BoardSet(int port, const std::string &settings) {
        auto status = BoardClient().Set("COM" + std::to_string(port), settings);
        ASSERT_TRUE(status.ok()) << status.message;
    }

    std::unique_ptr<Child> board_;
    std::unique_ptr<Child> agent_;
    std::unique_ptr<mml::Store> store_;
    std::unique_ptr<board::Client> boardClient_;
};

}  // namespace vyn::test
