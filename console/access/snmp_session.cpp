#include "console/access/snmp_session.h"

// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
// clang-format on

#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <vector>

namespace vyn::console {

namespace {

void InitLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The tools' own files and environment (snmp.conf, SNMPCONFPATH, ...). MIB modules are
        // not loaded: every OID is numeric, from the MIB's layout.
        ::setenv("MIBS", "", 1);
        init_snmp("vynloopctl");
    });
}

}  // namespace

void SessionCloser::operator()(void *session) const {
    snmp_sess_close(session);
}

SnmpSession OpenSnmpSession(const RemoteOptions &remote, std::string &reason) {
    InitLibrary();
    std::vector<std::string> words{"vynloopctl"};
    auto option = [&words](const char *flag, const std::string &value) {
        if (!value.empty()) {
            words.push_back(flag);
            words.push_back(value);
        }
    };
    option("-v", remote.version);
    option("-c", remote.community);
    option("-u", remote.user);
    option("-l", remote.level);
    option("-a", remote.authProtocol);
    option("-A", remote.authPassword);
    option("-x", remote.privProtocol);
    option("-X", remote.privPassword);
    option("-t", remote.timeout);
    option("-r", remote.retries);
    words.push_back(remote.host);
    std::vector<char *> argv;
    for (std::string &word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    netsnmp_session session;
    optind = 1;  // the option parser is getopt, once per host
    int parsed =
        // Without copies of the secrets (they are ours, and live until the session is open).
        netsnmp_parse_args(static_cast<int>(words.size()), argv.data(), &session, "", nullptr,
                           NETSNMP_PARSE_ARGS_NOZERO);
    // The index of the host among the words, or a negative error (already printed).
    if (parsed < 0) {
        reason = "bad SNMP options for " + remote.host;
        return nullptr;
    }
    void *handle = snmp_sess_open(&session);
    // The parser's copies; the open session has its own.
    std::free(session.community);
    session.community = nullptr;
    if (!handle) {
        int libraryError = 0;
        int systemError = 0;
        char *text = nullptr;
        snmp_error(&session, &systemError, &libraryError, &text);
        reason = "cannot reach " + remote.host + ": " + (text ? text : "no session");
        free(text);  // NOLINT: allocated by the library
        return nullptr;
    }
    return SnmpSession(handle);
}

std::string HostAndPort(const std::string &host) {
    return host.find(':') == std::string::npos ? host + ":161" : host;
}

}  // namespace vyn::console
