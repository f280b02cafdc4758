#include "mml/object_name.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "mml/dictionary.h"

namespace vyn::mml {

namespace {

// Ports are written in decimal without sign or leading zero: 1 to 16.
int ParsePort(std::string_view text) {
    if (text.empty() || text.size() > 2 || text[0] < '1' || text[0] > '9') {
        return 0;
    }
    int port = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return 0;
        }
        port = port * 10 + (c - '0');
    }
    return port <= kLastPort ? port : 0;
}

// Instance names interned for the process: identifiers stay two words however long the name.
class InstanceTable {
  public:
    uint32_t Intern(const std::string &name) {
        std::lock_guard lock(mutex_);
        auto found = ids_.find(name);
        if (found != ids_.end()) {
            return found->second;
        }
        names_.push_back(name);
        auto id = static_cast<uint32_t>(names_.size());
        ids_.emplace(name, id);
        return id;
    }

    bool Lookup(uint32_t id, std::string &name) const {
        std::lock_guard lock(mutex_);
        if (id == 0 || id > names_.size()) {
            return false;
        }
        name = names_[id - 1];
        return true;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> names_;
    std::unordered_map<std::string, uint32_t> ids_;
};

InstanceTable &Instances() {
    static InstanceTable table;
    return table;
}

}  // namespace

int ParseObjectName(std::string_view name, ObjectKey &key) {
    std::size_t firstDot = name.find('.');
    auto object = FindObject(name.substr(0, firstDot));
    if (!object) {
        return MML_OID_ERROR_UNKNOWN_OBJECT;
    }
    if (firstDot == std::string_view::npos) {
        return MML_OID_ERROR_BAD_INSTANCE;
    }
    std::string_view rest = name.substr(firstDot + 1);
    std::string_view instance = rest;
    int port = 0;
    if (Dictionary()[*object].scope == Scope::PerPort) {
        std::size_t lastDot = rest.rfind('.');
        if (lastDot == std::string_view::npos) {
            // "portLoopState.demo": a lone part is taken as the instance, so the port is missing.
            return IsValidInstance(rest) ? MML_OID_ERROR_BAD_PORT : MML_OID_ERROR_BAD_INSTANCE;
        }
        instance = rest.substr(0, lastDot);
        if (!IsValidInstance(instance)) {
            return MML_OID_ERROR_BAD_INSTANCE;
        }
        port = ParsePort(rest.substr(lastDot + 1));
        if (port == 0) {
            return MML_OID_ERROR_BAD_PORT;
        }
    } else if (!IsValidInstance(rest)) {
        // A trailing number is a port given to a module-wide object.
        std::size_t lastDot = rest.rfind('.');
        bool numberedTail =
            lastDot != std::string_view::npos && lastDot + 1 < rest.size() &&
            rest.find_first_not_of("0123456789", lastDot + 1) == std::string_view::npos;
        if (numberedTail && IsValidInstance(rest.substr(0, lastDot))) {
            return MML_OID_ERROR_BAD_PORT;
        }
        return MML_OID_ERROR_BAD_INSTANCE;
    }
    key.object = *object;
    key.instance.assign(instance);
    key.port = port;
    return 0;
}

std::string FullName(const ObjectKey &key) {
    std::string name(Dictionary()[key.object].name);
    name += '.';
    name += key.instance;
    if (key.port != 0) {
        name += '.';
        name += std::to_string(key.port);
    }
    return name;
}

std::string_view DescribeNameError(int code) {
    switch (code) {
        case 0:
            return "no error";
        case MML_OID_ERROR_NULL:
            return "no object name";
        case MML_OID_ERROR_UNKNOWN_OBJECT:
            return "unknown object";
        case MML_OID_ERROR_BAD_INSTANCE:
            return "malformed instance name (1 to 31 printable characters, no ',')";
        case MML_OID_ERROR_BAD_PORT:
            return "bad port (per-port objects take a port 1 to 16, module objects none)";
        default:
            return "malformed object name";
    }
}

MmlOid EncodeOid(const ObjectKey &key) {
    MmlOid oid{};
    oid.words[0] = static_cast<uint32_t>((key.object + 1) << 8) | static_cast<uint32_t>(key.port);
    oid.words[1] = Instances().Intern(key.instance);
    return oid;
}

bool DecodeOid(const MmlOid &oid, ObjectKey &key) {
    uint32_t position = oid.words[0] >> 8;
    auto port = static_cast<int>(oid.words[0] & 0xFFu);
    if (position == 0 || position > Dictionary().size()) {
        return false;
    }
    const ObjectDef &def = Dictionary()[position - 1];
    bool portOk =
        def.scope == Scope::PerPort ? (port >= kFirstPort && port <= kLastPort) : port == 0;
    if (!portOk || !Instances().Lookup(oid.words[1], key.instance)) {
        return false;
    }
    key.object = position - 1;
    key.port = port;
    return true;
}

}  // namespace vyn::mml
