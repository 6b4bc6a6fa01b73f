#pragma once
// What Fat16Class (FAT12 and FAT16) and Fat32Class share: the boot-sector geometry, the
// standard walk of every directory that can be reached from the root, the advanced scan
// that rebuilds a tree from FAT copies and directory slots found anywhere on the volume,
// the linking of the flat record list into a tree, the top level of the results tree,
// the list texts and the extraction of files.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "fs/VolumeParser.h"
#include "fs/fat/FatDirectory.h"
#include "fs/fat/FatTable.h"
#include "partition/BootSectors.h"

namespace kelvara {

// One file, directory or synthetic entry; linked into a tree by index.
struct FatEntryRecord {
    std::uint8_t attributes = 0;
    std::uint8_t createTimeTenths = 0;
    std::uint16_t createTime = 0;
    std::uint16_t createDate = 0;
    std::uint16_t accessDate = 0;
    std::uint16_t firstClusterHigh = 0;
    std::uint16_t writeTime = 0;
    std::uint16_t writeDate = 0;
    std::uint16_t firstClusterLow = 0;
    std::uint32_t fileSize = 0;
    std::uint8_t deleted = 0;
    std::string name;
    std::int32_t parentIndex = 0;
    std::int32_t selfIndex = 0;
    std::int32_t firstChild = -1;
    std::int32_t nextSibling = -1;

    std::uint32_t firstCluster() const {
        return (std::uint32_t(firstClusterHigh) << 16) | firstClusterLow;
    }
};

class FatVolumeCommon : public VolumeParser {
public:
    static constexpr const char* kDummyName = "DUMMY ENTRY";
    static constexpr const char* kOrphanName = "ORPHAN ENTRY";

    // The records in discovery order; index 0 is "DUMMY ENTRY", the volume's root.
    std::vector<FatEntryRecord> records;
    // Set by the advanced choice: the volume was formatted again, so chains are not
    // trusted: directories are read from their first cluster only and files are read
    // contiguously.
    bool driveFormatted = false;

    bool runScan(int mode) override;
    std::vector<std::string> prepareAdvanced(const AdvancedChoice& choice) override;

    bool isEntry(EntryRef ref) const override {
        return ref >= 0 && ref < static_cast<EntryRef>(records.size());
    }
    bool isDirectory(EntryRef ref) const override;
    bool isDeleted(EntryRef ref) const override;
    bool hasChildren(EntryRef ref) const override;
    EntryRef firstChild(EntryRef ref) const override;
    EntryRef nextSibling(EntryRef ref) const override;
    std::string name(EntryRef ref) const override;
    void setName(EntryRef ref, const std::string& name) override;
    std::uint64_t size(EntryRef ref) const override;
    EntryTimeTexts formatTimes(EntryRef ref) const override;
    std::string formatSize(EntryRef ref) const override;
    EntryTimesUtc times(EntryRef ref) const override;
    ExtractResult extractEntry(EntryRef ref, const std::string& outputFolder) override;
    EntryRef volumeRoot() const override { return records.empty() ? kNoEntry : 0; }

    // The FAT finder: byte positions (from the volume start) of sectors that begin like
    // a FAT of this class, at most maxCount of them.
    std::vector<std::uint64_t> findFats(int maxCount);
    const std::vector<std::uint64_t>& fatPositions() const { return fatPositions_; }
    // The advanced scan's accepted slot positions (after a mode 2 scan).
    const std::vector<std::uint64_t>& entryPositions() const { return entryPositions_; }
    // Boot-sector test result and its sectors per cluster (advance options choices).
    bool bootPassed() const { return boot_.has_value(); }
    std::uint32_t bootSectorsPerCluster() const { return boot_ ? boot_->sectorsPerCluster : 0; }
    // The cluster-size choices, as the advance options list offers them.
    std::vector<std::string> clusterSizeChoices() const;
    std::uint64_t dataAreaOffset() const { return dataStart_; }
    std::uint64_t clusterSize() const { return clusterSize_; }

protected:
    explicit FatVolumeCommon(bool fat32) : fat32_(fat32) {}

private:
    struct DirTask {
        std::int32_t dir;
        std::uint32_t cluster;
        int budget;  // further clusters allowed after the first; negative: no limit
        bool root;
    };
    struct DirState {
        std::int32_t parent = 0;
        bool zeroEndsCluster = false;
        bool deletedContext = false;
        bool root = false;
        FatLongNameRun lfn;
        std::unordered_map<std::uint32_t, std::int32_t> byCluster;
    };

    bool runStandard();
    bool runAdvanced();
    void attach();
    std::uint64_t listedVolumeSize() const;
    std::optional<FatBootInfo> readBoot();
    void resetScan();
    void appendSynthetic(const char* name, std::int32_t parent);

    std::optional<std::uint32_t> nextCluster(std::uint32_t c);
    bool validCluster(std::uint32_t c) const { return c >= 2 && c < clusterLimit_; }
    std::uint64_t clusterOffset(std::uint32_t c) const {
        return dataStart_ + std::uint64_t(c - 2) * clusterSize_;
    }
    bool clusterInVolume(std::uint32_t c) const;

    void walkArea(std::uint64_t offset, std::uint64_t size, std::int32_t parent);
    void walkDirectory(const DirTask& task);
    void drainQueues();
    // Handles the slots of one cluster (or of the fixed root area).
    void parseSlots(const std::uint8_t* data, std::size_t size, std::uint64_t position, DirState& st);
    void addEntry(const FatShortSlot& slot, std::string name, bool deleted, DirState& st);

    void scanForEntries();
    void chooseDataStart();
    void buildFromPositions();
    void processPosition(std::uint64_t p, bool directoriesOnly);

    void linkRecords();
    void fillTopLevel();

    bool fat32_;
    std::optional<FatBootInfo> boot_;
    std::uint64_t volumeSize_ = 0;
    std::uint64_t clusterSize_ = 0;
    std::uint64_t dataStart_ = 0;
    std::uint32_t clusterLimit_ = 0;  // one past the highest cluster number
    std::uint64_t rootOffset_ = 0, rootSize_ = 0;  // FAT12/16 fixed root area
    std::uint32_t rootCluster_ = 2;  // FAT32
    FatTable fat_;

    bool advanced_ = false;
    int nestedBudget_ = -1;
    std::unordered_set<std::uint32_t> visitedClusters_;
    // One read window for every directory walk: allocating and zeroing 1 MiB per
    // directory made a volume of 100,000 small directories crawl.
    std::vector<std::uint8_t> dirWindow_;
    std::unordered_set<std::uint64_t> processedPositions_;
    std::deque<DirTask> liveQueue_, deletedQueue_;

    // Advanced state.
    bool prepared_ = false;
    std::vector<std::uint64_t> fatPositions_;
    int chosenEntry_ = 0;
    std::uint32_t chosenSpc_ = 0;
    std::vector<std::uint64_t> entryPositions_;
    std::vector<std::uint64_t> dotVotePositions_;  // '.' slots at sector starts
    std::vector<std::uint32_t> dotVoteClusters_;
    std::optional<std::uint64_t> rootHint_;
    std::uint64_t orphanThreshold_ = 0;
    // Window over the volume for the position pass.
    std::vector<std::uint8_t> window_;
    std::uint64_t windowStart_ = 0;
    bool windowValid_ = false;
    const std::uint8_t* windowAt(std::uint64_t position, std::size_t need);
};

}  // namespace kelvara
