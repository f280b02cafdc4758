// What tests need of the system in a form that builds on POSIX and on Windows alike: a fresh
// private directory, and changes to this process's environment.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <list>
#include <random>
#include <string>

namespace vyn::test {

// A new, empty directory under the system's temporary directory, named `prefix` and a random
// tail.
inline std::filesystem::path MakeTempDirectory(const std::string &prefix) {
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (;;) {
        std::filesystem::path dir =
            std::filesystem::temp_directory_path() / (prefix + std::to_string(random()));
        if (std::filesystem::create_directory(dir)) {
            return dir;
        }
    }
}

// Sets NAME=VALUE for this process (an empty value where the system cannot remove a variable).
// putenv keeps the text itself on POSIX, so every text set stays alive.
inline void SetEnvironment(const std::string &name, const std::string &value) {
    static std::list<std::string> texts;
    texts.push_back(name + "=" + value);
    ::putenv(texts.back().data());
}

}  // namespace vyn::test
