// The Comm calls on port handles (line settings, time-outs, queue and error status, purges) and
// DeviceIoControl on ports (internal loopback, error counts) and on the board's control device.
#include <cstring>

#include "mml/vocabulary.h"
#include "platform/posix/control_device.h"
#include "platform/posix/error.h"
#include "platform/posix/handles.h"
#include "platform/posix/overlapped.h"
#include "platform/posix/serial_file.h"
#include "platform/posix/serial_line.h"

namespace vyn::platform {

namespace {

// The board driver's control codes on a port: internal loopback on and off.

// How often a queue reading is retried when a write moved bytes into the device meanwhile.
constexpr int kQueueAttempts = 3;

std::shared_ptr<SerialPort> OpenPort(HANDLE file) {
    auto &table = HandleTable::Instance();
    auto port = table.FindAs<SerialPort>(file);
    if (!port || !port->IsOpen()) {
        FailWith(table.FindAs<ControlDevice>(file) ? ERROR_INVALID_FUNCTION : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return port;
}

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

}  // namespace vyn::platform

using vyn::platform::Done;
using vyn::platform::FailWith;
using vyn::platform::OpenPort;

BOOL WINAPI GetCommState(HANDLE file, DCB *dcb) {
    auto port = OpenPort(file);
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
    auto port = OpenPort(file);
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
    auto port = OpenPort(file);
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
    auto port = OpenPort(file);
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
    auto port = OpenPort(file);
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
    auto port = OpenPort(file);
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
    auto port = OpenPort(device);
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
    if (code != IoctlPortLoopbackOn && code != IoctlPortLoopbackOff) {
        return FailWith(ERROR_INVALID_FUNCTION);
    }
    return Done(port->driver().SetLoopback(code == IoctlPortLoopbackOn));
}
