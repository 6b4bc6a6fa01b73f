#pragma once
// The exFAT parser: boot sector, root directory, a walk through every directory it can
// reach (deleted entry sets included), one flat record list linked into a tree, and the
// top level put into the results tree. The advanced mode does not trust the boot
// sector: it finds FAT copies and heap offsets, scans the whole volume for plausible
// entry sets and rebuilds the tree from them under "DUMMY ENTRY" and "ORPHAN ENTRY".

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "fs/VolumeParser.h"
#include "widgets/CXHtmlTree.h"

namespace kelvara {

// One file entry set (or a synthetic entry), as the walks found it.
struct ExFatEntryRecord {
    std::uint8_t entryType = 0;  // 0x85, or 0x05 for a deleted set
    std::uint16_t attributes = 0;
    std::uint32_t createTimestamp = 0;
    std::uint32_t modifyTimestamp = 0;
    std::uint32_t accessTimestamp = 0;
    std::uint8_t create10ms = 0;
    std::uint8_t modify10ms = 0;
    std::uint8_t createUtcOffset = 0;
    std::uint8_t modifyUtcOffset = 0;
    std::uint8_t accessUtcOffset = 0;
    std::uint8_t streamType = 0;  // 0xC0 or 0x40 (0 when the set had no stream entry)
    std::uint8_t streamFlags = 0;
    std::uint8_t nameLength = 0;
    std::uint64_t validDataLength = 0;
    std::uint32_t firstCluster = 0;
    std::uint64_t dataLength = 0;
    std::string name;  // UTF-8
    std::int32_t parentIndex = 0;
    std::int32_t selfIndex = 0;
    std::int32_t firstChild = -1;
    std::int32_t nextSibling = -1;
};

namespace exfat {
constexpr std::size_t kSlotSize = 32;
constexpr std::uint8_t kBitmapEntry = 0x81;
constexpr std::uint8_t kLabelEntry = 0x83;
constexpr std::uint8_t kFileEntry = 0x85;
constexpr std::uint8_t kDeletedFileEntry = 0x05;
constexpr std::uint8_t kStreamEntry = 0xC0;
constexpr std::uint8_t kDeletedStreamEntry = 0x40;
constexpr std::uint8_t kNameEntry = 0xC1;
constexpr std::uint8_t kDeletedNameEntry = 0x41;
constexpr std::size_t kMaxNameEntries = 32;  // 1024-byte gathering buffer / 32
constexpr std::uint8_t kFlagAllocationPossible = 0x01;
constexpr std::uint8_t kFlagNoFatChain = 0x02;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFF;
constexpr std::uint64_t kMaxDirectoryBytes = 256ull << 20;  // the format's own limit
constexpr std::uint64_t kFinderChunk = 10ull << 20;

// A parsed entry set: the record's fields and how many slots the set took.
struct ParsedSet {
    ExFatEntryRecord record;
    std::size_t slots = 0;
};
// Parses the entry set whose file entry is slots[0] (32-byte slots, in disk order).
// Nothing when slots[0] is no file entry.
std::optional<ParsedSet> parseEntrySet(std::span<const std::uint8_t> slots);

// The advanced scan's judgement of the slots at the start of `slots`: the number of
// slots of an accepted entry set, or 0.
std::size_t acceptEntrySet(std::span<const std::uint8_t> slots);

// Whether an attribute value makes a folder: in the walks (0x14 included), at the top
// level and for Save (0x14 not), and for a position of the advanced scan (low byte).
bool isWalkDirectory(std::uint16_t attributes);
bool isShownDirectory(std::uint16_t attributes);
bool isAdvancedDirectory(std::uint16_t attributes);

// A packed timestamp, its 10 ms increment and its UTC-offset byte as true UTC; nothing
// when the date is no calendar date.
std::optional<platform::UtcTime> timestampToUtc(std::uint32_t stamp, std::uint8_t tenMs,
                                                std::uint8_t utcOffset);
}  // namespace exfat

class Fat64Class : public VolumeParser {
public:
    std::string kindName() const override { return "fat64"; }
    bool runScan(int mode) override;
    std::vector<std::string> prepareAdvanced(const AdvancedChoice& choice) override;

