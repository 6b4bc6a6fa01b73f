#pragma once
// Sub-commands of kelvara-cli register themselves here; main() adds each to the parser
// and runs the one the user named.

#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace kelvara::cli {

// A command's setup adds its sub-command to app and returns the function that runs it
// once the arguments are parsed (its result is the process's exit code).
using CommandRun = std::function<int()>;
using CommandSetup = std::function<CommandRun(CLI::App& app)>;

struct CommandRegistration {
    CommandRegistration(std::string name, CommandSetup setup);
};

struct RegisteredCommand {
    std::string name;
    CommandSetup setup;
};
std::vector<RegisteredCommand>& registeredCommands();

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the operation ran and failed (or partly failed)
constexpr int kExitUsage = 2;   // bad arguments, missing source

}  // namespace kelvara::cli
