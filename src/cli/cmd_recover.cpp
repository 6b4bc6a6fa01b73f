// kelvara-cli recover: scans a volume, selects a folder in the results tree (by default
// "ROOT", the whole volume) and presses Save into the output folder.

#include <cstdio>

#include "cli/Command.h"
#include "cli/ResultsSession.h"
#include "platform/Output.h"

namespace kelvara::cli {
namespace {

struct RecoverArgs {
    ScanArgs scan;
    std::string out;
    std::string path = "ROOT";
    bool dryRun = false;
};

CommandRun setupRecover(CLI::App& app) {
    auto* cmd = app.add_subcommand("recover", "Save every file below a folder of a volume into an output folder");
    auto args = std::make_shared<RecoverArgs>();
    addScanArgs(*cmd, args->scan);
    cmd->add_option("--out", args->out, "Output folder (created when missing)")->required();
    cmd->add_option("--path", args->path, "Folder to save, as the results tree shows it (default ROOT)");
    cmd->add_flag("--dry-run", args->dryRun, "Only print how many files Save would write");
    return [args]() {
        ResultsSession session(args->scan);
        if (!session.scan()) {
            std::fprintf(stderr, "kelvara-cli: nothing could be scanned\n");
            return kExitFailed;
        }
        const TreeItem item = session.findPath(args->path);
        if (item == kNoItem) throw UsageError("no folder '" + args->path + "' in the results tree");
        if (!args->dryRun && !platform::makeDirectories(args->out))
            throw UsageError("cannot create the output folder '" + args->out + "'");
        session.page().tree().selectItem(item);
        session.folders().queueAnswer(args->out);
        if (args->dryRun) session.messages().setDefaultYesNo(MessageAnswer::No);
        session.page().onSave();
        const SaveOutcome& s = session.page().lastSave();
        if (!s.asked) {
            std::fprintf(stderr, "kelvara-cli: '%s' is not a folder that can be saved\n", args->path.c_str());
            return kExitFailed;
        }
        if (args->dryRun) {
            std::printf("%llu files\n", static_cast<unsigned long long>(s.found));
            return kExitOk;
        }
        for (const auto& f : s.failures) std::fprintf(stderr, "failed: %s\n", f.c_str());
        std::printf("%llu files written, %llu failed\n", static_cast<unsigned long long>(s.written),
                    static_cast<unsigned long long>(s.failed));
        return s.failed > 0 ? kExitFailed : kExitOk;
    };
}

const CommandRegistration reg("recover", setupRecover);

}  // namespace
}  // namespace kelvara::cli
