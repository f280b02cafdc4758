// What the kernel says about a running process (its processor time and resident memory) and
// about the machine's load.
#pragma once

#include <sys/types.h>

namespace vyn::bench {

// User plus system time of all the process's threads so far, in seconds; -1 when unreadable.
double ProcessCpuSeconds(pid_t pid);

// Processor time of all the process's threads so far, in seconds, to the nanosecond (from the
// scheduler's own figures); -1 when unreadable. For the small shares of an idle process.
double PreciseCpuSeconds(pid_t pid);

// A "Vm..." line of /proc/PID/status (e.g. "VmRSS", "VmHWM") in KiB; -1 when unreadable.
long ProcessMemoryKib(pid_t pid, const char *field);

// A field of /proc/PID/smaps_rollup (e.g. "Pss", "Private_Dirty") in KiB; -1 when unreadable.
long RollupKib(pid_t pid, const char *field);

// The number of open descriptors of the process; -1 when unreadable.
int ProcessDescriptors(pid_t pid);

// The number of the process's threads; -1 when unreadable.
int ProcessThreads(pid_t pid);

// The machine's load average over the last minute; -1 when unreadable. Figures taken while
// other work competes for the processors are shown with it.
double LoadAverage();

}  // namespace vyn::bench
