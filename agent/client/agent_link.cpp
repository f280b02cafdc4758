#include "agent/client/agent_link.h"

#include "platform/win32.h"

namespace vyn::agent {

namespace {

HWND FindAgentWindow(std::string_view instance) {
    std::string windowClass = "VynLoop." + std::string(instance);
    return FindWindowA(windowClass.c_str(), nullptr);
}

}  // namespace

bool AgentRunning(std::string_view instance) {
    return FindAgentWindow(instance) != nullptr;
}

bool PostToAgent(std::string_view instance, const char *message, bool &noAgent,
                 std::string &reason) {
    noAgent = false;
    HWND window = FindAgentWindow(instance);
    if (window == nullptr) {
        noAgent = true;
        reason = "no agent runs for instance " + std::string(instance);
        return false;
    }
    UINT id = RegisterWindowMessageA(message);
    if (id == 0) {
        reason = "cannot register the message " + std::string(message) + " (error " +
                 std::to_string(GetLastError()) + ")";
        return false;
    }
    if (!PostMessageA(window, id, 0, 0)) {
        reason = "cannot post " + std::string(message) + " to the agent of instance " +
                 std::string(instance) + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    return true;
}

}  // namespace vyn::agent
