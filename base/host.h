// What the console and the start of an agent ask of the operating system besides the agent's
// window: the terminal, where this program lies, and starting a program detached from it. One
// implementation for POSIX (host_posix.cpp) and one for Windows (host_windows.cpp).
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vyn {

// Whether standard output (standard input) is a terminal; the width of the terminal `file`
// (80 when unknown).
bool StdoutIsTerminal();
bool StdinIsTerminal();
std::size_t TerminalWidth(std::FILE *file);

// This machine's name; empty when the system does not tell.
std::string OwnHostName();

// This program's own file; empty when the system does not tell.
std::filesystem::path OwnProgramFile();
// The agent program's file name here ("vynloop", "vynloop.exe"), and what separates the
// directories of PATH.
const char *AgentProgramName();
char PathListSeparator();
bool IsExecutableFile(const std::filesystem::path &path);

// This process's environment, one "NAME=value" an entry.
std::vector<std::string> OwnEnvironment();

// Starts `argv` with exactly `environment`, detached: no terminal or console of ours (so that
// Ctrl-C here never reaches it), standard streams on the null device, no descriptor or handle
// of ours. False with the system's reason when it cannot start.
bool StartDetached(const std::vector<std::string> &argv,
                   const std::vector<std::string> &environment, pid_t &pid, std::string &reason);
// How a process that StartDetached started has ended ("exited with status 1"), taking its exit
// status; nothing while it runs.
std::optional<std::string> DetachedEnded(pid_t pid);
// Asks it to end (SIGTERM; on Windows it is ended at once).
void EndDetached(pid_t pid);

}  // namespace vyn
