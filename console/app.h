// vynloopctl: the console that provisions instances and reads and writes their objects.
#pragma once

namespace vyn::console {

// Parses the command line, runs the chosen command and returns the exit status: 0 success,
// 1 a negative answer, 2 a usage error or a store failure.
int Run(int argc, char **argv);

}  // namespace vyn::console
