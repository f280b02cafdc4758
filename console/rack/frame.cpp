#include "console/rack/frame.h"

#include <cctype>

#include "mml/vocabulary.h"

namespace vyn::console {

namespace {

char ParityLetter(std::string_view word) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
}

std::string Letters() {
    std::string letters;
    for (const vocabulary::Word &entry : vocabulary::kParityWords) {
        letters += ParityLetter(entry.word);
    }
    return letters;
}

// Fills `reason` ("bad frame '9N1': ...") and returns false.
bool Refuse(std::string &reason, std::string_view start, std::string_view text,
            std::string_view why) {
    reason.assign(start);
    reason.append(" '").append(text).append("'").append(why);
    return false;
}

}  // namespace

bool ParseFrame(std::string_view text, Frame &frame, std::string &reason) {
    if (text.size() < 3 || text[0] < '0' || text[0] > '9') {
        return Refuse(reason, "bad frame", text,
                      ": data bits, parity and stop bits, as in 8N1 or 5O1.5");
    }
    frame.dataBits = text[0] - '0';
    if (frame.dataBits < kMinDataBits || frame.dataBits > kMaxDataBits) {
        return Refuse(reason, "bad frame", text,
                      ": data bits are " + std::to_string(kMinDataBits) + " to " +
                          std::to_string(kMaxDataBits));
    }
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])));
    bool parityKnown = false;
    for (const vocabulary::Word &entry : vocabulary::kParityWords) {
        if (ParityLetter(entry.word) == letter) {
            frame.parity = entry.value;
            parityKnown = true;
        }
    }
    if (!parityKnown) {
        return Refuse(reason, "bad frame", text, ": parity is one of " + Letters());
    }
    auto stopBits = vocabulary::ValueOf(vocabulary::kStopBitsWords, text.substr(2));
    if (!stopBits) {
        return Refuse(reason, "bad frame", text, ": stop bits are 1, 1.5 or 2");
    }
    frame.stopBits = *stopBits;
    if (!StopBitsFitDataBits(frame.dataBits, frame.stopBits)) {
        return Refuse(reason, "frame", text,
                      " is not one a UART sends: 1.5 stop bits go with 5 data bits, 2 with 6 to 8");
    }
    return true;
}

std::string FrameText(int32_t dataBits, int32_t parity, int32_t stopBits) {
    auto parityWord = vocabulary::WordOf(vocabulary::kParityWords, parity);
    auto stopWord = vocabulary::WordOf(vocabulary::kStopBitsWords, stopBits);
    return std::to_string(dataBits) + (parityWord ? ParityLetter(*parityWord) : '?') +
           std::string(stopWord.value_or("?"));
}

}  // namespace vyn::console
