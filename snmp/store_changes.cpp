#include "snmp/store_changes.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>

namespace vyn::snmp {

StoreChanges::StoreChanges(const std::string &storePath)
    : name_(std::filesystem::path(storePath).filename().string()) {
    // The directory is watched, not the file: the file may not exist yet or may be replaced.
    std::string dir = std::filesystem::path(storePath).parent_path().string();
    fd_.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (fd_.Valid() && ::inotify_add_watch(fd_.Get(), dir.empty() ? "." : dir.c_str(),
                                           IN_MODIFY | IN_CREATE | IN_MOVED_TO | IN_DELETE) < 0) {
        fd_.Reset();
    }
}

void StoreChanges::Drain() {
    alignas(inotify_event) char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fd_.Get(), buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < got;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            // The database, its -wal and -journal files; a lost event counts as a change.
            std::string_view file = event->len > 0 ? event->name : "";
            if ((event->mask & IN_Q_OVERFLOW) != 0 || file.substr(0, name_.size()) == name_) {
                changed_ = true;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

bool StoreChanges::TakeChanged() {
    if (!fd_.Valid()) {
        return true;
    }
    bool changed = changed_;
    changed_ = false;
    return changed;
}

}  // namespace vyn::snmp
