#include "cli/VolumeArgs.h"

#include "cli/CliSupport.h"
#include "common/Text.h"
#include "partition/Partition.h"

namespace kelvara::cli {

void addPartitionOptions(CLI::App& cmd, PartitionOptions& opts) {
    auto* gpt = cmd.add_flag("--gpt", opts.gpt, "Read the GPT partition entries");
    auto* mbr = cmd.add_flag("--mbr", opts.mbr, "Read the MBR and its extended chain, even on a GPT disk");
    gpt->excludes(mbr);
    auto* search = cmd.add_flag("--search", opts.search, "Search every sector for boot sectors instead of reading the tables");
    cmd.add_flag("--no-skip", opts.noSkip, "With --search: do not jump over the volumes found")->needs(search);
    cmd.add_option("--start", opts.start, "With --search: first sector to test")->needs(search)->check(CLI::NonNegativeNumber);
    cmd.add_option("--end", opts.end, "With --search: stop at the first window behind this sector")->needs(search)->check(CLI::NonNegativeNumber);
}

std::vector<VolumeRecord> findPartitions(readWriteInterface& reader, const PartitionOptions& opts,
                                         ProgressSink& progress) {
    Partition partition(progress);
    reader.baseOffset = 0;
    if (opts.search) {
        partition.skipVolumeSize = !opts.noSkip;
        partition.startSector = opts.start;
        partition.endSector = opts.end;
        partition.searchPartitions(reader);
        progress.setStatus("Scanned Partitions");
    } else {
        partition.gptFormat = opts.gpt || (!opts.mbr && looksLikeGpt(reader));
        partition.scanPartitionTables(reader);
    }
    reader.baseOffset = 0;
    return partition.records;
}

void addVolumeOptions(CLI::App& cmd, VolumeOptions& opts) {
    auto* part = cmd.add_option("--partition", opts.partition, "The VOLUME number that `partitions` lists");
    auto* whole = cmd.add_flag("--volume", opts.wholeVolume, "SOURCE itself is one volume");
    auto* start = cmd.add_option("--start-sector", opts.startSector, "A custom volume's first sector")->check(CLI::NonNegativeNumber);
    auto* fs = cmd.add_option("--fs", opts.fs, "A custom volume's file system: ntfs, fat16, fat32, fat64, extX, HFS+");
    cmd.add_option("--size-mb", opts.sizeMb, "A custom volume's size in MB")->needs(start);
    start->needs(fs);
    fs->needs(start);
    part->excludes(whole)->excludes(start);
    whole->excludes(start);
    addPartitionOptions(cmd, opts.partitions);
}

VolumeRecord resolveVolume(readWriteInterface& reader, const VolumeOptions& opts,
                           ProgressSink& progress) {
    if (opts.partition) {
        NullProgressSink quiet;
        auto records = findPartitions(reader, opts.partitions, quiet);
        for (const auto& r : records)
            if (r.VOLUME == std::to_string(*opts.partition)) return r;
        throw UsageError(strprintf("no partition %d on this source (`partitions` lists %zu)",
                                   *opts.partition, records.size()));
    }
    if (opts.wholeVolume) {
        reader.baseOffset = 0;
        auto detected = Partition::classifyContents(reader, 0);
        if (detected.fileSystem.empty())
            throw UsageError("--volume: no NTFS, FAT, exFAT, ext or HFS+ file system at the start of the source");
        VolumeRecord r;
        r.FILE_SYSTEM = detected.fileSystem;
        r.VOLUME = "0";
        r.VOLUME_SIZE = strprintf("%lld  MB", static_cast<long long>(reader.byteSize() / 1048576));
        r.START_SECTOR = 0;
        return r;
    }
    if (opts.startSector) {
        VolumeRecord r;
        r.FILE_SYSTEM = opts.fs;
        r.VOLUME = "0";
        const std::uint64_t startByte = std::uint64_t(*opts.startSector) * 512;
        const std::uint64_t rest = reader.byteSize() > startByte ? reader.byteSize() - startByte : 0;
        r.VOLUME_SIZE = strprintf("%lld  MB", static_cast<long long>(opts.sizeMb ? *opts.sizeMb : std::int64_t(rest / 1048576)));
        r.START_SECTOR = *opts.startSector;
        return r;
    }
    (void)progress;
    throw UsageError("name a volume: --partition N, --volume, or --start-sector S --fs KIND");
}

}  // namespace kelvara::cli
