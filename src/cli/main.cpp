// kelvara-cli: the command-line front end. It parses arguments, drives the engine and
// the pages, and prints what they show. No recovery logic lives here.

#include <cstdio>
#include <map>

#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "common/Messages.h"

namespace kelvara::cli {

std::vector<RegisteredCommand>& registeredCommands() {
    static std::vector<RegisteredCommand> commands;
    return commands;
}

CommandRegistration::CommandRegistration(std::string name, CommandSetup setup) {
    registeredCommands().push_back({std::move(name), std::move(setup)});
}

}  // namespace kelvara::cli

int main(int argc, char** argv) {
    using namespace kelvara::cli;
    CLI::App app{std::string(kelvara::kApplicationTitle) + " - command line", "kelvara-cli"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string(kelvara::kApplicationTitle));

    StderrMessages messages;
    kelvara::setMessageService(&messages);

    std::map<CLI::App*, CommandRun> runs;
    for (auto& command : registeredCommands()) {
        CommandRun run = command.setup(app);
        runs[app.get_subcommand(command.name)] = std::move(run);
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "kelvara-cli: %s\n", e.what());
        return kExitUsage;
    }
    for (auto& [sub, run] : runs) {
        if (sub->parsed()) {
            try {
                return run();
            } catch (const UsageError& e) {
                std::fprintf(stderr, "kelvara-cli: %s\n", e.what());
                return kExitUsage;
            } catch (const std::exception& e) {
                std::fprintf(stderr, "kelvara-cli: %s\n", e.what());
                return kExitFailed;
            }
        }
    }
    return kExitUsage;
}
