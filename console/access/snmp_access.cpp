#include "console/access/snmp_access.h"

#include <algorithm>
#include <optional>

#include "console/access/snmp_session.h"
#include "console/access/snmp_transport.h"
#include "mml/dictionary.h"
#include "mml/vocabulary.h"
#include "snmp/layout/mib_layout.h"
#include "snmp/layout/object_index.h"
#include "snmp/layout/value_codec.h"

namespace vyn::console {

namespace {

namespace s = vyn::snmp;

// Gets in one PDU at most this many objects, so that an answer fits a datagram.
constexpr std::size_t kMaxGetBindings = 48;

std::string Reason(const mml::ObjectKey &key, const std::string &text) {
    return mml::FullName(key) + ": " + text;
}

class SnmpAccess final : public ObjectAccess {
  public:
    explicit SnmpAccess(SnmpTransport transport) : transport_(std::move(transport)) {}

    bool Read(std::span<mml::Binding> bindings, mml::Error &error) override {
        for (std::size_t first = 0; first < bindings.size(); first += kMaxGetBindings) {
            std::size_t count = std::min(kMaxGetBindings, bindings.size() - first);
            if (!Get(bindings.subspan(first, count), error)) {
                return false;
            }
        }
        return true;
    }

    bool Write(std::span<mml::Binding> bindings, mml::Error &error) override {
        if (bindings.empty()) {
            return true;
        }
        PduPtr pdu(snmp_pdu_create(SNMP_MSG_SET));
        for (const mml::Binding &binding : bindings) {
            std::optional<Target> target = Locate(binding.key, error);
            if (!target) {
                return false;
            }
            netsnmp_variable_list *variable =
                snmp_add_null_var(pdu.get(), target->name.data(), target->name.size());
            if (!variable || !s::WriteVarbind(*variable, *target->column, binding.value)) {
                Failed(error, Reason(binding.key, "a value of another type than the object's"));
                return false;
            }
        }
        PduPtr response;
        return transport_.Exchange(std::move(pdu), bindings, response, error);
    }

    bool ReadRows(const std::string &instance, std::span<mml::Binding> bindings,
                  mml::Error &error) override {
        // One repetition per port from the lowest asked for to the highest, of every column
        // asked for; whatever the answer leaves out (a full datagram) is read with gets.
        std::vector<std::size_t> objects;
        int low = mml::kLastPort;
        int high = mml::kFirstPort;
        for (const mml::Binding &binding : bindings) {
            if (binding.key.instance != instance || binding.key.port < mml::kFirstPort ||
                binding.key.port > mml::kLastPort) {
                return Read(bindings, error);
            }
            if (std::find(objects.begin(), objects.end(), binding.key.object) == objects.end()) {
                objects.push_back(binding.key.object);
            }
            low = std::min(low, binding.key.port);
            high = std::max(high, binding.key.port);
        }
        if (bindings.empty()) {
            return true;
        }
        PduPtr pdu(snmp_pdu_create(SNMP_MSG_GETBULK));
        pdu->non_repeaters = 0;
        pdu->max_repetitions = high - low + 1;
        std::vector<std::vector<oid>> prefixes;
        for (std::size_t object : objects) {
            mml::ObjectKey key{object, instance, low};
            std::optional<Target> target = Locate(key, error);
            if (!target) {
                return false;
            }
            target->name.pop_back();  // the row before `low`, so that the next one is `low`
            prefixes.push_back(target->name);
            target->name.push_back(static_cast<oid>(low - 1));
            snmp_add_null_var(pdu.get(), target->name.data(), target->name.size());
        }
        PduPtr response;
        if (!transport_.Exchange(std::move(pdu), {}, response, error)) {
            return false;
        }
        std::vector<bool> filled(bindings.size(), false);
        std::size_t position = 0;
        for (netsnmp_variable_list *v = response->variables; v; v = v->next_variable, ++position) {
            const std::vector<oid> &prefix = prefixes[position % prefixes.size()];
            if (v->name_length != prefix.size() + 1 ||
                !std::equal(prefix.begin(), prefix.end(), v->name)) {
                continue;
            }
            int port = static_cast<int>(v->name[prefix.size()]);
            std::size_t object = objects[position % prefixes.size()];
            for (std::size_t i = 0; i < bindings.size(); ++i) {
                if (!filled[i] && bindings[i].key.object == object &&
                    bindings[i].key.port == port) {
                    if (!Decode(*v, bindings[i], error)) {
                        return false;
                    }
                    filled[i] = true;
                }
            }
        }
        std::vector<mml::Binding> rest;
        for (std::size_t i = 0; i < bindings.size(); ++i) {
            if (!filled[i]) {
                rest.push_back(bindings[i]);
            }
        }
        if (rest.empty()) {
            return true;
        }
        if (!Read(rest, error)) {
            return false;
        }
        for (std::size_t i = 0, next = 0; i < bindings.size(); ++i) {
            if (!filled[i]) {
                bindings[i].value = std::move(rest[next++].value);
            }
        }
        return true;
    }

