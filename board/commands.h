// The two commands of the vynboard program. Each returns the process's exit status: 0 on
// success, 2 on any error (after one line on standard error).
#pragma once

#include <string>
#include <vector>

namespace vyn::board {

struct ServeArguments {
    std::string dir;
    int ports = 0;          // 1 to BoardModel::kMaxPorts
    std::string storePath;  // --mib
    std::string instance;
};

struct CtlArguments {
    std::string dir;
    std::vector<std::string> words;  // [COMn] key=value ... | COMn show | show
};

int Serve(const ServeArguments &arguments);
int Ctl(const CtlArguments &arguments);

// Writes "vynboard: <message>" to standard error and returns 2.
int Fail(const std::string &message);

}  // namespace vyn::board
