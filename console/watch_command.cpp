// watch INSTANCE: the live view of every provisioned port until Ctrl-C.
#include <memory>
#include <string>

#include "console/command_set.h"
#include "console/output.h"
#include "console/port_selection.h"
#include "console/port_watch.h"

namespace vyn::console {

namespace {

int RunWatch(const GlobalOptions &globals, const std::string &instance) {
    InstanceView view;
    if (int status = OpenInstance(globals, instance, view); status != kExitSuccess) {
        return status;
    }
    return WatchPorts(view, view.Numbers(), WatchMode{});
}

}  // namespace

void AddWatchCommand(CommandSet &commands) {
    auto instance = std::make_shared<std::string>();
    CLI::App *watch = commands.Add(
        "watch", "Show every provisioned port's test live until Ctrl-C", "vynloopctl watch demo",
        [&commands, instance] { return RunWatch(commands.Globals(), *instance); },
        "Refreshed each second: line settings, progress (a moving block for a test without a "
        "time limit), characters sent and received, current and average rate in baud, input "
        "errors and time left. On a terminal the lines are redrawn in place; otherwise a port's "
        "line is printed again whenever its values change.");
    watch->add_option("instance", *instance, "Instance name")->required()->type_name("INSTANCE");
}

}  // namespace vyn::console
