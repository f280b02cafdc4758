// Process-wide values through which the threads of the test engine meet, and the threads.
#pragma once

#include <atomic>
#include <cstdint>

#include "agent/table/port_test.h"
#include "platform/win32.h"

constexpr int WAKE_SEMAPHORE_MAX = 32;

// The 16 records; entry i is port number i + 1.
extern PortTestEntry PortTestTable[PORT_COUNT];

// Prepares all 16 entries and finds which ports have test objects. Returns 1 when all 16 were
// prepared, 0 when an object name could not be converted.
int InitPortTestTable(MmlSessionHandle session);

// Frees the entry's write buffer, unless a write on it is still outstanding: the writer then
// frees it when that write completes. Safe to call twice.
void ReleaseWriteBuffer(PortTestEntry *entry);

// Set on the main thread at start-up, before any worker thread exists.
extern int isWindowsNt;
extern int isWindows95;
extern HWND agentWindow;
// Created at start-up; a thread that ends on quitFlag closes its own and sets it to
// INVALID_HANDLE_VALUE.
extern std::atomic<HANDLE> readerWake;
extern std::atomic<HANDLE> writerWake;

extern std::atomic<int> quitFlag;         // tells the writer, the reader and every monitor to end
extern std::atomic<int> topologyExiting;  // 1 once "WM_KYR_TOPOLOGY_EXITING" arrived
extern std::atomic<uint32_t> idlePasses;  // consecutive control passes without activity

// The engine's threads. Each is started once by the shell, except the monitor, which the writer
// starts for every test with the test's entry as its argument.
DWORD WINAPI TestControlThread(LPVOID parameter);
DWORD WINAPI LoopWriterThread(LPVOID parameter);
DWORD WINAPI LoopReaderThread(LPVOID parameter);
DWORD WINAPI TestMonitorThread(LPVOID parameter);

// The frame, parity and overrun errors the port's driver counted during the entry's data test,
// as the monitor last sampled them.
inline uint32_t DriverReceiveErrors(const PortTestEntry *entry) {
    return entry->frameErrs + entry->parityErrs + entry->overruns;
}

// Runs on the writer thread when the entry's write completed, or for a held test on a time-out.
void ContinueWriting(PortTestEntry *entry);
// Ends the reading of one test: frees the read buffers and waits for the test's monitor.
void EndTestReading(PortTestEntry *entry);

// Opens the board's control device "\\.\Kyrx1" (up to 5 attempts, 100 ms apart). 1 when open.
int OpenControlDevice(HANDLE *device);
void CloseIfOpen(HANDLE handle);
