// Service control and the remote access manager library, both played by the virtual board of the
// device directory: the "RemoteAccess" service runs when the board says its service runs, and
// "rasman.dll" is a module of this platform whose entry points reserve and free ports through
// the board. Where no board answers, the service is simply not running.
#include <cstring>
#include <string>

#include "base/names.h"
#include "board/client/client.h"
#include "platform/posix/control_device.h"
#include "platform/posix/error.h"
#include "platform/posix/handles.h"
#include "platform/posix/locations.h"
#include "platform/posix/serial_file.h"

namespace vyn::platform {

namespace {

constexpr DWORD kServiceShareProcess = 0x20;

class ServiceManager final : public KernelObject {};
class Service final : public KernelObject {};
class Module final : public KernelObject {};

board::Client BoardClient() {
    return board::Client(BoardSocketPath());
}

// The entry points of "rasman.dll". Internal names: the agent keeps global pointers named after
// the library's own.
DWORD WINAPI RasmanInitialize(void) {
    board::Client client = BoardClient();
    return client.ServiceRunning().error;
}

DWORD WINAPI RasmanPortReserve(LPSTR portName, DWORD *port) {
    std::string name;
    if (portName == nullptr || port == nullptr ||
        DeviceNameOf(("\\\\.\\" + std::string(portName)).c_str(), name) != ERROR_SUCCESS) {
        return ERROR_INVALID_PARAMETER;
    }
    board::Client client = BoardClient();
    board::Result<std::uint32_t> reserved = client.Reserve(name);
    if (reserved.ok()) {
        *port = reserved.value;
    }
    return reserved.error;
}

DWORD WINAPI RasmanPortFree(DWORD port) {
    board::Client client = BoardClient();
    return client.Free(port).error;
}

template <typename Function>
FARPROC EntryPoint(Function *function) {
    // Through a plain function pointer, so that the change of function type is explicit.
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(function));
}

template <typename T>
bool CloseOfKind(HANDLE handle) {
    auto &table = HandleTable::Instance();
    if (!table.FindAs<T>(handle)) {
        return false;
    }
    auto object = table.Remove(handle);
    if (object) {
        object->OnClose();
    }
    return object != nullptr;
}

}  // namespace

}  // namespace vyn::platform

using vyn::platform::FailWith;
using vyn::platform::HandleTable;

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD /*access*/) {
    using vyn::SameName;
    if (machineName != nullptr && machineName[0] != '\0') {
        FailWith(ERROR_NOT_SUPPORTED);  // no other machines
        return nullptr;
    }
    if (databaseName != nullptr && databaseName[0] != '\0' &&
        !SameName(databaseName, "ServicesActive")) {
        FailWith(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<SC_HANDLE>(
        HandleTable::Instance().Insert(std::make_shared<vyn::platform::ServiceManager>()));
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD /*access*/) {
    if (!HandleTable::Instance().FindAs<vyn::platform::ServiceManager>(manager)) {
        FailWith(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (serviceName == nullptr) {
        FailWith(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!vyn::SameName(serviceName, "RemoteAccess")) {
        FailWith(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<SC_HANDLE>(
        HandleTable::Instance().Insert(std::make_shared<vyn::platform::Service>()));
}

BOOL WINAPI ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS *status) {
    if (!HandleTable::Instance().FindAs<vyn::platform::Service>(service)) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if (status == nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    if (control != SERVICE_CONTROL_INTERROGATE) {
        return FailWith(ERROR_NOT_SUPPORTED);  // the service is only ever asked how it is
    }
    vyn::board::Client client = vyn::platform::BoardClient();
    vyn::board::Result<bool> running = client.ServiceRunning();
    *status = SERVICE_STATUS{};
    status->dwServiceType = vyn::platform::kServiceShareProcess;
    if (!running.ok() || !running.value) {
        status->dwCurrentState = SERVICE_STOPPED;
        return FailWith(ERROR_SERVICE_NOT_ACTIVE);
    }
    status->dwCurrentState = SERVICE_RUNNING;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
    using namespace vyn::platform;
    if (CloseOfKind<Service>(handle) || CloseOfKind<ServiceManager>(handle)) {
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    return FailWith(ERROR_INVALID_HANDLE);
}

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
    using vyn::SameName;
    if (fileName == nullptr) {
        FailWith(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!SameName(fileName, "rasman.dll") && !SameName(fileName, "rasman")) {
        FailWith(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<HMODULE>(
        HandleTable::Instance().Insert(std::make_shared<vyn::platform::Module>()));
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
    using namespace vyn::platform;
    if (!HandleTable::Instance().FindAs<Module>(module)) {
        FailWith(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // Names only: a value below 0x10000 would be an ordinal, which this module does not export.
    if (reinterpret_cast<uintptr_t>(procName) >= 0x10000) {
        if (std::strcmp(procName, "RasInitialize") == 0) {
            return EntryPoint(&RasmanInitialize);
        }
        if (std::strcmp(procName, "RasPortReserve") == 0) {
            return EntryPoint(&RasmanPortReserve);
        }
        if (std::strcmp(procName, "RasPortFree") == 0) {
            return EntryPoint(&RasmanPortFree);
        }
    }
    FailWith(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    if (vyn::platform::CloseOfKind<vyn::platform::Module>(module)) {
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    return FailWith(ERROR_INVALID_HANDLE);
}
