#include <malloc.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "board/board_model.h"
#include "board/board_server.h"
#include "board/commands.h"
#include "board/port.h"

namespace vyn::board {

namespace {

// An instance name as the store's object names take it: 1 to 31 printable characters, no comma.
bool ValidInstance(const std::string &instance) {
    if (instance.empty() || instance.size() > 31) {
        return false;
    }
    for (char c : instance) {
        if (c < 0x21 || c > 0x7e || c == ',') {
            return false;
        }
    }
    return true;
}

}  // namespace

int Fail(const std::string &message) {
    std::fprintf(stderr, "vynboard: %s\n", message.c_str());
    return 2;
}

int Serve(const ServeArguments &arguments) {
    if (arguments.storePath.empty() != arguments.instance.empty()) {
        return Fail("--mib and --instance go together");
    }
    if (!arguments.instance.empty() && !ValidInstance(arguments.instance)) {
        return Fail("bad instance name: " + arguments.instance);
    }
    struct stat status {};
    if (stat(arguments.dir.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return Fail("no directory " + arguments.dir);
    }
    if (!arguments.storePath.empty()) {
        setenv("VYNLOOP_MIB", arguments.storePath.c_str(), 1);  // read when the publisher opens it
    }
    // The loop takes SIGTERM and SIGINT from a descriptor; every thread must leave them alone.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // A slow reader's receive buffer beyond the size a port keeps comes from a mapping of its
    // own and goes back to the system when the reader has caught up. Left to itself the
    // allocator raises this threshold after the first such buffer is freed, and every later
    // backlog stays in the heap, which only grows to the largest mix of backlogs ever seen.
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(Port::kKeptReceiveCapacity));

    std::string error;
    {
        BoardServer server;
        ServeOptions options{arguments.dir, arguments.ports, arguments.instance};
        if (!server.Start(options, error)) {
            return Fail(error);
        }
        std::fputs("ready\n", stdout);
        std::fflush(stdout);
        server.Run();
    }
    return 0;
}

}  // namespace vyn::board
