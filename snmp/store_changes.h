// Whether anybody wrote to the store since the last look, without reading it: the kernel tells
// (inotify) when the database or its write-ahead log is written, created or replaced. An idle
// store then costs the subagent nothing but its timer.
#pragma once

#include <string>

#include "base/unique_fd.h"

namespace vyn::snmp {

class StoreChanges {
  public:
    explicit StoreChanges(const std::string &storePath);

    // The descriptor to wait on (readable when something happened); -1 when the kernel cannot
    // watch, in which case every look counts as changed.
    int fd() const { return fd_.Get(); }

    // Reads what the kernel reported; call when fd() is readable.
    void Drain();

    // True once after the store changed (and at first), then false until it changes again.
    bool TakeChanged();

  private:
    UniqueFd fd_;
    std::string name_;     // the database's file name, without its directory
    bool changed_ = true;  // whoever looks first must read the store
};

}  // namespace vyn::snmp
