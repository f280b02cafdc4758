// What the console prints and the exit status it ends with. Every error is one line on standard
// error, starting with "vynloopctl: ".
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "console/rack/words.h"

namespace vyn::console {

enum ExitStatus : int {
    kExitSuccess = 0,
    kExitNegative = 1,  // a negative answer: no agent, a test that did not pass
    kExitFailure = 2,   // a usage error or a store failure
};

// Prints the one-line error and returns kExitFailure.
int Fail(std::string_view message);
// Prints the one-line reason and returns kExitNegative.
int Negative(std::string_view message);

// Prints rows as a table: columns as wide as their widest cell, trailing blanks dropped.
void PrintTable(const std::vector<std::vector<std::string>> &rows);

}  // namespace vyn::console
