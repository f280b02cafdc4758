// Starting a port's test, on the control thread.
#pragma once

#include "agent/table/port_test.h"

// What a pass of the control thread learns from the ports it visits.
struct PassFlags {
    int started;   // a port was opened in this pass
    int activity;  // a port was opened or is running
};

// An idle port: reads its loop state and, on a request, its parameters; opens and configures the
// port and hands the test to the writer (Configured). A failure ends the test with its message
// (EndedByError); a port the remote access service holds may wait (RasWait).
void StartSequence(PortTestEntry *entry, PassFlags *pass);
