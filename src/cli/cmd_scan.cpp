// kelvara-cli scan: runs a file-system scan of one volume and lists every entry found,
// walking the whole tree from "ROOT" through the parser's child chains.

#include <cstdio>

#include <nlohmann/json.hpp>

#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "cli/ScanSession.h"
#include "cli/TreeWalk.h"
#include "common/Text.h"
#include "platform/Time.h"
#include "widgets/CXHtmlTree.h"

namespace kelvara::cli {
namespace {

nlohmann::json isoTime(const std::optional<platform::UtcTime>& t) {
    if (!t) return nullptr;
    const DateTimeFields f = platform::toUtcFields(t->seconds);
    return strprintf("%04d-%02d-%02dT%02d:%02d:%02dZ", f.year, f.month, f.day, f.hour, f.minute, f.second);
}

// Runs the scan the arguments ask for on a parser that has a tree. Shared with `cat`.
int runParserScan(VolumeParser& parser, const ScanArgs& args, int mode) {
    if (mode == 2) {
        const auto candidates = parser.prepareAdvanced(args.advanced);
        for (const auto& c : candidates) std::fprintf(stderr, "%s\n", c.c_str());
        if (candidates.empty()) {
            std::fprintf(stderr, "kelvara-cli: the advanced finders found nothing on this volume\n");
            return kExitFailed;
        }
        if (args.advanced.entry < 0 || static_cast<std::size_t>(args.advanced.entry) >= candidates.size())
            throw UsageError(strprintf("there is no candidate %d (%zu found)", args.advanced.entry, candidates.size()));
    }
    if (!parser.runScan(mode)) {
        std::fprintf(stderr, "kelvara-cli: the %s parser has no %s scan\n", parser.kindName().c_str(), args.mode.c_str());
        return kExitFailed;
    }
    return kExitOk;
}

CommandRun setupScan(CLI::App& app) {
    auto* cmd = app.add_subcommand("scan", "Scan one volume's file system and list every entry found");
    auto args = std::make_shared<ScanArgs>();
    addScanArgs(*cmd, *args);
    return [args]() {
        StderrProgress progress;
        OpenedVolume volume = openVolume(*args, progress);
        auto parser = createWiredParser(volume, progress);
        CXHtmlTree tree;
        tree.initialize(true);
        parser->tree = &tree;
        if (const int rc = runParserScan(*parser, *args, volume.mode); rc != kExitOk) return rc;

        static char buffer[1 << 16];
        std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
        bool first = true;
        if (args->json) std::fputs("[", stdout);
        walkEntries(*parser, tree, [&](EntryRef ref, const std::string& path) {
            const bool dir = parser->isDirectory(ref);
            const std::uint64_t size = dir ? 0 : parser->size(ref);
            const EntryTimeTexts t = parser->formatTimes(ref);
            if (args->json) {
                const EntryTimesUtc utc = parser->times(ref);
                nlohmann::json row = {{"path", path},
                                      {"name", parser->name(ref)},
                                      {"directory", dir},
                                      {"deleted", parser->isDeleted(ref)},
                                      {"size", size},
                                      {"created", isoTime(utc.created)},
                                      {"modified", isoTime(utc.modified)},
                                      {"accessed", isoTime(utc.accessed)},
                                      {"attributes", t.attributes}};
                std::fputs(first ? "\n" : ",\n", stdout);
                std::fputs(row.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str(), stdout);
            } else {
                std::printf("%s\t%s\t%s\t%llu\t%s\t%s\t%s\t%s\n", path.c_str(), dir ? "directory" : "file",
                            parser->isDeleted(ref) ? "deleted" : "live", static_cast<unsigned long long>(size),
                            t.created.c_str(), t.accessed.c_str(), t.modified.c_str(), t.attributes.c_str());
            }
            first = false;
            return true;
        });
        if (args->json) std::fputs(first ? "]\n" : "\n]\n", stdout);
        std::fflush(stdout);
        return kExitOk;
    };
}

const CommandRegistration reg("scan", setupScan);

}  // namespace

int runScanForCommand(VolumeParser& parser, const ScanArgs& args, int mode) { return runParserScan(parser, args, mode); }

}  // namespace kelvara::cli
