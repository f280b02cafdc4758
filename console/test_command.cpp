// test INSTANCE PORT... [settings] [--wait]: sets the test parameters of the ports and asks for
// their tests in one store request, starting the instance's agent first when none runs.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "console/agent_link.h"
#include "console/agent_start.h"
#include "console/command_set.h"
#include "console/loop_requests.h"
#include "console/loop_state.h"
#include "console/output.h"
#include "console/port_selection.h"
#include "console/port_watch.h"
#include "console/store_access.h"
#include "console/test_settings.h"

namespace vyn::console {

namespace {

using namespace std::chrono_literals;

struct TestOptions {
    std::string instance;
    std::vector<std::string> ports;
    SettingWords words;
    std::vector<CLI::Option *> valued;  // options whose value must not be empty
    bool wait = false;
};

int RunTest(const GlobalOptions &globals, const TestOptions &options) {
    for (const CLI::Option *option : options.valued) {
        if (option->count() > 0 && option->as<std::string>().empty()) {
            return Fail("bad value '' for " + option->get_name() + ": a value is required");
        }
    }
    TestSettings settings;
    std::string reason;
    if (!ParseSettings(options.words, settings, reason)) {
        return Fail(reason);
    }
    InstanceView view;
    if (int status = OpenInstance(globals, options.instance, view); status != kExitSuccess) {
        return status;
    }
    std::vector<int> ports;
    if (!SelectPorts(view, options.ports, ports, reason)) {
        return Fail(reason);
    }
    for (int number : ports) {
        const PortSnapshot &port = *view.Find(number);
        if (TestUnderway(port.State())) {
            return Fail(PortLabel(port) + " is busy: its test is " + LoopStateWord(port.State()));
        }
        if (std::string why = CheckRunnable(settings, port); !why.empty()) {
            return Fail(PortLabel(port) + ": " + why);
        }
    }

    const std::string storePath = StorePath(globals);
    if (!AgentRunning(view.instance)) {
        StartedAgent agent;
        if (!StartAgent(view.instance, storePath, 10s, agent, reason)) {
            return Fail(reason);
        }
        if (agent.pid > 0) {
            std::fprintf(stderr, "started the agent of instance %s (%s, pid %d)\n",
                         view.instance.c_str(), agent.program.c_str(), static_cast<int>(agent.pid));
        }
    }

    int busyPort = 0;
    mml::Error error;
    if (!RequestTests(*view.store, view.instance, ports, settings, busyPort, error)) {
        return Fail(error.message);
    }
    if (busyPort != 0) {  // started by someone else since we looked
        return Fail(PortLabel(*view.Find(busyPort)) + " is busy: a test was requested meanwhile");
    }
    if (!options.wait) {
        for (int number : ports) {
            std::printf("%s: test requested\n", PortLabel(*view.Find(number)).c_str());
        }
        return kExitSuccess;
    }
    WatchMode mode;
    mode.untilResults = true;
    mode.stopOnInterrupt = true;
    mode.restartAgent = true;
    mode.storePath = storePath;
    return WatchPorts(view, ports, mode);
}

}  // namespace

void AddTestCommand(CommandSet &commands) {
    auto options = std::make_shared<TestOptions>();
    CLI::App *test = commands.Add(
        "test", "Set the test parameters of ports and start their loopback tests",
        "vynloopctl test demo 1 2 --speed 19200 --data-bits 7 --parity even --stop-bits 2 "
        "--time 5 --wait",
        [&commands, options] { return RunTest(commands.Globals(), *options); },
        "All ports or none: a port that is not provisioned or whose test is underway refuses "
        "the request. Settings left out keep the port's current values. The instance's agent "
        "is started first when none runs.\n"
        "With --wait, live progress until every test has a result, then each port's result "
        "line. Ctrl-C asks whether to stop the tests (without a terminal on standard input it "
        "stops them) and waits on for their results.\n"
        "Exit status with --wait: 0 when every test passed (it ran its full time and its "
        "result begins \"Loopback test complete, no errors detected\"), 1 when any ended in "
        "errors, failed or was stopped.");
    test->add_option("instance", options->instance, "Instance name")
        ->required()
        ->type_name("INSTANCE");
    test->add_option("ports", options->ports, "Port number 1 to 16, or its device name")
        ->required()
        ->type_name("PORT");
    SettingWords &w = options->words;
    auto valued = [&](const char *name, std::string &value, const char *help, const char *type) {
        options->valued.push_back(test->add_option(name, value, help)->type_name(type));
    };
    valued("--speed", w.speed, "Line speed in baud", "BAUD");
    valued("--data-bits", w.dataBits, "Data bits: 5, 6, 7 or 8", "5..8");
    valued("--parity", w.parity, "Parity", "none|odd|even|mark|space");
    valued("--stop-bits", w.stopBits, "Stop bits", "1|1.5|2");
    valued("--flow", w.flow, "Flow control", "none|xonxoff|rtscts|dtrdsr");
    valued("--pattern", w.pattern, "Test pattern: barber pole or the user data", "barber|user");
    valued("--data", w.data, "User data (implies --pattern user), at most 256 octets", "TEXT");
    valued("--data-hex", w.dataHex, "User data in hex, e.g. 55AA0D0A (implies --pattern user)",
           "HEX");
    valued("--time", w.time, "Test length in seconds; 0 runs until stopped", "SECONDS");
    valued("--stop-on-errors", w.stopOnErrors, "End the test after this many errors; 0 never", "N");
    valued("--ras-status", w.rasStatus,
           "1: the port may be borrowed from the remote access service, and a test without a "
           "time limit runs in 60-second periods that extend renews; 0: normal",
           "0|1");
    test->add_flag("--no-check", w.noCheck, "Count the characters only; do not check the data");
    test->add_flag("--check", w.check, "Check the data received against the pattern");
    test->add_flag("--internal", w.internal, "Loop back inside the port (internal loopback)");
    test->add_flag("--external", w.external, "Loop back through an external plug or cable");
    test->add_flag("--wait", options->wait, "Show live progress and wait for the results");
}

}  // namespace vyn::console
