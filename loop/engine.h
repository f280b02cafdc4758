// Process-wide values through which the threads of the test engine meet, and the threads.
#pragma once

#include <atomic>
#include <cstdint>

#include "loop/port_test.h"
#include "platform/win32.h"

#define WAKE_SEMAPHORE_MAX 32

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
