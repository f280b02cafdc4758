// The console's commands: each one registers itself with its options and what it runs.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "console/access/access_options.h"
#include "console/rack/remote_options.h"

namespace vyn::console {

// Options that every command takes (--mib and the remote rack's).
using GlobalOptions = AccessOptions;

class CommandSet {
  public:
    CommandSet(CLI::App &app, GlobalOptions &globals) : app_(app), globals_(globals) {}

    // Adds a command whose help ends with `details` (if any) and `example`; `run` gives its exit
    // status when chosen. The description is the one line shown in the list of commands. Every
    // command also takes the global options (before or after its name).
    CLI::App *Add(const std::string &name, const std::string &description,
                  const std::string &example, std::function<int()> run,
                  const std::string &details = "");

    // Runs the command that the command line chose.
    int RunChosen() const;

    const GlobalOptions &Globals() const { return globals_; }

    // Lets a command's own subcommand take the global options too.
    void AddGlobalOptions(CLI::App &command);

  private:
    CLI::App &app_;
    GlobalOptions &globals_;
    std::vector<std::pair<CLI::App *, std::function<int()>>> commands_;
};

void AddInitCommand(CommandSet &commands);
void AddGetSetCommands(CommandSet &commands);
void AddStatusCommand(CommandSet &commands);  // status and results
void AddAgentCommands(CommandSet &commands);
void AddTestCommand(CommandSet &commands);
void AddStopExtendCommands(CommandSet &commands);
void AddWatchCommand(CommandSet &commands);
void AddFleetCommand(CommandSet &commands);
void AddRecordCommands(CommandSet &commands);  // history, report, retention
void AddSweepCommand(CommandSet &commands);

}  // namespace vyn::console
