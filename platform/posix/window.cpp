// Window classes, windows, their procedures and posted messages.
//
// Windows are never shown: a window is a procedure, a class name and a title. A top-level
// window is findable from other processes through a socket named after its class in the run
// directory (window_socket.h, window_listener.h); a class name therefore names at most one live
// window at a time, in this process and across processes. Names are compared exactly.
// Child windows are not supported.
#include <memory>
#include <string>

#include "platform/posix/error.h"
#include "platform/posix/window_listener.h"
#include "platform/posix/window_message_queue.h"
#include "platform/posix/window_protocol.h"
#include "platform/posix/window_registry.h"
#include "platform/posix/window_socket.h"

namespace vyn::platform {

namespace {

// A usable name: a real string (not a small integer atom value), not empty, not too long.
bool IsName(const char *name) {
    if (reinterpret_cast<uintptr_t>(name) < 0x10000) {
        return false;
    }
    std::string_view view(name);
    return !view.empty() && view.size() <= kMaxWindowName;
}

HWND FailWindow(DWORD code) {
    FailWith(code);
    return nullptr;
}

// Stand-ins for resources that a hidden window never draws.
char dummyIcon;
char dummyCursor;
char dummyStockObject;

}  // namespace

}  // namespace vyn::platform

using namespace vyn::platform;

ATOM WINAPI RegisterClassA(const WNDCLASSA *windowClass) {
    if (windowClass == nullptr || windowClass->lpfnWndProc == nullptr ||
        !IsName(windowClass->lpszClassName)) {
        FailWith(ERROR_INVALID_PARAMETER);
        return 0;
    }
    ATOM atom =
        WindowRegistry::Instance().AddClass(windowClass->lpszClassName, windowClass->lpfnWndProc);
    if (atom == 0) {
        FailWith(ERROR_CLASS_ALREADY_EXISTS);
    }
    return atom;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID parameter) {
    auto &registry = WindowRegistry::Instance();
    WNDPROC procedure = IsName(className) ? registry.ClassProcedure(className) : nullptr;
    if (procedure == nullptr) {
        return FailWindow(ERROR_CLASS_DOES_NOT_EXIST);
    }
    if (parent != nullptr) {
        return FailWindow(ERROR_NOT_SUPPORTED);
    }
    if (registry.FindLocal(className, nullptr)) {
        return FailWindow(ERROR_ALREADY_EXISTS);
    }
    DWORD error = ERROR_SUCCESS;
    std::string path = WindowSocketPath(className, error);
    if (path.empty()) {
        return FailWindow(error);
    }
    error = StartWindowListener();
    if (error != ERROR_SUCCESS) {
        return FailWindow(error);
    }
    auto socket = WindowSocket::Bind(path, error);
    if (!socket) {
        return FailWindow(error);
    }

    auto window = std::make_shared<Window>();
    window->handle = registry.NewHandle();
    window->className = className;
    window->title = windowName != nullptr ? windowName : "";
    window->procedure = procedure;
    window->socket = socket;
    HWND handle = window->handle;
    if (!registry.AddWindow(std::move(window))) {
        socket->RemoveFile();  // another thread created a window of this class meanwhile
        return FailWindow(ERROR_ALREADY_EXISTS);
    }
    WakeWindowListener();

    CREATESTRUCTA create{
        parameter,  instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
        windowName, className, exStyle};
    LRESULT result = procedure(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create));
    if (result == -1 && registry.Find(handle)) {
        DestroyWindow(handle);
    }
    // Refused (-1) or destroyed by its own WM_CREATE: nothing of the window is left.
    if (!registry.Find(handle)) {
        return FailWindow(ERROR_INVALID_WINDOW_HANDLE);
    }
    return handle;
}

