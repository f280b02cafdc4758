#include "console/rack/remote_options.h"

#include <cstdlib>
#include <limits>

namespace vyn::console {

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

}  // namespace vyn::console
