#include "snmp/notifier.h"

#include "snmp/netsnmp.h"

namespace vyn::snmp {

namespace {

// snmpTrapOID.0, the first varbind of every SNMPv2 notification.
constexpr oid kSnmpTrapOid[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};

// How many results may wait for the master agent; beyond that the oldest are dropped.
constexpr std::size_t kMaxWaiting = 4096;

// The varbinds of vynLoopTestCompleted for one result.
netsnmp_variable_list *Varbinds(const PortResult &result) {
    static const auto state = FindColumnByName("portLoopState");
    static const auto text = FindColumnByName("portLoopStopErr");
    netsnmp_variable_list *vars = nullptr;
    std::vector<oid> trap = ToNetSnmp(TestCompletedOid());
    snmp_varlist_add_variable(&vars, kSnmpTrapOid, std::size(kSnmpTrapOid), ASN_OBJECT_ID,
                              trap.data(), trap.size() * sizeof(oid));
    std::vector<oid> stateName = ToNetSnmp(ObjectOid({state->table, state->column, result.port}));
    long value = result.state;
    snmp_varlist_add_variable(&vars, stateName.data(), stateName.size(), ASN_INTEGER, &value,
                              sizeof value);
    std::vector<oid> textName = ToNetSnmp(ObjectOid({text->table, text->column, result.port}));
    snmp_varlist_add_variable(&vars, textName.data(), textName.size(), ASN_OCTET_STR,
                              result.text.data(), result.text.size());
    return vars;
}

}  // namespace

Notifier::Notifier() {
    snmp_register_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_INDEX_START,
                           &Notifier::OnSession, this);
    snmp_register_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_INDEX_STOP,
                           &Notifier::OnSession, this);
}

Notifier::~Notifier() {
    snmp_unregister_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_INDEX_START,
                             &Notifier::OnSession, this, 1);
    snmp_unregister_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_INDEX_STOP,
                             &Notifier::OnSession, this, 1);
}

int Notifier::OnSession(int, int minor, void *, void *client) {
    auto *self = static_cast<Notifier *>(client);
    self->connected_ = minor == SNMPD_CALLBACK_INDEX_START;
    if (self->connected_) {
        self->Flush();
    }
    return 0;
}

void Notifier::Queue(const PortResult &result) {
    if (queue_.size() >= kMaxWaiting) {
        snmp_log(LOG_WARNING, "too many notifications wait for the master agent: one dropped\n");
        queue_.pop_front();
    }
    queue_.push_back(result);
}

void Notifier::Flush() {
    while (connected_ && !queue_.empty()) {
        netsnmp_variable_list *vars = Varbinds(queue_.front());
        send_v2trap(vars);
        snmp_free_varbind(vars);
        queue_.pop_front();
    }
}

}  // namespace vyn::snmp
