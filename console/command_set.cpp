#include "console/command_set.h"

#include "console/output.h"

namespace vyn::console {

CLI::App *CommandSet::Add(const std::string &name, const std::string &description,
                          const std::string &example, std::function<int()> run,
                          const std::string &details) {
    CLI::App *command = app_.add_subcommand(name, description);
    // Not by fall-through to the top level: an argument that happens to be a command's name
    // (an instance called "status") stays an argument.
    AddGlobalOptions(*command);
    command->footer((details.empty() ? "" : details + "\n\n") + "Example:\n  " + example);
    commands_.emplace_back(command, std::move(run));
    return command;
}

void CommandSet::AddGlobalOptions(CLI::App &command) {
    command.add_option("--mib", globals_.storePath, "The store (as before the command)")
        ->type_name("PATH");
    AddRemoteOptions(command, globals_.remote);
}

int CommandSet::RunChosen() const {
    for (const auto &[command, run] : commands_) {
        if (command->parsed()) {
            return run();
        }
    }
    return Fail("no command given (see --help)");
}

}  // namespace vyn::console
