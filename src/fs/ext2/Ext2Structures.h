#pragma once
// The ext2/3/4 structures we read, parsed from checked slices: the superblock, group
// descriptors, inodes and the entries of one directory block (live ones, and the
// deleted ones left in the slack of live records).

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "common/ByteReader.h"
#include "fs/ext2/Ext2Layout.h"

namespace kelvara::ext2 {

struct Superblock {
    std::uint32_t inodesCount = 0;
    std::uint64_t blocksCount = 0;
    std::uint32_t firstDataBlock = 0;
    std::uint32_t blockSize = 0;
    std::uint32_t blocksPerGroup = 0;
    std::uint32_t inodesPerGroup = 0;
    std::uint32_t inodeSize = 0;
    std::uint32_t firstIno = 0;
    std::uint32_t featureIncompat = 0;
    std::uint32_t featureRoCompat = 0;
    std::uint32_t descSize = gd::kSize32;
    std::uint32_t firstMetaBg = 0;
    std::uint64_t groupCount = 0;

    bool fileType() const { return featureIncompat & sb::kIncompatFileType; }
    bool metaBg() const { return featureIncompat & sb::kIncompatMetaBg; }
    bool sparseSuper() const { return featureRoCompat & sb::kRoCompatSparseSuper; }
    // Group flags and unused-inode counts are only kept up to date with checksums on.
    bool groupChecksums() const {
        return featureRoCompat & (sb::kRoCompatGdtCsum | sb::kRoCompatMetadataCsum);
    }
};

// A superblock when the magic is right and the geometry makes sense; nothing otherwise.
std::optional<Superblock> parseSuperblock(const ByteReader& r);

// The byte offset of the descriptor table that follows a superblock found at
// superblockOffset: the start of the next block.
std::uint64_t descriptorTableOffset(std::uint64_t superblockOffset, std::uint32_t blockSize);

struct GroupDesc {
    std::uint64_t inodeTable = 0;
    std::uint16_t flags = 0;
    std::uint32_t itableUnused = 0;
};

GroupDesc parseGroupDesc(const ByteReader& r, std::uint32_t descSize);

struct InodeTime {
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
};

struct Inode {
    std::uint16_t mode = 0;
    std::uint16_t linksCount = 0;
    std::uint32_t flags = 0;
    std::uint32_t dtime = 0;
    std::uint64_t size = 0;
    InodeTime atime, ctime, mtime;
    std::array<std::uint8_t, ino::kBlockBytes> block{};

    std::uint16_t type() const { return mode & ino::kTypeMask; }
    bool isDirectory() const { return type() == ino::kTypeDir; }
    bool isRegular() const { return type() == ino::kTypeFile; }
    bool isDeleted() const { return linksCount == 0 || dtime != 0; }
    bool usesExtents() const { return flags & ino::kExtentsFl; }
    bool hasInlineData() const { return flags & ino::kInlineDataFl; }
    std::uint32_t blockWord(std::uint32_t i) const;
    // Whether the block map or the extent root still lists any block.
    bool mapsAnyBlock() const;
};

// r is one inode slot (inode size bytes).
Inode parseInode(const ByteReader& r);

// The attribute text of a mode: "-OE" "-OW" "-OR" "-GE" "-GW" "-GR" "-UE" "-UW" "-UR"
// for each of the bits 0x1 ... 0x100 that is set, in that order.
std::string modeText(std::uint16_t mode);

struct DirWalkRules {
    bool fileType = false;        // the volume has the file-type feature
    std::uint32_t inodesCount = 0;
    std::uint32_t firstIno = 11;  // deleted entries below this are not believed
    bool walkSlack = true;
    bool indexedDirectory = false;  // block 0 holds the index root after ".."
    bool firstBlock = false;
};

struct DirEntryHit {
    std::uint32_t inode = 0;
    std::string_view name;  // bytes as on disk
    std::uint8_t fileType = 0;
    bool fromSlack = false;
    std::uint32_t index = 0;  // place among the block's live entries ("." and ".." are 0 and 1)
};

// Walks one directory block: every live entry (names "." and ".." and inode 0
// included, so the caller sees them) and, with walkSlack, every plausible deleted entry
// in the space a record covers beyond its own name.
void walkDirectoryBlock(const ByteReader& block, const DirWalkRules& rules,
                        const std::function<void(const DirEntryHit&)>& onEntry);

// Whether a deleted entry's name is believable: valid UTF-8 without control
// characters or '/', not "." or "..".
bool plausibleDeletedName(std::string_view name);

}  // namespace kelvara::ext2
