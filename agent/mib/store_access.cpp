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
