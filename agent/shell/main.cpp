// vynloop INSTANCE: the loopback test agent of one management agent instance.
#include <string>

#include "agent/shell/shell.h"

int main(int argc, char **argv) {
    // The agent takes one command line, as it was typed: the words joined by blanks.
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            commandLine += ' ';
        }
        commandLine += argv[i];
    }
    static char moduleInstance;
    return WinMain(reinterpret_cast<HINSTANCE>(&moduleInstance), nullptr, commandLine.data(),
                   SW_SHOWNORMAL);
}
