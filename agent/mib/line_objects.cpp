// The line and break tests' objects: their settings read with the request, their results
// published on their own, since a store provisioned before them has none of them.
#include <cstdio>
#include <cstring>

#include "agent/mib/store_access.h"
#include "agent/table/port_state.h"

namespace {

constexpr int LINE_REQUEST_ROWS = 4;
constexpr int LINE_RESULT_ROWS = 4;

const char *const kLineRequestObjects[LINE_REQUEST_ROWS] = {
    ObjectLoopLines, ObjectLoopLinePeer, ObjectLoopBreakTime, ObjectLoopDataTest};
const char *const kLineResultObjects[LINE_RESULT_ROWS] = {
    ObjectLoopLinesChecked, ObjectLoopLinesFailed, ObjectLoopBreaksBack, ObjectLoopLineResult};
constexpr int BIND_LINE_TEXT = 3;

void NoLineRequest(PortTestEntry *entry) {
    entry->lineWiring = LinesOff;
    entry->linePeer = 0;
    entry->breakTime = 0;
    entry->dataTest = DataTestOn;
}

// Converts the names of `objects` into a fresh list; 0 when a name is unknown (list freed).
int BuildList(PortTestEntry *entry, const char *const *objects, int rows, MmlVarBindList *list) {
    list->list = static_cast<MmlVarBind *>(MMLAlloc(rows * sizeof(MmlVarBind)));
    list->len = 0;
    if (list->list == nullptr) {
        return 0;
    }
    memset(list->list, 0, rows * sizeof(MmlVarBind));
    for (int row = 0; row < rows; ++row) {
        char name[OBJECT_NAME_SIZE];
        snprintf(name, sizeof name, "%s.%s.%d", objects[row], instanceName, entry->portNumber);
        if (MMLStrToMMLOid(name, &list->list[row].oid) != 0) {
            MMLFreeVarBindList(list);
            return 0;
        }
        list->list[row].type = MML_TYPE_NULL;
        list->len++;
    }
    return 1;
}

}  // namespace

void ReadPortLineRequest(MmlSessionHandle session, PortTestEntry *entry) {
    NoLineRequest(entry);
    entry->lineObjects = 0;
    MmlVarBindList list;
    if (!BuildList(entry, kLineRequestObjects, LINE_REQUEST_ROWS, &list)) {
        return;
    }
    int32_t errorStatus = 0;
    int32_t errorIndex = 0;
    int32_t result = MMLRequestLocal(session, MML_REQUEST_GET, &list, &errorStatus, &errorIndex);
    if (result == 0 && errorStatus == 0) {
        entry->lineObjects = 1;
        entry->lineWiring = RecordInteger(&list.list[0]);
        entry->linePeer = RecordInteger(&list.list[1]);
        entry->breakTime = RecordInteger(&list.list[2]);
        entry->dataTest = RecordInteger(&list.list[3]);
    }
    MMLFreeVarBindList(&list);
}

void PublishLineResults(MmlSessionHandle session, PortTestEntry *entry) {
    MmlVarBindList list;
    if (session == 0 || !entry->lineObjects ||
        !BuildList(entry, kLineResultObjects, LINE_RESULT_ROWS, &list)) {
        return;
    }
    const uint32_t values[BIND_LINE_TEXT] = {entry->linesChecked, entry->linesFailed,
                                             entry->breaksBack};
    for (int row = 0; row < BIND_LINE_TEXT; ++row) {
        list.list[row].type = MML_TYPE_INTEGER;
        list.list[row].value.integer = static_cast<int32_t>(values[row]);
    }
    list.list[BIND_LINE_TEXT].type = MML_TYPE_OCTETS;
    list.list[BIND_LINE_TEXT].value.text = entry->lineResult;
    list.list[BIND_LINE_TEXT].length = static_cast<uint32_t>(strlen(entry->lineResult));
    list.list[BIND_LINE_TEXT].owned = 0;
    int32_t errorStatus = 0;
    int32_t errorIndex = 0;
    int32_t result = MMLRequestLocal(session, MML_REQUEST_SET, &list, &errorStatus, &errorIndex);
    // A store that cannot take them now must not turn the data test's result into an internal
    // error: they wait in the entry and go with the next publication of the loop results.
    entry->lineResultsUnpublished = StoreWasUnavailable(session, entry, result) ? 1 : 0;
    if (!entry->lineResultsUnpublished && (result != 0 || errorStatus != 0)) {
        char text[MSG_TEXT_SIZE];
        DescribeRequestFailure(session,
                               "Internal Error MMLRequestLocal(l) failed, errorStatus = %d, "
                               "errorIndex = %d, Error1 = %d, Error2 = %d",
                               errorStatus, errorIndex, text);
        SetMessageText(entry, text);
    }
    MMLFreeVarBindList(&list);
}
