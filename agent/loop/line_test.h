// The control-line and break tests, run by the control thread for every port of a start group
// that asked for them, all at once, before the group is handed to the writer.
#pragma once

#include <cstdint>

#include "agent/table/port_test.h"

// Runs the tests of every port in LineChecks of start group `group`. Each port then goes on to
// its data test (Configured) or ends with its line result (EndedByError when a line or the break
// failed, EndedByTime when it passed and no data test was asked for). Returns the number of
// ports handed on to the writer.
int RunLineChecks(uint32_t group);
