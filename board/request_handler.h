// Answers the requests of the control protocol (see board/client/protocol.h) against the board.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "board/board_model.h"

namespace vyn::board {

// The changes of one SET request, applied only once all of them are valid.
struct PortChanges {
    std::optional<Plug> plug;
    std::optional<bool> loopback;
    std::optional<std::uint32_t> corrupt;
    std::optional<std::uint32_t> framing;
    std::optional<std::uint32_t> drop;
    std::optional<std::uint32_t> keepSpeed;
    std::optional<std::vector<std::uint8_t>> stray;
    std::optional<std::size_t> receiveBuffer;
    std::optional<bool> hold;
    std::optional<std::uint32_t> dead;
    std::optional<std::uint32_t> stuck;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> swap;
    std::optional<std::uint32_t> held;
    std::optional<std::uint32_t> unread;
    std::optional<bool> present;
};

struct Answer {
    std::string line;    // with its newline
    bool close = false;  // the request was not one: drop the connection after answering
};

class RequestHandler {
  public:
    explicit RequestHandler(BoardModel &board) : board_(board) {}

    // One request line, without its newline.
    Answer Handle(std::string_view line, Clock::time_point now);

  private:
    using Words = std::vector<std::string_view>;

    Answer Dispatch(std::string_view verb, const Words &args, Clock::time_point now);
    Answer Line(const Words &args, Clock::time_point now);
    Answer GetLine(const Words &args);
    Answer Loopback(const Words &args, bool byIndex);
    Answer Queue(const Words &args);
    Answer Purge(const Words &args);
    Answer Errors(const Words &args);
    Answer Service(const Words &args);
    Answer Reserve(const Words &args);
    Answer Free(const Words &args);
    Answer Held(const Words &args);
    Answer Set(const Words &args, Clock::time_point now);
    // The modem lines and breaks (line_requests.cpp).
    Answer Outputs(const Words &args);
    Answer Modem(const Words &args);
    Answer Break(const Words &args);
    enum class Setting { kValid, kBadValue, kUnknownKey };
    Setting ParseSetting(std::string_view key, std::string_view value, PortChanges &changes);
    static Setting ParseLineSetting(std::string_view key, std::string_view value,
                                    PortChanges &changes);
    Answer Show(const Words &args);

    // The port named by the first argument, or null with `answer` set to the error. A removed
    // port is refused (ERROR_DEVICE_NOT_CONNECTED, as a driver answers for a pulled adapter)
    // unless `absentToo`.
    Port *PortArgument(const Words &args, std::size_t count, Answer &answer,
                       bool absentToo = false);

    BoardModel &board_;
};

Answer Ok(std::string_view values = {});
Answer Error(std::uint32_t code, std::string_view text, bool close = false);

// The line faults of a port as SHOW gives them ("dead=... stuck=... swap=... held=... unread=...").
std::string LineFaultValues(const LineFaults &faults);
// Applies the line faults of a SET whose settings were all valid.
void ApplyLineChanges(const PortChanges &changes, LineFaults &faults);

}  // namespace vyn::board
