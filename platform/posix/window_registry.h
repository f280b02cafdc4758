// What a process knows about windows: its window classes, its live windows, the handles that
// stand for windows of other processes, and its registered message names.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/win32.h"

namespace vyn::platform {

class WindowSocket;

// A window of this process. Its procedure runs on whichever thread sends or dispatches it a
// message; the registry only hands out shared references, so a window can be destroyed while
// another thread still looks at it.
struct Window {
    HWND handle = nullptr;
    std::string className;
    std::string title;
    WNDPROC procedure = nullptr;
    // The socket through which other processes reach this window; null for none.
    std::shared_ptr<WindowSocket> socket;
    // Set once DestroyWindow began, so that the window is destroyed only once.
    std::atomic<bool> destroying{false};
};

class WindowRegistry {
  public:
    static WindowRegistry &Instance();

    // Returns the class's atom, or 0 when a class of that name is already registered.
    ATOM AddClass(const std::string &name, WNDPROC procedure);
    // The procedure of a registered class; null when the class is unknown.
    WNDPROC ClassProcedure(const std::string &name) const;

    // Every window handle (local or remote) is new: a stale handle never finds a later window.
    HWND NewHandle();

    // Adds a window; false when a live window of its class exists in this process already
    // (a class name names at most one window, here and across processes).
    bool AddWindow(std::shared_ptr<Window> window);
    std::shared_ptr<Window> Find(HWND handle) const;
    // A window whose class (when not null) and title (when not null) match.
    std::shared_ptr<Window> FindLocal(const char *className, const char *title) const;
    std::shared_ptr<Window> Remove(HWND handle);
    std::vector<std::shared_ptr<Window>> Windows() const;

    // The handle standing for the window of `className` in another process: one per class
    // name, so that repeated finds return the same value and nothing accumulates.
    HWND RemoteHandle(const std::string &className);
    std::optional<std::string> RemoteClass(HWND handle) const;

    // Registered message numbers, 0xC000 to 0xFFFF; 0 when the range is used up.
    UINT RegisterMessage(const std::string &name);
    std::optional<UINT> MessageNumber(const std::string &name) const;
    std::optional<std::string> MessageName(UINT number) const;

  private:
    WindowRegistry() = default;

    mutable std::mutex mutex_;
    std::map<std::string, std::pair<ATOM, WNDPROC>> classes_;
    std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows_;
    std::map<std::string, HWND> remoteByClass_;
    std::unordered_map<uintptr_t, std::string> remoteClasses_;
    std::map<std::string, UINT> messagesByName_;
    std::unordered_map<UINT, std::string> messageNames_;
    uintptr_t nextHandle_ = 0x10000;
    ATOM nextAtom_ = 0xC000;
    UINT nextMessage_ = 0xC000;
};

}  // namespace vyn::platform
