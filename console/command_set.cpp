#include "console/command_set.h"

#include <cstdlib>
#include <limits>

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

void AddRemoteOptions(CLI::App &app, RemoteOptions &remote) {
    const char *group = "Remote rack (SNMP)";
    app.add_option("--host", remote.host, "Work on HOST's objects over SNMP instead of the store")
        ->type_name("HOST[:PORT]")
        ->group(group);
    app.add_option("-v", remote.version, "SNMP version: 1, 2c or 3")
        ->type_name("VER")
        ->check(CLI::IsMember({"1", "2c", "3"}))
        ->group(group);
    app.add_option("-c", remote.community, "Community (v1, v2c)")
        ->type_name("COMMUNITY")
        ->group(group);
    app.add_option("-u", remote.user, "Security name (v3)")->type_name("USER")->group(group);
    // The level's names and the short forms that the Net-SNMP tools take.
    app.add_option("-l", remote.level, "Security level (v3): noAuthNoPriv, authNoPriv, authPriv")
        ->type_name("LEVEL")
        ->check(CLI::IsMember(
            {"noAuthNoPriv", "authNoPriv", "authPriv", "noauth", "auth", "priv", "1", "2", "3"},
            CLI::ignore_case))
        ->group(group);
    app.add_option("-a", remote.authProtocol, "Authentication protocol (v3): MD5, SHA, ...")
        ->type_name("PROTOCOL")
        ->group(group);
    app.add_option("-A", remote.authPassword, "Authentication pass phrase (v3)")
        ->type_name("PASSPHRASE")
        ->group(group);
    app.add_option("-x", remote.privProtocol, "Privacy protocol (v3): DES, AES, ...")
        ->type_name("PROTOCOL")
        ->group(group);
    app.add_option("-X", remote.privPassword, "Privacy pass phrase (v3)")
        ->type_name("PASSPHRASE")
        ->group(group);
    app.add_option("-t", remote.timeout, "Time-out of a request in seconds")
        ->type_name("SECONDS")
        ->check(CLI::Validator(
            [](std::string &text) {
                char *end = nullptr;
                double seconds = std::strtod(text.c_str(), &end);
                return !text.empty() && *end == '\0' && seconds > 0
                           ? std::string()
                           : "'" + text + "' is not a positive number of seconds";
            },
            ""))
        ->group(group);
    app.add_option("-r", remote.retries, "Retries of a request")
        ->type_name("N")
        ->check(CLI::Range(0, std::numeric_limits<int>::max()).description(""))
        ->group(group);
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
