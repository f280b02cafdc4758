#include <cstdio>
#include <string>
#include <string_view>

#include "board/client/client.h"
#include "board/commands.h"

namespace vyn::board {

namespace {

int Refused(const Status &status) {
    return Fail(status.message + " (error " + std::to_string(status.error) + ")");
}

int PrintShow(Client &client, const std::string &port) {
    if (port.empty()) {
        Result<int> ports = client.Ports();
        if (!ports.ok()) {
            return Refused(ports);
        }
        Result<bool> running = client.ServiceRunning();
        if (!running.ok()) {
            return Refused(running);
        }
        std::printf("ports: %d\nservice: %s\n", ports.value, running.value ? "running" : "stopped");
        return 0;
    }
    Result<KeyValues> shown = client.Show(port);
    if (!shown.ok()) {
        return Refused(shown);
    }
    for (const auto &[key, value] : shown.value) {
        std::printf("%s: %s\n", key.c_str(), value.c_str());
    }
    return 0;
}

}  // namespace

int Ctl(const CtlArguments &arguments) {
    std::string port;
    std::size_t first = 0;
    if (!arguments.words.empty() && arguments.words[0].starts_with("COM")) {
        port = arguments.words[0];
        first = 1;
    }
    if (first == arguments.words.size()) {
        return Fail("nothing to do: give key=value settings or show");
    }
    Client client(Client::SocketPathIn(arguments.dir));
    if (arguments.words[first] == "show") {
        if (first + 1 != arguments.words.size()) {
            return Fail("show takes nothing after it");
        }
        return PrintShow(client, port);
    }
    std::string settings;
    std::string service;
    for (std::size_t i = first; i < arguments.words.size(); ++i) {
        const std::string &word = arguments.words[i];
        if (word.find('=') == std::string::npos || word.front() == '=') {
            return Fail("expected key=value, not " + word);
        }
        if (word.starts_with("service=")) {
            service = word.substr(8);
            if (service != "running" && service != "stopped") {
                return Fail("service must be running or stopped");
            }
        } else {
            settings += settings.empty() ? word : " " + word;
        }
    }
    if (!settings.empty() && port.empty()) {
        return Fail("name the port (COMn) for " + settings);
    }
    if (!settings.empty()) {
        if (Status status = client.Set(port, settings); !status.ok()) {
            return Refused(status);
        }
    }
    if (!service.empty()) {
        if (Status status = client.SetServiceRunning(service == "running"); !status.ok()) {
            return Refused(status);
        }
    }
    return 0;
}

}  // namespace vyn::board
