#include "console/rack/run_labels.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <random>

#include "mml/dictionary.h"
#include "mml/record_fields.h"

namespace vyn::console {

namespace {

CLI::Validator MaxLength(std::size_t limit, bool printable) {
    return CLI::Validator(
        [limit, printable](const std::string &text) -> std::string {
            if (text.size() > limit) {
                return "at most " + std::to_string(limit) + " bytes";
            }
            for (unsigned char c : text) {
                if (c < 0x20 || c == 0x7F || (printable && c > 0x7E)) {
                    return "'" + text + "' has a character that is not printable" +
                           (printable ? " ASCII" : "");
                }
            }
            return {};
        },
        "", "");
}

mml::Binding InstanceText(std::string_view object, const std::string &instance,
                          const std::string &text) {
    return {{*mml::FindObject(object), instance, 0}, mml::Value::Octets(text)};
}

}  // namespace

void AddBoardOption(CLI::App &command, std::optional<std::string> &board, const std::string &help) {
    command
        .add_option_function<std::string>(
            "--board", [&board](const std::string &text) { board = text; }, help)
        ->check(MaxLength(mml::kMaxRunLabelLength, true))
        ->type_name("SN");
}

void AddRunLabelOptions(CLI::App &command, RunLabels &labels) {
    AddBoardOption(command, labels.board,
                   "The serial number of the board under test; the instance keeps it for later "
                   "tests");
    command
        .add_option_function<std::string>(
            "--operator", [&labels](const std::string &text) { labels.operatorName = text; },
            "Who runs the tests, for the record")
        ->check(MaxLength(mml::kMaxRunLabelLength, false))
        ->type_name("NAME");
    command
        .add_option_function<std::string>(
            "--note", [&labels](const std::string &text) { labels.note = text; },
            "A note on this run, for the record")
        ->check(MaxLength(mml::kMaxRunNoteLength, false))
        ->type_name("TEXT");
}

std::string NewRunKey() {
    std::random_device random;
    std::uniform_int_distribution<uint64_t> any;
    char key[17];
    std::snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(any(random)));
    return key;
}

std::vector<mml::Binding> LabelBindings(const RunLabels &labels, const std::string &instance,
                                        const std::string &key) {
    std::vector<mml::Binding> bindings;
    if (labels.board) {
        bindings.push_back(InstanceText(mml::kBoardSerialObject, instance, *labels.board));
    }
    if (!key.empty()) {
        bindings.push_back(InstanceText(mml::kRunKeyObject, instance, key));
    }
    // Only what is given: the record takes a run's labels from its own request alone, and a
    // request without labels stays one that an older host serves.
    if (labels.operatorName) {
        bindings.push_back(InstanceText(mml::kRunOperatorObject, instance, *labels.operatorName));
    }
    if (labels.note) {
        bindings.push_back(InstanceText(mml::kRunNoteObject, instance, *labels.note));
    }
    return bindings;
}

}  // namespace vyn::console
