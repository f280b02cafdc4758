#include "console/app.h"

#include <CLI/CLI.hpp>

#include "base/store_path.h"
#include "console/command_set.h"
#include "console/output.h"

namespace vyn::console {

int Run(int argc, char **argv) {
    CLI::App app{
        "Provisions vynloop instances, runs and watches their loopback tests, and reads and writes "
        "their management objects.",
        "vynloopctl"};
    app.footer(
        "Exit status: 0 success, 1 a negative answer, 2 a usage error or a store failure.\n"
        "Example:\n  vynloopctl --mib /tmp/mib.db init demo 1=COM1 2=COM2");
    GlobalOptions globals;
    app.add_option(
           "--mib", globals.storePath,
           std::string("The store (default: $VYNLOOP_MIB, else ") + DefaultStorePath() + ")")
        ->type_name("PATH");
    AddRemoteOptions(app, globals.remote);
    app.require_subcommand(1);

    CommandSet commands(app, globals);
    AddInitCommand(commands);
    AddGetSetCommands(commands);
    AddStatusCommand(commands);
    AddAgentCommands(commands);
    AddTestCommand(commands);
    AddStopExtendCommands(commands);
    AddWatchCommand(commands);
    AddFleetCommand(commands);
    AddSweepCommand(commands);
    AddRecordCommands(commands);

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success &e) {
        return app.exit(e);  // --help: printed to standard output, exit 0
    } catch (const CLI::ParseError &e) {
        return Fail(e.what());
    }
    return commands.RunChosen();
}

}  // namespace vyn::console
