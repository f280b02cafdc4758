// The board's answers about modem lines and breaks: OUTPUTS, MODEM, BREAK, and the line faults
// of SET and SHOW.
#include "board/request_handler.h"

namespace vyn::board {

namespace {

std::string ModemValues(const ModemState &state) {
    return std::to_string(state.lines) + " " + std::to_string(state.readable);
}

bool ParseSwap(std::string_view text, std::pair<std::uint32_t, std::uint32_t> &swap) {
    if (text == "none") {
        swap = {0, 0};
        return true;
    }
    std::size_t colon = text.find(':');
    return colon != std::string_view::npos &&
           ParseLineNames(text.substr(0, colon), kInputLines, swap.first) &&
           ParseLineNames(text.substr(colon + 1), kInputLines, swap.second) && swap.first != 0 &&
           swap.second != 0 && (swap.first & (swap.first - 1)) == 0 &&
           (swap.second & (swap.second - 1)) == 0 && swap.first != swap.second;
}

}  // namespace

std::string LineFaultValues(const LineFaults &faults) {
    std::string swap = faults.swapA == 0
                           ? "none"
                           : FormatLineNames(faults.swapA) + ":" + FormatLineNames(faults.swapB);
    return "dead=" + FormatLineNames(faults.dead) + " stuck=" + FormatLineNames(faults.stuck) +
           " swap=" + swap + " held=" + FormatLineNames(faults.held) +
           " unread=" + FormatLineNames(faults.unread);
}

void ApplyLineChanges(const PortChanges &changes, LineFaults &faults) {
    if (changes.dead) {
        faults.dead = *changes.dead;
    }
    if (changes.stuck) {
        faults.stuck = *changes.stuck;
    }
    if (changes.swap) {
        faults.swapA = changes.swap->first;
        faults.swapB = changes.swap->second;
    }
    if (changes.held) {
        faults.held = *changes.held;
    }
    if (changes.unread) {
        faults.unread = *changes.unread;
    }
}

RequestHandler::Setting RequestHandler::ParseLineSetting(std::string_view key,
                                                         std::string_view value,
                                                         PortChanges &changes) {
    std::uint32_t lines = 0;
    bool valid = false;
    if (key == "dead" || key == "stuck" || key == "unread") {
        valid = ParseLineNames(value, kInputLines, lines);
        (key == "dead" ? changes.dead : key == "stuck" ? changes.stuck : changes.unread) = lines;
    } else if (key == "held") {
        valid = ParseLineNames(value, kOutputLines, lines);
        changes.held = lines;
    } else if (key == "swap") {
        std::pair<std::uint32_t, std::uint32_t> swap;
        valid = ParseSwap(value, swap);
        changes.swap = swap;
    } else {
        return Setting::kUnknownKey;
    }
    return valid ? Setting::kValid : Setting::kBadValue;
}

Answer RequestHandler::Outputs(const Words &args) {
    Answer answer;
    Port *port = PortArgument(args, 3, answer);
    if (port == nullptr) {
        return answer;
    }
    std::uint32_t set = 0;
    std::uint32_t clear = 0;
    if (!ParseNumber(args[1], set, kOutputLines) || !ParseNumber(args[2], clear, kOutputLines)) {
        return Error(ERROR_INVALID_PARAMETER, "outputs are masks of 0 to 15");
    }
    port->outputs = (port->outputs & ~clear) | set;
    return Ok(ModemValues(board_.Modem(*port)));
}

Answer RequestHandler::Modem(const Words &args) {
    Answer answer;
    Port *port = PortArgument(args, 1, answer);
    return port == nullptr ? answer : Ok(ModemValues(board_.Modem(*port)));
}

Answer RequestHandler::Break(const Words &args) {
    Answer answer;
    Port *port = PortArgument(args, 2, answer);
    if (port == nullptr) {
        return answer;
    }
    if (args[1] != "on" && args[1] != "off") {
        return Error(ERROR_INVALID_PARAMETER, "break must be on or off");
    }
    board_.SetBreak(*port, args[1] == "on");
    return Ok();
}

}  // namespace vyn::board
