#include "board/open_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vyn::board {

bool OpenWatch::Open(std::string &error) {
    fd_.Reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!fd_.Valid()) {
        error = std::string("cannot watch the ports' terminals: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool OpenWatch::Watch(const std::string &path, int index, std::string &error) {
    int watch = inotify_add_watch(fd_.Get(), path.c_str(), IN_OPEN | IN_CLOSE);
    if (watch < 0) {
        error = "cannot watch " + path + ": " + std::strerror(errno);
        return false;
    }
    ports_[watch] = index;
    return true;
}

void OpenWatch::Forget(int index) {
    for (auto at = ports_.begin(); at != ports_.end();) {
        if (at->second == index) {
            inotify_rm_watch(fd_.Get(), at->first);
            at = ports_.erase(at);
        } else {
            ++at;
        }
    }
}

void OpenWatch::Apply(BoardModel &board) {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        ssize_t count = ::read(fd_.Get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return;  // EAGAIN: nothing more for now
        }
        for (char *at = buffer; at < buffer + count;) {
            const auto *event = reinterpret_cast<const inotify_event *>(at);
            at += sizeof(inotify_event) + event->len;
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                // Events were lost: nobody can tell any more who has a port open.
                for (int index = 0; index < board.portCount(); ++index) {
                    board.At(index).OpenersUnknown();
                }
                continue;
            }
            auto port = ports_.find(event->wd);
            if (port == ports_.end()) {
                continue;
            }
            if ((event->mask & IN_OPEN) != 0) {
                board.At(port->second).Opened();
            }
            if ((event->mask & IN_CLOSE) != 0) {
                board.At(port->second).Closed();
            }
        }
    }
}

}  // namespace vyn::board
