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
#include "console/output.h"
#include "console/port_selection.h"
#include "console/port_watch.h"
#include "console/rack/loop_requests.h"
#include "console/rack/loop_state.h"
#include "console/rack/run_labels.h"
#include "console/rack/test_settings.h"

namespace vyn::console {

namespace {

struct TestOptions {
    std::string instance;
    std::vector<std::string> ports;
    TestSettings settings;
    RunLabels labels;
    bool wait = false;
};

int RunTest(const GlobalOptions &globals, const TestOptions &options) {
    const TestSettings &settings = options.settings;
    InstanceView view;
    std::vector<int> ports;
    if (int status =
            OpenPortsForRequest(globals, options.instance, options.ports, settings, view, ports);
        status != kExitSuccess) {
        return status;
    }
    const std::string storePath = StorePath(globals);
    if (int status = StartAgentIfNeeded(view, storePath); status != kExitSuccess) {
        return status;
    }

    int busyPort = 0;
    mml::Error error;
    if (!RequestTests(*view.objects, view.instance, ports, settings,
                      LabelBindings(options.labels, view.instance, ""), busyPort, error)) {
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
        "errors, failed or was stopped.\n"
        "The tests of one request form one run in the host's record of tests (see history), "
        "labelled with --board, --operator and --note when given.");
    test->add_option("instance", options->instance, "Instance name")
        ->required()
        ->type_name("INSTANCE");
    test->add_option("ports", options->ports, "Port number 1 to 16, or its device name")
        ->required()
        ->type_name("PORT");
    AddSettingOptions(*test, options->settings);
    AddRunLabelOptions(*test, options->labels);
    test->add_flag("--wait", options->wait, "Show live progress and wait for the results");
}

}  // namespace vyn::console
