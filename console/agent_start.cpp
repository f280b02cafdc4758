#include "console/agent_start.h"

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <thread>
#include <vector>

#include "console/agent_link.h"
#include "console/host.h"

namespace vyn::console {

namespace {

namespace fs = std::filesystem;

// The environment of this process with VYNLOOP_MIB replaced.
std::vector<std::string> AgentEnvironment(const std::string &storePath) {
    std::vector<std::string> entries;
    for (std::string &entry : OwnEnvironment()) {
        if (std::string_view(entry).substr(0, 12) != "VYNLOOP_MIB=") {
            entries.push_back(std::move(entry));
        }
    }
    std::error_code ignored;
    fs::path absolute = fs::absolute(storePath, ignored);
    entries.push_back("VYNLOOP_MIB=" + (absolute.empty() ? storePath : absolute.string()));
    return entries;
}

}  // namespace

std::string FindAgentProgram() {
    const char *chosen = std::getenv("VYNLOOP_AGENT");
    if (chosen != nullptr && chosen[0] != '\0') {
        return chosen;
    }
    const char *name = AgentProgramName();
    fs::path self = OwnProgramFile();
    if (!self.empty()) {
        for (const fs::path &candidate :
             {self.parent_path() / name, self.parent_path() / ".." / "sbin" / name}) {
            if (IsExecutableFile(candidate)) {
                std::error_code error;
                return fs::weakly_canonical(candidate, error).string();
            }
        }
    }
    const char *path = std::getenv("PATH");
    std::string_view dirs = path != nullptr ? path : "";
    while (!dirs.empty()) {
        std::size_t separator = dirs.find(PathListSeparator());
        std::string_view dir = dirs.substr(0, separator);
        if (!dir.empty() && IsExecutableFile(fs::path(dir) / name)) {
            return (fs::path(dir) / name).string();
        }
        dirs =
            separator == std::string_view::npos ? std::string_view() : dirs.substr(separator + 1);
    }
    return {};
}

bool StartAgent(const std::string &instance, const std::string &storePath,
                std::chrono::milliseconds limit, StartedAgent &started, std::string &reason) {
    started.program = FindAgentProgram();
    if (started.program.empty()) {
        reason =
            "cannot find the agent program vynloop (next to this program, in PATH, or "
            "named by VYNLOOP_AGENT)";
        return false;
    }
    std::string why;
    if (!StartDetached({started.program, instance}, AgentEnvironment(storePath), started.pid,
                       why)) {
        reason = "cannot start the agent " + started.program + ": " + why;
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!AgentRunning(instance)) {
        if (std::optional<std::string> ended = DetachedEnded(started.pid)) {
            if (AgentRunning(instance)) {  // another console's agent won the start
                started.pid = -1;
                return true;
            }
            reason = "the agent " + started.program + " " + *ended + " before it answered";
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            reason = "the agent " + started.program + " did not answer within " +
                     std::to_string(limit.count() / 1000) + " s; it was ended";
            EndDetached(started.pid);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace vyn::console
