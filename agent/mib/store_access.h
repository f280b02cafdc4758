// The agent's store access: every read and write of management objects goes through
// the management access library (mml/vynmall.h) from here.
#pragma once

#include <cstdint>

#include "agent/table/port_test.h"
#include "mml/vynmall.h"

constexpr int INSTANCE_NAME_SIZE = 32;
constexpr int OBJECT_NAME_SIZE = 64;

// The instance name (at most 31 characters) that names the agent's objects, and its one session
// (0 = none). Both are set on the main thread before any worker thread starts.
extern char instanceName[INSTANCE_NAME_SIZE];
extern MmlSessionHandle MmlSession;

// Reads the fifteen test parameters of the entry's port in one get, then its portRasStatus.
// Returns 1 when the parameters were read (an unexpected value type is reported in msgText with
// EndedByError but still returns 1), 0 when the read failed (msgText and EndedByError tell).
int ReadPortCmdTable(MmlSessionHandle session, PortTestEntry *entry);

// Reads the line and break tests' settings (portLoopLines, portLoopLinePeer, portLoopBreakTime,
// portLoopDataTest) in one get. A store provisioned before these objects has none of them: the
// request then has no line or break test, and lineObjects is 0.
void ReadPortLineRequest(MmlSessionHandle session, PortTestEntry *entry);

// Publishes what the line and break tests found (checked, failed, breaks back, the text), where
// the store has these objects. Failures are written into msgText, except that a store that is
// unavailable sets lineResultsUnpublished: PublishLoopResults sends them again first.
void PublishLineResults(MmlSessionHandle session, PortTestEntry *entry);

// One-record gets of a port's object. 1 and the value on success; 0 on failure, with the call
// site's text in msgText and EndedByError (the value is then not written), except when the store
// was unavailable: then storeUnavailable is set and the test is left as it is.
int GetPortLoopState(MmlSessionHandle session, PortTestEntry *entry, int32_t *value);
int GetPortLoopTimeRemain(MmlSessionHandle session, PortTestEntry *entry, int32_t *value);
int GetPortErrStatRxTotal(MmlSessionHandle session, PortTestEntry *entry, uint32_t *value);

// Sets portmodLoopOperating of the instance. Returns the value the request left in the record,
// or LoopOperatingActive (keep running) when the name or the request failed.
int32_t SetPortmodLoopOperating(MmlSessionHandle session, int32_t value);

// Ends a test that the store shows running or stopping on a port where this agent runs none (an
// agent of the instance died during it): publishes kInterruptedResult and LoopStateFailed, and
// leaves the counters as they were published. 1 when the store took it.
int PublishInterruptedTest(MmlSessionHandle session, PortTestEntry *entry);

// PublishLoopResults without a new loop state: the counters and texts of a running test.
constexpr int32_t PUBLISH_NO_STATE = 0;

// Publishes the port's message, counters, error data and, unless state is PUBLISH_NO_STATE, its
// new loop state, in one set request, after any line results that still wait for the store. The
// binding list is built at the first publication of a test and kept in the entry. Failures are
// written into msgText, except that a store that is unavailable only sets storeUnavailable: the
// values are sent again at the next publication.
void PublishLoopResults(MmlSessionHandle session, PortTestEntry *entry, int32_t state);

// 1 when a request's result says that the store could not serve it now (locked by another writer
// beyond the busy time-out, read-only, full, damaged, gone), as opposed to a request that the
// agent got wrong. Such a failure ends no test: the agent keeps its values and asks again.
int StoreUnavailable(int32_t result);

// Notes on the agent's standard error, once each, when the store stops taking requests and when it
// takes them again, so that whoever runs the agent (the service's journal) learns why the
// objects stand still.
void NoteStoreAvailability(MmlSessionHandle session, int available);

// Keeps in the entry whether the store served its request (MMLRequestLocal's result) and notes a
// change. Returns 1 when the store was unavailable: the caller then leaves the test as it is.
int StoreWasUnavailable(MmlSessionHandle session, PortTestEntry *entry, int32_t result);

// The 32-bit value of a returned record, whatever its type.
int32_t RecordInteger(const MmlVarBind *record);

// Formats a failed request's text (errorStatus, errorIndex, Error1, Error2) into `text`
// (MSG_TEXT_SIZE bytes), fetching Error1 and Error2 from the library.
void DescribeRequestFailure(MmlSessionHandle session, const char *format, int32_t errorStatus,
                            int32_t errorIndex, char *text);

// The outcome of a one-record access.
struct StoreAccess {
    int32_t nameResult;  // MMLStrToMMLOid's result; not 0: nothing was sent
    int32_t result;      // MMLRequestLocal's result
    int32_t errorStatus;
    int32_t errorIndex;
    int32_t error1;  // from MMLGetErrors, when asked for and the request failed
    int32_t error2;
    int32_t value;  // the record's 32-bit value as the request left it
};

// One request of one record, the model of every single-object access: allocate and zero the
// record, convert the name (on failure release the record and send nothing), fill in the type
// and value (a get sends type 5), send, take the value, free the list. Returns 1 when the request
// succeeded (result and errorStatus 0).
int StoreAccessOne(MmlSessionHandle session, int32_t requestType, const char *name, uint8_t type,
                   int32_t value, int fetchErrors, StoreAccess *access);
