// Texts as every face of a rack shows them: one line of a published text, the words of a
// vocabulary table.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "mml/vocabulary.h"

namespace vyn::console {

// `text` with line breaks and other control characters shown as blanks, so that it fits one line.
std::string OneLine(std::string_view text);

// The words of a vocabulary table, in its order, joined by `separator`: "none|odd|even".
std::string JoinWords(std::span<const vocabulary::Word> table, std::string_view separator);

}  // namespace vyn::console