    bool Update(std::span<mml::Binding> reads, const mml::Store::Decision &decide,
                mml::Error &error) override {
        if (!Read(reads, error)) {
            return false;
        }
        std::vector<mml::Binding> writes = decide(reads);
        return Write(writes, error);
    }

    bool ListPorts(const std::string &instance, std::vector<int> &ports,
                   mml::Error &error) override {
        ports.clear();
        const s::Table &table = s::PortTable();
        s::Oid prefix = s::ColumnOid(table, *s::FindColumn(table, 2));  // portName
        s::Oid index = s::EncodeRowIndex(s::TableKind::Module, s::RowKey{instance, 0});
        prefix.insert(prefix.end(), index.begin(), index.end());
        std::vector<oid> start(prefix.begin(), prefix.end());
        PduPtr pdu(snmp_pdu_create(SNMP_MSG_GETBULK));
        pdu->non_repeaters = 0;
        pdu->max_repetitions = mml::kLastPort;
        snmp_add_null_var(pdu.get(), start.data(), start.size());
        PduPtr response;
        mml::Binding what;
        what.key.object = *mml::FindObject("portName");
        what.key.instance = instance;
        if (!transport_.Exchange(std::move(pdu), std::span(&what, 1), response, error)) {
            return false;
        }
        if (!InModule(response->variables)) {
            // A rack without this instance still answers with the module's next object.
            Failed(error, transport_.NoModule());
            return false;
        }
        for (netsnmp_variable_list *v = response->variables; v; v = v->next_variable) {
            if (v->type == SNMP_ENDOFMIBVIEW || v->name_length != prefix.size() + 1 ||
                !std::equal(prefix.begin(), prefix.end(), v->name)) {
                break;
            }
            ports.push_back(static_cast<int>(v->name[prefix.size()]));
        }
        return true;
    }

    bool ListInstances(std::vector<std::string> &instances, mml::Error &error) override {
        // The module table's rows, a GETBULK at a time.
        instances.clear();
        const s::Table &table = s::ModuleTable();
        s::Oid column = s::ColumnOid(table, table.columns.front());
        std::vector<oid> prefix(column.begin(), column.end());
        std::vector<oid> next = prefix;
        for (;;) {
            PduPtr pdu(snmp_pdu_create(SNMP_MSG_GETBULK));
            pdu->non_repeaters = 0;
            pdu->max_repetitions = kMaxGetBindings;
            snmp_add_null_var(pdu.get(), next.data(), next.size());
            PduPtr response;
            if (!transport_.Exchange(std::move(pdu), {}, response, error)) {
                return false;
            }
            if (!response->variables) {
                return true;
            }
            for (netsnmp_variable_list *v = response->variables; v; v = v->next_variable) {
                if (v->type == SNMP_ENDOFMIBVIEW || v->name_length <= prefix.size() ||
                    !std::equal(prefix.begin(), prefix.end(), v->name)) {
                    return true;
                }
                s::Oid index(v->name + prefix.size(), v->name + v->name_length);
                std::optional<s::RowKey> row = s::DecodeRowIndex(s::TableKind::Module, index);
                if (row) {
                    instances.push_back(row->instance);
                }
                next.assign(v->name, v->name + v->name_length);
            }
        }
    }

