#include "board/fault_injector.h"

#include "board/protocol.h"

namespace vyn::board {

FaultOutcome FaultInjector::Apply(std::span<const std::uint8_t> arriving,
                                  std::vector<std::uint8_t> &out) {
    FaultOutcome outcome;
    if (arriving.empty()) {
        return outcome;
    }
    if (!stray_.empty()) {
        out.insert(out.end(), stray_.begin(), stray_.end());
        stray_.clear();
    }
    for (std::uint8_t character : arriving) {
        if (framingEvery_ != 0 && ++framingCount_ == framingEvery_) {
            framingCount_ = 0;
            ++outcome.framingErrors;
            continue;
        }
        if (dropEvery_ != 0 && ++dropCount_ == dropEvery_) {
            dropCount_ = 0;
            ++outcome.dropped;
            continue;
        }
        if (corruptEvery_ != 0 && ++corruptCount_ == corruptEvery_) {
            corruptCount_ = 0;
            character ^= 0x01;
            ++outcome.corrupted;
        }
        out.push_back(character);
    }
    return outcome;
}

bool ParseStrayBytes(std::string_view text, std::vector<std::uint8_t> &bytes) {
    bytes.clear();
    if (text == "0" || text == "none") {
        return true;
    }
    if (text.empty() || text.size() % 2 != 0 || text.size() / 2 > FaultInjector::kMaxStrayBytes) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int high = HexDigit(text[i]);
        int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) {
            bytes.clear();
            return false;
        }
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return true;
}

std::string FormatStrayBytes(const std::vector<std::uint8_t> &bytes) {
    if (bytes.empty()) {
        return "none";
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0f];
    }
    return text;
}

}  // namespace vyn::board
