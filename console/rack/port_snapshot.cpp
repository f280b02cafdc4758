#include "console/rack/port_snapshot.h"

#include "console/rack/words.h"
#include "mml/dictionary.h"

namespace vyn::console {

namespace {

const std::string kNoText;

std::size_t Position(std::string_view object) {
    std::optional<std::size_t> position = mml::FindObject(object);
    return position ? *position : mml::Dictionary().size();
}

}  // namespace

int32_t PortSnapshot::Integer(std::string_view object) const {
    std::size_t position = Position(object);
    return position < values.size() && values[position].type == MML_TYPE_INTEGER
               ? values[position].integer
               : 0;
}

const std::string &PortSnapshot::Text(std::string_view object) const {
    std::size_t position = Position(object);
    return position < values.size() && values[position].type == MML_TYPE_OCTETS
               ? values[position].text
               : kNoText;
}

std::string PortLabel(const PortSnapshot &port) {
    return "port " + std::to_string(port.port) + " (" + OneLine(port.Device()) + ")";
}

const std::vector<std::string_view> &PortObjectNames() {
    static const std::vector<std::string_view> names = [] {
        std::vector<std::string_view> list;
        for (const mml::ObjectDef &def : mml::Dictionary()) {
            if (def.scope == mml::Scope::PerPort) {
                list.push_back(def.name);
            }
        }
        return list;
    }();
    return names;
}

mml::Binding PortBinding(std::string_view object, const std::string &instance, int port,
                         mml::Value value) {
    mml::Binding binding;
    binding.key.object = Position(object);
    binding.key.instance = instance;
    binding.key.port = port;
    binding.value = std::move(value);
    return binding;
}

bool ReadSnapshots(ObjectAccess &objects, const std::string &instance,
                   const std::vector<int> &ports, std::vector<PortSnapshot> &snapshots,
                   mml::Error &error) {
    const std::vector<std::string_view> &names = PortObjectNames();
    std::vector<mml::Binding> bindings;
    bindings.reserve(ports.size() * names.size());
    for (int port : ports) {
        for (std::string_view name : names) {
            bindings.push_back(PortBinding(name, instance, port));
        }
    }
    if (!objects.ReadRows(instance, bindings, error)) {
        return false;
    }
    snapshots.clear();
    std::size_t next = 0;
    for (int port : ports) {
        PortSnapshot snapshot;
        snapshot.port = port;
        snapshot.values.resize(mml::Dictionary().size());
        for (std::size_t i = 0; i < names.size(); ++i, ++next) {
            snapshot.values[bindings[next].key.object] = std::move(bindings[next].value);
        }
        snapshots.push_back(std::move(snapshot));
    }
    return true;
}

}  // namespace vyn::console