BOOL WINAPI DestroyWindow(HWND handle) {
    auto &registry = WindowRegistry::Instance();
    auto window = registry.Find(handle);
    if (!window || window->destroying.exchange(true)) {
        return FailWith(ERROR_INVALID_WINDOW_HANDLE);
    }
    window->procedure(handle, WM_DESTROY, 0, 0);
    registry.Remove(handle);
    if (window->socket) {
        window->socket->RemoveFile();
        WakeWindowListener();  // lets go of the socket, which closes it
    }
    return TRUE;
}

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName) {
    if (className != nullptr && !IsName(className)) {
        return FailWindow(ERROR_INVALID_PARAMETER);
    }
    auto &registry = WindowRegistry::Instance();
    if (auto window = registry.FindLocal(className, windowName)) {
        return window->handle;
    }
    if (className == nullptr) {
        return FailWindow(ERROR_INVALID_WINDOW_HANDLE);  // other processes are found by class
    }
    DWORD error = ERROR_SUCCESS;
    std::string path = WindowSocketPath(className, error);
    if (path.empty()) {
        return FailWindow(error);
    }
    error = ExchangeWithWindow(path, FormatFindRequest(windowName));
    if (error != ERROR_SUCCESS) {
        return FailWindow(error);
    }
    return registry.RemoteHandle(className);
}

UINT WINAPI RegisterWindowMessageA(LPCSTR name) {
    if (!IsName(name)) {
        FailWith(ERROR_INVALID_PARAMETER);
        return 0;
    }
    UINT number = WindowRegistry::Instance().RegisterMessage(name);
    if (number == 0) {
        FailWith(ERROR_NOT_ENOUGH_MEMORY);
    }
    return number;
}

BOOL WINAPI PostMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    auto &registry = WindowRegistry::Instance();
    // A null window posts to the queue itself, as a thread message.
    if (handle == nullptr || registry.Find(handle)) {
        if (!MessageQueue::Instance().Post(handle, message, wParam, lParam)) {
            return FailWith(ERROR_NOT_ENOUGH_MEMORY);
        }
        return TRUE;
    }
    auto className = registry.RemoteClass(handle);
    if (!className) {
        return FailWith(ERROR_INVALID_WINDOW_HANDLE);
    }
    // Another process knows only WM_CLOSE and the messages it registered under the same name.
    std::string request;
    if (message == WM_CLOSE) {
        request = FormatCloseRequest(wParam, lParam);
    } else if (auto name = registry.MessageName(message)) {
        request = FormatPostRequest(*name, wParam, lParam);
    } else {
        return FailWith(ERROR_NOT_SUPPORTED);
    }
    DWORD error = ERROR_SUCCESS;
    std::string path = WindowSocketPath(*className, error);
    if (path.empty()) {
        return FailWith(error);
    }
    error = ExchangeWithWindow(path, request);
    return error == ERROR_SUCCESS ? TRUE : FailWith(error);
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM /*wParam*/, LPARAM /*lParam*/) {
    if (message == WM_CLOSE) {
        DestroyWindow(window);
    }
    return 0;
}

BOOL WINAPI ShowWindow(HWND window, int /*command*/) {
    // Returns whether the window was visible before: a window here never is.
    if (!WindowRegistry::Instance().Find(window)) {
        FailWith(ERROR_INVALID_WINDOW_HANDLE);
    }
    return FALSE;
}

BOOL WINAPI UpdateWindow(HWND window) {
    if (!WindowRegistry::Instance().Find(window)) {
        return FailWith(ERROR_INVALID_WINDOW_HANDLE);
    }
    return TRUE;  // nothing to paint
}

HICON WINAPI LoadIconA(HINSTANCE /*instance*/, LPCSTR /*name*/) {
    return reinterpret_cast<HICON>(&dummyIcon);
}

HCURSOR WINAPI LoadCursorA(HINSTANCE /*instance*/, LPCSTR /*name*/) {
    return reinterpret_cast<HCURSOR>(&dummyCursor);
}

HGDIOBJ WINAPI GetStockObject(int /*object*/) {
    return reinterpret_cast<HGDIOBJ>(&dummyStockObject);
}
