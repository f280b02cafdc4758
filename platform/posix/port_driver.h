// What a serial port's driver does besides moving data: line settings, internal loopback, queue
// sizes, purges and error flags. A port handle holds one: the real-UART driver for a serial
// device of this machine, or the virtual board's driver for a board port.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "platform/driver_control.h"
#include "platform/posix/serial_line.h"
#include "platform/win32.h"

namespace vyn::platform {

class PortDriver {
  public:
    virtual ~PortDriver() = default;

    // The most bytes handed to the device by one write() call, and the least time between two
    // such pieces.
    virtual std::size_t WritePiece() const = 0;
    virtual std::chrono::nanoseconds PieceGap() const { return std::chrono::nanoseconds::zero(); }
    // The most bytes per second that can arrive from the line as it is set, or 0 when unknown.
    virtual std::uint64_t ArrivalCeiling() const { return 0; }

    // Each call returns ERROR_SUCCESS or the Win32 error that describes the failure.
    virtual DWORD SetLine(const SerialLine &line) = 0;
    virtual DWORD GetLine(SerialLine &line) = 0;
    virtual DWORD SetLoopback(bool on) = 0;
    // Bytes the device holds and has not yet put on the line.
    virtual DWORD OutputQueue(DWORD &bytes) = 0;
    // Bytes received and not yet read.
    virtual DWORD InputQueue(DWORD &bytes) = 0;
    virtual DWORD Purge(bool receive, bool transmit) = 0;
    // CE_* flags for the receive errors that happened since the last call.
    virtual DWORD TakeErrors(DWORD &flags) = 0;
    // The receive errors of each kind counted since the port was opened; all 0 where the driver
    // keeps no counts.
    virtual DWORD ErrorCounts(DriverErrorCounts &counts) = 0;
    // Switches the modem outputs in `set` on and those in `clear` off (ModemLine bits).
    virtual DWORD SetModemOutputs(uint32_t set, uint32_t clear) = 0;
    // The outputs as the driver holds them, the inputs that are on, and the inputs it can read.
    virtual DWORD ModemLines(ModemLineState &state) = 0;
    // Holds the line in the break condition (on) or lets it go (off).
    virtual DWORD SetBreak(bool on) = 0;
    // The port is being closed: whatever the driver changed that outlives a close goes back.
    virtual void Release() {}
};

}  // namespace vyn::platform
