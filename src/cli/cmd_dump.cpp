// kelvara-cli dump: the double click on a file of the results tree, which writes that
// one file into the output folder. On a folder it lists the names of its files.

#include <cstdio>

#include "cli/Command.h"
#include "cli/ResultsSession.h"
#include "platform/Output.h"

namespace kelvara::cli {
namespace {

struct DumpArgs {
    ScanArgs scan;
    std::string path;
    std::string out;
};

CommandRun setupDump(CLI::App& app) {
    auto* cmd = app.add_subcommand("dump", "Write one file of a volume into an output folder (the tree's double click)");
    auto args = std::make_shared<DumpArgs>();
    addScanArgs(*cmd, args->scan);
    cmd->add_option("--path", args->path, "The file, as the results tree shows it (ROOT/...)")->required();
    cmd->add_option("--out", args->out, "Output folder (created when missing)")->required();
    return [args]() {
        ResultsSession session(args->scan);
        if (!session.scan()) {
            std::fprintf(stderr, "kelvara-cli: nothing could be scanned\n");
            return kExitFailed;
        }
        const TreeItem item = session.findPath(args->path);
        if (item == kNoItem) throw UsageError("no '" + args->path + "' in the results tree");
        if (!platform::makeDirectories(args->out))
            throw UsageError("cannot create the output folder '" + args->out + "'");
        VolumeScanDlg& page = session.page();
        page.setOutputFolder(args->out);
        page.list().deleteAllItems();
        page.tree().selectItem(item);
        page.onTreeDoubleClick();
        const ExtractResult& r = page.lastDump();
        VolumeParser* parser = page.currentParser();
        if (parser && parser->isDirectory(page.tree().getItemData(item))) {
            // A folder: the double click listed the names of its files.
            for (const auto& row : page.list().rows()) std::printf("%s\n", row.cells.at(0).c_str());
            return kExitOk;
        }
        if (!r.created) {
            std::fprintf(stderr, "kelvara-cli: nothing written for '%s': %s\n", args->path.c_str(), r.message.c_str());
            return kExitFailed;
        }
        std::printf("%s\n", r.path.c_str());
        if (!r.complete) {
            std::fprintf(stderr, "kelvara-cli: %s\n", r.message.c_str());
            return kExitFailed;
        }
        return kExitOk;
    };
}

const CommandRegistration reg("dump", setupDump);

}  // namespace
}  // namespace kelvara::cli
