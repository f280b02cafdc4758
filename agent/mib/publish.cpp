// Publishing a port's results: message, seven counters, the text at the last data error, the
// errors by kind and, when asked, the new loop state, in one set request.
#include <cstdio>
#include <cstring>

#include "agent/mib/store_access.h"
#include "agent/table/port_state.h"

namespace {

// The bindings, in order: the nine results, the errors by kind (kResultKindObjects), and the
// loop state last, sent only when a state is published. Names are converted once per test; later
// publications only refresh the values and send the list again.
const char *const kResultObjects[] = {
    "portLoopStopErr", "portLoopTxTotal",    "portLoopRxTotal", "portLoopInErrs",  "portLoopRate",
    "portLoopAvgRate", "portLoopTimeRemain", "portLoopLocErr",  "portLoopErrData",
};
constexpr int FIRST_RESULT_COUNT = sizeof kResultObjects / sizeof kResultObjects[0];

constexpr int BIND_STOP_ERR = 0;
constexpr int BIND_ERR_DATA = 8;
constexpr int BIND_FIRST_KIND = FIRST_RESULT_COUNT;
constexpr int BIND_STATE = RESULT_BINDING_COUNT - 1;
static_assert(BIND_FIRST_KIND + kResultKindObjectCount == BIND_STATE);

const char *BindingObject(int index) {
    if (index < FIRST_RESULT_COUNT) {
        return kResultObjects[index];
    }
    return index == BIND_STATE ? "portLoopState" : kResultKindObjects[index - BIND_FIRST_KIND];
}

int BuildResultList(PortTestEntry *entry) {
    entry->resultBindings =
        static_cast<MmlVarBind *>(MMLAlloc(RESULT_BINDING_COUNT * sizeof(MmlVarBind)));
    if (entry->resultBindings == nullptr) {
        return 0;
    }
    memset(entry->resultBindings, 0, RESULT_BINDING_COUNT * sizeof(MmlVarBind));
    for (int i = 0; i < RESULT_BINDING_COUNT; ++i) {
        char name[OBJECT_NAME_SIZE];
        MmlVarBind *binding = &entry->resultBindings[i];
        snprintf(name, sizeof name, "%s.%s.%d", BindingObject(i), instanceName, entry->portNumber);
        int32_t result = MMLStrToMMLOid(name, &binding->oid);
        if (result != 0) {
            char text[MSG_TEXT_SIZE];
            MMLFree(entry->resultBindings);
            entry->resultBindings = nullptr;
            snprintf(text, sizeof text,
                     i == BIND_STATE ? "Internal Error MMLStrToMMLOid(b) failed for %s, Error %d"
                                     : "Internal Error MMLStrToMMLOid failed for %s, Error %d",
                     name, result);
            SetMessageText(entry, text);
            return 0;
        }
        binding->type =
            (i == BIND_STOP_ERR || i == BIND_ERR_DATA) ? MML_TYPE_OCTETS : MML_TYPE_INTEGER;
    }
    // The texts sent are the entry's own, copied just before each request.
    entry->resultBindings[BIND_STOP_ERR].value.text = entry->publishedMsgText;
    entry->resultBindings[BIND_STOP_ERR].owned = 0;
    entry->resultBindings[BIND_ERR_DATA].value.text = entry->publishedErrData;
    entry->resultBindings[BIND_ERR_DATA].owned = 0;
    entry->resultList.list = entry->resultBindings;
    entry->resultList.len = 0;
    entry->resultListBuilt = 1;
    return 1;
}

// Takes the texts and the error position in one step, so that errData and locErr always match
// and no text is sent half rewritten.
void RefreshResultList(PortTestEntry *entry, int32_t state) {
    MmlVarBind *bindings = entry->resultBindings;
    {
        std::lock_guard<std::mutex> guard(entry->textGuard);
        memcpy(entry->publishedMsgText, entry->msgText, sizeof entry->publishedMsgText);
        memcpy(entry->publishedErrData, entry->errData, sizeof entry->publishedErrData);
        bindings[7].value.integer = static_cast<int32_t>(entry->locErr.load());
    }
    entry->publishedMsgText[MSG_TEXT_SIZE - 1] = 0;
    entry->publishedErrData[ERR_DATA_SIZE - 1] = 0;
    entry->resultList.list = bindings;
    bindings[BIND_STOP_ERR].length = static_cast<uint32_t>(strlen(entry->publishedMsgText));
    bindings[1].value.integer = static_cast<int32_t>(entry->txTotal.load());
    bindings[2].value.integer = static_cast<int32_t>(entry->rxTotal.load());
    bindings[3].value.integer = static_cast<int32_t>(entry->inErrs.load());
    bindings[4].value.integer = static_cast<int32_t>(entry->rate.load());
    bindings[5].value.integer = static_cast<int32_t>(entry->avgRate.load());
    bindings[6].value.integer = entry->timeRemain.load();
    bindings[BIND_ERR_DATA].length = static_cast<uint32_t>(strlen(entry->publishedErrData));
    // The errors by kind, in the order of kResultKindObjects.
    const uint32_t kinds[] = {
        entry->charsCorrupted, entry->charsLost,        entry->charsExtra,       entry->frameErrs,
        entry->parityErrs,     entry->overruns,         entry->breaks,           entry->lineShare,
        entry->firstBadPos,    entry->firstBadExpected, entry->firstBadReceived,
    };
    static_assert(sizeof kinds / sizeof kinds[0] == kResultKindObjectCount);
    for (int i = 0; i < kResultKindObjectCount; ++i) {
        bindings[BIND_FIRST_KIND + i].value.integer = static_cast<int32_t>(kinds[i]);
    }
    if (state != PUBLISH_NO_STATE) {
        entry->loopState = state;
        bindings[BIND_STATE].value.integer = state;
        entry->resultList.len = RESULT_BINDING_COUNT;
    } else {
        entry->resultList.len = RESULT_BINDING_COUNT - 1;
    }
}

}  // namespace