    bool isEntry(EntryRef ref) const override;
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
    bool isSaveableDirectory(EntryRef ref) const override;
    EntryRef volumeRoot() const override;

    const std::vector<ExFatEntryRecord>& entries() const { return records; }

    // Steps of the scans, public for the advance options page and the tests.
    bool attachReader();
    bool checkBootSector();
    std::vector<std::uint64_t> findFats(int maxCount);
    std::vector<std::uint64_t> findHeapOffsets(int maxCount);
    void useGeometry(int shift);
    void scanForEntries();
    void buildFromPositions(std::uint64_t fatPosition, std::uint64_t heapPosition);
    void linkRecords();
    void fillTopLevel();
    std::uint32_t nextCluster(std::uint32_t cluster);

    // Results of the boot test and the finders.
    bool bootPassed() const { return bootPassed_; }
    int bootClusterShift() const { return bootClusterShift_; }
    std::uint64_t bootHeapOffset() const { return bootHeapOffset_; }
    const std::vector<std::uint64_t>& foundFats() const { return fatPositions; }
    const std::vector<std::uint64_t>& foundHeaps() const { return heapPositions; }
    const std::vector<std::uint64_t>& foundEntries() const { return entryPositions; }
    std::uint64_t clusterSize() const { return clusterSize_; }
    std::uint64_t heapOffset() const { return heapOffset_; }
    // Position of the allocation bitmap entry seen in the root (kept, not used).
    std::uint64_t bitmapEntryPosition() const { return bitmapPosition_; }

    // Set by the advanced choice: every FAT lookup ends the chain; files and folders
    // are taken as contiguous.
    bool driveFormatted = false;

private:
    void standardScan();
    void advancedScan();
    void resetScan();
    std::uint64_t clusterOffset(std::uint32_t c) const {
        return heapOffset_ + std::uint64_t(c - 2) * clusterSize_;
    }
    bool clusterInRange(std::uint32_t c) const { return c >= 2 && c < clusterLimit(); }
    std::uint64_t clusterLimit() const { return clusterSize_ ? volumeSize_ / clusterSize_ : 0; }
    bool chainContinues(std::uint32_t v) const { return v >= 2 && v < 0xFFFFFFF8u && v < clusterLimit(); }
    // The clusters of a directory, each not yet visited (a visited first cluster gives
    // none; a visited later one ends the list).
    std::vector<std::uint32_t> directoryClusters(const ExFatEntryRecord& dir);
    // Walks the directory clusters, appending records with parent `parent`; nested
    // directories are walked in turn.
    void walkDirectory(std::vector<std::uint32_t> clusters, std::int32_t parent, bool advanced);
    std::int32_t appendRecord(ExFatEntryRecord r);
    std::uint64_t volumeSizeFromRecord() const;

    std::vector<ExFatEntryRecord> records;
    std::unordered_set<std::uint64_t> visitedClusters;  // by byte offset
    std::unordered_set<std::uint64_t> processedPositions;
    std::vector<std::uint64_t> fatPositions, heapPositions, entryPositions;
    std::uint64_t labelPosition_ = 0;
    std::uint64_t orphanThreshold_ = 0;
    std::uint64_t lookupCounter_ = 0;

    TreeItem rootItem = kNoItem;
    std::uint64_t volumeSize_ = 0;
    bool bootPassed_ = false;
    int bootClusterShift_ = 0;
    std::uint64_t bootHeapOffset_ = 0;
    std::uint64_t bootFatOffset_ = 0;
    std::uint32_t bootRootCluster_ = 0;
    std::uint64_t bytesPerSector_ = 512;
    std::uint64_t clusterSize_ = 0;
    std::uint64_t fatOffset_ = 0;
    std::uint64_t heapOffset_ = 0;
    std::uint64_t bitmapPosition_ = 0;
    bool geometryOverride_ = false;

    // The advanced choice, applied by runScan(2).
    bool advancedPrepared_ = false;
    int chosenShift_ = 8;
    std::uint64_t chosenFat_ = 0, chosenHeap_ = 0;

    // FAT lookups read a window of the FAT at a time.
    std::vector<std::uint8_t> fatWindow_;
    std::uint64_t fatWindowStart_ = 0;
    bool fatWindowValid_ = false;
};

}  // namespace kelvara
