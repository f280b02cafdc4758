#include "console/output.h"

#include <algorithm>
#include <iostream>

namespace vyn::console {

namespace {

void PrintError(std::string_view message) {
    std::cerr << "vynloopctl: " << OneLine(message) << '\n' << std::flush;
}

}  // namespace

int Fail(std::string_view message) {
    PrintError(message);
    return kExitFailure;
}

int Negative(std::string_view message) {
    PrintError(message);
    return kExitNegative;
}

void PrintTable(const std::vector<std::vector<std::string>> &rows) {
    std::vector<std::size_t> widths;
    for (const auto &row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    for (const auto &row : rows) {
        std::string text;
        for (std::size_t i = 0; i < row.size(); ++i) {
            text += row[i];
            if (i + 1 < row.size()) {
                text += std::string(widths[i] - row[i].size() + 2, ' ');
            }
        }
        while (!text.empty() && text.back() == ' ') {
            text.pop_back();
        }
        std::cout << text << '\n';
    }
}

}  // namespace vyn::console
