// One line per measured figure, compared with its target, in a form that people read and
// scripts/bench collects:
//   result <name> measured=<value><unit> target=<bound><value><unit> ratio=<r> PASS|FAIL [note]
// The ratio is measured / target: at least 1 passes a floor, at most 1 (below 1 for "under")
// passes a ceiling.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace vyn::bench {

enum class Bound {
    kAtLeast,  // measured >= target
    kAtMost,   // measured <= target
    kUnder,    // measured < target
};

inline const char *BoundText(Bound bound) {
    switch (bound) {
        case Bound::kAtLeast:
            return ">=";
        case Bound::kAtMost:
            return "<=";
        case Bound::kUnder:
            return "<";
    }
    return "?";
}

inline bool Meets(double measured, Bound bound, double target) {
    switch (bound) {
        case Bound::kAtLeast:
            return measured >= target;
        case Bound::kAtMost:
            return measured <= target;
        case Bound::kUnder:
            return measured < target;
    }
    return false;
}

// Prints the result line and returns whether the target is met. `digits` is the number of
// decimals of the value and the target; `note`, when given, is shown after the verdict (a
// figure to read beside the judged one).
inline bool Verdict(const std::string &name, double measured, Bound bound, double target,
                    const char *unit, int digits, const std::string &note = "") {
    bool pass = Meets(measured, bound, target);
    std::printf("result %s measured=%.*f%s target=%s%.*f%s ratio=%.4f %s%s%s\n", name.c_str(),
                digits, measured, unit, BoundText(bound), digits, target, unit,
                target != 0 ? measured / target : 0.0, pass ? "PASS" : "FAIL",
                note.empty() ? "" : " ", note.c_str());
    std::fflush(stdout);
    return pass;
}

// The median of a series of measurements (the mean of the middle two of an even count).
inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

inline double Seconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

inline double Milliseconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// A figure that could not be measured at all counts as a failure.
inline bool NotMeasured(const std::string &name, const std::string &why) {
    std::printf("result %s measured=none target=- ratio=- FAIL (%s)\n", name.c_str(), why.c_str());
    std::fflush(stdout);
    return false;
}

}  // namespace vyn::bench
