#pragma once
// Partition discovery: the partition tables of a drive (MBR with its extended chain, or
// GPT), and the search of a whole drive for boot sectors. Each found volume becomes a
// VolumeRecord; status texts and progress go to the sink.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/ProgressSink.h"
#include "device/readWriteInterface.h"
#include "partition/VolumeRecord.h"

namespace kelvara {

class Partition {
public:
    explicit Partition(ProgressSink& sink = nullProgressSink()) : sink_(&sink) {}

    // Reads the partition tables (GPT when gptFormat, else MBR and extended chain).
    void scanPartitionTables(readWriteInterface& reader);
    // Searches the reader from startSector to the end for boot structures.
    void searchPartitions(readWriteInterface& reader);

    // One-sector probes; a failed seek or read makes them false.
    bool isExFatAt(readWriteInterface& reader, std::int64_t sector);
    bool isHfsPlusAt(readWriteInterface& reader, std::int64_t sector);

    // Records found so far, in the order found.
    std::vector<VolumeRecord> records;
    // Called for each record as it is appended (the page shows it as a new row).
    std::function<void(const VolumeRecord&)> onRecord;

    bool gptFormat = false;
    std::atomic<std::uint8_t> stopRequested{0};
    bool skipVolumeSize = true;
    std::int64_t startSector = 0;
    std::int64_t endSector = 0;

    // What a volume's first sectors say it holds ("NTFS", "FAT12", "FAT16", "FAT32",
    // "FAT64", "HFS+", "extX"; empty when they say nothing) and its size.
    struct Detected {
        std::string fileSystem;
        std::uint64_t sizeBytes = 0;
        bool fatLike = false;  // FAT or exFAT: listed only when above 0 MB
    };
    static Detected classifyContents(readWriteInterface& reader, std::uint64_t firstSector,
                                     bool* bootReadOk = nullptr);

private:
    void append(VolumeRecord record);
    void status(const std::string& text) { sink_->setStatus(text); }
    void mbrWalk(readWriteInterface& reader, const std::uint8_t* mbr);
    void gptWalk(readWriteInterface& reader, const std::uint8_t* lba01);
    std::string classifyMbrEntry(readWriteInterface& reader, std::uint8_t type,
                                 std::uint64_t firstSector, bool primary);

    ProgressSink* sink_;
    int counter_ = 0;
    int ntfsCounter_ = 1;
};

}  // namespace kelvara
