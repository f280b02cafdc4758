// Small text tools that the programs share: hexadecimal digits and the words of a line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vyn {

// The value of one hexadecimal digit, or -1.
inline int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Bytes as lowercase hexadecimal digits, two a byte: "0d0a" for CR LF.
inline std::string HexText(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * bytes.size());
    for (unsigned char c : bytes) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

// Splits a line into the words between blanks (and tabs).
inline std::vector<std::string_view> SplitWords(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < line.size()) {
        std::size_t start = line.find_first_not_of(" \t", at);
        if (start == std::string_view::npos) {
            break;
        }
        std::size_t end = line.find_first_of(" \t", start);
        if (end == std::string_view::npos) {
            end = line.size();
        }
        words.push_back(line.substr(start, end - start));
        at = end;
    }
    return words;
}

}  // namespace vyn
