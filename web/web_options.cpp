#include "web/web_options.h"

#include <arpa/inet.h>

#include <string>

namespace vyn::web {

bool IsLoopback(std::string_view address) {
    if (address == "localhost" || address == "::1" || address == "[::1]") {
        return true;
    }
    // A numeric 127.x.y.y only: a name such as "127.example.com" may point anywhere.
    in_addr numeric{};
    std::string text(address);
    return ::inet_pton(AF_INET, text.c_str(), &numeric) == 1 &&
           (ntohl(numeric.s_addr) >> 24) == 127;
}

std::string CheckWebOptions(const WebOptions &options) {
    if (options.certificate.empty() != options.key.empty()) {
        return "TLS needs both --cert and --key";
    }
    if (options.maxStreams < 1) {
        return "--max-streams must be at least 1";
    }
    if (IsLoopback(options.address)) {
        return {};
    }
    if (options.certificate.empty() || options.credentials.empty()) {
        return "listening on " + options.address +
               " needs TLS and a login: give --cert, --key and --credentials (only 127.0.0.1 "
               "is served without them)";
    }
    return {};
}

}  // namespace vyn::web
