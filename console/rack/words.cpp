#include "console/rack/words.h"

namespace vyn::console {

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

}  // namespace vyn::console
