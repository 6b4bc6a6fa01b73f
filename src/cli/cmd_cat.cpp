// kelvara-cli cat: one file's bytes to stdout, extracted by the parser exactly as Save
// would write it.

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "cli/ScanSession.h"
#include "cli/TreeWalk.h"
#include "platform/Output.h"
#include "widgets/CXHtmlTree.h"

namespace kelvara::cli {

int runScanForCommand(VolumeParser& parser, const ScanArgs& args, int mode);

namespace {

CommandRun setupCat(CLI::App& app) {
    auto* cmd = app.add_subcommand("cat", "Write one file of a volume to stdout");
    auto args = std::make_shared<ScanArgs>();
    auto path = std::make_shared<std::string>();
    addScanArgs(*cmd, *args);
    cmd->add_option("--path", *path, "The file's path as `scan` lists it (ROOT/...)")->required();
    return [args, path]() {
        StderrProgress progress(true);
        OpenedVolume volume = openVolume(*args, progress);
        auto parser = createWiredParser(volume, progress);
        CXHtmlTree tree;
        tree.initialize(true);
        parser->tree = &tree;
        if (const int rc = runScanForCommand(*parser, *args, volume.mode); rc != kExitOk) return rc;

        const EntryRef ref = findEntryByPath(*parser, tree, *path);
        if (ref == kNoEntry) {
            std::fprintf(stderr, "kelvara-cli: no entry at '%s'\n", path->c_str());
            return kExitFailed;
        }
        if (parser->isDirectory(ref)) {
            std::fprintf(stderr, "kelvara-cli: '%s' is a directory\n", path->c_str());
            return kExitFailed;
        }
        const auto folder = platform::createPrivateTemporaryDirectory("kelvara-cat");
        if (!folder) {
            std::fprintf(stderr, "kelvara-cli: cannot create a temporary folder\n");
            return kExitFailed;
        }
        const ExtractResult r = parser->extractEntry(ref, *folder);
        bool copied = false;
        if (r.created) {
            std::ifstream in(r.path, std::ios::binary);
            std::vector<char> buf(1 << 20);
            copied = true;
            while (in) {
                in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
                const auto n = static_cast<std::size_t>(in.gcount());
                if (n && std::fwrite(buf.data(), 1, n, stdout) != n) {
                    copied = false;
                    break;
                }
            }
            copied = copied && std::fflush(stdout) == 0;
        }
        std::error_code ec;
        std::filesystem::remove_all(*folder, ec);
        if (!r.created || !copied) {
            std::fprintf(stderr, "kelvara-cli: %s\n", r.message.empty() ? "cannot write the file" : r.message.c_str());
            return kExitFailed;
        }
        if (!r.complete) {
            std::fprintf(stderr, "kelvara-cli: incomplete: %s\n", r.message.c_str());
            return kExitFailed;
        }
        return kExitOk;
    };
}

const CommandRegistration reg("cat", setupCat);

}  // namespace
}  // namespace kelvara::cli
