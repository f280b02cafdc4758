// Frames as people write them: data bits, parity letter, stop bits ("8N1", "7E1", "8N2",
// "5O1.5"), read with the vocabulary's parity words and stop-bit figures and the data-bit limits
// the agent sets. A frame that no UART sends (1.5 stop bits beside 6 to 8 data bits, 2 beside 5)
// is refused here, before any test asks for it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vyn::console {

struct Frame {
    int32_t dataBits = 8;
    int32_t parity = 0;    // a LoopParity
    int32_t stopBits = 0;  // a LoopStopBits
};

// False with a one-line reason that names the text.
bool ParseFrame(std::string_view text, Frame &frame, std::string &reason);

// "8N1", "5M1.5"; '?' for a value the vocabulary does not have.
std::string FrameText(int32_t dataBits, int32_t parity, int32_t stopBits);

}  // namespace vyn::console
