#include "console/snmp_access.h"

// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
// clang-format on

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "mml/dictionary.h"
#include "mml/vocabulary.h"
#include "snmp/mib_layout.h"
#include "snmp/object_index.h"

namespace vyn::console {

namespace {

namespace s = vyn::snmp;

// Gets in one PDU at most this many objects, so that an answer fits a datagram.
constexpr std::size_t kMaxGetBindings = 48;

void InitLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The tools' own files and environment (snmp.conf, SNMPCONFPATH, ...). MIB modules are
        // not loaded: every OID is numeric, from the MIB's layout.
        ::setenv("MIBS", "", 1);
        init_snmp("vynloopctl");
    });
}

std::string Reason(const mml::ObjectKey &key, const std::string &text) {
    return mml::FullName(key) + ": " + text;
}

struct PduDeleter {
    void operator()(netsnmp_pdu *pdu) const { snmp_free_pdu(pdu); }
};
using PduPtr = std::unique_ptr<netsnmp_pdu, PduDeleter>;

struct SessionCloser {
    void operator()(void *session) const { snmp_sess_close(session); }
};

class SnmpAccess final : public ObjectAccess {
  public:
    SnmpAccess(void *session, std::string host) : session_(session), host_(std::move(host)) {}

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
            if (binding.value.type == MML_TYPE_OCTETS) {
                snmp_pdu_add_variable(pdu.get(), target->name.data(), target->name.size(),
                                      ASN_OCTET_STR, binding.value.text.data(),
                                      binding.value.text.size());
            } else {
                long integer = binding.value.integer;
                u_long count = static_cast<uint32_t>(binding.value.integer);
                bool unsignedSyntax = target->column->syntax == s::Syntax::Unsigned;
                snmp_pdu_add_variable(pdu.get(), target->name.data(), target->name.size(),
                                      unsignedSyntax ? ASN_UNSIGNED : ASN_INTEGER,
                                      unsignedSyntax ? static_cast<const void *>(&count)
                                                     : static_cast<const void *>(&integer),
                                      unsignedSyntax ? sizeof count : sizeof integer);
            }
        }
        PduPtr response;
        return Exchange(std::move(pdu), bindings, response, error);
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
        if (!Exchange(std::move(pdu), {}, response, error)) {
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
        if (!Exchange(std::move(pdu), std::span(&what, 1), response, error)) {
            return false;
        }
        if (!InModule(response->variables)) {
            // A rack without this instance still answers with the module's next object.
            Failed(error, NoModule());
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
            if (!Exchange(std::move(pdu), {}, response, error)) {
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
        if (!Exchange(std::move(pdu), {}, response, ignored) || !response->variables ||
            response->variables->type != ASN_INTEGER) {
            return std::nullopt;
        }
        return static_cast<int32_t>(*response->variables->val.integer);
    }

    static void Failed(mml::Error &error, std::string message) {
        error.failure = MML_FAILURE_STORAGE;
        error.message = std::move(message);
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
        if (!Exchange(std::move(pdu), bindings, response, error)) {
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
            Failed(error, host_ + " answered with fewer objects than asked for");
            return false;
        }
        return true;
    }

    // The value of one answered object into `binding`.
    bool Decode(const netsnmp_variable_list &variable, mml::Binding &binding, mml::Error &error) {
        const netsnmp_variable_list *v = &variable;
        switch (v->type) {
            case ASN_INTEGER:
                binding.value = mml::Value::Integer(static_cast<int32_t>(*v->val.integer));
                break;
            case ASN_UNSIGNED:
            case ASN_COUNTER:
                // The same 32 bits that the store keeps.
                binding.value = mml::Value::Integer(
                    static_cast<int32_t>(static_cast<uint32_t>(*v->val.integer)));
                break;
            case ASN_OCTET_STR:
                binding.value = mml::Value::Octets(
                    std::string_view(reinterpret_cast<const char *>(v->val.string), v->val_len));
                break;
            case SNMP_NOSUCHOBJECT:
                Failed(error, Reason(binding.key, WhyNotServed()));
                return false;
            case SNMP_NOSUCHINSTANCE:
                Failed(error, mml::FullName(binding.key) +
                                  " does not exist (the port or instance is not provisioned)");
                return false;
            default:
                Failed(error, Reason(binding.key, "unexpected answer type from " + host_));
                return false;
        }
        return true;
    }

    // Why the host's agent has no such object: either nothing of VYNLOOP-MIB is there (no
    // subagent is connected to it) or its subagent serves an older MIB. The first object after
    // the module's own OID tells them apart.
    std::string WhyNotServed() {
        std::vector<oid> root(s::kModuleOid.begin(), s::kModuleOid.end());
        PduPtr pdu(snmp_pdu_create(SNMP_MSG_GETNEXT));
        snmp_add_null_var(pdu.get(), root.data(), root.size());
        PduPtr response;
        mml::Error ignored;
        if (Exchange(std::move(pdu), {}, response, ignored) && InModule(response->variables)) {
            return host_ + " does not serve this object: its vynloop subagent's MIB is older";
        }
        return NoModule();
    }

    std::string NoModule() const {
        return host_ + " serves nothing of VYNLOOP-MIB: is vynloop-snmp running there, " +
               "connected to its SNMP agent, with instances provisioned (vynloopctl init)?";
    }

    // Whether an answered object is one of VYNLOOP-MIB's.
    static bool InModule(const netsnmp_variable_list *v) {
        return v && v->type != SNMP_ENDOFMIBVIEW && v->name_length > s::kModuleOid.size() &&
               std::equal(s::kModuleOid.begin(), s::kModuleOid.end(), v->name);
    }

    // Sends `pdu` and waits for the answer; false with a reason naming the host, or the object
    // (among `bindings`, in the request's order) that the agent refused.
    bool Exchange(PduPtr pdu, std::span<const mml::Binding> bindings, PduPtr &response,
                  mml::Error &error) {
        netsnmp_pdu *answer = nullptr;
        int status = snmp_sess_synch_response(session_.get(), pdu.release(), &answer);
        response.reset(answer);
        if (status == STAT_TIMEOUT) {
            Failed(error, "no answer from " + host_ +
                              " (time-out): is its SNMP agent up, and are the community or the "
                              "v3 user and pass phrases right?");
            return false;
        }
        if (status != STAT_SUCCESS || !answer) {
            int libraryError = 0;
            int systemError = 0;
            char *text = nullptr;
            snmp_sess_error(session_.get(), &systemError, &libraryError, &text);
            std::string why = text ? text : "failed";
            free(text);  // NOLINT: allocated by the library
            if (libraryError == SNMPERR_AUTHENTICATION_FAILURE ||
                libraryError == SNMPERR_UNKNOWN_USER_NAME ||
                libraryError == SNMPERR_USM_AUTHENTICATIONFAILURE ||
                libraryError == SNMPERR_USM_UNKNOWNSECURITYNAME) {
                why = "authentication failed (" + why + "): check the v3 user and pass phrases";
            }
            Failed(error, host_ + ": " + why);
            return false;
        }
        if (answer->errstat == SNMP_ERR_NOERROR) {
            return true;
        }
        std::string name = "the request";
        std::size_t index = static_cast<std::size_t>(answer->errindex);
        if (index >= 1 && index <= bindings.size()) {
            name = mml::FullName(bindings[index - 1].key);
        }
        std::string statusText = snmp_errstring(static_cast<int>(answer->errstat));
        switch (answer->errstat) {
            case SNMP_ERR_NOACCESS:
            case SNMP_ERR_NOTWRITABLE:
            case SNMP_ERR_AUTHORIZATIONERROR:
            case SNMP_ERR_READONLY:
                Failed(error, name + ": " + host_ + " refuses the write (" + statusText +
                                  "): the object is read-only, or the community or user may only "
                                  "read");
                break;
            case SNMP_ERR_NOSUCHNAME:
            case SNMP_ERR_NOCREATION:
            case SNMP_ERR_INCONSISTENTNAME:
                Failed(error, name + " does not exist on " + host_ + " (" + statusText + ")");
                break;
            default:
                Failed(error, name + ": refused by " + host_ + " (" + statusText + ")");
                break;
        }
        return false;
    }

    std::unique_ptr<void, SessionCloser> session_;
    std::string host_;
};

}  // namespace

