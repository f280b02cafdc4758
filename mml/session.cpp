// The C interface of the library: sessions over the store and the request records.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "base/store_path.h"
#include "mml/sqlite_support.h"
#include "mml/store.h"
#include "mml/vynmall.h"

namespace vyn::mml {

namespace {

constexpr uint32_t kMaxRecords = 64;

struct Session {
    std::mutex mutex;  // one request at a time on the connection; guards everything below
    std::unique_ptr<Store> store;  // null after a new connection could not be opened
    std::string path;
    Store::Options options;  // to open the store again
    // The connection failed in a way that a new one may not (opened read-only, the file damaged
    // or gone): the next request opens the store again first.
    bool reopen = false;
    int32_t error1 = 0;
    int32_t error2 = MML_FAILURE_NONE;
};

class SessionTable {
  public:
    MmlSessionHandle Add(std::unique_ptr<Store> store, const Store::Options &options) {
        auto session = std::make_shared<Session>();
        session->path = store->Path();
        session->store = std::move(store);
        session->options = options;
        std::lock_guard lock(mutex_);
        do {
            ++last_;
        } while (last_ == 0 || sessions_.contains(last_));
        sessions_.emplace(last_, std::move(session));
        return last_;
    }

    std::shared_ptr<Session> Find(MmlSessionHandle id) {
        std::lock_guard lock(mutex_);
        auto found = sessions_.find(id);
        return found == sessions_.end() ? nullptr : found->second;
    }

    // The session's connection closes once no request is using it any more.
    bool Remove(MmlSessionHandle id) {
        std::lock_guard lock(mutex_);
        return sessions_.erase(id) > 0;
    }

    void SetOpenFailure(int32_t error1, int32_t error2) {
        std::lock_guard lock(mutex_);
        openError1_ = error1;
        openError2_ = error2;
    }

    void GetOpenFailure(int32_t &error1, int32_t &error2) {
        std::lock_guard lock(mutex_);
        error1 = openError1_;
        error2 = openError2_;
    }

  private:
    std::mutex mutex_;
    std::map<MmlSessionHandle, std::shared_ptr<Session>> sessions_;
    MmlSessionHandle last_ = 0;
    int32_t openError1_ = 0;
    int32_t openError2_ = MML_FAILURE_NONE;
};

SessionTable &Sessions() {
    static SessionTable table;
    return table;
}

// Turns the caller's records into bindings. False for a record that no identifier of this
// process names.
bool ToBindings(const MmlVarBindList &list, bool forSet, std::vector<Binding> &bindings) {
    bindings.resize(list.len);
    for (uint32_t i = 0; i < list.len; ++i) {
        const MmlVarBind &record = list.list[i];
        Binding &binding = bindings[i];
        if (!DecodeOid(record.oid, binding.key)) {
            return false;
        }
        if (!forSet) {
            continue;
        }
        if (record.type == MML_TYPE_INTEGER) {
            binding.value = Value::Integer(record.value.integer);
        } else if (record.type == MML_TYPE_OCTETS &&
                   (record.value.text != nullptr || record.length == 0)) {
            // Past the size limit one byte more is enough to refuse it as a bad value.
            std::size_t size = std::min<std::size_t>(record.length, kMaxOctetsLength + 1);
            binding.value = Value::Octets(size == 0 ? std::string_view()
                                                    : std::string_view(record.value.text, size));
        } else {
            binding.value = Value::Null();  // refused as a bad value
        }
    }
    return true;
}

// Copies what a get read into the caller's records. Texts are new allocations the records own.
bool FillRecords(MmlVarBindList &list, const std::vector<Binding> &bindings) {
    std::vector<char *> texts(bindings.size(), nullptr);
    for (std::size_t i = 0; i < bindings.size(); ++i) {
        if (bindings[i].value.type != MML_TYPE_OCTETS) {
            continue;
        }
        const std::string &text = bindings[i].value.text;
        texts[i] = static_cast<char *>(std::malloc(text.size() + 1));
        if (texts[i] == nullptr) {
            for (char *allocated : texts) {
                std::free(allocated);
            }
            return false;
        }
        std::memcpy(texts[i], text.data(), text.size());
        texts[i][text.size()] = '\0';
    }
    for (std::size_t i = 0; i < bindings.size(); ++i) {
        MmlVarBind &record = list.list[i];
        if (record.type == MML_TYPE_OCTETS && record.owned != 0) {
            std::free(record.value.text);  // a text an earlier get returned into this record
        }
        record.type = bindings[i].value.type;
        if (texts[i] != nullptr) {
            record.value.text = texts[i];
            record.length = static_cast<uint32_t>(bindings[i].value.text.size());
            record.owned = 1;
        } else {
            record.value.text = nullptr;
            record.value.integer = bindings[i].value.integer;
            record.length = 0;
            record.owned = 0;
        }
    }
    return true;
}

// Failures after which the same connection may go on failing while a new one would not.
bool NeedsNewConnection(int sqliteCode) {
    switch (sqliteCode & 0xFF) {
        case SQLITE_READONLY:
        case SQLITE_CANTOPEN:
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
        case SQLITE_IOERR:
            return true;
        default:
            return false;
    }
}

// Makes sure the session's connection is on the file its path names now. A deleted store is
// refused (what would be written there is lost to everyone else) until a store is back at the
// path; a replaced one, or a connection that failed for good, is opened anew.
bool UseCurrentStore(Session &session, Error &error) {
    if (session.store && !session.reopen && session.store->StillAtPath(error)) {
        return true;
    }
    if (session.store && !session.reopen && !std::filesystem::exists(session.path)) {
        return false;
    }
    // The old connection goes first: SQLite shares what it opened of a file among the
    // connections of a process, so a new one beside it would inherit a read-only descriptor.
    session.store.reset();
    session.store = Store::Open(session.path, error, session.options);
    session.reopen = !session.store;
    return session.store != nullptr;
}

int32_t Failed(Session &session, int32_t error1, int32_t error2) {
    session.error1 = error1;
    session.error2 = error2;
    return error2;
}

}  // namespace

}  // namespace vyn::mml

