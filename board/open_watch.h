// Who has a board port's terminal open, learned from the kernel: an inotify watch on each pty
// slave reports every open and close of it, whoever makes them, so that a port can behave like a
// UART that works only while somebody has it open.
//
// The board's own descriptor of each slave is opened before the watch starts and is never
// counted; when the board reopens its descriptor (after a hang-up) the new open and the old
// close cancel out.
#pragma once

#include <string>
#include <unordered_map>

#include "base/unique_fd.h"
#include "board/board_model.h"

namespace vyn::board {

class OpenWatch {
  public:
    bool Open(std::string &error);
    int fd() const { return fd_.Get(); }
    // Counts the opens and closes of the terminal at `path` as those of port `index`.
    bool Watch(const std::string &path, int index, std::string &error);
    // Stops counting port `index`'s opens and closes (its terminal is going away); what was
    // reported of it and not yet applied is dropped.
    void Forget(int index);
    // Applies every open and close reported so far to the board's ports. Called before
    // characters move, so that a port opened before something was written to its peer is open
    // when that reaches it.
    void Apply(BoardModel &board);

  private:
    UniqueFd fd_;
    std::unordered_map<int, int> ports_;  // watch descriptor -> port index
};

}  // namespace vyn::board
