#include "agent/ras/ras.h"

const HMODULE RAS_NOT_LOADED = reinterpret_cast<HMODULE>(intptr_t{-1});

HMODULE rasModule = RAS_NOT_LOADED;
RasInitializeProc RasInitialize;
RasPortReserveProc RasPortReserve;
RasPortFreeProc RasPortFree;
std::atomic<int> rasAvailable;

namespace {

// Entry points come back untyped; the detour through a plain function pointer keeps the cast
// between function types explicit.
template <class Proc>
Proc FindEntryPoint(HMODULE module, const char *name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)));
}

}  // namespace

int IsRemoteAccessRunning(void) {
    SERVICE_STATUS status = {};
    status.dwCurrentState = SERVICE_STOPPED;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        return 0;
    }
    SC_HANDLE service =
        OpenServiceA(manager, "RemoteAccess", SERVICE_INTERROGATE | SERVICE_QUERY_STATUS);
    if (service != nullptr) {
        ControlService(service, SERVICE_CONTROL_INTERROGATE, &status);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return status.dwCurrentState == SERVICE_RUNNING;
}

int InitRemoteAccess(void) {
    if (!IsRemoteAccessRunning()) {
        return 0;
    }
    if (rasModule == RAS_NOT_LOADED) {
        HMODULE module = LoadLibraryA("rasman.dll");
        if (module == nullptr) {
            return 0;
        }
        RasInitialize = FindEntryPoint<RasInitializeProc>(module, "RasInitialize");
        RasPortReserve = FindEntryPoint<RasPortReserveProc>(module, "RasPortReserve");
        RasPortFree = FindEntryPoint<RasPortFreeProc>(module, "RasPortFree");
        if (RasInitialize == nullptr || RasPortReserve == nullptr || RasPortFree == nullptr) {
            FreeLibrary(module);
            return 0;
        }
        rasModule = module;
    }
    if (RasInitialize != nullptr) {
        RasInitialize();
    }
    return 1;
}
