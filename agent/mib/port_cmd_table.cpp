// Reading a port's test request: the fifteen test parameters in one get, then portRasStatus.
#include <cstdio>
#include <cstring>

#include "agent/mib/store_access.h"
#include "agent/table/port_state.h"

namespace {

constexpr int CMD_TABLE_ROWS = 15;
constexpr int PORT_NAME_TEXT_SIZE = 20;   // 19 characters and a terminator
constexpr int USER_DATA_TEXT_SIZE = 260;  // what the working buffer takes

enum RowKind { IntegerRow, PortNameRow, UserDataRow };

// Where an integer row's value goes in the entry.
typedef void (*StoreInteger)(PortTestEntry *entry, int32_t value);

struct CmdTableRow {
    const char *object;
    RowKind kind;
    StoreInteger store;  // integer rows only
};

// The request, in order; the values come back in the same order. Each row pairs the object with
// the field that receives its value.
const CmdTableRow kCmdTable[CMD_TABLE_ROWS] = {
    {"portName", PortNameRow, nullptr},
    {"portLoopMode", IntegerRow, [](PortTestEntry *e, int32_t v) { e->loopMode = v; }},
    {"portLoopState", IntegerRow, [](PortTestEntry *e, int32_t v) { e->loopState = v; }},
    {"portLoopPattern", IntegerRow, [](PortTestEntry *e, int32_t v) { e->loopPattern = v; }},
    {"portLoopUData", UserDataRow, nullptr},
    {"portLoopSpeed", IntegerRow,
     [](PortTestEntry *e, int32_t v) { e->loopSpeed = static_cast<uint32_t>(v); }},
    {"portLoopParity", IntegerRow, [](PortTestEntry *e, int32_t v) { e->loopParity = v; }},
    {"portLoopDataSize", IntegerRow, [](PortTestEntry *e, int32_t v) { e->loopDataSize = v; }},
    {"portLoopFlow", IntegerRow, [](PortTestEntry *e, int32_t v) { e->loopFlow = v; }},
    {"portLoopDataCheck", IntegerRow, [](PortTestEntry *e, int32_t v) { e->loopDataCheck = v; }},
    {"portLoopTime", IntegerRow, [](PortTestEntry *e, int32_t v) { e->loopTime = v; }},
    {"portLoopStopOnErr", IntegerRow,
     [](PortTestEntry *e, int32_t v) { e->loopStopOnErr = static_cast<uint32_t>(v); }},
    {"portErrStatRxTotal", IntegerRow,
     [](PortTestEntry *e, int32_t v) { e->errStatRxTotalStart = static_cast<uint32_t>(v); }},
    {"portStopBits", IntegerRow, [](PortTestEntry *e, int32_t v) { e->stopBits = v; }},
    {"portInBuffSize", IntegerRow, [](PortTestEntry *e, int32_t v) { e->inBuffSize = v; }},
};

// Working storage private to one call: nothing reaches the entry before the whole request
// succeeded. A value that came back with an unexpected type leaves its field as it was.
struct CmdTableValues {
    int32_t integers[CMD_TABLE_ROWS];
    bool received[CMD_TABLE_ROWS];
    char portName[PORT_NAME_TEXT_SIZE];
    char userData[USER_DATA_TEXT_SIZE];
    uint32_t userDataLength;
};

void CopyText(const MmlVarBind *record, char *buffer, size_t size) {
    size_t length = record->length;
    if (length > size - 1) {
        length = size - 1;
    }
    if (length > 0 && record->value.text != nullptr) {
        memcpy(buffer, record->value.text, length);
    }
    buffer[length] = 0;
}

// Takes one returned record into the working storage; reports a value of the wrong type.
void TakeRecord(PortTestEntry *entry, int row, const MmlVarBind *record, CmdTableValues *values) {
    int expected = kCmdTable[row].kind == IntegerRow ? MML_TYPE_INTEGER : MML_TYPE_OCTETS;
    if (record->type != expected) {
        char text[MSG_TEXT_SIZE];
        snprintf(text, sizeof text, "Internal Error Unknown MIB type %d for %s", record->type,
                 kCmdTable[row].object);
        FailTest(entry, text);
        return;
    }
    values->received[row] = true;
    switch (kCmdTable[row].kind) {
        case IntegerRow:
            values->integers[row] = record->value.integer;
            break;
        case PortNameRow:
            CopyText(record, values->portName, sizeof values->portName);
            break;
        case UserDataRow:
            CopyText(record, values->userData, sizeof values->userData);
            values->userDataLength = record->length;
            break;
    }
}

// Scans the port name for its first decimal digit and reads the number that starts there
// (COM12 gives 12, X7Y9 gives 7). A name without a digit leaves the number as it was.
void ParsePortNameNumber(PortTestEntry *entry) {
    for (const char *c = entry->portName; *c != 0; ++c) {
        if (*c >= '0' && *c <= '9') {
            sscanf(c, "%d", &entry->portNameNumber);
            return;
        }
    }
}

void StoreValues(PortTestEntry *entry, const CmdTableValues &values) {
    entry->userDataLength = 0;
    for (int row = 0; row < CMD_TABLE_ROWS; ++row) {
        if (!values.received[row]) {
            continue;
        }
        switch (kCmdTable[row].kind) {
            case IntegerRow:
                kCmdTable[row].store(entry, values.integers[row]);
                break;
            case PortNameRow:
                snprintf(entry->portName, sizeof entry->portName, "%s", values.portName);
                break;
            case UserDataRow: {
                size_t length =
                    values.userDataLength < UserDataSize ? values.userDataLength : UserDataSize;
                memset(entry->userData, 0, sizeof entry->userData);
                memcpy(entry->userData, values.userData, length);
                entry->userDataLength = static_cast<int32_t>(values.userDataLength);
                break;
            }
        }
    }
    ParsePortNameNumber(entry);
}

// portRasStatus: "no borrowing" when its name cannot be converted, "unknown" when its read
// fails. Never a message.
void ReadPortRasStatus(MmlSessionHandle session, PortTestEntry *entry) {
    char name[OBJECT_NAME_SIZE];
    StoreAccess access;
    snprintf(name, sizeof name, "%s.%s.%d", "portRasStatus", instanceName, entry->portNumber);
    if (StoreAccessOne(session, MML_REQUEST_GET, name, MML_TYPE_NULL, 0, 0, &access)) {
        entry->rasStatus = access.value;
    } else {
        entry->rasStatus = access.nameResult != 0 ? RasStatusNoBorrow : RasStatusUnknown;
    }
}

}  // namespace

