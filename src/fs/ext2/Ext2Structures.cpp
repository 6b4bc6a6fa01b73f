#include "fs/ext2/Ext2Structures.h"

#include <string>

#include "common/Text.h"

namespace kelvara::ext2 {

std::optional<Superblock> parseSuperblock(const ByteReader& r) {
    if (!r.has(0, sb::kSize) || r.le16(sb::magic) != sb::kMagic) return std::nullopt;
    Superblock s;
    const std::uint32_t log = r.le32(sb::logBlockSize);
    if (log > sb::kMaxLogBlockSize) return std::nullopt;
    s.blockSize = 1024u << log;
    s.inodesCount = r.le32(sb::inodesCount);
    s.firstDataBlock = r.le32(sb::firstDataBlock);
    s.blocksPerGroup = r.le32(sb::blocksPerGroup);
    s.inodesPerGroup = r.le32(sb::inodesPerGroup);
    s.featureIncompat = r.le32(sb::featureIncompat);
    s.featureRoCompat = r.le32(sb::featureRoCompat);
    s.blocksCount = r.le32(sb::blocksCountLo);
    if (s.featureIncompat & sb::kIncompat64Bit)
        s.blocksCount |= std::uint64_t(r.le32(sb::blocksCountHi)) << 32;
    if (r.le32(sb::revLevel) == 0) {
        s.inodeSize = sb::kRev0InodeSize;
        s.firstIno = sb::kRev0FirstIno;
    } else {
        s.inodeSize = r.le16(sb::inodeSize);
        if (s.inodeSize == 0) s.inodeSize = sb::kRev0InodeSize;
        s.firstIno = r.le32(sb::firstIno);
    }
    if (s.inodeSize < ino::kBaseSize || s.inodeSize > s.blockSize || (s.inodeSize & (s.inodeSize - 1)))
        return std::nullopt;
    if (s.blocksPerGroup == 0 || s.inodesPerGroup == 0 || s.inodesCount == 0) return std::nullopt;
    if (s.inodesPerGroup > 8u * s.blockSize) return std::nullopt;  // one bitmap block per group
    if (s.firstDataBlock > 1 || s.blocksCount <= s.firstDataBlock) return std::nullopt;
    if (s.blocksCount > (std::uint64_t(1) << 62) / s.blockSize) return std::nullopt;  // byte offsets fit
    s.groupCount = (s.blocksCount - s.firstDataBlock + s.blocksPerGroup - 1) / s.blocksPerGroup;
    // The inode count is groups x inodes per group; a group count far beyond it is a
    // broken or foreign block.
    if (std::uint64_t(s.inodesCount) > s.groupCount * s.inodesPerGroup) return std::nullopt;
    if (s.groupCount > std::uint64_t(s.inodesCount) / s.inodesPerGroup + 1) return std::nullopt;
    if (s.featureIncompat & sb::kIncompat64Bit) {
        s.descSize = r.le16(sb::descSize);
        if (s.descSize < gd::kSize64 || s.descSize > gd::kMaxSize || (s.descSize & (s.descSize - 1)))
            return std::nullopt;
    }
    if (s.descSize > s.blockSize) return std::nullopt;
    if (s.firstIno < 2) s.firstIno = sb::kRev0FirstIno;
    if (s.featureIncompat & sb::kIncompatMetaBg) s.firstMetaBg = r.le32(sb::firstMetaBg);
    return s;
}

std::uint64_t descriptorTableOffset(std::uint64_t superblockOffset, std::uint32_t blockSize) {
    return (superblockOffset / blockSize + 1) * blockSize;
}

GroupDesc parseGroupDesc(const ByteReader& r, std::uint32_t descSize) {
    GroupDesc g;
    g.inodeTable = r.le32(gd::inodeTableLo);
    g.flags = r.le16(gd::flags);
    g.itableUnused = r.le16(gd::itableUnusedLo);
    if (descSize >= gd::kSize64) {
        g.inodeTable |= std::uint64_t(r.le32(gd::inodeTableHi)) << 32;
        g.itableUnused |= std::uint32_t(r.le16(gd::itableUnusedHi)) << 16;
    }
    return g;
}

namespace {

// Seconds are signed 32-bit; the extra field adds two epoch bits and nanoseconds.
InodeTime decodeTime(const ByteReader& r, std::uint32_t off, std::uint32_t extraOff, bool hasExtra) {
    InodeTime t;
    t.seconds = static_cast<std::int32_t>(r.le32(off));
    if (hasExtra) {
        const std::uint32_t extra = r.le32(extraOff);
        t.seconds += std::int64_t(extra & 3) << 32;
        t.nanoseconds = extra >> 2;
        if (t.nanoseconds > 999999999) t.nanoseconds = 0;
    }
    return t;
}

}  // namespace

std::uint32_t Inode::blockWord(std::uint32_t i) const {
    return ByteReader(block.data(), block.size()).le32(i * 4);
}

bool Inode::mapsAnyBlock() const {
    if (usesExtents()) {
        const ByteReader r(block.data(), block.size());
        return r.le16(ext::magic) == ext::kMagic && r.le16(ext::entries) > 0;
    }
    for (std::uint32_t i = 0; i <= ino::kTripleIndirect; ++i)
        if (blockWord(i) != 0) return true;
    return false;
}

Inode parseInode(const ByteReader& r) {
    Inode n;
    n.mode = r.le16(ino::mode);
    n.linksCount = r.le16(ino::linksCount);
    n.flags = r.le32(ino::flags);
    n.dtime = r.le32(ino::dtime);
    n.size = r.le32(ino::sizeLo) | (std::uint64_t(r.le32(ino::sizeHi)) << 32);
    const std::uint32_t extra = r.size() > ino::kBaseSize ? r.le16(ino::extraIsize) : 0;
    auto covered = [&](std::uint32_t off) { return extra >= off + 4 - ino::kBaseSize && r.has(off, 4); };
    n.ctime = decodeTime(r, ino::ctime, ino::ctimeExtra, covered(ino::ctimeExtra));
    n.mtime = decodeTime(r, ino::mtime, ino::mtimeExtra, covered(ino::mtimeExtra));
    n.atime = decodeTime(r, ino::atime, ino::atimeExtra, covered(ino::atimeExtra));
    for (std::uint32_t i = 0; i < ino::kBlockBytes; ++i) n.block[i] = r.u8(ino::block + i);
    return n;
}

std::string modeText(std::uint16_t mode) {
    static constexpr const char* kTexts[] = {"-OE", "-OW", "-OR", "-GE", "-GW", "-GR", "-UE", "-UW", "-UR"};
    std::string out;
    for (int bit = 0; bit < 9; ++bit)
        if (mode & (1u << bit)) out += kTexts[bit];
    return out;
}

bool plausibleDeletedName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '/') return false;
    return sanitizeUtf8(name) == name;
}

