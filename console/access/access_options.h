// Where a program finds the objects it reads and writes: the local store, or a remote rack (the
// host and how to reach it over SNMP, as the Net-SNMP tools take it).
#pragma once

#include <string>

namespace vyn::console {

// A remote rack (--host) and how to reach it; empty strings are the tools' defaults (snmp.conf,
// else their built-in ones).
struct RemoteOptions {
    std::string host;  // HOST[:PORT]; empty: the local store
    std::string version;
    std::string community;
    std::string user;
    std::string level;
    std::string authProtocol;
    std::string authPassword;
    std::string privProtocol;
    std::string privPassword;
    std::string timeout;  // seconds
    std::string retries;
};

struct AccessOptions {
    std::string storePath;  // empty: VYNLOOP_MIB, else the default store
    RemoteOptions remote;
};

}  // namespace vyn::console
