// What the console's tests check of every run of vynloopctl, locally or against a remote rack.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace vyn::test {

// A failed command: exit `status`, nothing on standard output, one line on standard error
// starting with the program's name.
inline void ExpectOneLineFailure(const Finished &run, const std::vector<std::string> &args,
                                 int status) {
    std::string shown = ::testing::PrintToString(args);
    EXPECT_EQ(run.status, status) << shown;
    EXPECT_EQ(run.out, "") << shown;
    EXPECT_EQ(run.err.rfind("vynloopctl: ", 0), 0u) << shown << ": " << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << shown << ": " << run.err;
}

// The lines of a program's output, without their line ends.
inline std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace vyn::test
