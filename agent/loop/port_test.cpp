// The table's start-up: every entry prepared, and the ports that have test objects found.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "agent/loop/port_state.h"
#include "agent/loop/port_test.h"
#include "agent/mib/mib.h"

namespace {

void ResetEntry(PortTestEntry *entry) {
    entry->portNumber = -1;
    entry->engineState = Idle;
    entry->rasWaitStart = 0;
    entry->portHandle = INVALID_HANDLE_VALUE;
    entry->resultListBuilt = 0;
    entry->activeSlot = 0;
    memset(entry->check.goodHistory, 0, sizeof entry->check.goodHistory);
    for (ReadSlot &slot : entry->readSlots) {
        slot.buffer = nullptr;
        slot.readSize = 0;
    }
    entry->writeState = WriteIdle;
    entry->writeBuffer = nullptr;
    entry->writeBufferSize = 0;
    entry->monitorThread = INVALID_HANDLE_VALUE;
}

void CreateEntryEvents(PortTestEntry *entry) {
    entry->readSlots[0].overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    entry->readSlots[1].overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    entry->writeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    entry->writeOverlapped.hEvent = entry->writeEvent;
    entry->monitorWake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

}  // namespace

int InitPortTestTable(MmlSessionHandle session) {
    for (int i = 0; i < PORT_COUNT; ++i) {
        PortTestEntry *entry = &PortTestTable[i];
        ResetEntry(entry);
        CreateEntryEvents(entry);

        char name[OBJECT_NAME_SIZE];
        MibAccess access;
        snprintf(name, sizeof name, "portLoopState.%s.%d", instanceName, i + 1);
        if (MibAccessOne(session, MML_REQUEST_GET, name, MML_TYPE_NULL, 0, 0, &access)) {
            entry->portNumber = i + 1;
        } else if (access.nameResult != 0) {
            char text[MSG_TEXT_SIZE];
            snprintf(text, sizeof text, "Internal Error MMLStrToMMLOid(a) failed for %s, Error %d",
                     name, access.nameResult);
            SetMessageText(entry, text);
            return 0;
        }
    }
    return 1;
}

void ReleaseWriteBuffer(PortTestEntry *entry) {
    std::lock_guard<std::mutex> guard(entry->writeGuard);
    if (entry->writeState == WriteOutstanding) {
        // A write on the buffer is outstanding: the writer frees it when the write completes.
        return;
    }
    if (entry->writeBuffer != nullptr) {
        HeapFree(GetProcessHeap(), 0, entry->writeBuffer);
        entry->writeBuffer = nullptr;
    }
}
