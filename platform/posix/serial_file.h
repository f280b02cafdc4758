// The port handle: an open serial device, exclusively ours (flock plus TIOCEXCL), in raw mode,
// taken into the reactor for overlapped I/O, with the driver that does the rest.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "base/unique_fd.h"
#include "platform/posix/handles.h"
#include "platform/posix/port_driver.h"
#include "platform/posix/port_state_record.h"
#include "platform/win32.h"

namespace vyn::platform {

// The longest port name that "\\.\NAME" may carry.
inline constexpr std::size_t kMaxDeviceName = 64;

// Takes NAME out of "\\.\NAME": ERROR_SUCCESS, or ERROR_INVALID_NAME unless NAME is a plain name
// (not empty, not "." or "..", no '/', '\', blank or control character, at most
// kMaxDeviceName characters).
DWORD DeviceNameOf(const char *fileName, std::string &name);

// Virtual consoles, the machine's console and /dev/tty: character major 4 with a minor below
// 64, and major 5.
bool IsConsoleDevice(unsigned major, unsigned minor);

// A pseudo-terminal slave: character majors 136 to 143.
bool IsPtySlave(unsigned major);

// A terminal this machine's kernel writes its console to, from sysfs (nothing is opened).
bool IsActiveConsole(dev_t device);

class SerialPort final : public KernelObject {
  public:
    SerialPort(UniqueFd fd, std::unique_ptr<PortDriver> driver, std::uint64_t channel,
               DWORD access);
    ~SerialPort() override;

    // Ends pending operations (ERROR_OPERATION_ABORTED), lets the driver leave the port as it
    // found it and gives up the port's exclusivity at once; the descriptor itself closes with the
    // last reference.
    void OnClose() override;

    bool IsOpen() const { return !closed_.load(std::memory_order_acquire); }
    std::uint64_t channel() const { return channel_; }
    PortDriver &driver() { return *driver_; }
    bool CanRead() const { return (access_ & GENERIC_READ) != 0; }
    bool CanWrite() const { return (access_ & GENERIC_WRITE) != 0; }

    COMMTIMEOUTS Timeouts() const;
    void SetTimeouts(const COMMTIMEOUTS &timeouts);

    // The DCB as last set (members the device does not hold are reported from it).
    DCB LastDcb() const;
    void SetLastDcb(const DCB &dcb);

    // Held across a whole change of the line setting, so that two changes do not interleave.
    std::mutex &settingMutex() { return settingMutex_; }

    // What the port held when it was opened, kept in the run directory until it is put back.
    void KeepStateRecord(std::unique_ptr<PortStateRecord> record) {
        stateRecord_ = std::move(record);
    }

  private:
    UniqueFd fd_;
    std::unique_ptr<PortDriver> driver_;
    const std::uint64_t channel_;
    const DWORD access_;
    std::atomic<bool> closed_{false};
    mutable std::mutex mutex_;  // guards timeouts_ and dcb_
    COMMTIMEOUTS timeouts_{};
    DCB dcb_;
    std::mutex settingMutex_;
    std::unique_ptr<PortStateRecord> stateRecord_;  // set before the port is shared; null for none
};

// The open port behind a handle, or null with the last error set: ERROR_INVALID_FUNCTION for the
// control device, which is no port, and ERROR_INVALID_HANDLE for anything else.
std::shared_ptr<SerialPort> PortOf(HANDLE file);

// Opens the port NAME of the device directory. Returns the handle, or null with the Win32 error.
HANDLE OpenSerialPort(const std::string &name, DWORD access, DWORD &error);

}  // namespace vyn::platform
