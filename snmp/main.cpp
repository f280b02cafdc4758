// vynloop-snmp: the AgentX subagent that serves VYNLOOP-MIB from the management store.
#include <CLI/CLI.hpp>

#include "base/store_path.h"
#include "snmp/subagent.h"

int main(int argc, char **argv) {
    vyn::snmp::SubagentOptions options;
    std::string storePath;
    int pollMs = static_cast<int>(options.pollPeriod.count());
    CLI::App app{
        "vynloop-snmp: serves the loopback tests' management objects (VYNLOOP-MIB) to the "
        "network through the master SNMP agent, over AgentX."};
    app.add_option("--agentx", options.agentxSocket,
                   "The master agent's AgentX socket, e.g. unix:/var/agentx/master or "
                   "tcp:localhost:705 (default: the agent library's, or agentXSocket in its "
                   "configuration)")
        ->type_name("ADDRESS");
    app.add_option(
           "--mib", storePath,
           std::string("The store (default: $VYNLOOP_MIB, else ") + vyn::DefaultStorePath() + ")")
        ->type_name("PATH");
    app.add_option("--ping-interval", options.pingIntervalSeconds,
                   "Seconds between checks of the master agent; it is reconnected when it "
                   "restarts")
        ->check(CLI::Range(1, 3600))
        ->capture_default_str();
    app.add_option("--poll-interval", pollMs,
                   "Milliseconds between looks at the ports for new results")
        ->check(CLI::Range(20, 10000))
        ->capture_default_str();
    app.add_option("--busy-timeout", options.busyTimeoutMs,
                   "Milliseconds that a SET waits for another writer of the store before it "
                   "answers resourceUnavailable")
        ->check(CLI::Range(1, 10000))
        ->capture_default_str();
    CLI11_PARSE(app, argc, argv);
    options.storePath = vyn::StorePathOr(storePath);
    options.pollPeriod = std::chrono::milliseconds(pollMs);
    return vyn::snmp::RunSubagent(options);
}
