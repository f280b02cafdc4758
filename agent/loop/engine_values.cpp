// The process-wide values of the test engine and its port test table.
#include "agent/loop/engine.h"

int isWindowsNt;
int isWindows95;
HWND agentWindow;
std::atomic<HANDLE> readerWake{INVALID_HANDLE_VALUE};
std::atomic<HANDLE> writerWake{INVALID_HANDLE_VALUE};
std::atomic<int> quitFlag;
std::atomic<int> topologyExiting;
std::atomic<uint32_t> idlePasses;

PortTestEntry PortTestTable[PORT_COUNT];
