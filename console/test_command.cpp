// test INSTANCE PORT... [settings] [--wait]: sets the test parameters of the ports and asks for
// their tests in one store request, starting the instance's agent first when none runs.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "agent/client/agent_link.h"
#include "agent/client/agent_start.h"
#include "console/access/store_access.h"
#include "console/command_set.h"
#include "console/loop_requests.h"
#include "console/loop_state.h"
#include "console/output.h"
#include "console/port_selection.h"
#include "console/port_watch.h"
#include "console/test_settings.h"

namespace vyn::console {

namespace {

using namespace std::chrono_literals;

struct TestOptions {
    std::string instance;
    std::vector<std::string> ports;
    TestSettings settings;
    bool wait = false;
};

int RunTest(const GlobalOptions &globals, const TestOptions &options) {
    const TestSettings &settings = options.settings;
    std::string reason;
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
    // Remotely the subagent starts the agent when it sees the request.
    if (view.objects->Local() && !view.objects->AgentRunning(view.instance).value_or(true)) {
        agent::StartedAgent started;
        if (!agent::StartAgent(view.instance, storePath, 10s, started, reason)) {
            return Fail(reason);
        }
        if (started.pid > 0) {
            std::fprintf(stderr, "started the agent of instance %s (%s, pid %d)\n",
                         view.instance.c_str(), started.program.c_str(),
                         static_cast<int>(started.pid));
        }
    }

    int busyPort = 0;
    mml::Error error;
    if (!RequestTests(*view.objects, view.instance, ports, settings, busyPort, error)) {
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
    mode.restartAgent = view.objects->Local();
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
    AddSettingOptions(*test, options->settings);
    test->add_flag("--wait", options->wait, "Show live progress and wait for the results");
}

}  // namespace vyn::console
