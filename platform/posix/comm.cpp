// The Comm calls on port handles (line settings, time-outs, queue and error status, purges,
// modem lines and breaks) and DeviceIoControl on ports (internal loopback, error counts, OUT1 and
// OUT2 and the lines the driver holds) and on the board's control device.
#include <cstring>

#include "platform/driver_control.h"
#include "platform/posix/control_device.h"
#include "platform/posix/error.h"
#include "platform/posix/handles.h"
#include "platform/posix/overlapped.h"
#include "platform/posix/serial_file.h"
#include "platform/posix/serial_line.h"

namespace vyn::platform {

namespace {

// How often a queue reading is retried when a write moved bytes into the device meanwhile.
constexpr int kQueueAttempts = 3;

BOOL Done(DWORD error) {
    if (error != ERROR_SUCCESS) {
        return FailWith(error);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// Bytes not yet on the line: what pending writes still hold plus the device's own queue. The
// two are read apart, so a reading during which the reactor handed bytes to the device (which
// could count them twice or not at all) is taken again.
DWORD OutputBacklog(SerialPort &port, DWORD &bytes) {
    Reactor &reactor = Reactor::Instance();
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kQueueAttempts; ++attempt) {
        Reactor::WriteBacklog before = reactor.Backlog(port.channel());
        DWORD queued = 0;
        error = port.driver().OutputQueue(queued);
        if (error != ERROR_SUCCESS) {
            return error;
        }
        Reactor::WriteBacklog after = reactor.Backlog(port.channel());
        bytes = after.unsent + queued;
        if (before.handed == after.handed) {
            break;
        }
    }
    return error;
}

}  // namespace

// The modem-line codes: switch outputs (and report the lines after), or report the lines.
BOOL ModemLineControl(SerialPort &port, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                      DWORD outSize, LPDWORD bytesReturned) {
    if (code == IoctlPortSetModemOutputs) {
        ModemOutputChange change{};
        if (in == nullptr || inSize < sizeof change) {
            return FailWith(ERROR_INVALID_PARAMETER);
        }
        std::memcpy(&change, in, sizeof change);
        if (DWORD error = port.driver().SetModemOutputs(change.set, change.clear);
            error != ERROR_SUCCESS) {
            return FailWith(error);
        }
        if (out == nullptr) {
            return Done(ERROR_SUCCESS);
        }
    }
    if (out == nullptr || outSize < sizeof(ModemLineState)) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    ModemLineState state{};
    if (DWORD error = port.driver().ModemLines(state); error != ERROR_SUCCESS) {
        return FailWith(error);
    }
    std::memcpy(out, &state, sizeof state);
    if (bytesReturned != nullptr) {
        *bytesReturned = sizeof state;
    }
    return Done(ERROR_SUCCESS);
}

}  // namespace vyn::platform

using vyn::platform::Done;
using vyn::platform::FailWith;
using vyn::platform::PortOf;

BOOL WINAPI GetCommState(HANDLE file, DCB *dcb) {
    auto port = PortOf(file);
    if (!port) {
        return FALSE;
    }
    if (dcb == nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    vyn::platform::SerialLine line;
    if (DWORD error = port->driver().GetLine(line); error != ERROR_SUCCESS) {
        return FailWith(error);
    }
    DCB current = port->LastDcb();
    vyn::platform::ApplyLineToDcb(line, current);
    *dcb = current;
    return Done(ERROR_SUCCESS);
}

BOOL WINAPI SetCommState(HANDLE file, DCB *dcb) {
    auto port = PortOf(file);
    if (!port) {
        return FALSE;
    }
    vyn::platform::SerialLine line;
    if (dcb == nullptr || vyn::platform::LineFromDcb(*dcb, line) != ERROR_SUCCESS) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard lock(port->settingMutex());
    if (DWORD error = port->driver().SetLine(line); error != ERROR_SUCCESS) {
        return FailWith(error);
    }
    DCB applied = *dcb;
    applied.DCBlength = sizeof(DCB);
    port->SetLastDcb(applied);
    vyn::platform::Reactor::Instance().SetPace(port->channel(), port->driver());
    return Done(ERROR_SUCCESS);
}

BOOL WINAPI GetCommTimeouts(HANDLE file, COMMTIMEOUTS *timeouts) {
    auto port = PortOf(file);
    if (!port) {
        return FALSE;
    }
    if (timeouts == nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    *timeouts = port->Timeouts();
    return Done(ERROR_SUCCESS);
}

BOOL WINAPI SetCommTimeouts(HANDLE file, COMMTIMEOUTS *timeouts) {
    auto port = PortOf(file);
    if (!port) {
        return FALSE;
    }
    if (timeouts == nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    port->SetTimeouts(*timeouts);
    return Done(ERROR_SUCCESS);
}

BOOL WINAPI ClearCommError(HANDLE file, LPDWORD errors, COMSTAT *status) {
    auto port = PortOf(file);
    if (!port) {
        return FALSE;
    }
    DWORD flags = 0;
    DWORD outQueue = 0;
    DWORD inQueue = 0;
    DWORD error = port->driver().TakeErrors(flags);
    if (error == ERROR_SUCCESS) {
        error = vyn::platform::OutputBacklog(*port, outQueue);
    }
    if (error == ERROR_SUCCESS) {
        error = port->driver().InputQueue(inQueue);
    }
    if (error != ERROR_SUCCESS) {
        return FailWith(error);
    }
    if (errors != nullptr) {
        *errors = flags;
    }
    if (status != nullptr) {
        *status = COMSTAT{};
        status->cbInQue = inQueue;
        status->cbOutQue = outQueue;
    }
    return Done(ERROR_SUCCESS);
}

BOOL WINAPI PurgeComm(HANDLE file, DWORD flags) {
    auto port = PortOf(file);
    if (!port) {
        return FALSE;
    }
    constexpr DWORD kAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
    if ((flags & ~kAll) != 0) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    if ((flags & (PURGE_RXABORT | PURGE_TXABORT)) != 0) {
        vyn::platform::Reactor::Instance().Abort(port->channel(), (flags & PURGE_RXABORT) != 0,
                                                 (flags & PURGE_TXABORT) != 0);
    }
    return Done(port->driver().Purge((flags & PURGE_RXCLEAR) != 0, (flags & PURGE_TXCLEAR) != 0));
}

BOOL WINAPI EscapeCommFunction(HANDLE file, DWORD function) {
    auto port = PortOf(file);
    if (!port) {
        return FALSE;
    }
    auto &driver = port->driver();
    switch (function) {
        case SETRTS:
        case CLRRTS:
            return Done(function == SETRTS ? driver.SetModemOutputs(ModemRts, 0)
                                           : driver.SetModemOutputs(0, ModemRts));
        case SETDTR:
        case CLRDTR:
            return Done(function == SETDTR ? driver.SetModemOutputs(ModemDtr, 0)
                                           : driver.SetModemOutputs(0, ModemDtr));
        case SETBREAK:
        case CLRBREAK:
            return Done(driver.SetBreak(function == SETBREAK));
        default:
            return FailWith(ERROR_INVALID_PARAMETER);
    }
}

BOOL WINAPI SetCommBreak(HANDLE file) {
    return EscapeCommFunction(file, SETBREAK);
}

BOOL WINAPI ClearCommBreak(HANDLE file) {
    return EscapeCommFunction(file, CLRBREAK);
}

BOOL WINAPI GetCommModemStatus(HANDLE file, LPDWORD status) {
    auto port = PortOf(file);
    if (!port) {
        return FALSE;
    }
    if (status == nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    ModemLineState state{};
    if (DWORD error = port->driver().ModemLines(state); error != ERROR_SUCCESS) {
        return FailWith(error);
    }
    *status = ((state.lines & ModemCts) != 0 ? MS_CTS_ON : 0) |
              ((state.lines & ModemDsr) != 0 ? MS_DSR_ON : 0) |
              ((state.lines & ModemRi) != 0 ? MS_RING_ON : 0) |
              ((state.lines & ModemDcd) != 0 ? MS_RLSD_ON : 0);
    return Done(ERROR_SUCCESS);
}

BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                            DWORD outSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
    using namespace vyn::platform;
    auto &table = HandleTable::Instance();
    if (overlapped != nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER);  // device control is synchronous here
    }
    if (auto control = table.FindAs<ControlDevice>(device)) {
        return Done(control->Control(code, in, inSize, out, outSize, bytesReturned));
    }
    auto port = PortOf(device);
    if (!port) {
        return FALSE;
    }
    if (bytesReturned != nullptr) {
        *bytesReturned = 0;
    }
    if (code == IoctlPortErrorCounts) {
        if (out == nullptr || outSize < sizeof(DriverErrorCounts)) {
            return FailWith(ERROR_INVALID_PARAMETER);
        }
        DriverErrorCounts counts{};
        if (DWORD error = port->driver().ErrorCounts(counts); error != ERROR_SUCCESS) {
            return FailWith(error);
        }
        std::memcpy(out, &counts, sizeof counts);
        if (bytesReturned != nullptr) {
            *bytesReturned = sizeof counts;
        }
        return Done(ERROR_SUCCESS);
    }
    if (code == IoctlPortSetModemOutputs || code == IoctlPortModemLines) {
        return vyn::platform::ModemLineControl(*port, code, in, inSize, out, outSize,
                                               bytesReturned);
    }
    if (code != IoctlPortLoopbackOn && code != IoctlPortLoopbackOff) {
        return FailWith(ERROR_INVALID_FUNCTION);
    }
    return Done(port->driver().SetLoopback(code == IoctlPortLoopbackOn));
}
