// The board's ports and the state that spans them: where characters go, and the simulated
// remote access service with its reservations. Runs on the board's one event-loop thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "board/client/client.h"
#include "board/port.h"

namespace vyn::board {

// What serves a port's device besides the port itself (its link in the board's directory, the
// watch on its opens, the event loop): told just before a port is removed and just after it is
// back, when `restored` may refuse with a reason.
struct PresenceHooks {
    std::function<void(Port &)> removing;
    std::function<bool(Port &, std::string &)> restored;
};

class BoardModel {
  public:
    static constexpr int kMaxPorts = 64;

    // Opens `count` ports COM1 ... COM<count>. False with a reason on failure.
    bool Open(int count, std::string &error);

    int portCount() const { return static_cast<int>(ports_.size()); }
    Port &At(int index) { return *ports_[static_cast<std::size_t>(index)]; }
    // The port named "COM<n>", or null.
    Port *Find(std::string_view name);

    // Hands every character that finished on its line to the receiver it goes to, and what
    // waited in receive buffers to the readers that made room. Returns whether any port still
    // has characters to send or to deliver.
    bool Transmit(Clock::time_point now);
    bool Transmitting() const;

    // The port's modem lines as its driver reports them: the outputs on its pins and the inputs
    // its wiring and line faults make.
    ModemState Modem(Port &port);
    // Puts the port's line into the break condition (on) or lets it go; a break starting on a
    // line reaches the receiver the line goes to.
    void SetBreak(Port &port, bool on);

    // The slow duties: following termios changes and getting back the locks of held ports.
    void Housekeeping(Clock::time_point now);

    void SetPresenceHooks(PresenceHooks hooks) { presenceHooks_ = std::move(hooks); }
    // Removes the port (a USB adapter pulled out) or brings it back as a new device. False with
    // a reason when it cannot come back; it then stays removed.
    bool SetPresent(Port &port, bool present, std::string &error);

    bool serviceRunning() const { return serviceRunning_; }
    void SetServiceRunning(bool running) { serviceRunning_ = running; }

    // Lends a held port out; 0 with `error` set to a Win32 code when refused.
    std::uint32_t Reserve(Port &port, std::uint32_t &error);
    // Takes a lent port back; false for an unknown handle.
    bool Free(std::uint32_t handle);

  private:
    Port *Destination(Port &port);
    // The port whose outputs drive `port`'s inputs, and how.
    Port *LineSource(Port &port, Wiring &wiring);

    std::vector<std::unique_ptr<Port>> ports_;
    std::vector<std::uint8_t> sent_;
    PresenceHooks presenceHooks_;
    bool serviceRunning_ = false;
    std::uint32_t nextHandle_ = 1;
};

}  // namespace vyn::board
