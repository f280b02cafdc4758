#include "snmp/subagent.h"

#include <atomic>
#include <csignal>
#include <map>
#include <memory>
#include <set>

#include "snmp/agent_launcher.h"
#include "snmp/completion_watch.h"
#include "snmp/netsnmp.h"
#include "snmp/notifier.h"
#include "snmp/request_handler.h"
#include "snmp/store_changes.h"
#include "snmp/store_view.h"

namespace vyn::snmp {

namespace {

constexpr const char *kName = "vynloop-snmp";

// A port left at requested with no agent gets one; asked again at most this often.
constexpr std::chrono::seconds kEnsureAgain{2};

// The ports are read when the store changed, and at least this often all the same.
constexpr std::chrono::seconds kFullLookPeriod{5};

// Set by SIGTERM and SIGINT; the main loop ends when it sees it.
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnStopSignal(int) {
    stopRequested.store(true, std::memory_order_relaxed);
}

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // A master agent that goes away while we write to it must not end us.
    std::signal(SIGPIPE, SIG_IGN);
}

// The agent library's settings: a subagent, no persistent state, no MIB files (every OID here
// is numeric), alarms run from the main loop.
void ConfigureLibrary() {
    ::setenv("MIBS", "", 1);
    ::setenv("MIBDIRS", "", 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_ALARM_DONT_USE_SIG, 1);
    snmp_enable_stderrlog();
}

// Everything here runs on the main thread, the agent library's; the launcher keeps a thread of
// its own and shares nothing else.
class Subagent {
  public:
    explicit Subagent(const SubagentOptions &options)
        : options_(options),
          view_(options.storePath, options.busyTimeoutMs),
          changes_(options.storePath),
          launcher_(options.storePath, options.agentStartLimit) {}

    int Run();

  private:
    static int OnConfigRead(int, int, void *, void *self) {
        static_cast<Subagent *>(self)->ApplyCommandLine();
        return 0;
    }
    static void OnPollAlarm(unsigned int, void *self) { static_cast<Subagent *>(self)->Poll(); }
    static void OnStoreEvent(int, void *self) { static_cast<Subagent *>(self)->changes_.Drain(); }
    void ApplyCommandLine();
    void Poll();
    void TestRequested(const RowKey &port);
    void EnsureAgent(const std::string &instance);
    void FailUnstartable();

    const SubagentOptions options_;
    StoreView view_;
    StoreChanges changes_;
    std::chrono::steady_clock::time_point nextFullLook_{};
    CompletionWatch watch_;
    AgentLauncher launcher_;
    std::map<std::string, std::chrono::steady_clock::time_point> lastEnsure_;
    std::unique_ptr<Notifier> notifier_;
    std::unique_ptr<RequestHandler> handler_;
    bool storeLogged_ = false;  // the store's unavailability was logged
};

int Subagent::Run() {
    ConfigureLibrary();
    netsnmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_POST_READ_CONFIG,
                              &Subagent::OnConfigRead, this, NETSNMP_CALLBACK_HIGHEST_PRIORITY);
    if (init_agent(kName) != 0) {
        snmp_log(LOG_ERR, "cannot initialise the agent library\n");
        return 1;
    }
    notifier_ = std::make_unique<Notifier>();
    handler_ = std::make_unique<RequestHandler>(
        view_, [this](const RowKey &port) { TestRequested(port); });
    if (!handler_->Register()) {
        snmp_log(LOG_ERR, "cannot register VYNLOOP-MIB's objects\n");
        return 1;
    }
    Poll();  // the results already published are known before any request is served
    init_snmp(kName);
    // The library frees the arguments of the callbacks still registered when it shuts down.
    snmp_unregister_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_POST_READ_CONFIG,
                             &Subagent::OnConfigRead, this, 1);
    long micros = static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(options_.pollPeriod).count());
    struct timeval period = {micros / 1000000, micros % 1000000};
    unsigned int alarm = snmp_alarm_register_hr(period, SA_REPEAT, &Subagent::OnPollAlarm, this);
    if (changes_.fd() >= 0) {
        register_readfd(changes_.fd(), &Subagent::OnStoreEvent, this);
    }
    snmp_log(LOG_INFO, "%s serves the store %s\n", kName, view_.Path().c_str());

    // A signal interrupts the wait; one that comes just before it is seen at the next alarm.
    while (!stopRequested.load(std::memory_order_relaxed)) {
        agent_check_and_process(1);
    }

    snmp_log(LOG_INFO, "%s ends\n", kName);
    snmp_alarm_unregister(alarm);
    if (changes_.fd() >= 0) {
        unregister_readfd(changes_.fd());
    }
    handler_.reset();
    notifier_.reset();
    snmp_shutdown(kName);
    shutdown_agent();
    return 0;
}

// The master's socket and the ping interval from the command line. Applied once the
// configuration files have been read and before the library connects to the master (both
// happen in init_snmp), so that they override the files and the library's defaults.
void Subagent::ApplyCommandLine() {
    if (!options_.agentxSocket.empty()) {
        netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET,
                              options_.agentxSocket.c_str());
    }
    netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL,
                       options_.pingIntervalSeconds);
}

void Subagent::Poll() {
    mml::Error error;
    if (!view_.Ready(error)) {
        if (!storeLogged_) {
            snmp_log(LOG_WARNING, "store %s: %s; trying again\n", view_.Path().c_str(),
                     error.message.c_str());
            storeLogged_ = true;
        }
        return;
    }
    storeLogged_ = false;
    FailUnstartable();
    auto now = std::chrono::steady_clock::now();
    if (!changes_.TakeChanged() && now < nextFullLook_) {
        notifier_->Flush();
        return;
    }
    nextFullLook_ = now + kFullLookPeriod;
    std::vector<PortResult> results;
    if (!view_.Refresh(error) || !view_.ReadResults(results, error)) {
        snmp_log(LOG_WARNING, "cannot read the ports' results: %s\n", error.message.c_str());
        return;
    }
    for (const PortResult &result : watch_.Look(results)) {
        notifier_->Queue(result);
    }
    std::set<std::string> requested;
    for (const PortResult &result : results) {
        if (result.state == LoopStateRequested) {
            requested.insert(result.port.instance);
        }
    }
    for (const std::string &instance : requested) {
        auto last = lastEnsure_.find(instance);
        if (last == lastEnsure_.end() ||
            std::chrono::steady_clock::now() - last->second >= kEnsureAgain) {
            EnsureAgent(instance);
        }
    }
    notifier_->Flush();
}

void Subagent::TestRequested(const RowKey &port) {
    watch_.ExpectResult(port);
    EnsureAgent(port.instance);
}

void Subagent::EnsureAgent(const std::string &instance) {
    lastEnsure_[instance] = std::chrono::steady_clock::now();
    launcher_.Ensure(instance);
}

// The tests whose agent could not be started end as failed, with the reason as their result.
void Subagent::FailUnstartable() {
    for (const LaunchFailure &failure : launcher_.TakeFailures()) {
        mml::Error error;
        std::string text =
            "Loopback test failed. The agent could not be started: " + failure.reason;
        if (!view_.FailRequests(failure.instance, text, error)) {
            snmp_log(LOG_WARNING, "cannot publish the failed start of instance %s: %s\n",
                     failure.instance.c_str(), error.message.c_str());
        }
    }
}

}  // namespace

int RunSubagent(const SubagentOptions &options) {
    CatchStopSignals();
    Subagent subagent(options);
    return subagent.Run();
}

}  // namespace vyn::snmp