std::unique_ptr<ObjectAccess> OpenSnmpAccess(const RemoteOptions &remote, std::string &reason) {
    if (!remote.version.empty() && remote.version != "1" && remote.version != "2c" &&
        remote.version != "3") {
        reason = "bad SNMP version '" + remote.version + "': 1, 2c or 3";
        return nullptr;
    }
    InitLibrary();
    std::vector<std::string> words{"vynloopctl"};
    auto option = [&words](const char *flag, const std::string &value) {
        if (!value.empty()) {
            words.push_back(flag);
            words.push_back(value);
        }
    };
    option("-v", remote.version);
    option("-c", remote.community);
    option("-u", remote.user);
    option("-l", remote.level);
    option("-a", remote.authProtocol);
    option("-A", remote.authPassword);
    option("-x", remote.privProtocol);
    option("-X", remote.privPassword);
    option("-t", remote.timeout);
    option("-r", remote.retries);
    words.push_back(remote.host);
    std::vector<char *> argv;
    for (std::string &word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    netsnmp_session session;
    optind = 1;  // the option parser is getopt, once per host
    int parsed =
        // Without copies of the secrets (they are ours, and live until the session is open).
        netsnmp_parse_args(static_cast<int>(words.size()), argv.data(), &session, "", nullptr,
                           NETSNMP_PARSE_ARGS_NOZERO);
    // The index of the host among the words, or a negative error (already printed).
    if (parsed < 0) {
        reason = "bad SNMP options for " + remote.host;
        return nullptr;
    }
    void *handle = snmp_sess_open(&session);
    // The parser's copies; the open session has its own.
    std::free(session.community);
    session.community = nullptr;
    if (!handle) {
        int libraryError = 0;
        int systemError = 0;
        char *text = nullptr;
        snmp_error(&session, &systemError, &libraryError, &text);
        reason = "cannot reach " + remote.host + ": " + (text ? text : "no session");
        free(text);  // NOLINT: allocated by the library
        return nullptr;
    }
    std::string host =
        remote.host.find(':') == std::string::npos ? remote.host + ":161" : remote.host;
    return std::make_unique<SnmpAccess>(handle, host);
}

}  // namespace vyn::console
