#pragma once
// HFS+ on-disk structures as this program reads them (published layout, big-endian):
// the volume header, fork data, B-tree node descriptors and record offsets, catalog
// folder and file records, extents-overflow records. Parsing only; no I/O.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/ByteReader.h"

namespace kelvara::hfsp {

// Seconds from 1904-01-01 (HFS+ dates, UTC) to 1970-01-01.
constexpr std::int64_t kHfsEpochToUnix = 2082844800;
constexpr std::uint32_t kRootFolderId = 2;
constexpr std::uint32_t kCatalogFileId = 4;
constexpr std::size_t kNodeDescriptorSize = 14;
constexpr std::uint32_t kMinNodeSize = 512;
constexpr std::uint32_t kMaxNodeSize = 32768;
constexpr std::size_t kMaxNameUnits = 255;

enum NodeKind : std::int8_t { kLeafNode = -1, kIndexNode = 0, kHeaderNode = 1, kMapNode = 2 };
enum CatalogRecordType : std::uint16_t { kFolderRecord = 1, kFileRecord = 2 };

struct HfsExtent {
    std::uint32_t startBlock = 0;
    std::uint32_t blockCount = 0;
};
using ExtentRecord = std::array<HfsExtent, 8>;

struct ForkData {
    std::uint64_t logicalSize = 0;
    std::uint32_t totalBlocks = 0;
    ExtentRecord extents{};
};
// 80 bytes at off: logical size, clump size, total blocks, eight extents.
ForkData parseForkData(const ByteReader& r, std::size_t off);
ExtentRecord parseExtentRecord(const ByteReader& r, std::size_t off);

struct VolumeHeader {
    std::uint16_t signature = 0;  // "H+" or "HX"; not required
    std::uint32_t blockSize = 0;
    std::uint32_t totalBlocks = 0;
    ForkData extentsFile;
    ForkData catalogFile;
};
// The 512 bytes at byte 1024 of the volume.
VolumeHeader parseVolumeHeader(const ByteReader& r);
// Block sizes this reader accepts: powers of two from 512 bytes to 1 MiB.
bool isUsableBlockSize(std::uint32_t blockSize);
bool isUsableNodeSize(std::uint32_t nodeSize);

struct NodeDescriptor {
    std::uint32_t forwardLink = 0;
    std::uint32_t backwardLink = 0;
    std::int8_t kind = 0;
    std::uint8_t height = 0;
    std::uint16_t numRecords = 0;
};
NodeDescriptor parseNodeDescriptor(const ByteReader& node);
bool isKnownNodeKind(std::int8_t kind);

// Node 0's header record: node size and total nodes.
struct BTreeHeader {
    std::uint16_t nodeSize = 0;
    std::uint32_t totalNodes = 0;
};
BTreeHeader parseBTreeHeader(const ByteReader& node0);

// Up to count record offsets, read backwards from the end of the node (the first
// record's offset in the last two bytes); the table never reaches into the descriptor.
std::vector<std::uint16_t> recordOffsets(const ByteReader& node, std::uint16_t count);

// Whether the node at the start of `bytes`, taken as nodeSize bytes, looks like a
// catalog leaf node: kind -1, height not 0, 1 to 999 records, first offset 14.
bool looksLikeLeafNode(const ByteReader& bytes, std::uint32_t nodeSize);
// The same with the record offset table checked to be ascending and inside the node:
// the test used when the node size is not known and has to be recognised.
bool looksLikeLeafNodeStrict(const ByteReader& bytes, std::uint32_t nodeSize);

struct CatalogRecord {
    std::uint16_t type = 0;  // kFolderRecord, kFileRecord, or another type (skipped)
    std::uint32_t parentId = 0;
    std::uint32_t cnid = 0;
    std::string name;        // UTF-8
    std::uint32_t createDate = 0, contentModDate = 0, attributeModDate = 0, accessDate = 0;
    std::uint16_t fileMode = 0;
    ForkData dataFork;       // files only
};
// The record whose key starts at offset in node; nothing when the key or the record
// does not lie inside the node, the name is empty or longer than 255 units, or the
// record is neither a folder nor a file record with a usable CNID.
std::optional<CatalogRecord> parseCatalogRecord(const ByteReader& node, std::size_t offset);

struct ExtentsOverflowRecord {
    std::uint8_t forkType = 0;  // 0 data fork, 0xFF resource fork
    std::uint32_t fileId = 0;
    std::uint32_t startBlock = 0;
    ExtentRecord extents{};
};
std::optional<ExtentsOverflowRecord> parseExtentsRecord(const ByteReader& node, std::size_t offset);

// "-Owner:X-Owner:W-Owner:R-OX-OW-OR-GX-GW-GR", each part present when its mode bit is.
std::string attributeText(std::uint16_t fileMode);

}  // namespace kelvara::hfsp
