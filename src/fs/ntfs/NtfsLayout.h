#pragma once
// On-disk layout of NTFS as this parser reads it: boot sector fields, record and
// attribute headers, and the records the parser keeps per MFT slot.

#include <array>
#include <cstdint>
#include <vector>

namespace kelvara::ntfs_layout {

// Boot sector.
constexpr std::size_t kOemId = 3;
constexpr std::size_t kBytesPerSector = 0x0B;
constexpr std::size_t kSectorsPerCluster = 0x0D;
constexpr std::size_t kTotalSectors = 0x28;
constexpr std::size_t kMftCluster = 0x30;
constexpr std::size_t kClustersPerRecord = 0x40;

// MFT record header.
constexpr std::size_t kUsaOffset = 4;
constexpr std::size_t kUsaCount = 6;
constexpr std::size_t kBaseRecord = 0x20;
constexpr std::size_t kFirstAttribute = 0x14;
constexpr std::size_t kRecordFlags = 0x16;
constexpr std::size_t kRecordNumber = 0x2C;  // present when the array starts at 0x30 or later
constexpr std::uint32_t kFixupStride = 512;

// Attribute header.
constexpr std::size_t kAttrType = 0;
constexpr std::size_t kAttrLength = 4;
constexpr std::size_t kAttrNonResident = 8;
constexpr std::size_t kAttrNameLength = 9;
constexpr std::size_t kAttrFlags = 0x0C;
constexpr std::size_t kAttrValueLength = 0x10;  // resident
constexpr std::size_t kAttrValueOffset = 0x14;  // resident
constexpr std::size_t kAttrFirstVcn = 0x10;     // non-resident
constexpr std::size_t kAttrLastVcn = 0x18;
constexpr std::size_t kAttrRunListOffset = 0x20;
constexpr std::size_t kAttrCompressionUnit = 0x22;
constexpr std::size_t kAttrAllocatedSize = 0x28;
constexpr std::size_t kAttrRealSize = 0x30;
constexpr std::size_t kAttrInitializedSize = 0x38;

constexpr std::uint32_t kStandardInformation = 0x10;
constexpr std::uint32_t kAttributeList = 0x20;
constexpr std::uint32_t kFileName = 0x30;
constexpr std::uint32_t kData = 0x80;
constexpr std::uint32_t kEndOfAttributes = 0xFFFFFFFF;

// $FILE_NAME value.
constexpr std::size_t kFnParent = 0;
constexpr std::size_t kFnAllocatedSize = 0x28;
constexpr std::size_t kFnAttributes = 0x38;
constexpr std::size_t kFnNameLength = 0x40;
constexpr std::size_t kFnNamespace = 0x41;
constexpr std::size_t kFnName = 0x42;
constexpr std::uint8_t kDosNamespace = 2;
constexpr std::uint32_t kFnDirectoryFlag = 0x10000000;

// $STANDARD_INFORMATION value.
constexpr std::size_t kSiCreated = 0;
constexpr std::size_t kSiModified = 8;
constexpr std::size_t kSiAccessed = 0x18;

// $ATTRIBUTE_LIST entry.
constexpr std::size_t kAlType = 0;
constexpr std::size_t kAlLength = 4;
constexpr std::size_t kAlNameLength = 6;
constexpr std::size_t kAlStartVcn = 8;
constexpr std::size_t kAlReference = 0x10;

constexpr std::uint8_t kDirectoryKind = 0x44;  // 'D'
constexpr std::uint32_t kDefaultRecordSize = 1024;
constexpr std::uint64_t kDefaultClusterSize = 4096;
constexpr std::uint64_t kChunkSize = 10 * 1024 * 1024;

}  // namespace kelvara::ntfs_layout

namespace kelvara {

// One run of a non-resident attribute: `length` clusters from `start`, or a hole.
struct DataRun {
    std::uint64_t start = 0;
    std::uint64_t length = 0;
    bool sparse = false;
    bool operator==(const DataRun&) const = default;
};

// One MFT record slot (or one record found by a scan). Tree links are indices into
// the parser's entry list; 0 or a negative value means none.
struct MftEntry {
    std::array<char, 4> signature{};
    std::uint64_t recordOffset = 0;
    std::uint64_t nameOffset = 0;  // into the parser's name store
    std::uint32_t nameLength = 0;
    bool hasName = false;
    std::int64_t parentIndex = 0;
    std::uint64_t allocatedSize = 0;
    std::uint16_t recordFlags = 0;
    std::uint8_t kind = 0;
    std::uint8_t orphan = 0;
    std::uint64_t selfIndex = 0;
    std::int64_t firstChild = 0;
    std::int64_t nextSibling = 0;
    std::int64_t lastChild = 0;  // tail of the child chain, so appending is O(1)
    bool linked = false;

    // Kept from the one parse so lists and --json never re-read the record.
    std::uint64_t created = 0, modified = 0, accessed = 0;  // FILETIME, UTC
    bool hasTimes = false;
    std::uint16_t fileAttributes = 0;  // low bits of the last $FILE_NAME's flags
    std::uint64_t dataSize = 0;        // unnamed $DATA's size when the record holds it
    bool dataSizeKnown = false;
    bool hasAttributeList = false;
    std::uint32_t recordNumber = 0;  // from the header, when it carries one
    bool hasRecordNumber = false;
    std::uint64_t baseRecord = 0;  // non-zero: an extension record of that base record

    bool isFileRecord() const {
        return signature[0] == 'F' && signature[1] == 'I' && signature[2] == 'L' && signature[3] == 'E';
    }
};

}  // namespace kelvara
