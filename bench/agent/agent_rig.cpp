#include "bench/agent/agent_rig.h"

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace vyn::bench {

namespace {

constexpr int kStartLimitMs = 10000;
constexpr int kStopLimitMs = 10000;
constexpr int kStoreBusyLimitMs = 30000;

std::string Describe(const mml::Error &error) {
    return error.message.empty() ? "store failure " + std::to_string(error.failure) : error.message;
}

bool ToBindings(const std::vector<std::string> &names, std::vector<mml::Binding> &bindings,
                std::string &error) {
    for (const std::string &name : names) {
        mml::Binding binding;
        if (mml::ParseObjectName(name, binding.key) != 0) {
            error = "bad object name " + name;
            return false;
        }
        bindings.push_back(std::move(binding));
    }
    return true;
}

}  // namespace

AgentRig::AgentRig(std::string instance, int ports, RigBoard board)
    : instance_(std::move(instance)), ports_(ports), boardFeatures_(board) {}

AgentRig::~AgentRig() {
    // The agent first, so that it closes its ports while the board still serves them.
    store_.reset();
    for (auto *process : {&agentProcess_, &boardProcess_}) {
        if (*process && (*process)->Running()) {
            (*process)->Signal(SIGTERM);
            (*process)->Wait(kStopLimitMs);
        }
        process->reset();  // kills it by its id if it is still there
    }
}

bool AgentRig::Start(std::string &error) {
    std::string storePath = dir_ / "mib.db";
    std::string dev = dir_ / "dev";
    setenv("VYNLOOP_MIB", storePath.c_str(), 1);
    setenv("VYNLOOP_RUNDIR", (dir_ / "run").c_str(), 1);
    setenv("VYNLOOP_DEVDIR", dev.c_str(), 1);
    std::error_code made;
    if (!std::filesystem::create_directory(dev, made)) {
        error = "cannot create " + dev + ": " + made.message();
        return false;
    }

    // The instance first: a board that publishes its errors needs the store.
    std::vector<std::string> init{test::Program("vynloopctl"), "init", instance_, "--resident"};
    for (int port = 1; port <= ports_; ++port) {
        init.push_back(std::to_string(port) + "=COM" + std::to_string(port));
    }
    test::Finished provisioned = test::RunProgram(init, kStartLimitMs);
    if (provisioned.status != 0) {
        error = "vynloopctl init failed: " + provisioned.err;
        return false;
    }

    std::vector<std::string> extra;
    if (boardFeatures_.publishesErrors) {
        extra = {"--mib", storePath, "--instance", instance_};
    }
    boardProcess_ = test::StartBoard(dev, ports_, extra);
    if (!boardProcess_) {
        error = "the board did not start";
        return false;
    }
    client_ = std::make_unique<board::Client>(board::Client::SocketPathIn(dev));
    // The agent learns at its start whether the service runs.
    if (boardFeatures_.remoteAccess && !client_->SetServiceRunning(true).ok()) {
        error = "the board's remote access service did not start";
        return false;
    }
    mml::Error storeError;
    // A console's patience: another program may hold the store's write lock for a while.
    mml::Store::Options options;
    options.busyTimeoutMs = kStoreBusyLimitMs;
    store_ = mml::Store::Open(storePath, storeError, options);
    if (!store_) {
        error = "cannot open the store: " + Describe(storeError);
        return false;
    }
    return StartAgent(error);
}

bool AgentRig::RestartAgent(int signal, std::string &error) {
    agentProcess_->Signal(signal);
    if (agentProcess_->Wait(kStopLimitMs) < 0) {
        error = "the agent did not end on signal " + std::to_string(signal);
        return false;
    }
    return StartAgent(error);
}

bool AgentRig::StartAgent(std::string &error) {
    agentProcess_ = std::make_unique<test::Child>(
        std::vector<std::string>{test::Program("vynloop"), instance_});
    bool answers = test::WaitFor(
        [&] {
            return !agentProcess_->Running() ||
                   test::RunProgram({test::Program("vynloopctl"), "ping", instance_}).status == 0;
        },
        kStartLimitMs);
    if (!answers || !agentProcess_->Running()) {
        error = "the agent did not start";
        return false;
    }
    return true;
}

pid_t AgentRig::agentPid() const {
    return agentProcess_ ? agentProcess_->pid() : -1;
}

pid_t AgentRig::boardPid() const {
    return boardProcess_ ? boardProcess_->pid() : -1;
}

std::string AgentRig::Name(const std::string &object, int port) const {
    return object + "." + instance_ + "." + std::to_string(port);
}

bool AgentRig::Set(const std::vector<std::pair<std::string, int32_t>> &values, std::string &error) {
    std::vector<std::string> names;
    for (const auto &value : values) {
        names.push_back(value.first);
    }
    std::vector<mml::Binding> bindings;
    if (!ToBindings(names, bindings, error)) {
        return false;
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        bindings[i].value = mml::Value::Integer(values[i].second);
    }
    mml::Error storeError;
    if (!store_->Write(bindings, storeError)) {
        error = Describe(storeError);
        return false;
    }
    return true;
}

bool AgentRig::SetOnAllPorts(const std::string &object, int32_t value, std::string &error) {
    std::vector<std::pair<std::string, int32_t>> values;
    for (int port = 1; port <= ports_; ++port) {
        values.emplace_back(Name(object, port), value);
    }
    return Set(values, error);
}

bool AgentRig::GetIntegers(const std::vector<std::string> &names, std::vector<int32_t> &values,
                           std::string &error) {
    std::vector<mml::Binding> bindings;
    if (!ToBindings(names, bindings, error)) {
        return false;
    }
    mml::Error storeError;
    if (!store_->Read(bindings, storeError)) {
        error = Describe(storeError);
        return false;
    }
    values.clear();
    for (const mml::Binding &binding : bindings) {
        values.push_back(binding.value.integer);
    }
    return true;
}

bool AgentRig::GetText(const std::string &name, std::string &text, std::string &error) {
    mml::Value value;
    mml::Error storeError;
    if (!store_->GetValue(name, value, storeError)) {
        error = Describe(storeError);
        return false;
    }
    text = value.text;
    return true;
}

bool AgentRig::GetOnAllPorts(const std::string &object, std::vector<int32_t> &values,
                             std::string &error) {
    std::vector<std::string> names;
    for (int port = 1; port <= ports_; ++port) {
        names.push_back(Name(object, port));
    }
    return GetIntegers(names, values, error);
}

bool AgentRig::WaitForEnd(const std::vector<int> &ports, int limitMs, const StatesSeen &tick,
                          std::string &error) {
    std::vector<std::string> names;
    for (int port : ports) {
        names.push_back(Name("portLoopState", port));
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    std::vector<int32_t> states;
    for (;;) {
        if (!GetIntegers(names, states, error)) {
            return false;
        }
        if (tick) {
            tick(states);
        }
        bool ended = true;
        for (int32_t state : states) {
            ended = ended && TestEnded(state);
        }
        if (ended) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            error = "the tests did not end within " + std::to_string(limitMs / 1000) + " s";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace vyn::bench
