// The platform tests' second process. Commands:
//   tick once|wrap         print GetTickCount() twice; with wrap, the second once it wrapped
//   mutex-try NAME MS|inf  exit 0 when the mutex was taken within the time, 1 on time-out
//   mutex-hold NAME        take the mutex, print "held" and keep it until killed
//   mutex-race NAME DIR    five times: take the mutex, prove nobody else is inside, release
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/win32.h"

int main(int argc, char **argv) {
    std::string command = argc > 2 ? argv[1] : "", arg = argc > 2 ? argv[2] : "";
    if (command == "tick") {
        DWORD first = GetTickCount(), now = first;
        for (int i = 0; arg == "wrap" && i < 500 && now >= first; ++i) {
            Sleep(10);
            now = GetTickCount();
        }
        std::printf("%u %u\n", first, now);
        return 0;
    }
    HANDLE mutex = argc > 2 ? CreateMutexA(nullptr, FALSE, argv[2]) : nullptr;
    std::string last = argc > 3 ? argv[3] : "";
    if (command == "mutex-try" && mutex) {
        DWORD result = WaitForSingleObject(mutex, last == "inf" ? INFINITE : std::stoul(last));
        return result == WAIT_OBJECT_0 ? 0 : result == WAIT_TIMEOUT ? 1 : 2;
    }
    if (command == "mutex-hold" && WaitForSingleObject(mutex, INFINITE) == WAIT_OBJECT_0) {
        std::printf("held\n");
        std::fflush(stdout);
        Sleep(INFINITE);
    }
    for (int round = 0; command == "mutex-race" && mutex && round < 5; ++round) {
        WaitForSingleObject(mutex, INFINITE);
        int inside = ::open((last + "/inside").c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
        if (inside < 0) {
            return 3;  // another process is inside
        }
        ::close(inside);
        Sleep(2);
        ::unlink((last + "/inside").c_str());
        std::FILE *log = std::fopen((last + "/log").c_str(), "a");
        std::fputs("x", log);
        std::fclose(log);
        ReleaseMutex(mutex);
    }
    return command == "mutex-race" && mutex ? 0 : 64;
}
