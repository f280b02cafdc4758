// What a real serial port held when the agent opened it (its termios and modem outputs, internal
// loopback included), kept in a file of the run directory for as long as the port is open. The
// kernel keeps both from one user to the next, so an agent that dies with a port open would leave
// it looped back or misconfigured for good; the next agent to start, or to open that port, puts
// back what the file says. Board ports need none: the board resets a port at its last close.
#pragma once

#include <memory>
#include <string>

namespace vyn::platform {

class PortStateRecord {
  public:
    // Reads the state of the open port `fd` (the device at `path`) and writes its file. Null when
    // the state cannot be read or the file written: the port is then used without one.
    static std::unique_ptr<PortStateRecord> Keep(const std::string &path, int fd);
    // Removes the file: the port has been put back by its own close.
    ~PortStateRecord();
    PortStateRecord(const PortStateRecord &) = delete;
    PortStateRecord &operator=(const PortStateRecord &) = delete;

  private:
    explicit PortStateRecord(std::string file) : file_(std::move(file)) {}
    std::string file_;
};

// Puts back the port of every record left in the run directory whose port nobody holds now, and
// removes those records. Returns the number of ports put back.
int RestoreLeftPorts();

// The same for one port that the caller has just opened and locked (`fd`), before it reads what
// the port holds.
void RestoreLeftPort(const std::string &path, int fd);

}  // namespace vyn::platform
