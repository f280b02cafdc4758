#include "platform/posix/window_registry.h"

namespace vyn::platform {

namespace {

constexpr uintptr_t kHandleStep = 0x10;
constexpr UINT kLastMessage = 0xFFFF;
constexpr ATOM kLastAtom = 0xFFFF;

}  // namespace

WindowRegistry &WindowRegistry::Instance() {
    // Never destroyed: the listener thread and clean-up at exit still look windows up.
    static WindowRegistry *registry = new WindowRegistry;
    return *registry;
}

ATOM WindowRegistry::AddClass(const std::string &name, WNDPROC procedure) {
    std::lock_guard lock(mutex_);
    if (classes_.count(name) != 0 || nextAtom_ == 0) {
        return 0;
    }
    ATOM atom = nextAtom_;
    nextAtom_ = atom == kLastAtom ? 0 : static_cast<ATOM>(atom + 1);
    classes_.emplace(name, std::make_pair(atom, procedure));
    return atom;
}

WNDPROC WindowRegistry::ClassProcedure(const std::string &name) const {
    std::lock_guard lock(mutex_);
    auto found = classes_.find(name);
    return found == classes_.end() ? nullptr : found->second.second;
}

HWND WindowRegistry::NewHandle() {
    std::lock_guard lock(mutex_);
    uintptr_t value = nextHandle_;
    nextHandle_ += kHandleStep;
    return reinterpret_cast<HWND>(value);
}

bool WindowRegistry::AddWindow(std::shared_ptr<Window> window) {
    std::lock_guard lock(mutex_);
    for (const auto &[value, existing] : windows_) {
        if (existing->className == window->className) {
            return false;
        }
    }
    auto key = reinterpret_cast<uintptr_t>(window->handle);
    windows_.emplace(key, std::move(window));
    return true;
}

std::shared_ptr<Window> WindowRegistry::Find(HWND handle) const {
    std::lock_guard lock(mutex_);
    auto found = windows_.find(reinterpret_cast<uintptr_t>(handle));
    return found == windows_.end() ? nullptr : found->second;
}

std::shared_ptr<Window> WindowRegistry::FindLocal(const char *className, const char *title) const {
    std::lock_guard lock(mutex_);
    std::shared_ptr<Window> oldest;
    for (const auto &[value, window] : windows_) {
        bool matches = (className == nullptr || window->className == className) &&
                       (title == nullptr || window->title == title);
        if (matches && (!oldest || value < reinterpret_cast<uintptr_t>(oldest->handle))) {
            oldest = window;
        }
    }
    return oldest;
}

std::shared_ptr<Window> WindowRegistry::Remove(HWND handle) {
    std::lock_guard lock(mutex_);
    auto found = windows_.find(reinterpret_cast<uintptr_t>(handle));
    if (found == windows_.end()) {
        return nullptr;
    }
    auto window = std::move(found->second);
    windows_.erase(found);
    return window;
}

std::vector<std::shared_ptr<Window>> WindowRegistry::Windows() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Window>> all;
    all.reserve(windows_.size());
    for (const auto &[value, window] : windows_) {
        all.push_back(window);
    }
    return all;
}

HWND WindowRegistry::RemoteHandle(const std::string &className) {
    std::lock_guard lock(mutex_);
    auto found = remoteByClass_.find(className);
    if (found != remoteByClass_.end()) {
        return found->second;
    }
    uintptr_t value = nextHandle_;
    nextHandle_ += kHandleStep;
    auto handle = reinterpret_cast<HWND>(value);
    remoteByClass_.emplace(className, handle);
    remoteClasses_.emplace(value, className);
    return handle;
}

std::optional<std::string> WindowRegistry::RemoteClass(HWND handle) const {
    std::lock_guard lock(mutex_);
    auto found = remoteClasses_.find(reinterpret_cast<uintptr_t>(handle));
    if (found == remoteClasses_.end()) {
        return std::nullopt;
    }
    return found->second;
}

UINT WindowRegistry::RegisterMessage(const std::string &name) {
    std::lock_guard lock(mutex_);
    auto found = messagesByName_.find(name);
    if (found != messagesByName_.end()) {
        return found->second;
    }
    if (nextMessage_ > kLastMessage) {
        return 0;
    }
    UINT number = nextMessage_++;
    messagesByName_.emplace(name, number);
    messageNames_.emplace(number, name);
    return number;
}

std::optional<UINT> WindowRegistry::MessageNumber(const std::string &name) const {
    std::lock_guard lock(mutex_);
    auto found = messagesByName_.find(name);
    if (found == messagesByName_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<std::string> WindowRegistry::MessageName(UINT number) const {
    std::lock_guard lock(mutex_);
    auto found = messageNames_.find(number);
    if (found == messageNames_.end()) {
        return std::nullopt;
    }
    return found->second;
}

}  // namespace vyn::platform
