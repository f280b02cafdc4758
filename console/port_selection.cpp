#include "console/port_selection.h"

#include <algorithm>

#include "console/arguments.h"
#include "console/output.h"
#include "console/rack/loop_state.h"

namespace vyn::console {

const PortSnapshot *InstanceView::Find(int port) const {
    for (const PortSnapshot &snapshot : ports) {
        if (snapshot.port == port) {
            return &snapshot;
        }
    }
    return nullptr;
}

std::vector<int> InstanceView::Numbers() const {
    std::vector<int> numbers;
    for (const PortSnapshot &snapshot : ports) {
        numbers.push_back(snapshot.port);
    }
    return numbers;
}

bool InstanceView::Refresh(mml::Error &error) {
    std::vector<PortSnapshot> fresh;
    if (!ReadSnapshots(*objects, instance, Numbers(), fresh, error)) {
        return false;
    }
    ports = std::move(fresh);
    return true;
}

int OpenInstance(const GlobalOptions &globals, const std::string &instance, InstanceView &view) {
    std::string reason = CheckInstance(instance);
    if (!reason.empty()) {
        return Fail(reason);
    }
    view.instance = instance;
    view.objects = OpenAccess(globals, reason);
    if (!view.objects) {
        return Fail(reason);
    }
    mml::Error error;
    std::vector<int> numbers;
    if (!view.objects->ListPorts(instance, numbers, error) ||
        !ReadSnapshots(*view.objects, instance, numbers, view.ports, error)) {
        return Fail(error.message);
    }
    if (numbers.empty()) {
        return Fail("instance " + instance + " is not provisioned (see vynloopctl init)");
    }
    return kExitSuccess;
}

bool SelectPorts(const InstanceView &view, const std::vector<std::string> &words,
                 std::vector<int> &ports, std::string &reason) {
    ports.clear();
    std::string provisioned;
    for (const PortSnapshot &port : view.ports) {
        provisioned += ' ' + std::to_string(port.port) + '=' + OneLine(port.Device());
    }
    for (const std::string &word : words) {
        int number = 0;
        int32_t parsed = 0;
        bool numeric = !word.empty() && std::all_of(word.begin(), word.end(),
                                                    [](char c) { return c >= '0' && c <= '9'; });
        if (numeric) {
            if (!ParseInteger(word, parsed) || parsed < mml::kFirstPort ||
                parsed > mml::kLastPort) {
                reason = "bad port '" + word + "': ports are 1 to 16";
                return false;
            }
            number = parsed;
            if (view.Find(number) == nullptr) {
                reason = "port " + word + " is not provisioned in instance " + view.instance +
                         " (ports:" + provisioned + ")";
                return false;
            }
        } else {
            for (const PortSnapshot &port : view.ports) {
                if (port.Device() == word) {
                    number = port.port;
                }
            }
            if (number == 0) {
                reason = "no port of instance " + view.instance + " has the device '" +
                         OneLine(word) + "' (ports:" + provisioned + ")";
                return false;
            }
        }
        if (std::find(ports.begin(), ports.end(), number) != ports.end()) {
            reason = "port " + std::to_string(number) + " is given twice";
            return false;
        }
        ports.push_back(number);
    }
    return true;
}

int OpenPortsForRequest(const GlobalOptions &globals, const std::string &instance,
                        const std::vector<std::string> &words, const TestSettings &settings,
                        InstanceView &view, std::vector<int> &ports) {
    if (int status = OpenInstance(globals, instance, view); status != kExitSuccess) {
        return status;
    }
    std::string reason;
    if (!SelectPorts(view, words, ports, reason)) {
        return Fail(reason);
    }
    if (std::string why = CheckLinePorts(settings, ports.size()); !why.empty()) {
        return Fail(why);
    }
    for (int number : ports) {
        const PortSnapshot &port = *view.Find(number);
        if (TestUnderway(port.State())) {
            return Fail(PortLabel(port) + " is busy: its test is " + LoopStateWord(port.State()));
        }
        if (std::string why = CheckRunnable(settings, port); !why.empty()) {
            return Fail(PortLabel(port) + ": " + why);
        }
    }
    return kExitSuccess;
}

}  // namespace vyn::console
