// Borrowing a port from the remote access service for the length of a test.
#pragma once

#include <atomic>

#include "platform/win32.h"

// The service's manager library entry points.
typedef DWORD(WINAPI *RasInitializeProc)(void);
typedef DWORD(WINAPI *RasPortReserveProc)(LPSTR portName, DWORD *port);
typedef DWORD(WINAPI *RasPortFreeProc)(DWORD port);

extern HMODULE rasModule;  // the library once loaded; all bits set while not loaded
extern RasInitializeProc RasInitialize;
extern RasPortReserveProc RasPortReserve;
extern RasPortFreeProc RasPortFree;

// 1 when reservations are possible. Set once by the control thread before it looks at any port.
extern std::atomic<int> rasAvailable;

// 1 when the "RemoteAccess" service is in the running state.
int IsRemoteAccessRunning(void);

// Loads the service's manager library once and initialises it. 1 when reservations are possible.
int InitRemoteAccess(void);
