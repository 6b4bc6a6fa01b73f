#include "fs/hfsp/HfsStructures.h"

#include "common/Text.h"

namespace kelvara::hfsp {

namespace {
bool isPowerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }
}  // namespace

ExtentRecord parseExtentRecord(const ByteReader& r, std::size_t off) {
    ExtentRecord ext{};
    for (std::size_t i = 0; i < ext.size(); ++i) {
        ext[i].startBlock = r.be32(off + 8 * i);
        ext[i].blockCount = r.be32(off + 8 * i + 4);
    }
    return ext;
}

ForkData parseForkData(const ByteReader& r, std::size_t off) {
    ForkData f;
    f.logicalSize = r.be64(off);
    f.totalBlocks = r.be32(off + 12);
    f.extents = parseExtentRecord(r, off + 16);
    return f;
}

VolumeHeader parseVolumeHeader(const ByteReader& r) {
    VolumeHeader h;
    h.signature = r.be16(0);
    h.blockSize = r.be32(0x28);
    h.totalBlocks = r.be32(0x2C);
    h.extentsFile = parseForkData(r, 0xC0);
    h.catalogFile = parseForkData(r, 0x110);
    return h;
}

bool isUsableBlockSize(std::uint32_t blockSize) {
    return isPowerOfTwo(blockSize) && blockSize >= 512 && blockSize <= (1u << 20);
}

bool isUsableNodeSize(std::uint32_t nodeSize) {
    return isPowerOfTwo(nodeSize) && nodeSize >= kMinNodeSize && nodeSize <= kMaxNodeSize;
}

NodeDescriptor parseNodeDescriptor(const ByteReader& node) {
    NodeDescriptor d;
    d.forwardLink = node.be32(0);
    d.backwardLink = node.be32(4);
    d.kind = static_cast<std::int8_t>(node.u8(8));
    d.height = node.u8(9);
    d.numRecords = node.be16(10);
    return d;
}

bool isKnownNodeKind(std::int8_t kind) { return kind >= kLeafNode && kind <= kMapNode; }

BTreeHeader parseBTreeHeader(const ByteReader& node0) {
    BTreeHeader h;
    h.nodeSize = node0.be16(kNodeDescriptorSize + 18);
    h.totalNodes = node0.be32(kNodeDescriptorSize + 22);
    return h;
}

std::vector<std::uint16_t> recordOffsets(const ByteReader& node, std::uint16_t count) {
    std::vector<std::uint16_t> out;
    if (node.size() < kNodeDescriptorSize + 2) return out;
    const std::size_t room = (node.size() - kNodeDescriptorSize) / 2;
    const std::size_t n = std::min<std::size_t>(count, room);
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) out.push_back(node.be16(node.size() - 2 - 2 * i));
    return out;
}

bool looksLikeLeafNode(const ByteReader& bytes, std::uint32_t nodeSize) {
    if (nodeSize < kNodeDescriptorSize + 2 || !bytes.has(0, nodeSize)) return false;
    const NodeDescriptor d = parseNodeDescriptor(bytes);
    return d.kind == kLeafNode && d.height != 0 && d.numRecords >= 1 && d.numRecords <= 999 &&
           bytes.be16(nodeSize - 2) == kNodeDescriptorSize;
}

bool looksLikeLeafNodeStrict(const ByteReader& bytes, std::uint32_t nodeSize) {
    if (!looksLikeLeafNode(bytes, nodeSize)) return false;
    const std::uint16_t n = bytes.be16(10);
    // n offsets plus the free-space offset, all ascending, the table clear of them.
    if (kNodeDescriptorSize + 2u * (n + 1u) > nodeSize) return false;
    const std::size_t tableStart = nodeSize - 2u * (n + 1u);
    std::uint32_t prev = 0;
    for (std::uint32_t i = 0; i <= n; ++i) {
        const std::uint32_t o = bytes.be16(nodeSize - 2 - 2 * i);
        if (o <= prev || o > tableStart) return false;
        prev = o;
    }
    return true;
}

std::optional<CatalogRecord> parseCatalogRecord(const ByteReader& node, std::size_t offset) {
    if (!node.has(offset, 8)) return std::nullopt;
    const std::uint16_t keyLength = node.be16(offset);
    const std::uint16_t nameUnits = node.be16(offset + 6);
    // Only thread keys are meant to be nameless, and their records are refused below; a
    // file or folder record whose name was wiped still holds its data.
    if (nameUnits > kMaxNameUnits) return std::nullopt;
    // The name has to lie inside its key, and the key inside the node.
    if (keyLength < 6u + 2u * nameUnits || !node.has(offset + 8, 2u * nameUnits)) return std::nullopt;
    const std::size_t recordAt = offset + 2 + keyLength;
    if (!node.has(recordAt, 2)) return std::nullopt;

    CatalogRecord rec;
    rec.parentId = node.be32(offset + 2);
    rec.type = node.be16(recordAt);
    // Folder records are 88 bytes, file records 248.
    const std::size_t recordSize = rec.type == kFolderRecord ? 88 : rec.type == kFileRecord ? 248 : 0;
    if (recordSize == 0 || !node.has(recordAt, recordSize)) return std::nullopt;
    const ByteReader r = node.sub(recordAt, recordSize);
    rec.cnid = r.be32(0x08);
    if (rec.cnid == 0) return std::nullopt;
    rec.name = utf16beToUtf8(node.bytes() + offset + 8, nameUnits);
    rec.createDate = r.be32(0x0C);
    rec.contentModDate = r.be32(0x10);
    rec.attributeModDate = r.be32(0x14);
    rec.accessDate = r.be32(0x18);
    rec.fileMode = r.be16(0x2A);
    if (rec.type == kFileRecord) rec.dataFork = parseForkData(r, 0x58);
    return rec;
}

std::optional<ExtentsOverflowRecord> parseExtentsRecord(const ByteReader& node, std::size_t offset) {
    if (!node.has(offset, 2)) return std::nullopt;
    const std::uint16_t keyLength = node.be16(offset);
    if (keyLength < 10 || !node.has(offset + 2 + keyLength, 64)) return std::nullopt;
    ExtentsOverflowRecord rec;
    rec.forkType = node.u8(offset + 2);
    rec.fileId = node.be32(offset + 4);
    rec.startBlock = node.be32(offset + 8);
    rec.extents = parseExtentRecord(node, offset + 2 + keyLength);
    return rec;
}

std::string attributeText(std::uint16_t fileMode) {
    static constexpr struct {
        std::uint16_t bit;
        const char* text;
    } kParts[] = {{0x40, "-Owner:X"}, {0x80, "-Owner:W"}, {0x100, "-Owner:R"},
                  {0x1, "-OX"},       {0x2, "-OW"},       {0x4, "-OR"},
                  {0x8, "-GX"},       {0x10, "-GW"},      {0x20, "-GR"}};
    std::string out;
    for (const auto& p : kParts)
        if (fileMode & p.bit) out += p.text;
    return out;
}

}  // namespace kelvara::hfsp
