// What a store must hold whatever was done to it: every provisioned port has all its objects,
// every row is an object of the dictionary with a value of its type, coded values are in their
// vocabularies, and the record of tests agrees with itself. For tests and benchmarks that put a
// store through a storm or a long run and check it afterwards.
#pragma once

#include <string>
#include <vector>

namespace vyn::test {

// Every problem found, one line each; empty when the store holds together.
std::vector<std::string> CheckStoreInvariants(const std::string &path);

}  // namespace vyn::test
