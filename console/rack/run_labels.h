// What labels the run of a test request in the host's record of tests: the board's serial
// number, who runs the tests, a note, and the key that gathers the requests of one sweep into
// one run. They travel with the request, as objects of the instance written in the same store
// request (locally or over SNMP).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "mml/store.h"

namespace CLI {
class App;
}  // namespace CLI

namespace vyn::console {

struct RunLabels {
    std::optional<std::string> board;  // becomes the instance's board serial number
    std::optional<std::string> operatorName;
    std::optional<std::string> note;
};

// --board SN alone, with its help.
void AddBoardOption(CLI::App &command, std::optional<std::string> &board, const std::string &help);

// --board SN, --operator NAME, --note TEXT, checked as they are parsed.
void AddRunLabelOptions(CLI::App &command, RunLabels &labels);

// A new key for a run that several requests will join (a sweep): random, 16 hex digits.
std::string NewRunKey();

// The instance objects to write with a request: the labels given and, when not empty, the key.
std::vector<mml::Binding> LabelBindings(const RunLabels &labels, const std::string &instance,
                                        const std::string &key);

}  // namespace vyn::console
