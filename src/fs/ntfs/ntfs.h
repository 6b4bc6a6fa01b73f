#pragma once
// The NTFS volume parser: finds the $MFT (boot sector, fallback search, chosen copy, or
// a deep scan of every record on the volume), parses every record once, links the
// entries into a tree by parent reference, and extracts files (resident, plain,
// sparse, LZNT1-compressed, through $ATTRIBUTE_LIST).

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/ByteReader.h"
#include "fs/VolumeParser.h"
#include "fs/ntfs/NtfsLayout.h"
#include "widgets/CXHtmlTree.h"

namespace kelvara {

// What one record says, taken from its fixed-up bytes.
struct ParsedRecord {
    bool hasFileName = false;
    std::int64_t parentIndex = 0;
    std::uint64_t allocatedSize = 0;
    std::uint8_t kind = 0;
    std::uint16_t recordFlags = 0;
    std::uint16_t fileAttributes = 0;
    const std::uint8_t* name = nullptr;  // UTF-16LE inside the fixed-up buffer
    std::size_t nameUnits = 0;
    bool hasTimes = false;
    std::uint64_t created = 0, modified = 0, accessed = 0;
    bool dataSizeKnown = false;
    std::uint64_t dataSize = 0;
    bool hasAttributeList = false;
    bool hasRecordNumber = false;
    std::uint32_t recordNumber = 0;
    std::uint64_t baseRecord = 0;
};

// The unnamed $DATA stream of a file, gathered from its record and its extension records.
struct DataStream {
    bool found = false;
    bool resident = false;
    std::vector<std::uint8_t> residentBytes;
    std::uint64_t realSize = 0, allocatedSize = 0, initializedSize = 0;
    std::uint16_t flags = 0;
    std::uint8_t compressionExponent = 0;
    std::vector<DataRun> runs;  // in VCN order from VCN 0, holes included
    std::uint64_t clusters = 0;  // VCNs the runs cover
    bool gaps = false;           // some extent was missing
};

// The texts "Compressed", "Encrypted", "Normal" of a $DATA attribute's flags.
struct DataInfo {
    std::uint32_t dataOffset = 0, dataLength = 0;
    std::uint16_t compressionExponent = 0;
    std::uint64_t firstVcn = 0, lastVcn = 0;
    char residency = 0;  // 'N' or 'R'
    const char* kindText = "";
    std::uint64_t allocatedSize = 0, realSize = 0;
};

// The update sequence fixup of one record in place: the last two bytes of every 512-byte
// stride are replaced by the array's entries (torn writes are not refused).
void applyFixup(std::span<std::uint8_t> record);

// Parses a fixed-up record.
ParsedRecord parseRecordBytes(std::span<const std::uint8_t> record);

// "-R", "-H", "-S", "-A", "-C", "-E" for the attribute bits, in that order.
std::string attributeText(std::uint16_t attributes);

class ntfs final : public VolumeParser {
public:
    ntfs();

    // VolumeParser.
    std::string kindName() const override { return "ntfs"; }
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
    std::string formatAttributes(EntryRef ref) const override;
    std::string formatSize(EntryRef ref) const override;
    EntryTimesUtc times(EntryRef ref) const override;
    ExtractResult extractEntry(EntryRef ref, const std::string& outputFolder) override;
    bool isSaveableDirectory(EntryRef ref) const override;
    bool skipOnSave(EntryRef ref) const override;
    bool isSelfLink(EntryRef ref) const override;
    EntryRef volumeRoot() const override;

    // The scan steps.
    void insertRootItem();
    bool readBootSector();
    bool locateMft();
    std::uint64_t findMftCandidates(std::uint64_t wanted);
    bool useMftCandidate(std::size_t index);
    void collectMftRecords();
    bool parseRecord(std::uint64_t offset, std::size_t index);
    std::vector<DataRun> getRuns(std::uint64_t offset, std::uint32_t attributeType);
    void linkEntry(std::size_t index);
    void linkChild(std::size_t index);
    void buildTree();
    void regroupOrphans();
    bool fillTopLevel();
    void freeNames();
    void deepScan();
    DataInfo describeData(std::uint64_t recordOffset);
    // The unnamed $DATA stream of the record at recordOffset; false when there is none.
    bool loadDataStream(std::uint64_t recordOffset, DataStream& stream);

    std::string_view nameView(const MftEntry& e) const {
        return e.hasName ? std::string_view(nameStore_).substr(e.nameOffset, e.nameLength) : std::string_view();
    }

    // State (public for the page's and the tests' reading).
    std::vector<MftEntry> entries;
    std::vector<MftEntry> mftCandidates;
    std::vector<DataRun> mftRuns;
    std::vector<std::uint8_t> bootSector;
    std::uint64_t bytesPerCluster = 0;
    std::uint32_t recordSize = ntfs_layout::kDefaultRecordSize;
    std::uint64_t volumeSize = 0;
    std::uint64_t mftOffset = 0;
    bool mftRunsReady = false;
    bool needRunFromFirstEntry = true;
    std::uint64_t clusterCount = 0;
    int scanMode = 1;
    std::int64_t orphanIndex = -1;
    std::int64_t rootIndex = 5;
    TreeItem rootItem = kNoItem;

private:
    bool bootIntact() const;
    std::uint64_t bootClusterSize() const;
    std::uint32_t bootRecordSize() const;
    std::uint64_t capToDevice(std::uint64_t size) const;
    // Reads the record at offset into buf (recordSize bytes) and fixes it up.
    bool readRecord(std::uint64_t offset, std::vector<std::uint8_t>& buf) const;
    void storeParsed(MftEntry& e, const ParsedRecord& p);
    std::uint32_t commitName(const std::uint8_t* utf16, std::size_t units, std::uint64_t& offset);
    // Scans the volume in 10 MiB chunks for records; visit returns false to stop.
    void scanForRecords(bool checkHeader, std::uint64_t progressEvery,
                        const std::function<bool(std::uint64_t, const std::uint8_t*)>& visit,
                        const std::function<bool(std::uint64_t)>& keepGoing);
    bool offsetOfRecordNumber(std::uint64_t recordNumber, std::uint64_t& offset);
    void inferClusterSizeFromMft(std::uint64_t recordOffset);
    // The $MFT's runs from its record, extension records included.
    std::vector<DataRun> mftRunsAt(std::uint64_t recordOffset);
    bool fallbackSearch();
    void attachOrphanEntry();
    void detachChildrenOfNonDirectories();
    void adoptExtensionNames();
    const MftEntry* entry(EntryRef ref) const;

    std::string nameStore_;
    std::vector<std::uint8_t> recordBuffer_;
    AdvancedChoice choice_;
    std::unordered_map<std::uint32_t, std::uint64_t> deepRecordOffsets_;
    bool deepMapBuilt_ = false;
};

}  // namespace kelvara
