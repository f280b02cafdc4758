// get NAME ... and set NAME=VALUE ...: objects by full name, in one request each.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "console/access/object_access.h"
#include "console/arguments.h"
#include "console/command_set.h"
#include "console/output.h"

namespace vyn::console {

namespace {

int RunGet(const GlobalOptions &globals, const std::vector<std::string> &names) {
    std::vector<mml::Binding> bindings(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::string reason;
        if (!ParseName(names[i], bindings[i].key, reason)) {
            return Fail(reason);
        }
    }
    std::string reason;
    auto objects = OpenAccess(globals, reason);
    if (!objects) {
        return Fail(reason);
    }
    mml::Error error;
    if (!objects->Read(bindings, error)) {
        return Fail(error.message);
    }
    // Printed only once every value is in hand: a failure prints nothing.
    std::string out;
    for (const mml::Binding &binding : bindings) {
        out += binding.value.type == MML_TYPE_INTEGER ? std::to_string(binding.value.integer)
                                                      : binding.value.text;
        out += '\n';
    }
    std::cout << out << std::flush;
    return kExitSuccess;
}

bool ParseAssignment(const std::string &argument, mml::Binding &binding, std::string &reason) {
    std::size_t equals = argument.find('=');
    if (equals == std::string::npos) {
        reason = "'" + argument + "' is not NAME=VALUE";
        return false;
    }
    std::string_view name(argument.data(), equals);
    if (!ParseName(name, binding.key, reason)) {
        return false;
    }
    std::string_view text = std::string_view(argument).substr(equals + 1);
    if (mml::Dictionary()[binding.key.object].type == mml::ValueType::Octets) {
        binding.value = mml::Value::Octets(text);
        return true;
    }
    int32_t number = 0;
    if (!ParseInteger(text, number)) {
        reason = "bad value '" + std::string(text) + "' for " + std::string(name) +
                 ": expected a 32-bit decimal integer";
        return false;
    }
    binding.value = mml::Value::Integer(number);
    return true;
}

int RunSet(const GlobalOptions &globals, const std::vector<std::string> &assignments) {
    std::vector<mml::Binding> bindings(assignments.size());
    for (std::size_t i = 0; i < assignments.size(); ++i) {
        std::string reason;
        if (!ParseAssignment(assignments[i], bindings[i], reason)) {
            return Fail(reason);
        }
    }
    std::string reason;
    auto objects = OpenAccess(globals, reason);
    if (!objects) {
        return Fail(reason);
    }
    mml::Error error;
    if (!objects->Write(bindings, error)) {
        return Fail(error.message);
    }
    return kExitSuccess;
}

}  // namespace

void AddGetSetCommands(CommandSet &commands) {
    auto names = std::make_shared<std::vector<std::string>>();
    CLI::App *get = commands.Add(
        "get", "Print objects' values, one a line (integers in decimal, texts as they are)",
        "vynloopctl get portLoopState.demo.1 portLoopStopErr.demo.1",
        [&commands, names] { return RunGet(commands.Globals(), *names); });
    get->add_option("names", *names, "Full object names")->required()->type_name("NAME");

    auto assignments = std::make_shared<std::vector<std::string>>();
    CLI::App *set = commands.Add(
        "set",
        "Set objects, all or none, typed by the object (integers: 32-bit decimal; texts: the "
        "rest of the argument, possibly empty)",
        "vynloopctl set portLoopSpeed.demo.1=115200 portLoopUData.demo.1=hello",
        [&commands, assignments] { return RunSet(commands.Globals(), *assignments); });
    set->add_option("assignments", *assignments, "Full object name and its new value")
        ->required()
        ->type_name("NAME=VALUE");
}

}  // namespace vyn::console
