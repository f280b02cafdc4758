// The board's ports and the state that spans them: where characters go, and the simulated
// remote access service with its reservations. Runs on the board's one event-loop thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "board/client/client.h"
#include "board/port.h"

namespace vyn::board {

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
    bool serviceRunning_ = false;
    std::uint32_t nextHandle_ = 1;
};

}  // namespace vyn::board
