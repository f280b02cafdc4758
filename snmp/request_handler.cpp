#include "snmp/request_handler.h"

#include <cstring>

namespace vyn::snmp {

namespace {

int ErrorStatus(SetStatus status) {
    switch (status) {
        case SetStatus::NoError:
            return SNMP_ERR_NOERROR;
        case SetStatus::WrongType:
            return SNMP_ERR_WRONGTYPE;
        case SetStatus::WrongLength:
            return SNMP_ERR_WRONGLENGTH;
        case SetStatus::WrongValue:
            return SNMP_ERR_WRONGVALUE;
        case SetStatus::NotWritable:
            return SNMP_ERR_NOTWRITABLE;
        case SetStatus::NoCreation:
            return SNMP_ERR_NOCREATION;
        case SetStatus::InconsistentValue:
            return SNMP_ERR_INCONSISTENTVALUE;
        case SetStatus::ResourceUnavailable:
            return SNMP_ERR_RESOURCEUNAVAILABLE;
        case SetStatus::GenErr:
            return SNMP_ERR_GENERR;
    }
    return SNMP_ERR_GENERR;
}

Oid NameOf(const netsnmp_request_info *request) {
    return FromNetSnmp(request->requestvb->name, request->requestvb->name_length);
}

// The names and values of a SET, to recognise its later phases.
std::string Fingerprint(const netsnmp_request_info *requests) {
    std::string print;
    for (const netsnmp_request_info *request = requests; request != nullptr;
         request = request->next) {
        const netsnmp_variable_list *vb = request->requestvb;
        print.append(reinterpret_cast<const char *>(vb->name), vb->name_length * sizeof(oid));
        print.push_back(static_cast<char>(vb->type));
        if (vb->val.string != nullptr) {
            print.append(reinterpret_cast<const char *>(vb->val.string), vb->val_len);
        }
        print.push_back('\0');
    }
    return print;
}

void LogStoreFailure(const char *what, const mml::Error &error) {
    snmp_log(LOG_ERR, "%s: %s\n", what, error.message.c_str());
}

}  // namespace

RequestHandler::RequestHandler(StoreView &view, std::function<void(const RowKey &)> onTestRequested)
    : view_(view), onTestRequested_(std::move(onTestRequested)) {}

RequestHandler::~RequestHandler() {
    if (registration_ != nullptr) {
        netsnmp_unregister_handler(registration_);
    }
}

bool RequestHandler::Register() {
    std::vector<oid> root = ToNetSnmp(ObjectsOid());
    registration_ = netsnmp_create_handler_registration(
        "vynLoopObjects", &RequestHandler::Dispatch, root.data(), root.size(), HANDLER_CAN_RWRITE);
    if (registration_ == nullptr) {
        return false;
    }
    registration_->handler->myvoid = this;
    if (netsnmp_register_handler(registration_) != MIB_REGISTERED_OK) {
        registration_ = nullptr;  // the library released it
        return false;
    }
    return true;
}

int RequestHandler::Dispatch(netsnmp_mib_handler *handler, netsnmp_handler_registration *,
                             netsnmp_agent_request_info *info, netsnmp_request_info *requests) {
    auto *self = static_cast<RequestHandler *>(handler->myvoid);
    switch (info->mode) {
        case MODE_GET:
            self->Get(info, requests);
            break;
        case MODE_GETNEXT:
            self->GetNext(info, requests);
            break;
        case MODE_SET_RESERVE1:
            self->Check(info, requests);
            break;
        case MODE_SET_RESERVE2:
            break;
        case MODE_SET_ACTION:
            self->Write(info, requests);
            break;
        case MODE_SET_COMMIT:
            self->Finish(requests, false);
            break;
        case MODE_SET_UNDO:
            self->Finish(requests, true);
            break;
        case MODE_SET_FREE:
            self->pending_.reset();
            break;
        default:
            break;
    }
    return SNMP_ERR_NOERROR;
}

void RequestHandler::Get(netsnmp_agent_request_info *info, netsnmp_request_info *requests) {
    mml::Error error;
    if (!view_.Ready(error)) {
        LogStoreFailure("get", error);
        netsnmp_request_set_error_all(requests, SNMP_ERR_GENERR);
        return;
    }
    std::vector<netsnmp_request_info *> served;
    std::vector<ObjectRef> objects;
    for (netsnmp_request_info *request = requests; request != nullptr; request = request->next) {
        if (request->processed) {
            continue;
        }
        Located located = Locate(NameOf(request));
        bool exists = false;
        if (located.kind == Located::Kind::Object &&
            !view_.HasRow(located.object.table->kind, located.object.row, exists, error)) {
            LogStoreFailure("get", error);
            netsnmp_set_request_error(info, request, SNMP_ERR_GENERR);
            return;
        }
        if (located.kind == Located::Kind::NoSuchObject) {
            netsnmp_set_request_error(info, request, SNMP_NOSUCHOBJECT);
        } else if (!exists) {
            netsnmp_set_request_error(info, request, SNMP_NOSUCHINSTANCE);
        } else {
            served.push_back(request);
            objects.push_back(std::move(located.object));
        }
    }
    std::vector<std::optional<mml::Value>> values;
    if (!view_.Read(objects, values, error)) {
        LogStoreFailure("get", error);
        for (netsnmp_request_info *request : served) {
            netsnmp_set_request_error(info, request, SNMP_ERR_GENERR);
        }
        return;
    }
    for (std::size_t i = 0; i < served.size(); ++i) {
        if (!values[i]) {
            netsnmp_set_request_error(info, served[i], SNMP_NOSUCHINSTANCE);
        } else if (!WriteVarbind(*served[i]->requestvb, *objects[i].column, *values[i])) {
            netsnmp_set_request_error(info, served[i], SNMP_ERR_GENERR);
        }
    }
}

void RequestHandler::GetNext(netsnmp_agent_request_info *info, netsnmp_request_info *requests) {
    mml::Error error;
    if (!view_.Ready(error)) {
        LogStoreFailure("getnext", error);
        netsnmp_request_set_error_all(requests, SNMP_ERR_GENERR);
        return;
    }
    for (netsnmp_request_info *request = requests; request != nullptr; request = request->next) {
        if (request->processed) {
            continue;
        }
        // The next object that the store still holds; none past the last (the agent then
        // moves on to the next subtree).
        Oid after = NameOf(request);
        for (;;) {
            std::optional<ObjectRef> next = view_.Rows().Next(after);
            if (!next) {
                break;
            }
            std::vector<std::optional<mml::Value>> values;
            if (!view_.Read({&*next, 1}, values, error)) {
                LogStoreFailure("getnext", error);
                netsnmp_set_request_error(info, request, SNMP_ERR_GENERR);
                break;
            }
            after = ObjectOid(*next);
            if (!values[0]) {
                continue;
            }
            std::vector<oid> name = ToNetSnmp(after);
            snmp_set_var_objid(request->requestvb, name.data(), name.size());
            if (!WriteVarbind(*request->requestvb, *next->column, *values[0])) {
                netsnmp_set_request_error(info, request, SNMP_ERR_GENERR);
            }
            break;
        }
    }
}

void RequestHandler::Check(netsnmp_agent_request_info *info, netsnmp_request_info *requests) {
    mml::Error error;
    for (netsnmp_request_info *request = requests; request != nullptr; request = request->next) {
        Located located = Locate(NameOf(request));
        SetStatus status = SetStatus::NotWritable;
        if (located.kind != Located::Kind::NoSuchObject) {
            status = CheckSetValue(*located.object.column, ReadVarbind(*request->requestvb));
        }
        if (status == SetStatus::NoError && located.kind == Located::Kind::NoSuchInstance) {
            status = SetStatus::NoCreation;
        }
        if (status == SetStatus::NoError) {
            bool exists = false;
            if (!view_.Ready(error) ||
                !view_.HasRow(located.object.table->kind, located.object.row, exists, error)) {
                LogStoreFailure("set", error);
                status = SetStatus::ResourceUnavailable;
            } else if (!exists) {
                status = SetStatus::NoCreation;
            }
        }
        if (status != SetStatus::NoError) {
            netsnmp_set_request_error(info, request, ErrorStatus(status));
            return;
        }
    }
}

void RequestHandler::Write(netsnmp_agent_request_info *info, netsnmp_request_info *requests) {
    std::vector<SetItem> items;
    std::vector<netsnmp_request_info *> order;
    for (netsnmp_request_info *request = requests; request != nullptr; request = request->next) {
        Located located = Locate(NameOf(request));
        if (located.kind != Located::Kind::Object) {  // refused in the first phase already
            netsnmp_set_request_error(info, request, SNMP_ERR_GENERR);
            return;
        }
        // Checked in the first phase: an integer or octets of the column's syntax.
        std::optional<mml::Value> value = StoreValue(ReadVarbind(*request->requestvb));
        if (!value) {
            netsnmp_set_request_error(info, request, SNMP_ERR_GENERR);
            return;
        }
        items.push_back({located.object, std::move(*value)});
        order.push_back(request);
    }
    SetResult result = view_.Apply(items);
    if (result.status != SetStatus::NoError) {
        snmp_log(LOG_INFO, "set refused (%s): %s\n",
                 std::string(SetStatusName(result.status)).c_str(), result.reason.c_str());
        netsnmp_set_request_error(info, order.at(result.failedItem), ErrorStatus(result.status));
        return;
    }
    pending_ =
        PendingSet{Fingerprint(requests), std::move(result.previous), std::move(result.requested)};
}

void RequestHandler::Finish(netsnmp_request_info *requests, bool undo) {
    if (!pending_ || pending_->fingerprint != Fingerprint(requests)) {
        pending_.reset();
        return;
    }
    PendingSet done = std::move(*pending_);
    pending_.reset();
    if (undo) {
        mml::Error error;
        if (!view_.Undo(std::move(done.previous), error)) {
            LogStoreFailure("undo of a set", error);
        }
        return;
    }
    for (const RowKey &port : done.requested) {
        onTestRequested_(port);
    }
}

}  // namespace vyn::snmp
