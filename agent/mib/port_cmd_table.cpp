// Reading a port's test request: the fifteen test parameters in one get, then portRasStatus.
#include <cstdio>
#include <cstring>

#include "agent/loop/port_state.h"
#include "agent/mib/mib.h"

namespace {

#define CMD_TABLE_ROWS 15
#define PORT_NAME_TEXT_SIZE 20   // 19 characters and a terminator
#define USER_DATA_TEXT_SIZE 260  // what the working buffer takes

enum RowKind { IntegerRow, PortNameRow, UserDataRow };

struct CmdTableRow {
    const char *object;
    RowKind kind;
};

// The request, in order; the values come back in the same order.
const CmdTableRow kCmdTable[CMD_TABLE_ROWS] = {
    {"portName", PortNameRow},          {"portLoopMode", IntegerRow},
    {"portLoopState", IntegerRow},      {"portLoopPattern", IntegerRow},
    {"portLoopUData", UserDataRow},     {"portLoopSpeed", IntegerRow},
    {"portLoopParity", IntegerRow},     {"portLoopDataSize", IntegerRow},
    {"portLoopFlow", IntegerRow},       {"portLoopDataCheck", IntegerRow},
    {"portLoopTime", IntegerRow},       {"portLoopStopOnErr", IntegerRow},
    {"portErrStatRxTotal", IntegerRow}, {"portStopBits", IntegerRow},
    {"portInBuffSize", IntegerRow},
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
    const bool *got = values.received;
    if (got[0]) {
        snprintf(entry->portName, sizeof entry->portName, "%s", values.portName);
    }
    ParsePortNameNumber(entry);
    if (got[1])
        entry->loopMode = values.integers[1];
    if (got[2])
        entry->loopState = values.integers[2];
    if (got[3])
        entry->loopPattern = values.integers[3];
    if (got[5])
        entry->loopSpeed = static_cast<uint32_t>(values.integers[5]);
    if (got[6])
        entry->loopParity = values.integers[6];
    if (got[7])
        entry->loopDataSize = values.integers[7];
    if (got[8])
        entry->loopFlow = values.integers[8];
    if (got[9])
        entry->loopDataCheck = values.integers[9];
    if (got[10])
        entry->loopTime = values.integers[10];
    if (got[11])
        entry->loopStopOnErr = static_cast<uint32_t>(values.integers[11]);
    if (got[12])
        entry->errStatRxTotalStart = static_cast<uint32_t>(values.integers[12]);
    if (got[13])
        entry->stopBits = values.integers[13];
    if (got[14])
        entry->inBuffSize = values.integers[14];
    if (got[4]) {
        size_t length =
            values.userDataLength < USER_DATA_SIZE ? values.userDataLength : USER_DATA_SIZE;
        memset(entry->userData, 0, sizeof entry->userData);
        memcpy(entry->userData, values.userData, length);
        entry->userDataLength = static_cast<int32_t>(values.userDataLength);
    } else {
        entry->userDataLength = 0;
    }
}

// portRasStatus: 0 when its name cannot be converted, 2 when its read fails. Never a message.
void ReadPortRasStatus(MmlSessionHandle session, PortTestEntry *entry) {
    char name[OBJECT_NAME_SIZE];
    MibAccess access;
    snprintf(name, sizeof name, "%s.%s.%d", "portRasStatus", instanceName, entry->portNumber);
    if (MibAccessOne(session, MML_REQUEST_GET, name, MML_TYPE_NULL, 0, 0, &access)) {
        entry->rasStatus = access.value;
    } else {
        entry->rasStatus = access.nameResult != 0 ? 0 : 2;
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
    return 1;
}