namespace {

struct RawEntry {
    std::uint32_t inode;
    std::uint32_t recLen;
    std::uint32_t nameLen;
    std::uint8_t fileType;
};

RawEntry rawEntry(const ByteReader& b, std::size_t off, bool fileType) {
    RawEntry e;
    e.inode = b.le32(off + dir::inode);
    e.recLen = b.le16(off + dir::recLen);
    e.nameLen = fileType ? b.u8(off + dir::nameLen) : b.le16(off + dir::nameLen);
    e.fileType = fileType ? b.u8(off + dir::fileType) : 0;
    return e;
}

// Deleted entries in [start, end): each one that lines up gets reported and its own
// slack is searched on; otherwise the search moves on by 4 bytes.
void walkSlack(const ByteReader& b, std::size_t start, std::size_t end, const DirWalkRules& rules,
               const std::function<void(const DirEntryHit&)>& onEntry) {
    std::size_t pos = (start + 3) & ~std::size_t(3);
    while (pos < end && end - pos >= dir::kHeaderSize + 1) {
        const RawEntry e = rawEntry(b, pos, rules.fileType);
        const std::size_t room = end - pos;
        bool ok = e.inode >= rules.firstIno && e.inode <= rules.inodesCount && e.nameLen >= 1 &&
                  e.nameLen <= 255 && (e.recLen & 3) == 0 && e.recLen >= dir::minimalSize(e.nameLen) &&
                  e.recLen <= room && e.fileType <= dir::kTypeMax;
        std::string_view name;
        if (ok) {
            name = std::string_view(reinterpret_cast<const char*>(b.bytes()) + pos + dir::name, e.nameLen);
            ok = plausibleDeletedName(name);
        }
        if (!ok) {
            pos += 4;
            continue;
        }
        onEntry(DirEntryHit{e.inode, name, e.fileType, true});
        pos += dir::minimalSize(e.nameLen);
    }
}

}  // namespace

void walkDirectoryBlock(const ByteReader& b, const DirWalkRules& rules,
                        const std::function<void(const DirEntryHit&)>& onEntry) {
    const std::size_t size = b.size();
    std::size_t off = 0;
    std::uint32_t index = 0;
    while (off < size && b.has(off, dir::kHeaderSize)) {
        const RawEntry e = rawEntry(b, off, rules.fileType);
        if (e.recLen == 0) break;
        if (e.nameLen == 0) {
            // A record without a name is broken (or a checksum tail, or an index block's
            // fake entry): nothing to report and no slack to search, but while its length
            // is sound the entries after it still count.
            if (e.recLen < dir::kHeaderSize || (e.recLen & 3) != 0) break;
            off += e.recLen;
            continue;
        }
        if (rules.fileType ? e.inode > rules.inodesCount : e.nameLen > dir::kMaxNameLenNoType) break;
        if (!b.has(off + dir::name, e.nameLen)) break;
        const std::string_view name(reinterpret_cast<const char*>(b.bytes()) + off + dir::name, e.nameLen);
        onEntry(DirEntryHit{e.inode, name, e.fileType, false, index++});

        const std::uint32_t minimal = dir::minimalSize(e.nameLen);
        const bool indexRoot = rules.indexedDirectory && rules.firstBlock && name == "..";
        if (rules.walkSlack && !indexRoot && e.recLen > minimal) {
            const std::size_t end = e.recLen <= size - off ? off + e.recLen : size;
            walkSlack(b, off + minimal, end, rules, onEntry);
        }
        if (rules.fileType && e.recLen < minimal + 4)
            off += minimal;
        else
            off += e.recLen;
    }
}

}  // namespace kelvara::ext2
