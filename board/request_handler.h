// Answers the requests of the control protocol (see board/protocol.h) against the board.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "board/board_model.h"

namespace vyn::board {

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
    Answer Show(const Words &args);

    // The port named by the first argument, or null with `answer` set to the error.
    Port *PortArgument(const Words &args, std::size_t count, Answer &answer);

    BoardModel &board_;
};

Answer Ok(std::string_view values = {});
Answer Error(std::uint32_t code, std::string_view text, bool close = false);

}  // namespace vyn::board
