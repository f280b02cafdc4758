// The end of a test that an agent of this instance left behind when it died.
#include <cstdio>
#include <cstring>

#include "agent/mib/store_access.h"

namespace {

constexpr int INTERRUPTED_RECORDS = 2;

}  // namespace

int PublishInterruptedTest(MmlSessionHandle session, PortTestEntry *entry) {
    const char *const objects[INTERRUPTED_RECORDS] = {"portLoopStopErr", "portLoopState"};
    MmlVarBindList list;
    list.list = static_cast<MmlVarBind *>(MMLAlloc(INTERRUPTED_RECORDS * sizeof(MmlVarBind)));
    if (list.list == nullptr) {
        return 0;
    }
    memset(list.list, 0, INTERRUPTED_RECORDS * sizeof(MmlVarBind));
    list.len = INTERRUPTED_RECORDS;
    for (int i = 0; i < INTERRUPTED_RECORDS; ++i) {
        char name[OBJECT_NAME_SIZE];
        snprintf(name, sizeof name, "%s.%s.%d", objects[i], instanceName, entry->portNumber);
        if (MMLStrToMMLOid(name, &list.list[i].oid) != 0) {
            MMLFree(list.list);
            return 0;
        }
    }
    // The counters are left as the dead agent last published them.
    char text[MSG_TEXT_SIZE];
    snprintf(text, sizeof text, "%.*s", static_cast<int>(kInterruptedResult.size()),
             kInterruptedResult.data());
    list.list[0].type = MML_TYPE_OCTETS;
    list.list[0].value.text = text;
    list.list[0].length = static_cast<uint32_t>(strlen(text));
    list.list[0].owned = 0;
    list.list[1].type = MML_TYPE_INTEGER;
    list.list[1].value.integer = LoopStateFailed;
    int32_t errorStatus = 0;
    int32_t errorIndex = 0;
    int32_t result = MMLRequestLocal(session, MML_REQUEST_SET, &list, &errorStatus, &errorIndex);
    StoreWasUnavailable(session, entry, result);
    MMLFreeVarBindList(&list);
    return result == 0 && errorStatus == 0;
}
