// The board's control requests as any client may send them: every line is answered with exactly
// one line, OK or ERR with a code, and a line that is not a request also closes the connection.
// The board keeps running between lines (lines carry characters, housekeeping follows termios),
// so that a request that leaves a port in a bad state shows on the next ones.
#include <chrono>
#include <string>
#include <string_view>

#include "board/board_model.h"
#include "board/request_handler.h"
#include "fuzz/fuzz_check.h"

namespace {

constexpr int kPorts = 4;

vyn::board::BoardModel *Board() {
    static vyn::board::BoardModel *board = [] {
        auto *made = new vyn::board::BoardModel;
        std::string error;
        if (!made->Open(kPorts, error)) {
            std::fprintf(stderr, "cannot open the board: %s\n", error.c_str());
            std::abort();
        }
        return made;
    }();
    return board;
}

void CheckAnswer(const vyn::board::Answer &answer) {
    std::string_view line = answer.line;
    FUZZ_CHECK(!line.empty() && line.back() == '\n');
    FUZZ_CHECK(line.find('\n') == line.size() - 1);
    FUZZ_CHECK(line == "OK\n" || line.starts_with("OK ") || line.starts_with("ERR "));
    if (line.starts_with("ERR ")) {
        std::size_t digits = line.find_first_not_of("0123456789", 4);
        FUZZ_CHECK(digits > 4 && digits != std::string_view::npos && line[digits] == ' ');
    }
    FUZZ_CHECK(!answer.close || line.starts_with("ERR "));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    vyn::board::BoardModel &board = *Board();
    vyn::board::RequestHandler handler(board);
    static auto now = vyn::board::Clock::now();
    std::string_view lines(reinterpret_cast<const char *>(data), size);
    while (!lines.empty()) {
        std::size_t end = lines.find('\n');
        std::string_view line = lines.substr(0, end);
        lines = end == std::string_view::npos ? std::string_view() : lines.substr(end + 1);
        CheckAnswer(handler.Handle(line, now));
        now += std::chrono::milliseconds(7);
        board.Transmit(now);
        board.Housekeeping(now);
    }
    return 0;
}
