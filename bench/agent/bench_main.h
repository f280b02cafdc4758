// The command line of the benchmark programs that drive the whole system: the names of the
// benchmarks to run (none: all of them, in their order). The programs under test sit next to
// this one unless VYNLOOP_BIN_DIR says otherwise.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/agent/verdict.h"
#include "bench/proc_stats.h"

namespace vyn::bench {

struct NamedBenchmark {
    std::string name;
    std::function<bool()> run;  // true when every target it measures is met
};

// Runs the chosen benchmarks. Returns the exit status: 0 when every target was met, 1 when one
// was missed, 2 on a usage error.
inline int RunBenchmarks(int argc, char **argv, const std::vector<NamedBenchmark> &benchmarks) {
    std::vector<const NamedBenchmark *> chosen;
    std::string names;
    for (const NamedBenchmark &benchmark : benchmarks) {
        names += (names.empty() ? "" : "|") + benchmark.name;
    }
    for (int i = 1; i < argc; ++i) {
        const NamedBenchmark *found = nullptr;
        for (const NamedBenchmark &benchmark : benchmarks) {
            found = benchmark.name == argv[i] ? &benchmark : found;
        }
        if (found == nullptr) {
            std::fprintf(stderr, "usage: %s [%s]...\n", argv[0], names.c_str());
            return 2;
        }
        chosen.push_back(found);
    }
    if (chosen.empty()) {
        for (const NamedBenchmark &benchmark : benchmarks) {
            chosen.push_back(&benchmark);
        }
    }
    if (std::getenv("VYNLOOP_BIN_DIR") == nullptr) {
        std::string here = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
        setenv("VYNLOOP_BIN_DIR", here.c_str(), 1);
    }
    bool pass = true;
    for (const NamedBenchmark *benchmark : chosen) {
        std::printf("== %s (load average %.2f)\n", benchmark->name.c_str(), LoadAverage());
        std::fflush(stdout);
        try {
            pass = benchmark->run() && pass;
        } catch (const std::exception &failure) {
            std::printf("%s: %s\n", benchmark->name.c_str(), failure.what());
            pass = NotMeasured(benchmark->name, failure.what()) && pass;
        }
        std::printf("   (load average %.2f at the end)\n", LoadAverage());
    }
    return pass ? 0 : 1;
}

}  // namespace vyn::bench
