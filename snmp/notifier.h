// Sends vynLoopTestCompleted through the master agent, one for each new result, in the order
// the results were found. Results found while the master agent is not connected wait for it.
#pragma once

#include <cstddef>
#include <deque>

#include "snmp/completion_watch.h"

namespace vyn::snmp {

class Notifier {
  public:
    Notifier();
    ~Notifier();
    Notifier(const Notifier &) = delete;
    Notifier &operator=(const Notifier &) = delete;

    void Queue(const PortResult &result);

    // Sends what waits, if the master agent is connected.
    void Flush();

    std::size_t Waiting() const { return queue_.size(); }

  private:
    static int OnSession(int major, int minor, void *server, void *client);

    // Both are used on the agent library's thread only: its callbacks run there.
    bool connected_ = false;
    std::deque<PortResult> queue_;
};

}  // namespace vyn::snmp
