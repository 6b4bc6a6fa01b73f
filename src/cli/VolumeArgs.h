#pragma once
// How a command names what it reads: the partition options of `partitions`, and the
// VOLUME options of the scanning commands (a partition by number, the whole source as one
// volume, or a custom start sector and file-system kind).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "common/ProgressSink.h"
#include "device/readWriteInterface.h"
#include "partition/VolumeRecord.h"

namespace kelvara::cli {

struct PartitionOptions {
    bool gpt = false;
    bool mbr = false;
    bool search = false;
    bool noSkip = false;
    std::int64_t start = 0;
    std::int64_t end = 0;
};

void addPartitionOptions(CLI::App& cmd, PartitionOptions& opts);

// The table scan (GPT when asked, or when the disk plainly has one and --mbr is not
// given) or, with --search, the boot-sector search.
std::vector<VolumeRecord> findPartitions(readWriteInterface& reader, const PartitionOptions& opts,
                                         ProgressSink& progress);

struct VolumeOptions {
    PartitionOptions partitions;
    std::optional<int> partition;
    bool wholeVolume = false;
    std::optional<std::int64_t> startSector;
    std::string fs;
    std::optional<std::int64_t> sizeMb;
};

void addVolumeOptions(CLI::App& cmd, VolumeOptions& opts);

// The VolumeRecord the options name; throws UsageError when they name none.
VolumeRecord resolveVolume(readWriteInterface& reader, const VolumeOptions& opts,
                           ProgressSink& progress);

}  // namespace kelvara::cli
