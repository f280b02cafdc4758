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

std::string OneLine(std::string_view text) {
    std::string line(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    for (char &c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = ' ';
        }
    }
    return line;
}

std::string JoinWords(std::span<const vocabulary::Word> table, std::string_view separator) {
    std::string joined;
    for (const vocabulary::Word &entry : table) {
        joined += (joined.empty() ? "" : std::string(separator)) + std::string(entry.word);
    }
    return joined;
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
