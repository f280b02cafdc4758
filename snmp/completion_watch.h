// Telling new test results from old ones by looking at the ports again and again: a port whose
// portLoopState has become stopped, failed or complete with a result that was not there at the
// previous look has a new result, once. What the first look finds is already known.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "snmp/layout/object_index.h"

namespace vyn::snmp {

// A port's state and result text as one look found them.
struct PortResult {
    RowKey port;
    int32_t state = 0;
    std::string text;
};

// A state that ends a test: stopped, failed or complete.
bool IsResultState(int32_t state);

class CompletionWatch {
  public:
    // The results among `ports` that are new since the previous look. The first look reports
    // nothing; a port seen for the first time later reports nothing either, unless a test was
    // requested on it through ExpectResult.
    std::vector<PortResult> Look(std::span<const PortResult> ports);

    // A test was requested on `port`: its next result is new even if it reads exactly like the
    // previous one (a test that fails at once can go from failed to failed between two looks).
    void ExpectResult(const RowKey &port);

  private:
    struct Seen {
        bool known = false;  // false: only expected, never looked at
        int32_t state = 0;
        std::string text;
        bool expected = false;
    };
    std::map<RowKey, Seen> seen_;
    bool primed_ = false;
};

}  // namespace vyn::snmp
