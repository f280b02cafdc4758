// vynloop-web: the rack page (live ports, start, stop, extend), the fleet page (many racks over
// SNMP) and their JSON API, on 127.0.0.1 unless told otherwise.
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include "console/rack/fleet_read.h"
#include "console/rack/remote_options.h"
#include "web/login.h"
#include "web/web_server.h"

namespace {

using vyn::web::WebOptions;

// SIGINT and SIGTERM end the server; they are blocked in every thread and taken by one.
sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

int HashPasswordLine(const std::string &user) {
    std::string password;
    if (!std::getline(std::cin, password) || password.empty()) {
        std::cerr << "vynloop-web: give the password on standard input\n";
        return 2;
    }
    std::cout << vyn::web::HashPassword(user, password) << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    WebOptions options;
    std::string hostsFile;
    std::string hashUser;
    CLI::App app("vynloop-web: the rack and fleet pages of vynloop", "vynloop-web");
    app.add_option("--listen", options.address,
                   "Address to listen on; any but 127.0.0.1 needs --cert, --key and --credentials")
        ->capture_default_str();
    app.add_option("--port", options.port, "TCP port; 0 picks a free one")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    app.add_option("--cert", options.certificate, "TLS certificate (PEM)")
        ->check(CLI::ExistingFile);
    app.add_option("--key", options.key, "TLS private key (PEM)")->check(CLI::ExistingFile);
    app.add_option("--credentials", options.credentials,
                   "Users who may log in, one 'NAME:pbkdf2-sha256:...' line each "
                   "(see --hash-password)")
        ->check(CLI::ExistingFile);
    app.add_option("--hosts-file", hostsFile,
                   "Racks of the fleet page, one HOST[:PORT] a line, read over SNMP with the "
                   "options below")
        ->check(CLI::ExistingFile);
    app.add_option("--max-streams", options.maxStreams,
                   "Live views open at once; more are answered 503")
        ->check(CLI::Range(1, 1000))
        ->capture_default_str();
    app.add_option("--mib", options.access.storePath, "The store (default: VYNLOOP_MIB)")
        ->type_name("PATH");
    vyn::console::AddRemoteOptions(app, options.access.remote);
    app.add_option("--hash-password", hashUser,
                   "Print a credentials line for USER with the password read from standard input")
        ->type_name("USER");
    app.footer(
        "The rack page shows the store's instances (or --host's rack over SNMP); the fleet page "
        "the racks of --hosts-file.\nExample:\n  vynloop-web --hosts-file racks.txt -v 2c -c "
        "public\n  then open http://127.0.0.1:8080/");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        return app.exit(error);
    }
    if (!hashUser.empty()) {
        return HashPasswordLine(hashUser);
    }
    if (!hostsFile.empty()) {
        std::string reason;
        if (!vyn::console::ReadHostsFile(hostsFile, options.fleet, reason)) {
            std::cerr << "vynloop-web: " << reason << '\n';
            return 2;
        }
    }

    std::signal(SIGPIPE, SIG_IGN);
    sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    vyn::web::WebServer server(options);
    std::string reason;
    if (!server.Bind(reason)) {
        std::cerr << "vynloop-web: " << reason << '\n';
        return 2;
    }
    std::printf("vynloop-web: serving %s\n", server.Url().c_str());
    std::fflush(stdout);
    std::jthread stopper([&server, signals](std::stop_token stop) {
        const timespec tick{0, 200'000'000};
        while (!stop.stop_requested()) {
            if (sigtimedwait(&signals, nullptr, &tick) > 0) {
                server.Stop();
                return;
            }
        }
    });
    server.Serve();
    return 0;
}
