#include "console/access/snmp_transport.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "snmp/layout/mib_layout.h"

namespace vyn::console {

namespace s = vyn::snmp;

void Failed(mml::Error &error, std::string message) {
    error.failure = MML_FAILURE_STORAGE;
    error.message = std::move(message);
}

bool SnmpTransport::Exchange(PduPtr pdu, std::span<const mml::Binding> bindings, PduPtr &response,
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

std::string SnmpTransport::WhyNotServed() {
    // The first object after the module's own OID tells the two apart.
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

std::string SnmpTransport::NoModule() const {
    return host_ + " serves nothing of VYNLOOP-MIB: is vynloop-snmp running there, " +
           "connected to its SNMP agent, with instances provisioned (vynloopctl init)?";
}

bool InModule(const netsnmp_variable_list *v) {
    return v && v->type != SNMP_ENDOFMIBVIEW && v->name_length > s::kModuleOid.size() &&
           std::equal(s::kModuleOid.begin(), s::kModuleOid.end(), v->name);
}

}  // namespace vyn::console
