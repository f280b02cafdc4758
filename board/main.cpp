// vynboard: the virtual multi-port serial board.
//   vynboard serve --dir DIR --ports N [--mib PATH --instance NAME]
//   vynboard ctl --dir DIR [COMn] key=value ...
//   vynboard ctl --dir DIR [COMn] show
#include <CLI/CLI.hpp>

#include "board/board_model.h"
#include "board/commands.h"

int main(int argc, char **argv) {
    CLI::App app{"vynboard: a virtual multi-port serial board on pseudo-terminals"};
    app.require_subcommand(1);

    vyn::board::ServeArguments serve;
    CLI::App *serveCommand = app.add_subcommand(
        "serve", "Create the ports and the control socket in DIR and run until SIGTERM");
    serveCommand->add_option("--dir", serve.dir, "Directory for the ports and Kyrx1")->required();
    serveCommand->add_option("--ports", serve.ports, "Number of ports, COM1 ... COMN")
        ->required()
        ->check(CLI::Range(1, vyn::board::BoardModel::kMaxPorts));
    serveCommand->add_option("--mib", serve.storePath, "Store to publish receive-error totals to");
    serveCommand->add_option("--instance", serve.instance, "Instance whose objects to set");
    serveCommand->footer(
        "Prints \"ready\" once COM1 ... COMN and Kyrx1 exist.\n"
        "Example: vynboard serve --dir /tmp/board --ports 4 --mib /tmp/mib.db --instance demo");

    vyn::board::CtlArguments ctl;
    CLI::App *ctlCommand = app.add_subcommand("ctl", "Change or show a running board's state");
    ctlCommand->add_option("--dir", ctl.dir, "Directory the board serves")->required();
    ctlCommand->add_option(
        "settings", ctl.words,
        "[COMn] plug=none|loop|cross:COMm loopback=on|off corrupt=N framing=N drop=N "
        "stray=HEX rxbuf=N keepspeed=N ras=hold|free present=no|yes service=running|stopped, or "
        "[COMn] show");
    ctlCommand->footer(
        "Examples:\n"
        "  vynboard ctl --dir /tmp/board COM1 plug=cross:COM2 corrupt=1000\n"
        "  vynboard ctl --dir /tmp/board COM2 ras=hold service=running\n"
        "  vynboard ctl --dir /tmp/board COM3 present=no    # pulled out: its device goes away\n"
        "  vynboard ctl --dir /tmp/board COM3 present=yes   # back, as a new device\n"
        "  vynboard ctl --dir /tmp/board COM1 show");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::ParseError &error) {
        return vyn::board::Fail(error.what());
    }
    if (serveCommand->parsed()) {
        return vyn::board::Serve(serve);
    }
    return vyn::board::Ctl(ctl);
}
