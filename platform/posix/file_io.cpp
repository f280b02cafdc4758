// ReadFile, WriteFile and GetOverlappedResult on port handles, served by the reactor. With an
// OVERLAPPED the call returns at once (FALSE with ERROR_IO_PENDING while the operation runs);
// without one it waits for the operation to complete.
#include <cstddef>

#include "platform/posix/error.h"
#include "platform/posix/handles.h"
#include "platform/posix/overlapped.h"
#include "platform/posix/serial_file.h"
#include "platform/posix/sync.h"

namespace vyn::platform {

namespace {

BOOL Transfer(HANDLE file, IoKind kind, std::byte *buffer, DWORD size, LPDWORD count,
              LPOVERLAPPED overlapped) {
    auto port = PortOf(file);
    if (!port) {
        return FALSE;
    }
    if (!(kind == IoKind::kRead ? port->CanRead() : port->CanWrite())) {
        return FailWith(ERROR_ACCESS_DENIED);
    }
    if ((buffer == nullptr && size > 0) || (overlapped == nullptr && count == nullptr)) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    IoRequest request;
    request.channel = port->channel();
    request.key = overlapped;
    request.kind = kind;
    request.buffer = buffer;
    request.size = size;
    if (kind == IoKind::kRead) {
        request.rule = ReadRuleFor(port->Timeouts(), size);
    }
    if (overlapped != nullptr && overlapped->hEvent != nullptr) {
        request.event = HandleTable::Instance().FindAs<EventObject>(overlapped->hEvent);
        if (!request.event) {
            return FailWith(ERROR_INVALID_HANDLE);
        }
    }
    IoStatus status = Reactor::Instance().Start(request);
    switch (status.state) {
        case IoStatus::State::kRefused:
            return FailWith(status.error);
        case IoStatus::State::kPending:
            if (count != nullptr) {
                *count = 0;
            }
            return FailWith(ERROR_IO_PENDING);
        case IoStatus::State::kComplete:
            break;
    }
    if (count != nullptr) {
        *count = status.count;
    }
    if (status.error != ERROR_SUCCESS) {
        return FailWith(status.error);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

}  // namespace

}  // namespace vyn::platform

using vyn::platform::FailWith;

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                     LPOVERLAPPED overlapped) {
    return vyn::platform::Transfer(file, vyn::platform::IoKind::kRead,
                                   static_cast<std::byte *>(buffer), bytesToRead, bytesRead,
                                   overlapped);
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                      LPOVERLAPPED overlapped) {
    // A write only reads the buffer; the reactor's one operation type carries both directions.
    auto *bytes = const_cast<std::byte *>(static_cast<const std::byte *>(buffer));
    return vyn::platform::Transfer(file, vyn::platform::IoKind::kWrite, bytes, bytesToWrite,
                                   bytesWritten, overlapped);
}

BOOL WINAPI GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD bytesTransferred,
                                BOOL wait) {
    using vyn::platform::IoStatus;
    if (overlapped == nullptr || bytesTransferred == nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    IoStatus status =
        vyn::platform::Reactor::Instance().Result(overlapped, overlapped->Internal, wait != FALSE);
    switch (status.state) {
        case IoStatus::State::kRefused:
            // A handle that is gone and left no result is simply invalid.
            return FailWith(vyn::platform::HandleTable::Instance().Find(file)
                                ? status.error
                                : ERROR_INVALID_HANDLE);
        case IoStatus::State::kPending:
            return FailWith(ERROR_IO_INCOMPLETE);
        case IoStatus::State::kComplete:
            break;
    }
    *bytesTransferred = status.count;
    if (status.error != ERROR_SUCCESS) {
        return FailWith(status.error);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
