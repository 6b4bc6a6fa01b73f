#include "cli/ScanSession.h"

#include "cli/CliSupport.h"
#include "fs/ParserFactory.h"

namespace kelvara::cli {

void addScanArgs(CLI::App& cmd, ScanArgs& args) {
    cmd.add_option("SOURCE", args.source, "Block device or disk image file")->required();
    addVolumeOptions(cmd, args.volume);
    cmd.add_option("--mode", args.mode, "Scan mode")->check(CLI::IsMember({"standard", "advanced", "deep"}));
    cmd.add_option("--max-fs", args.advanced.maxFileSystems, "Advanced: how many file systems the finders look for (0 means 3)");
    cmd.add_option("--mft-candidate", args.advanced.entry, "Advanced NTFS: which MFT candidate to use");
    cmd.add_option("--fat-entry", args.advanced.entry, "Advanced FAT/exFAT: which found entry to use");
    cmd.add_option("--sectors-per-cluster", args.advanced.sectorsPerCluster, "Advanced: sectors per cluster");
    cmd.add_option("--heap-offset", args.advanced.heapOffset, "Advanced exFAT: which heap offset to use");
    cmd.add_option("--cluster-shift", args.advanced.clusterShift, "Advanced exFAT: cluster size shift");
    cmd.add_flag("--formatted", args.advanced.driveFormatted, "Advanced FAT: the drive was reformatted");
    cmd.add_flag("--json", args.json, "Print JSON");
}

int scanModeNumber(const std::string& mode) {
    if (mode == "advanced") return 2;
    if (mode == "deep") return 3;
    return 1;
}

OpenedVolume openVolume(const ScanArgs& args, ProgressSink& progress) {
    OpenedVolume v;
    v.reader = openSource(args.source);
    v.record = resolveVolume(*v.reader, args.volume, progress);
    v.mode = scanModeNumber(args.mode);
    return v;
}

std::unique_ptr<VolumeParser> createWiredParser(OpenedVolume& volume, ProgressSink& sink) {
    auto parser = createParser(parserKindFor(volume.record.FILE_SYSTEM));
    if (!parser) throw UsageError("no parser reads the file system '" + volume.record.FILE_SYSTEM + "'");
    parser->reader = volume.reader.get();
    parser->sink = &sink;
    parser->volume = volume.record;
    parser->volume.FILE_SYSTEM = parserKindFor(volume.record.FILE_SYSTEM);
    return parser;
}

}  // namespace kelvara::cli