using namespace vyn::mml;

extern "C" {

int32_t MMLInitialize(int32_t version, int32_t reserved1, int32_t reserved2, int32_t reserved3,
                      int32_t reserved4, MmlSessionHandle *session) {
    (void)version;
    (void)reserved2;
    (void)reserved3;
    (void)reserved4;
    if (session == nullptr) {
        Sessions().SetOpenFailure(0, MML_FAILURE_BAD_REQUEST);
        return MML_FAILURE_BAD_REQUEST;
    }
    *session = 0;
    Store::Options options;
    if (reserved1 > 0) {
        options.busyTimeoutMs = reserved1;
    }
    Error error;
    std::unique_ptr<Store> store = Store::Open(vyn::StorePathFromEnvironment(), error, options);
    if (!store) {
        Sessions().SetOpenFailure(error.sqliteCode, error.failure);
        return error.failure;
    }
    *session = Sessions().Add(std::move(store), options);
    return 0;
}

int32_t MMLTerminate(MmlSessionHandle session) {
    return Sessions().Remove(session) ? 0 : MML_FAILURE_NO_SESSION;
}

void *MMLAlloc(uint32_t bytes) {
    return std::calloc(1, bytes == 0 ? 1 : bytes);
}

void MMLFree(void *memory) {
    std::free(memory);
}

int32_t MMLStrToMMLOid(const char *name, MmlOid *oid) {
    if (name == nullptr || oid == nullptr) {
        return MML_OID_ERROR_NULL;
    }
    ObjectKey key;
    int32_t code = ParseObjectName(name, key);
    if (code == 0) {
        *oid = EncodeOid(key);
    }
    return code;
}

int32_t MMLRequestLocal(MmlSessionHandle sessionId, int32_t requestType, MmlVarBindList *list,
                        int32_t *errorStatus, int32_t *errorIndex) {
    std::shared_ptr<Session> session = Sessions().Find(sessionId);
    if (!session) {
        return MML_FAILURE_NO_SESSION;
    }
    std::lock_guard lock(session->mutex);
    session->error1 = 0;
    session->error2 = MML_FAILURE_NONE;
    bool isGet = requestType == MML_REQUEST_GET;
    if ((!isGet && requestType != MML_REQUEST_SET) || list == nullptr || list->list == nullptr ||
        list->len == 0 || list->len > kMaxRecords || errorStatus == nullptr ||
        errorIndex == nullptr) {
        return Failed(*session, 0, MML_FAILURE_BAD_REQUEST);
    }
    *errorStatus = MML_ERROR_STATUS_NO_ERROR;
    *errorIndex = 0;
    std::vector<Binding> bindings;
    if (!ToBindings(*list, !isGet, bindings)) {
        return Failed(*session, 0, MML_FAILURE_BAD_REQUEST);
    }
    Answer answer;
    Error error;
    if (!UseCurrentStore(*session, error)) {
        return Failed(*session, error.sqliteCode, error.failure);
    }
    bool served = isGet ? session->store->Get(bindings, answer, error)
                        : session->store->Set(bindings, answer, error);
    if (!served) {
        session->reopen = NeedsNewConnection(error.sqliteCode);
        return Failed(*session, error.sqliteCode, error.failure);
    }
    *errorStatus = answer.status;
    *errorIndex = answer.index;
    if (answer.status != MML_ERROR_STATUS_NO_ERROR) {
        return 0;
    }
    if (isGet) {
        if (!FillRecords(*list, bindings)) {
            return Failed(*session, SQLITE_NOMEM, MML_FAILURE_STORAGE);
        }
    } else {
        // A set leaves the records as sent, but for the value the store kept instead (the
        // resident instance's portmodLoopOperating).
        for (uint32_t i = 0; i < list->len; ++i) {
            if (list->list[i].type == MML_TYPE_INTEGER) {
                list->list[i].value.integer = bindings[i].value.integer;
            }
        }
    }
    return 0;
}

int32_t MMLGetErrors(MmlSessionHandle sessionId, int32_t *error1, int32_t *error2) {
    int32_t first = 0;
    int32_t second = MML_FAILURE_NONE;
    int32_t result = 0;
    if (sessionId == 0) {
        Sessions().GetOpenFailure(first, second);
    } else if (std::shared_ptr<Session> session = Sessions().Find(sessionId)) {
        std::lock_guard lock(session->mutex);
        first = session->error1;
        second = session->error2;
    } else {
        second = MML_FAILURE_NO_SESSION;
        result = MML_FAILURE_NO_SESSION;
    }
    if (error1 != nullptr) {
        *error1 = first;
    }
    if (error2 != nullptr) {
        *error2 = second;
    }
    return result;
}

void MMLFreeVarBindList(MmlVarBindList *list) {
    if (list == nullptr) {
        return;
    }
    if (list->list != nullptr) {
        for (uint32_t i = 0; i < list->len; ++i) {
            MmlVarBind &record = list->list[i];
            if (record.type == MML_TYPE_OCTETS && record.owned != 0) {
                std::free(record.value.text);
            }
        }
        std::free(list->list);
    }
    list->list = nullptr;
    list->len = 0;
}

}  // extern "C"
