#include "console/live_view.h"

#include "console/host.h"

namespace vyn::console {

void LiveView::Show(const std::vector<std::string> &lines) {
    std::string text;
    if (terminal_) {
        std::size_t columns = Columns();  // again each time: the window may change
        if (drawn_ > 0) {
            text += "\x1b[" + std::to_string(drawn_) + "A";
        }
        for (const std::string &line : lines) {
            text += "\r\x1b[2K" + line.substr(0, columns) + "\n";
        }
        drawn_ = lines.size();
    } else {
        shown_.resize(lines.size());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i] != shown_[i]) {
                text += lines[i] + "\n";
                shown_[i] = lines[i];
            }
        }
    }
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
}

std::size_t LiveView::Columns() const {
    // One column stays free: writing the last column would leave the cursor there.
    return terminal_ ? TerminalWidth(out_) - 1 : 0;
}

}  // namespace vyn::console
