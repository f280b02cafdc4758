#include <atomic>
#include <cstdio>
#include <cstring>

#include "agent/mib/store_access.h"

void DescribeRequestFailure(MmlSessionHandle session, const char *format, int32_t errorStatus,
                            int32_t errorIndex, char *text) {
    int32_t error1 = 0;
    int32_t error2 = 0;
    MMLGetErrors(session, &error1, &error2);
    snprintf(text, MSG_TEXT_SIZE, format, errorStatus, errorIndex, error1, error2);
}

int StoreUnavailable(int32_t result) {
    return result == MML_FAILURE_BUSY || result == MML_FAILURE_STORAGE ||
           result == MML_FAILURE_OPEN || result == MML_FAILURE_NOT_A_STORE;
}

namespace {

// Whether the last request of any port found the store unavailable; only changes are noted.
std::atomic<int> storeWasUnavailable{0};

const char *UnavailableReason(int32_t failure) {
    switch (failure) {
        case MML_FAILURE_BUSY:
            return "another program holds its write lock";
        case MML_FAILURE_OPEN:
            return "it cannot be opened";
        case MML_FAILURE_NOT_A_STORE:
            return "the file is no longer a store";
        default:
            return "it cannot be written (read-only, full or damaged)";
    }
}

}  // namespace

void NoteStoreAvailability(MmlSessionHandle session, int available) {
    if (available) {
        if (storeWasUnavailable.exchange(0)) {
            fprintf(stderr, "vynloop %s: the store takes requests again\n", instanceName);
        }
        return;
    }
    int32_t error1 = 0;
    int32_t error2 = 0;
    MMLGetErrors(session, &error1, &error2);
    if (!storeWasUnavailable.exchange(1)) {
        fprintf(stderr,
                "vynloop %s: the store does not take requests now (%s; SQLite code %d): tests go "
                "on and their results are published once it does\n",
                instanceName, UnavailableReason(error2), static_cast<int>(error1));
    }
}

int StoreWasUnavailable(MmlSessionHandle session, PortTestEntry *entry, int32_t result) {
    entry->storeUnavailable = StoreUnavailable(result) ? 1 : 0;
    NoteStoreAvailability(session, !entry->storeUnavailable);
    return static_cast<int>(entry->storeUnavailable);
}

int32_t RecordInteger(const MmlVarBind *record) {
    int32_t value;
    memcpy(&value, &record->value, sizeof value);
    return value;
}

int StoreAccessOne(MmlSessionHandle session, int32_t requestType, const char *name, uint8_t type,
                   int32_t value, int fetchErrors, StoreAccess *access) {
    memset(access, 0, sizeof *access);
    MmlVarBindList list;
    list.list = static_cast<MmlVarBind *>(MMLAlloc(sizeof(MmlVarBind)));
    if (list.list == nullptr) {
        access->result = -1;
        return 0;
    }
    memset(list.list, 0, sizeof(MmlVarBind));
    list.len = 1;
    access->nameResult = MMLStrToMMLOid(name, &list.list->oid);
    if (access->nameResult != 0) {
        MMLFree(list.list);
        return 0;
    }
    list.list->type = type;
    list.list->value.integer = value;
    access->result =
        MMLRequestLocal(session, requestType, &list, &access->errorStatus, &access->errorIndex);
    access->value = RecordInteger(list.list);
    int succeeded = access->result == 0 && access->errorStatus == 0;
    if (!succeeded && fetchErrors) {
        MMLGetErrors(session, &access->error1, &access->error2);
    }
    MMLFreeVarBindList(&list);
    return succeeded;
}
