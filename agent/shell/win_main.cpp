// Start-up: the platform, the instance name, the single-instance test under the mutex
// "VYNLOOP", the hidden window, and the message loop.
#include <cstdio>
#include <cstring>

#include "agent/loop/engine.h"
#include "agent/mib/store_access.h"
#include "agent/shell/shell.h"

char windowClassName[WINDOW_CLASS_NAME_SIZE];

namespace {

void TakePlatform() {
    OSVERSIONINFOA version;
    isWindowsNt = 0;
    isWindows95 = 0;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (GetVersionExA(&version)) {
        if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
            isWindowsNt = 1;
        } else if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
            isWindows95 = 1;
        }
    }
}

void RegisterAgentClass(HINSTANCE instance) {
    WNDCLASSA windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = AgentWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = windowClassName;
    RegisterClassA(&windowClass);
}

}  // namespace

void TakeInstanceName(const char *commandLine, char *name) {
    const char *word = commandLine;
    while (*word == ',' || *word == ' ') {
        ++word;
    }
    size_t length = strcspn(word, ", ");
    if (length > INSTANCE_NAME_SIZE - 1) {
        length = INSTANCE_NAME_SIZE - 1;
    }
    memcpy(name, word, length);
    name[length] = 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine,
                   int /*showCommand*/) {
    char line[COMMAND_LINE_SIZE];
    TakePlatform();
    snprintf(line, sizeof line, "%s", commandLine != nullptr ? commandLine : "");
    TakeInstanceName(line, instanceName);
    snprintf(windowClassName, sizeof windowClassName, "VynLoop.%s", instanceName);

    HANDLE mutex = CreateMutexA(nullptr, FALSE, "VYNLOOP");
    if (mutex == nullptr) {
        return 0;
    }
    WaitForSingleObject(mutex, INFINITE);
    if (FindWindowA(windowClassName, nullptr) != nullptr) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
        return 0;
    }
    if (previousInstance == nullptr) {
        RegisterAgentClass(instance);
    }
    // WM_CREATE runs inside this call, so the whole start-up happens while the mutex is held.
    HWND window = CreateWindowExA(0, windowClassName, "NT/MML Test Program", WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  nullptr, nullptr, instance, nullptr);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
