// Starting a port's test, on the control thread.
#pragma once

#include <cstdint>

#include "agent/table/port_test.h"

// What a pass of the control thread learns from the ports it visits.
struct PassFlags {
    int started;     // a port was opened in this pass
    int activity;    // a port was opened or is running
    int configured;  // ports handed to the writer in this pass
    int requested;   // test requests found in this pass (each leaves the port idle state)
    int lineChecks;  // ports waiting for their line and break tests (LineChecks)
    uint32_t group;  // the start group of the tests this pass hands on
};

// An idle port: reads its loop state and, on a request, its parameters; opens and configures the
// port and readies the test for the writer (Configured, in the pass's start group); the pass wakes
// the writer once it has met every port of the request. A failure ends the test with its message
// (EndedByError); a port the remote access service holds may wait (RasWait).
void StartSequence(PortTestEntry *entry, PassFlags *pass);

// Gives back what a test start took once the port was open: the port, and a reservation.
void ReleasePort(PortTestEntry *entry);
