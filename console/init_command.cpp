// init INSTANCE PORT=DEVICE ... [--resident]: provisions an instance's objects.
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/access/store_access.h"
#include "console/arguments.h"
#include "console/command_set.h"
#include "console/output.h"
#include "console/rack/run_labels.h"
#include "mml/record_fields.h"

namespace vyn::console {

namespace {

struct InitOptions {
    std::string instance;
    std::vector<std::string> ports;
    bool resident = false;
    std::optional<std::string> board;
};

// "PORT=DEVICE" with PORT 1 to 16 written plainly and a plain device name.
bool ParsePortDevice(const std::string &argument, mml::PortDevice &entry, std::string &reason) {
    std::size_t equals = argument.find('=');
    if (equals == std::string::npos) {
        reason = "'" + argument + "' is not PORT=DEVICE";
        return false;
    }
    std::string_view port(argument.data(), equals);
    int32_t number = 0;
    if (port.empty() || port.front() < '1' || port.front() > '9' || !ParseInteger(port, number) ||
        number < mml::kFirstPort || number > mml::kLastPort) {
        reason = "bad port '" + std::string(port) + "' in '" + argument + "': ports are 1 to 16";
        return false;
    }
    entry.port = number;
    entry.device = argument.substr(equals + 1);
    if (!mml::IsValidDeviceName(entry.device)) {
        reason = "bad device name '" + entry.device + "' in '" + argument +
                 "': a plain name of 1 to 19 printable characters without '/'";
        return false;
    }
    return true;
}

int RunInit(const GlobalOptions &globals, const InitOptions &options) {
    // Everything is checked before the store is touched, so that a bad argument writes nothing.
    if (std::string reason = CheckInstance(options.instance); !reason.empty()) {
        return Fail(reason);
    }
    std::vector<mml::PortDevice> ports;
    for (const std::string &argument : options.ports) {
        mml::PortDevice entry;
        std::string reason;
        if (!ParsePortDevice(argument, entry, reason)) {
            return Fail(reason);
        }
        for (const mml::PortDevice &earlier : ports) {
            if (earlier.port == entry.port) {
                return Fail("port " + std::to_string(entry.port) + " is given twice");
            }
        }
        ports.push_back(std::move(entry));
    }
    mml::Error error;
    auto store = mml::Store::Create(StorePath(globals), error);
    if (!store || !store->Provision(options.instance, ports, options.resident, error) ||
        (options.board &&
         !store->SetValue(std::string(mml::kBoardSerialObject) + "." + options.instance,
                          mml::Value::Octets(*options.board), error))) {
        return Fail(error.message);
    }
    std::cout << "instance " << options.instance << ": provisioned port";
    for (const mml::PortDevice &entry : ports) {
        std::cout << ' ' << entry.port << '=' << entry.device;
    }
    std::cout << (options.resident ? " (resident)" : "");
    std::cout << (options.board ? ", board " + *options.board + "\n" : "\n");
    return kExitSuccess;
}

}  // namespace

void AddInitCommand(CommandSet &commands) {
    auto options = std::make_shared<InitOptions>();
    CLI::App *command = commands.Add(
        "init",
        "Create the store if missing and provision an instance's ports with default test "
        "parameters; an instance provisioned again gets the new ports and device names and "
        "keeps every other value",
        "vynloopctl init demo 1=COM1 2=COM2 --resident",
        [&commands, options] { return RunInit(commands.Globals(), *options); });
    command->add_option("instance", options->instance, "Instance name")
        ->required()
        ->type_name("INSTANCE");
    command->add_option("ports", options->ports, "Port number 1 to 16 and its device name")
        ->required()
        ->type_name("PORT=DEVICE");
    command->add_flag("--resident", options->resident,
                      "Keep the instance's agent running while it is idle");
    AddBoardOption(*command, options->board,
                   "The serial number of the instance's board, which labels its tests in the "
                   "record");
}

}  // namespace vyn::console
