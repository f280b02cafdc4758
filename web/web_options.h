// How vynloop-web is run: where it listens, its TLS files and credentials, the racks of the fleet
// page, the limit on live streams, and where the rack's objects are (the local store or --host).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "console/access/access_options.h"

namespace vyn::web {

inline constexpr int kDefaultPort = 8080;
inline constexpr int kDefaultMaxStreams = 16;

struct WebOptions {
    std::string address = "127.0.0.1";
    int port = kDefaultPort;  // 0: any free port
    std::string certificate;  // PEM; with `key`, the server speaks HTTPS
    std::string key;
    std::string credentials;         // "user:..." lines (see login.h); a login is then needed
    std::vector<std::string> fleet;  // hosts of the fleet page (--hosts-file)
    int maxStreams = kDefaultMaxStreams;
    console::AccessOptions access;  // the rack page's objects; access.remote: the SNMP options
};

// Whether `address` is one of this machine's loopback addresses (127.0.0.0/8, ::1, localhost).
bool IsLoopback(std::string_view address);

// Empty when the options may run; else one line of why not. Any address that is not loopback
// needs TLS (certificate and key) and a credentials file.
std::string CheckWebOptions(const WebOptions &options);

}  // namespace vyn::web
