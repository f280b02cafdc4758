// Every per-port object of an instance's ports, read at one moment: the device, the test
// parameters, the loop state and the published counters and result.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/access/object_access.h"
#include "mml/store.h"

namespace vyn::console {

struct PortSnapshot {
    int port = 0;
    std::vector<mml::Value> values;  // by dictionary position; module-wide objects stay null

    // The value of a per-port object by its bare name (0 or "" when it is not one).
    int32_t Integer(std::string_view object) const;
    const std::string &Text(std::string_view object) const;

    const std::string &Device() const { return Text("portName"); }
    int32_t State() const { return Integer("portLoopState"); }
    const std::string &Result() const { return Text("portLoopStopErr"); }
};

// "port 3 (COM3)".
std::string PortLabel(const PortSnapshot &port);

// The names of the per-port objects, in dictionary order.
const std::vector<std::string_view> &PortObjectNames();

// Reads every per-port object of `ports` in one request.
bool ReadSnapshots(ObjectAccess &objects, const std::string &instance,
                   const std::vector<int> &ports, std::vector<PortSnapshot> &snapshots,
                   mml::Error &error);

// A binding for "object.instance.port", for requests.
mml::Binding PortBinding(std::string_view object, const std::string &instance, int port,
                         mml::Value value = mml::Value::Null());

}  // namespace vyn::console
