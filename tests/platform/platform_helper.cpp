// The platform tests' second process. Commands:
//   tick                   print GetTickCount() at the start and once it wrapped (or after 5 s)
//   mutex-hold NAME        take the mutex, print "held" and keep it until killed
//   mutex-race NAME DIR    five times: take the mutex, prove nobody else is inside, release
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/win32.h"

int main(int argc, char **argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "tick") {
        DWORD first = GetTickCount(), now = first;
        for (int i = 0; i < 500 && now >= first; ++i) {
            Sleep(10);
            now = GetTickCount();
        }
        std::printf("%u %u\n", first, now);
        return 0;
    }
    HANDLE mutex = argc > 2 ? CreateMutexA(nullptr, FALSE, argv[2]) : nullptr;
    std::string last = argc > 3 ? argv[3] : "";
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
