// Shows a set of lines that change over time. On a terminal they are redrawn in place (cursor up,
// clear line), and a line longer than Columns() is cut so that none wraps; elsewhere each line is
// printed again only when it changed, without escape codes.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace vyn::console {

class LiveView {
  public:
    // `out` is standard output, a terminal when `terminal` is set.
    LiveView(std::FILE *out, bool terminal) : out_(out), terminal_(terminal) {}

    void Show(const std::vector<std::string> &lines);
    // Something else was printed below the view (a question): the next Show draws afresh.
    void Detach() { drawn_ = 0; }

    bool Terminal() const { return terminal_; }
    // The characters a line may take on the terminal now; 0 (no limit) elsewhere.
    std::size_t Columns() const;

  private:
    std::FILE *out_;
    bool terminal_;
    std::size_t drawn_ = 0;           // terminal: lines drawn that the next Show overwrites
    std::vector<std::string> shown_;  // plain: the last printed text of each line
};

}  // namespace vyn::console
