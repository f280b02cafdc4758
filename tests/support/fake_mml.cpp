#include "tests/support/fake_mml.h"

#include <cstdlib>
#include <cstring>

namespace fake_mml {
namespace {

struct State {
    std::mutex mutex;
    Script script;
    std::vector<Request> requests;
    std::vector<std::string> names;  // identifier -> name
    int liveAllocations = 0;
    int terminations = 0;
    Failure lastFailure;
};

State &TheState() {
    static State state;
    return state;
}

const std::string *NameOf(const MmlOid &oid) {
    State &state = TheState();
    if (oid.words[1] != 0xFA4E || oid.words[0] >= state.names.size()) {
        return nullptr;
    }
    return &state.names[oid.words[0]];
}

Binding Record(const MmlVarBind &record) {
    Binding binding;
    const std::string *name = NameOf(record.oid);
    binding.name = name != nullptr ? *name : "?";
    binding.type = record.type;
    if (record.type == MML_TYPE_OCTETS) {
        binding.text.assign(record.value.text != nullptr ? record.value.text : "", record.length);
    } else {
        binding.integer = record.value.integer;
    }
    return binding;
}

void Answer(MmlVarBind &record, const Value &value, uint8_t type) {
    record.type = type;
    if (type == MML_TYPE_OCTETS) {
        std::string text =
            value.type == MML_TYPE_OCTETS ? value.text : std::to_string(value.integer);
        char *copy = static_cast<char *>(std::malloc(text.size() + 1));
        std::memcpy(copy, text.data(), text.size());
        copy[text.size()] = 0;
        record.value.text = copy;
        record.length = static_cast<uint32_t>(text.size());
        record.owned = 1;
    } else {
        record.value.integer = value.integer;
    }
}

}  // namespace

void Reset() {
    State &state = TheState();
    std::lock_guard lock(state.mutex);
    state.script = Script{};
    state.requests.clear();
    state.liveAllocations = 0;
    state.terminations = 0;
    state.names.clear();
    state.lastFailure = Failure{};
}

Script &GetScript() {
    return TheState().script;
}

std::vector<Request> Requests() {
    std::lock_guard lock(TheState().mutex);
    return TheState().requests;
}

int LiveAllocations() {
    return TheState().liveAllocations;
}
int Terminations() {
    return TheState().terminations;
}
int Conversions() {
    std::lock_guard lock(TheState().mutex);
    return static_cast<int>(TheState().names.size());
}

std::optional<Value> Object(const std::string &name) {
    std::lock_guard lock(TheState().mutex);
    auto found = TheState().script.objects.find(name);
    if (found == TheState().script.objects.end()) {
        return std::nullopt;
    }
    return found->second;
}

}  // namespace fake_mml

using fake_mml::TheState;

extern "C" {

int32_t MMLInitialize(int32_t, int32_t, int32_t, int32_t, int32_t, MmlSessionHandle *session) {
    if (TheState().script.initializeFails) {
        return 1;
    }
    *session = 7;
    return 0;
}

int32_t MMLTerminate(MmlSessionHandle) {
    std::lock_guard lock(TheState().mutex);
    TheState().terminations++;
    return 0;
}

void *MMLAlloc(uint32_t bytes) {
    std::lock_guard lock(TheState().mutex);
    TheState().liveAllocations++;
    return std::malloc(bytes);
}

void MMLFree(void *memory) {
    std::lock_guard lock(TheState().mutex);
    TheState().liveAllocations--;
    std::free(memory);
}

int32_t MMLStrToMMLOid(const char *name, MmlOid *oid) {
    auto &state = TheState();
    std::lock_guard lock(state.mutex);
    auto refused = state.script.refusedNames.find(name);
    if (refused != state.script.refusedNames.end()) {
        return refused->second;
    }
    oid->words[0] = static_cast<uint32_t>(state.names.size());
    oid->words[1] = 0xFA4E;
    state.names.emplace_back(name);
    return 0;
}

int32_t MMLRequestLocal(MmlSessionHandle session, int32_t type, MmlVarBindList *list,
                        int32_t *errorStatus, int32_t *errorIndex) {
    auto &state = TheState();
    std::lock_guard lock(state.mutex);
    fake_mml::Request request;
    request.type = type;
    for (uint32_t i = 0; i < list->len; ++i) {
        request.bindings.push_back(fake_mml::Record(list->list[i]));
    }
    state.requests.push_back(request);
    int number = static_cast<int>(state.requests.size());

    std::optional<fake_mml::Failure> failure;
    if (auto found = state.script.failedRequests.find(number);
        found != state.script.failedRequests.end()) {
        failure = found->second;
    }
    for (const auto &binding : request.bindings) {
        if (auto found = state.script.failedObjects.find(binding.name);
            found != state.script.failedObjects.end()) {
            failure = found->second;
        }
    }
    if (session == 0) {
        failure = fake_mml::Failure{1, 0, 0, 0, 1};
    }
    if (failure) {
        *errorStatus = failure->errorStatus;
        *errorIndex = failure->errorIndex;
        state.lastFailure = *failure;
        return failure->result;
    }
    for (uint32_t i = 0; i < list->len; ++i) {
        const auto &binding = request.bindings[i];
        auto object = state.script.objects.find(binding.name);
        if (object == state.script.objects.end()) {
            *errorStatus = MML_ERROR_STATUS_NO_SUCH_NAME;
            *errorIndex = static_cast<int32_t>(i + 1);
            return 0;
        }
    }
    for (uint32_t i = 0; i < list->len; ++i) {
        const auto &binding = request.bindings[i];
        auto &object = state.script.objects[binding.name];
        if (type == MML_REQUEST_SET) {
            object = binding.type == MML_TYPE_OCTETS ? fake_mml::Text(binding.text)
                                                     : fake_mml::Integer(binding.integer);
            if (auto answer = state.script.setAnswers.find(binding.name);
                answer != state.script.setAnswers.end()) {
                list->list[i].value.integer = answer->second;
            }
        } else {
            uint8_t answerType = object.type;
            if (auto chosen = state.script.answerTypes.find(binding.name);
                chosen != state.script.answerTypes.end()) {
                answerType = chosen->second;
            }
            fake_mml::Answer(list->list[i], object, answerType);
        }
    }
    *errorStatus = 0;
    *errorIndex = 0;
    return 0;
}

int32_t MMLGetErrors(MmlSessionHandle, int32_t *error1, int32_t *error2) {
    std::lock_guard lock(TheState().mutex);
    *error1 = TheState().lastFailure.error1;
    *error2 = TheState().lastFailure.error2;
    return 0;
}

void MMLFreeVarBindList(MmlVarBindList *list) {
    if (list == nullptr || list->list == nullptr) {
        return;
    }
    for (uint32_t i = 0; i < list->len; ++i) {
        if (list->list[i].type == MML_TYPE_OCTETS && list->list[i].owned != 0) {
            std::free(list->list[i].value.text);
        }
    }
    MMLFree(list->list);
    list->list = nullptr;
    list->len = 0;
}

}  // extern "C"
