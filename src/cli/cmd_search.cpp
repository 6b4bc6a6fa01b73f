// kelvara-cli search: the results page's search: every file whose name matches the
// regular expression, with its path from "ROOT", times, size and attributes.

#include <cstdio>

#include "cli/Command.h"
#include "cli/ResultsOutput.h"
#include "cli/ResultsSession.h"

namespace kelvara::cli {
namespace {

struct SearchArgs {
    ScanArgs scan;
    std::string pattern;
};

CommandRun setupSearch(CLI::App& app) {
    auto* cmd = app.add_subcommand("search", "Find files of a volume by a regular expression on their names");
    auto args = std::make_shared<SearchArgs>();
    addScanArgs(*cmd, args->scan);
    cmd->add_option("--pattern", args->pattern, "ECMAScript regular expression, case-insensitive; '|' joins alternatives")
        ->required();
    return [args]() {
        ResultsSession session(args->scan);
        if (!session.scan()) {
            std::fprintf(stderr, "kelvara-cli: nothing could be scanned\n");
            return kExitFailed;
        }
        session.page().setText(IDC_SEARCH_EDIT, args->pattern);
        session.page().onSearch();
        session.page().waitForWorker();
        printFileList(session.page(), args->scan.json, "path", false);
        if (!session.messages().wasShown("Searching Finished")) return kExitFailed;  // the pattern was refused
        return kExitOk;
    };
}

const CommandRegistration reg("search", setupSearch);

}  // namespace
}  // namespace kelvara::cli