void PublishLoopResults(MmlSessionHandle session, PortTestEntry *entry, int32_t state) {
    if (entry->resultListBuilt == 0 && !BuildResultList(entry)) {
        return;
    }
    if (session == 0) {
        return;
    }
    if (state == PUBLISH_NO_STATE && entry->stateUnpublished) {
        state = entry->loopState;
    }
    // Line results that the store could not take go first: a final state never reaches the
    // store without them. While they still cannot go, the new state waits with them.
    if (entry->lineResultsUnpublished) {
        PublishLineResults(session, entry);
        if (entry->lineResultsUnpublished) {
            if (state != PUBLISH_NO_STATE) {
                entry->loopState = state;
                entry->stateUnpublished = 1;
            }
            return;
        }
    }
    RefreshResultList(entry, state);
    int32_t errorStatus = 0;
    int32_t errorIndex = 0;
    int32_t result =
        MMLRequestLocal(session, MML_REQUEST_SET, &entry->resultList, &errorStatus, &errorIndex);
    // A store that cannot take the values now leaves the message as it is: the next publication
    // sends them again, with whatever the test has counted meanwhile.
    if (StoreWasUnavailable(session, entry, result)) {
        entry->stateUnpublished = state != PUBLISH_NO_STATE ? 1 : 0;
        return;
    }
    entry->stateUnpublished = 0;
    if (result != 0 || errorStatus != 0) {
        char text[MSG_TEXT_SIZE];
        DescribeRequestFailure(session,
                               "Internal Error MMLRequestLocal(a) failed, errorStatus = %d, "
                               "errorIndex = %d, Error1 = %d, Error2 = %d",
                               errorStatus, errorIndex, text);
        SetMessageText(entry, text);
    }
}
