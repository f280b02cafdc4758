// The whole system as real processes, for benchmarks: a virtual board with N ports, a store
// with one resident instance provisioned on them, and that instance's agent, all in one
// temporary directory. The store is also opened in this process, so that setting objects and
// polling results costs no process start and a set is timed from the moment it is committed.
// At the end the agent and the board are asked to stop (SIGTERM), killed by their ids if they
// do not, and the directory is removed.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "board/client/client.h"
#include "mml/store.h"
#include "mml/vocabulary.h"
#include "tests/support/process.h"

namespace vyn::bench {

// Loop states a console reads back when a test has ended.
inline bool TestEnded(int32_t state) {
    return state == LoopStateStopped || state == LoopStateFailed || state == LoopStateComplete;
}

// A test that ran its time and found nothing wrong.
inline bool PassedClean(int32_t state, const std::string &result) {
    return state == LoopStateComplete &&
           result.rfind("Loopback test complete, no errors detected.", 0) == 0;
}

// What the rig's board does besides its ports.
struct RigBoard {
    bool publishesErrors = false;  // its receive errors reach the store, as portErrStatRxTotal
    bool remoteAccess = false;     // its remote access service runs before the agent starts
};

class AgentRig {
  public:
    AgentRig(std::string instance, int ports, RigBoard board = {});
    ~AgentRig();
    AgentRig(const AgentRig &) = delete;
    AgentRig &operator=(const AgentRig &) = delete;

    // Starts the board, provisions the instance (resident, port n on COMn) and starts the
    // agent; true once the agent answers. `error` says what went wrong otherwise.
    bool Start(std::string &error);

    pid_t agentPid() const;
    pid_t boardPid() const;
    int ports() const { return ports_; }
    std::string storePath() const { return dir_ / "mib.db"; }

    // Ends the agent with `signal` (SIGTERM: its final reports; SIGKILL: a crash) and starts
    // a new one; true once the new one answers.
    bool RestartAgent(int signal, std::string &error);
    board::Client &board() { return *client_; }

    // "object.instance.port"
    std::string Name(const std::string &object, int port) const;

    // Sets integers, all in one request.
    bool Set(const std::vector<std::pair<std::string, int32_t>> &values, std::string &error);
    // Sets `object` to `value` on every port, in one request.
    bool SetOnAllPorts(const std::string &object, int32_t value, std::string &error);
    // Reads integers (`values` in the order of `names`) or one text, in one request.
    bool GetIntegers(const std::vector<std::string> &names, std::vector<int32_t> &values,
                     std::string &error);
    bool GetText(const std::string &name, std::string &text, std::string &error);
    // The same object of every port.
    bool GetOnAllPorts(const std::string &object, std::vector<int32_t> &values, std::string &error);

    // Polls the loop state of `ports` (every 100 ms, up to `limitMs`) until each has ended;
    // `tick`, when given, sees the states of every poll. False on time-out or a store failure.
    using StatesSeen = std::function<void(const std::vector<int32_t> &states)>;
    bool WaitForEnd(const std::vector<int> &ports, int limitMs, const StatesSeen &tick,
                    std::string &error);

  private:
    std::string instance_;
    int ports_;
    RigBoard boardFeatures_;
    test::TempDir dir_;
    std::unique_ptr<test::Child> boardProcess_;
    std::unique_ptr<test::Child> agentProcess_;
    bool StartAgent(std::string &error);

    std::unique_ptr<board::Client> client_;
    std::unique_ptr<mml::Store> store_;
};

}  // namespace vyn::bench