    // What the host's subagent finds out about the instance's agent; not known from a
    // subagent that does not serve it.
    std::optional<bool> Resident(const std::string &instance, mml::Error &) override {
        std::optional<int32_t> life = ReadFact(instance, "vynModuleAgentLife");
        return life ? std::optional<bool>(*life == AgentLifeResident) : std::nullopt;
    }
    std::optional<bool> AgentRunning(const std::string &instance) override {
        std::optional<int32_t> presence = ReadFact(instance, "vynModuleAgent");
        return presence ? std::optional<bool>(*presence == AgentPresenceRunning) : std::nullopt;
    }
    bool Local() const override { return false; }

  private:
    struct Target {
        const s::Column *column = nullptr;
        std::vector<oid> name;
    };

    std::optional<Target> Locate(const mml::ObjectKey &key, mml::Error &error) const {
        std::string_view object = mml::Dictionary()[key.object].name;
        std::optional<s::NamedColumn> named = s::FindColumnByName(object);
        if (!named) {
            Failed(error, Reason(key, "not one of VYNLOOP-MIB's objects, not served over SNMP"));
            return std::nullopt;
        }
        s::Oid full = s::ObjectOid(
            s::ObjectRef{named->table, named->column, s::RowKey{key.instance, key.port}});
        return Target{named->column, std::vector<oid>(full.begin(), full.end())};
    }

    std::optional<int32_t> ReadFact(const std::string &instance, std::string_view column) {
        std::optional<s::NamedColumn> named = s::FindColumnByName(column);
        s::Oid full =
            s::ObjectOid(s::ObjectRef{named->table, named->column, s::RowKey{instance, 0}});
        std::vector<oid> name(full.begin(), full.end());
        PduPtr pdu(snmp_pdu_create(SNMP_MSG_GET));
        snmp_add_null_var(pdu.get(), name.data(), name.size());
        PduPtr response;
        mml::Error ignored;
        if (!transport_.Exchange(std::move(pdu), {}, response, ignored) || !response->variables ||
            response->variables->type != ASN_INTEGER) {
            return std::nullopt;
        }
        return static_cast<int32_t>(*response->variables->val.integer);
    }

    bool Get(std::span<mml::Binding> bindings, mml::Error &error) {
        PduPtr pdu(snmp_pdu_create(SNMP_MSG_GET));
        for (const mml::Binding &binding : bindings) {
            std::optional<Target> target = Locate(binding.key, error);
            if (!target) {
                return false;
            }
            snmp_add_null_var(pdu.get(), target->name.data(), target->name.size());
        }
        PduPtr response;
        if (!transport_.Exchange(std::move(pdu), bindings, response, error)) {
            return false;
        }
        std::size_t i = 0;
        for (netsnmp_variable_list *v = response->variables; v && i < bindings.size();
             v = v->next_variable, ++i) {
            if (!Decode(*v, bindings[i], error)) {
                return false;
            }
        }
        if (i != bindings.size()) {
            Failed(error, transport_.host() + " answered with fewer objects than asked for");
            return false;
        }
        return true;
    }

    // The value of one answered object into `binding`.
    bool Decode(const netsnmp_variable_list &variable, mml::Binding &binding, mml::Error &error) {
        switch (variable.type) {
            case SNMP_NOSUCHOBJECT:
                Failed(error, Reason(binding.key, transport_.WhyNotServed()));
                return false;
            case SNMP_NOSUCHINSTANCE:
                Failed(error, mml::FullName(binding.key) +
                                  " does not exist (the port or instance is not provisioned)");
                return false;
            default:
                break;
        }
        std::optional<mml::Value> value = s::StoreValue(s::ReadVarbind(variable));
        if (!value) {
            Failed(error, Reason(binding.key, "unexpected answer type from " + transport_.host()));
            return false;
        }
        binding.value = std::move(*value);
        return true;
    }

    SnmpTransport transport_;
};

}  // namespace

std::unique_ptr<ObjectAccess> OpenSnmpAccess(const RemoteOptions &remote, std::string &reason) {
    SnmpSession session = OpenSnmpSession(remote, reason);
    if (!session) {
        return nullptr;
    }
    return std::make_unique<SnmpAccess>(
        SnmpTransport(std::move(session), HostAndPort(remote.host)));
}

}  // namespace vyn::console
