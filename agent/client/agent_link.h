// Reaching an instance's agent through its window ("VynLoop.INSTANCE").
#pragma once

#include <string>
#include <string_view>

namespace vyn::agent {

bool AgentRunning(std::string_view instance);

// Posts the registered message `message` to the instance's agent. False with the reason when no
// agent runs (`noAgent` set) or the message cannot be posted.
bool PostToAgent(std::string_view instance, const char *message, bool &noAgent,
                 std::string &reason);

}  // namespace vyn::agent