int ReadPortCmdTable(MmlSessionHandle session, PortTestEntry *entry) {
    char name[OBJECT_NAME_SIZE];
    char text[MSG_TEXT_SIZE];
    MmlVarBindList list;
    list.list = static_cast<MmlVarBind *>(MMLAlloc(CMD_TABLE_ROWS * sizeof(MmlVarBind)));
    list.len = 0;
    if (list.list == nullptr) {
        FailTest(entry, "Internal Error Unable to obtain portCmdTable MIB objects");
        return 0;
    }
    memset(list.list, 0, CMD_TABLE_ROWS * sizeof(MmlVarBind));
    for (int row = 0; row < CMD_TABLE_ROWS; ++row) {
        snprintf(name, sizeof name, "%s.%s.%d", kCmdTable[row].object, instanceName,
                 entry->portNumber);
        int32_t result = MMLStrToMMLOid(name, &list.list[row].oid);
        if (result != 0) {
            MMLFree(list.list);
            snprintf(text, sizeof text, "Internal Error MMLStrToMMLOid(c) failed for %s, Error %d",
                     name, result);
            FailTest(entry, text);
            return 0;
        }
        list.list[row].type = MML_TYPE_NULL;
        list.len++;
    }

    int32_t errorStatus = 0;
    int32_t errorIndex = 0;
    int32_t result = MMLRequestLocal(session, MML_REQUEST_GET, &list, &errorStatus, &errorIndex);
    if (result != 0 || errorStatus != 0) {
        DescribeRequestFailure(session,
                               "Internal Error MMLRequestLocal(b) failed, errorStatus = %d, "
                               "errorIndex = %d, Error1 = %d, Error2 = %d",
                               errorStatus, errorIndex, text);
        FailTest(entry, text);
        MMLFreeVarBindList(&list);
        return 0;
    }

    CmdTableValues values;
    memset(&values, 0, sizeof values);
    for (int row = 0; row < CMD_TABLE_ROWS; ++row) {
        TakeRecord(entry, row, &list.list[row], &values);
    }
    MMLFreeVarBindList(&list);
    StoreValues(entry, values);
    ReadPortRasStatus(session, entry);
    ReadPortLineRequest(session, entry);
    return 1;
}
