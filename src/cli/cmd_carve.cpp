// kelvara-cli carve: finds files in a volume's sectors by their signatures, as the raw
// recovery page's Parse does, and writes every find into the output folder.

#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "cli/VolumeArgs.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "platform/Output.h"
#include "raw/RawSave.h"
#include "raw/SignatureRecord.h"
#include "raw/myJpg.h"
#include "widgets/CXHtmlTree.h"

namespace kelvara::cli {
namespace {

struct CarveArgs {
    std::string source;
    VolumeOptions volume;
    std::vector<std::string> lists;
    bool noDefault = false;
    std::string out;
    bool json = false;
};

// The volume to carve and its size in bytes. Carving needs no file system, so the whole
// source and a custom start sector are taken as they are.
VolumeRecord carveVolume(readWriteInterface& reader, const VolumeOptions& opts, ProgressSink& progress,
                         std::int64_t& sizeBytes) {
    const std::int64_t total = static_cast<std::int64_t>(reader.byteSize());
    VolumeRecord r;
    if (opts.wholeVolume) {
        r.FILE_SYSTEM = "RAW";
        r.VOLUME = "0";
        r.VOLUME_SIZE = strprintf("%lld  MB", static_cast<long long>(total / 1048576));
        sizeBytes = total;
        return r;
    }
    if (opts.startSector) {
        r.FILE_SYSTEM = opts.fs;
        r.VOLUME = "0";
        r.START_SECTOR = *opts.startSector;
        const std::int64_t start = *opts.startSector * 512;
        const std::int64_t rest = total > start ? total - start : 0;
        sizeBytes = rest;
        if (opts.sizeMb && *opts.sizeMb <= rest / 1048576) sizeBytes = std::max<std::int64_t>(0, *opts.sizeMb) * 1048576;
        r.VOLUME_SIZE = strprintf("%lld  MB", static_cast<long long>(sizeBytes / 1048576));
        return r;
    }
    r = resolveVolume(reader, opts, progress);
    // As the raw recovery page: the listed size in MiB, never past the source's end.
    const std::int64_t start = r.START_SECTOR * 512;
    const std::int64_t rest = total > start ? total - start : 0;
    sizeBytes = std::min(static_cast<std::int64_t>(listedSizeBytes(r.VOLUME_SIZE)), rest);
    return r;
}

CommandRun setupCarve(CLI::App& app) {
    auto* cmd = app.add_subcommand("carve", "Find files by their signatures and save every find");
    auto args = std::make_shared<CarveArgs>();
    cmd->add_option("SOURCE", args->source, "Block device or disk image file")->required();
    addVolumeOptions(*cmd, args->volume);
    cmd->add_option("--signatures", args->lists, "A signature list to load after the default list (repeatable)");
    cmd->add_flag("--no-default", args->noDefault, "Do not load the default list FileSetting.txt");
    cmd->add_option("--out", args->out, "Output folder for the finds")->required();
    cmd->add_flag("--json", args->json, "Print one JSON object per find");
    cmd->footer("VOLUME: --volume (the whole source), --partition N, or --start-sector S --fs KIND "
                "(any KIND, e.g. raw: carving reads no file system).");
    return [args]() {
        auto reader = openSource(args->source);
        StderrProgress progress;
        std::int64_t size = 0;
        const VolumeRecord record = carveVolume(*reader, args->volume, progress, size);

        myJpg engine;
        bool loaded = false;
        if (!args->noDefault)
            loaded = loadSignatureFile(platform::joinPath(platform::executableDirectory(), "FileSetting.txt"), engine, true);
        for (const auto& list : args->lists) {
            if (!loadSignatureFile(list, engine, false)) {
                progress.setStatus("Processing done");
                return kExitFailed;
            }
            loaded = true;
        }
        if (!loaded) {
            showMessage("enter the info file first..");
            return kExitFailed;
        }
        if (size <= 0) {
            showMessage("zero size volume..");
            return kExitFailed;
        }
        if (!platform::makeDirectories(args->out))
            throw UsageError("cannot create the output folder " + args->out);

        CXHtmlTree tree;
        tree.initialize(true, false);
        tree.setSmartCheckBoxes(true);
        reader->baseOffset = record.START_SECTOR * 512;
        engine.reader = reader.get();
        engine.volumeSize = size;
        engine.sink = &progress;
        engine.tree = &tree;
        progress.setStatus("Processing.....");
        engine.scanVolume();
        progress.setStatus("Processing done");

        RawSaveSummary summary;
        if (!engine.found().empty()) {
            tree.setCheck(engine.rootItem(), true);
            summary = saveCheckedFinds(engine, args->out);
        }
        std::vector<const ExtractResult*> saved(engine.found().size(), nullptr);
        for (std::size_t k = 0; k < summary.results.size(); ++k) saved[summary.findIndexes[k]] = &summary.results[k];
        nlohmann::json out = nlohmann::json::array();
        for (std::size_t i = 0; i < engine.found().size(); ++i) {
            const myJpg::Found& f = engine.found()[i];
            const std::string& category = engine.signatures()[static_cast<std::size_t>(f.signatureId)].category;
            const ExtractResult* r = saved[i];
            if (args->json) {
                nlohmann::json o = {{"name", f.name}, {"category", category}, {"offset", f.start}, {"length", f.length}};
                if (r) o["path"] = r->path;
                if (r && !r->complete) o["error"] = r->message;
                out.push_back(std::move(o));
            } else {
                std::printf("%s\t%s\t%lld\t%lld\n", f.name.c_str(), category.c_str(),
                            static_cast<long long>(f.start), static_cast<long long>(f.length));
            }
            if (r && !r->complete) std::fprintf(stderr, "kelvara-cli: %s: %s\n", f.name.c_str(), r->message.c_str());
        }
        if (args->json) std::printf("%s\n", out.dump(2).c_str());
        std::fprintf(stderr, "%zu found, %zu saved to %s\n", engine.found().size(), summary.saved, args->out.c_str());
        return summary.failed + summary.incomplete == 0 ? kExitOk : kExitFailed;
    };
}

const CommandRegistration reg("carve", setupCarve);

}  // namespace
}  // namespace kelvara::cli
