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

// Opens a session on the store. The five leading arguments are reserved (the agent passes
// 1, 0, 0, 0, 0). Returns 0 on success; non-zero when the store cannot be opened (missing,
// unreadable, not a database).
int32_t MMLInitialize(int32_t version, int32_t reserved1, int32_t reserved2, int32_t reserved3,
                      int32_t reserved4, MmlSessionHandle *session);
int32_t MMLTerminate(MmlSessionHandle session);

void *MMLAlloc(uint32_t bytes);
void MMLFree(void *memory);

// Returns 0 when the name is one of the dictionary's objects with a well-formed instance (and
// port 1 to 16 for per-port objects); otherwise an error number (see MML_OID_ERROR_*).
int32_t MMLStrToMMLOid(const char *name, MmlOid *oid);

enum {
    MML_OID_ERROR_NULL = 1,           // no name or no place for the identifier
    MML_OID_ERROR_UNKNOWN_OBJECT = 2, // the object is not in the dictionary
    MML_OID_ERROR_BAD_INSTANCE = 3,   // the instance part is missing, too long or malformed
    MML_OID_ERROR_BAD_PORT = 4,       // the port part is missing, not 1 to 16, or present
                                      // on a module-wide object
};

int32_t MMLRequestLocal(MmlSessionHandle session, int32_t requestType, MmlVarBindList *list,
                        int32_t *errorStatus, int32_t *errorIndex);

// Error1: the store's (SQLite's) result code of the last failure of the session; Error2: the
// library's own code (MML_FAILURE_*). Returns 0, or non-zero for an unknown session.
int32_t MMLGetErrors(MmlSessionHandle session, int32_t *error1, int32_t *error2);

enum {
    MML_FAILURE_NONE = 0,
    MML_FAILURE_NO_SESSION = 1,    // the session is not open
    MML_FAILURE_OPEN = 2,          // the store could not be opened
    MML_FAILURE_NOT_A_STORE = 3,   // the file is not a store (not a database, or no objects table)
    MML_FAILURE_BUSY = 4,          // the store stayed locked by another writer
    MML_FAILURE_STORAGE = 5,       // any other failure of the store
    MML_FAILURE_BAD_REQUEST = 6,   // unknown request type, or a malformed list or record
};

// Frees the records and every text the library returned in them, and empties the list.
void MMLFreeVarBindList(MmlVarBindList *list);

}  // extern "C"
