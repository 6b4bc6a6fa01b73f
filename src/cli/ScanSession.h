#pragma once
// The arguments every scanning command shares (SOURCE, the VOLUME options, --mode and
// the advanced choices) and opening the volume they name.

#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/VolumeArgs.h"
#include "device/FileReadSeek.h"
#include "fs/VolumeParser.h"

namespace kelvara::cli {

struct ScanArgs {
    std::string source;
    VolumeOptions volume;
    std::string mode = "standard";  // standard, advanced, deep
    AdvancedChoice advanced;
    bool json = false;
};

// Adds SOURCE, the VOLUME options, --mode, --max-fs, --mft-candidate, --fat-entry,
// --sectors-per-cluster, --heap-offset, --cluster-shift, --formatted and --json.
void addScanArgs(CLI::App& cmd, ScanArgs& args);

// 1 standard, 2 advanced, 3 deep.
int scanModeNumber(const std::string& mode);

struct OpenedVolume {
    std::unique_ptr<FileReadSeek> reader;
    VolumeRecord record;
    int mode = 1;
};

// Opens SOURCE and resolves the volume; throws UsageError when either fails.
OpenedVolume openVolume(const ScanArgs& args, ProgressSink& progress);

// Creates the parser for the volume's kind and wires it to reader and sink (no tree).
// Throws UsageError when no parser reads that kind.
std::unique_ptr<VolumeParser> createWiredParser(OpenedVolume& volume, ProgressSink& sink);

}  // namespace kelvara::cli
