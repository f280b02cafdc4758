// Single-object reads and writes: a port's loop state, time remaining and receive-error total,
// and the instance's portmodLoopOperating. Each is one request of one record.
#include <cstdio>
#include <cstring>

#include "agent/mib/store_access.h"
#include "agent/table/port_state.h"

namespace {

// The texts one call site writes when the name is refused or the request fails.
struct CallSiteTexts {
    const char *nameFailure;     // object name, conversion result
    const char *requestFailure;  // errorStatus, errorIndex, Error1, Error2
};

const CallSiteTexts kLoopStateTexts = {
    "Internal Error MMLStrToMMLOid(d) failed for %s, Error %d",
    "Internal Error MMLRequestLocal(c) failed, errorStatus = %d, errorIndex = %d, Error1 = %d, "
    "Error2 = %d",
};
const CallSiteTexts kTimeRemainTexts = {
    "Internal Error MMLStrToMMLOid(e) failed for %s, Error %d",
    "Internal Error MMLRequestLocal(c) failed, errorStatus = %d, errorIndex = %d, Error1 = %d, "
    "Error2 = %d",
};
const CallSiteTexts kErrStatTexts = {
    "Internal Error MMLStrToMMLOid failed for %s, Error %d",
    "Internal Error MMLRequestLocal(e) failed, errorStatus = %d, errorIndex = %d, Error1 = %d, "
    "Error2 = %d",
};

// Reads one integer object of the entry's port; a failure writes the call site's text.
int GetPortInteger(MmlSessionHandle session, PortTestEntry *entry, const char *format,
                   const CallSiteTexts &texts, int32_t *value) {
    char name[OBJECT_NAME_SIZE];
    char text[MSG_TEXT_SIZE];
    StoreAccess access;
    snprintf(name, sizeof name, format, instanceName, entry->portNumber);
    int done = StoreAccessOne(session, MML_REQUEST_GET, name, MML_TYPE_NULL, 0, 1, &access);
    if (access.nameResult == 0 && StoreWasUnavailable(session, entry, access.result)) {
        return 0;
    }
    if (done) {
        *value = access.value;
        return 1;
    }
    if (access.nameResult != 0) {
        snprintf(text, sizeof text, texts.nameFailure, name, access.nameResult);
    } else {
        snprintf(text, sizeof text, texts.requestFailure, access.errorStatus, access.errorIndex,
                 access.error1, access.error2);
    }
    FailTest(entry, text);
    return 0;
}

}  // namespace

int GetPortLoopState(MmlSessionHandle session, PortTestEntry *entry, int32_t *value) {
    return GetPortInteger(session, entry, "portLoopState.%s.%d", kLoopStateTexts, value);
}

int GetPortLoopTimeRemain(MmlSessionHandle session, PortTestEntry *entry, int32_t *value) {
    return GetPortInteger(session, entry, "portLoopTimeRemain.%s.%d", kTimeRemainTexts, value);
}

int GetPortErrStatRxTotal(MmlSessionHandle session, PortTestEntry *entry, uint32_t *value) {
    int32_t total;
    if (!GetPortInteger(session, entry, "portErrStatRxTotal.%s.%d", kErrStatTexts, &total)) {
        return 0;
    }
    *value = static_cast<uint32_t>(total);
    return 1;
}

int32_t SetPortmodLoopOperating(MmlSessionHandle session, int32_t value) {
    char name[OBJECT_NAME_SIZE];
    StoreAccess access;
    snprintf(name, sizeof name, "portmodLoopOperating.%s", instanceName);
    if (StoreAccessOne(session, MML_REQUEST_SET, name, MML_TYPE_INTEGER, value, 0, &access)) {
        return access.value;
    }
    return LoopOperatingActive;
}
