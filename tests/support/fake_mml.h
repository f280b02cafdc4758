// A scripted stand-in for the management access library, for the agent's unit tests. It serves
// objects from a map, records every request with its records, and can refuse a chosen name, fail
// a chosen request, or answer with a chosen value type.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "mml/vynmall.h"

namespace fake_mml {

struct Value {
    uint8_t type = MML_TYPE_INTEGER;
    int32_t integer = 0;
    std::string text;
};

inline Value Integer(int32_t value) {
    return Value{MML_TYPE_INTEGER, value, {}};
}
inline Value Text(std::string value) {
    return Value{MML_TYPE_OCTETS, 0, std::move(value)};
}

struct Binding {
    std::string name;
    uint8_t type = 0;
    int32_t integer = 0;
    std::string text;
};

struct Request {
    int32_t type = 0;
    std::vector<Binding> bindings;
};

struct Failure {
    int32_t result = 0;
    int32_t errorStatus = 0;
    int32_t errorIndex = 0;
    int32_t error1 = 0;
    int32_t error2 = 0;
};

struct Script {
    std::map<std::string, Value> objects;          // what a get answers; a set changes it
    std::map<std::string, int32_t> refusedNames;   // name -> MMLStrToMMLOid's result
    std::map<int, Failure> failedRequests;         // 1-based request number -> its failure
    std::map<std::string, Failure> failedObjects;  // any request naming the object fails
    std::map<std::string, uint8_t> answerTypes;    // a get answers this type for the object
    std::map<std::string, int32_t> setAnswers;     // a set leaves this value in the record
    bool initializeFails = false;
};

// Everything below is process-wide; Reset() before each test.
void Reset();
Script &GetScript();
std::vector<Request> Requests();
int LiveAllocations();  // arrays from MMLAlloc not yet released
int Terminations();
int Conversions();  // successful MMLStrToMMLOid calls
std::optional<Value> Object(const std::string &name);

}  // namespace fake_mml
