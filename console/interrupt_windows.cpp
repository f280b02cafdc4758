#include <atomic>
#include <cstdio>
#include <string>

#include "console/interrupt.h"
#include "platform/win32.h"

namespace vyn::console {

namespace {

// Set by the console's control handler, which the system runs on a thread of its own; the
// event wakes a sleeping watch. Never closed: a handler may run at any time.
HANDLE wake = nullptr;
std::atomic<bool> interrupted{false};

BOOL WINAPI OnControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;  // closing the console or logging off ends the program as usual
    }
    interrupted.store(true);
    SetEvent(wake);
    return TRUE;
}

}  // namespace

InterruptWatch::InterruptWatch() {
    if (wake == nullptr) {
        wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    interrupted.store(false);
    SetConsoleCtrlHandler(OnControl, TRUE);
}

InterruptWatch::~InterruptWatch() {
    SetConsoleCtrlHandler(OnControl, FALSE);
}

bool InterruptWatch::Sleep(std::chrono::milliseconds limit) {
    if (interrupted.load()) {
        return true;
    }
    WaitForSingleObject(wake, static_cast<DWORD>(limit.count()));
    return interrupted.load();
}

bool InterruptWatch::Take() {
    ResetEvent(wake);
    return interrupted.exchange(false);
}

bool AskYesNo(const char *question) {
    std::fprintf(stderr, "%s [Y/n] ", question);
    std::fflush(stderr);
    std::string answer;
    for (int c = std::fgetc(stdin); c != '\n'; c = std::fgetc(stdin)) {
        if (c == EOF) {  // end of input, or Ctrl-C again: take the default
            std::fputc('\n', stderr);
            return true;
        }
        if (c != '\r') {
            answer.push_back(static_cast<char>(c));
        }
    }
    return answer.empty() || answer[0] == 'y' || answer[0] == 'Y';
}

}  // namespace vyn::console
