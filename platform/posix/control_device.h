// The board's control device "\\.\Kyrx1": the board's control socket in the device directory,
// through which the internal loopback of a port is switched by the port's index.
#pragma once

#include <string>

#include "board/client/client.h"
#include "platform/driver_control.h"
#include "platform/posix/handles.h"
#include "platform/win32.h"

namespace vyn::platform {

// Its control codes (ControlLoopbackOn, ControlLoopbackOff in platform/driver_control.h) switch the
// internal loopback of the port whose 0-based index is the 4-byte input; the 4-byte output stays
// 0 when it is done.
class ControlDevice final : public KernelObject {
  public:
    explicit ControlDevice(const std::string &socketPath);

    // Checks that a board answers behind the socket.
    DWORD Probe();

    DWORD Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize,
                  DWORD *returned);

  private:
    board::Client client_;
};

// The control socket of the device directory's board, which is also its control device.
std::string BoardSocketPath();

// Opens the control device of the device directory's board. Null with the Win32 error when no
// board answers there.
HANDLE OpenControlDevice(DWORD &error);

}  // namespace vyn::platform
