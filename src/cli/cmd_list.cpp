// kelvara-cli list: the file list a label click on a folder (or a file) of the results
// tree fills: name, the three times, size and attributes.

#include <cstdio>

#include "cli/Command.h"
#include "cli/ResultsOutput.h"
#include "cli/ResultsSession.h"

namespace kelvara::cli {
namespace {

struct ListArgs {
    ScanArgs scan;
    std::string path;
};

CommandRun setupList(CLI::App& app) {
    auto* cmd = app.add_subcommand("list", "List the files of one folder of a volume, as the results page does");
    auto args = std::make_shared<ListArgs>();
    addScanArgs(*cmd, args->scan);
    cmd->add_option("--path", args->path, "Folder or file, as the results tree shows it (ROOT/...)")->required();
    return [args]() {
        ResultsSession session(args->scan);
        if (!session.scan()) {
            std::fprintf(stderr, "kelvara-cli: nothing could be scanned\n");
            return kExitFailed;
        }
        const TreeItem item = session.findPath(args->path);
        if (item == kNoItem) throw UsageError("no '" + args->path + "' in the results tree");
        session.page().list().deleteAllItems();
        session.page().tree().clickLabel(item);
        printFileList(session.page(), args->scan.json, "name", true);
        return kExitOk;
    };
}

const CommandRegistration reg("list", setupList);

}  // namespace
}  // namespace kelvara::cli
