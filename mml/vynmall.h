// libvynmall: the management access library.
//
// Management objects are named by text ("portLoopState.demo.3", "portmodLoopOperating.demo"),
// converted once into an identifier, and read or written in requests of one or more records.
// Types and request codes are those of SNMPv1: a get answers errorStatus 2 (noSuchName) with the
// 1-based errorIndex of the first record whose object does not exist; a set whose value type does
// not match the object's type answers 3 (badValue). A request that the store cannot serve returns
// non-zero and MMLGetErrors tells why. Every request is one transaction: all or nothing.
//
// The store is an SQLite database named by VYNLOOP_MIB (default /var/lib/vynloop/mib.db). The
// library is safe to call from several threads at once.
#pragma once

#include <cstdint>

extern "C" {

// A session handle; 0 means no session. (The agent keeps its one open session in a
// process-wide value named MmlSession.)
typedef uint32_t MmlSessionHandle;

// Filled by MMLStrToMMLOid; callers only copy it.
typedef struct MmlOid {
    uint32_t words[2];
} MmlOid;

enum {
    MML_REQUEST_GET = 160,
    MML_REQUEST_SET = 163,
};

enum {
    MML_TYPE_INTEGER = 2,
    MML_TYPE_OCTETS = 4,
    MML_TYPE_NULL = 5,
};

enum {
    MML_ERROR_STATUS_NO_ERROR = 0,
    MML_ERROR_STATUS_NO_SUCH_NAME = 2,
    MML_ERROR_STATUS_BAD_VALUE = 3,
};

// One record of a request. `type` selects the member of `value`; for an octet string `length`
// is the text's length without terminator. `owned` is 0 when the caller owns the text (the
// library never frees it) and non-zero for a text the library returned, which
// MMLFreeVarBindList frees. Count records with sizeof: the text address is as wide as a pointer.
typedef struct MmlVarBind {
    MmlOid oid;
    uint8_t type;
    uint8_t reserved[3];
    union {
        int32_t integer;
        char *text;
    } value;
    uint32_t length;
    uint32_t owned;
} MmlVarBind;

typedef struct MmlVarBindList {
    MmlVarBind *list;
    uint32_t len;
} MmlVarBindList;

// Opens a session on an existing store (VYNLOOP_MIB). The first argument is the interface
// version (1); the second, when positive, the busy time-out in milliseconds (0: 5 seconds), i.e.
// how long a request waits for another writer; the other three are reserved (0). Returns 0 and
// a session number (never 0), or an MML_FAILURE_* code when the store cannot be opened (missing,
// unreadable, not a database, no objects table); MMLGetErrors(0, ...) then tells why.
int32_t MMLInitialize(int32_t version, int32_t reserved1, int32_t reserved2, int32_t reserved3,
                      int32_t reserved4, MmlSessionHandle *session);
// Closes the session; later calls with it fail with MML_FAILURE_NO_SESSION.
int32_t MMLTerminate(MmlSessionHandle session);

// Zeroed memory for a record array; release it with MMLFree, or MMLFreeVarBindList once sent.
void *MMLAlloc(uint32_t bytes);
void MMLFree(void *memory);

// Returns 0 when the name is one of the dictionary's objects with a well-formed instance (and
// port 1 to 16 for per-port objects); otherwise an error number (see MML_OID_ERROR_*).
int32_t MMLStrToMMLOid(const char *name, MmlOid *oid);

enum {
    MML_OID_ERROR_NULL = 1,            // no name or no place for the identifier
    MML_OID_ERROR_UNKNOWN_OBJECT = 2,  // the object is not in the dictionary
    MML_OID_ERROR_BAD_INSTANCE = 3,    // the instance part is missing, too long or malformed
    MML_OID_ERROR_BAD_PORT = 4,        // the port part is missing, not 1 to 16, or present
                                       // on a module-wide object
};

// One get (160) or set (163) of 1 to 64 records, in one transaction. Returns 0 when the store
// served the request; errorStatus and errorIndex then give its answer (0, or 2 noSuchName / 3
// badValue with the 1-based record, nothing changed). A get fills each record's type and value
// (a text: a new allocation with a terminator, `owned` 1). A set leaves the records as sent,
// except that portmodLoopOperating set to LoopOperatingIdleExit for an instance provisioned
// resident stores LoopOperatingActive and puts that into the record. Returns an MML_FAILURE_* code
// when the session is unknown, the request is malformed or the store failed.
int32_t MMLRequestLocal(MmlSessionHandle session, int32_t requestType, MmlVarBindList *list,
                        int32_t *errorStatus, int32_t *errorIndex);

// Error1: the store's (SQLite's extended) result code; Error2: the library's own code
// (MML_FAILURE_*), both for the session's last request (0, 0 when it was served). Session 0
// gives the last failed MMLInitialize of the process. Returns 0, or non-zero for an unknown
// session.
int32_t MMLGetErrors(MmlSessionHandle session, int32_t *error1, int32_t *error2);

enum {
    MML_FAILURE_NONE = 0,
    MML_FAILURE_NO_SESSION = 1,   // the session is not open
    MML_FAILURE_OPEN = 2,         // the store could not be opened
    MML_FAILURE_NOT_A_STORE = 3,  // the file is not a store (not a database, or no objects table)
    MML_FAILURE_BUSY = 4,         // the store stayed locked by another writer
    MML_FAILURE_STORAGE = 5,      // any other failure of the store
    MML_FAILURE_BAD_REQUEST = 6,  // unknown request type, or a malformed list or record
    // Reported only by the C++ interface (mml/store.h); the C requests answer these through
    // errorStatus instead.
    MML_FAILURE_BAD_NAME = 7,        // an object name that MMLStrToMMLOid refuses
    MML_FAILURE_NO_SUCH_OBJECT = 8,  // the object was never provisioned
    MML_FAILURE_BAD_VALUE = 9,       // a value of the wrong type or size, or a bad argument
};

// Frees the records and every text the library returned in them, and empties the list.
void MMLFreeVarBindList(MmlVarBindList *list);

}  // extern "C"
