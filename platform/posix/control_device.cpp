#include "platform/posix/control_device.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/error.h"
#include "platform/posix/locations.h"

namespace vyn::platform {

std::string BoardSocketPath() {
    return board::Client::SocketPathIn(DeviceDirectory());
}

ControlDevice::ControlDevice(const std::string &socketPath) : client_(socketPath) {}

DWORD ControlDevice::Probe() {
    return client_.Ports().error;
}

DWORD ControlDevice::Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize,
                             DWORD *returned) {
    if (code != ControlLoopbackOn && code != ControlLoopbackOff) {
        return ERROR_INVALID_FUNCTION;
    }
    if (in == nullptr || inSize < sizeof(DWORD) || out == nullptr || outSize < sizeof(DWORD)) {
        return ERROR_INVALID_PARAMETER;
    }
    DWORD index = 0;
    std::memcpy(&index, in, sizeof index);
    DWORD error = client_.SetLoopbackByIndex(index, code == ControlLoopbackOn).error;
    // The output tells the caller whether the switch was made: 0 when it was.
    std::memcpy(out, &error, sizeof error);
    if (returned != nullptr) {
        *returned = sizeof(DWORD);
    }
    return error;
}

HANDLE OpenControlDevice(DWORD &error) {
    std::string path = BoardSocketPath();
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        error = Win32ErrorFromErrno(errno);
        return nullptr;
    }
    if (!S_ISSOCK(status.st_mode)) {
        error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    auto device = std::make_shared<ControlDevice>(path);
    error = device->Probe();
    if (error != ERROR_SUCCESS) {
        return nullptr;
    }
    return HandleTable::Instance().Insert(std::move(device));
}

}  // namespace vyn::platform
