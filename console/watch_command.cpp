// watch INSTANCE [--until-done]: the live view of every provisioned port until Ctrl-C, or until
// every port's test has a result.
#include <memory>
#include <string>

#include "console/command_set.h"
#include "console/output.h"
#include "console/port_selection.h"
#include "console/port_watch.h"

namespace vyn::console {

namespace {

int RunWatch(const GlobalOptions &globals, const std::string &instance, bool untilDone) {
    InstanceView view;
    if (int status = OpenInstance(globals, instance, view); status != kExitSuccess) {
        return status;
    }
    WatchMode mode;
    mode.untilResults = untilDone;
    return WatchPorts(view, view.Numbers(), mode);
}

}  // namespace

void AddWatchCommand(CommandSet &commands) {
    auto instance = std::make_shared<std::string>();
    auto untilDone = std::make_shared<bool>(false);
    CLI::App *watch = commands.Add(
        "watch", "Show every provisioned port's test live until Ctrl-C", "vynloopctl watch demo",
        [&commands, instance, untilDone] {
            return RunWatch(commands.Globals(), *instance, *untilDone);
        },
        "Refreshed each second: line settings, progress (a moving block for a test without a "
        "time limit), characters sent and received, current and average rate in baud, input "
        "errors and time left. On a terminal the lines are redrawn in place; otherwise a port's "
        "line is printed again whenever its values change.");
    watch->add_option("instance", *instance, "Instance name")->required()->type_name("INSTANCE");
    watch->add_flag("--until-done", *untilDone,
                    "End once every port's test has a result, print the result lines and exit 0 "
                    "when all passed, else 1 (a port that never had a test does not count)");
}

}  // namespace vyn::console
