#pragma once
// On-disk layout of ext2, ext3 and ext4: offsets of the fields we read, sizes and flags.
// Everything is little-endian and read through ByteReader; nothing here is cast onto a
// buffer.

#include <cstdint>

namespace kelvara::ext2 {

// Superblock, 1024 bytes, normally at byte 1024 of the volume.
namespace sb {
constexpr std::uint32_t kSize = 1024;
constexpr std::uint32_t kPrimaryOffset = 1024;
constexpr std::uint16_t kMagic = 0xEF53;

constexpr std::uint32_t inodesCount = 0x00;
constexpr std::uint32_t blocksCountLo = 0x04;
constexpr std::uint32_t firstDataBlock = 0x14;
constexpr std::uint32_t logBlockSize = 0x18;
constexpr std::uint32_t blocksPerGroup = 0x20;
constexpr std::uint32_t inodesPerGroup = 0x28;
constexpr std::uint32_t magic = 0x38;
constexpr std::uint32_t revLevel = 0x4C;
constexpr std::uint32_t firstIno = 0x54;
constexpr std::uint32_t inodeSize = 0x58;
constexpr std::uint32_t featureCompat = 0x5C;
constexpr std::uint32_t featureIncompat = 0x60;
constexpr std::uint32_t featureRoCompat = 0x64;
constexpr std::uint32_t descSize = 0xFE;
constexpr std::uint32_t firstMetaBg = 0x104;
constexpr std::uint32_t blocksCountHi = 0x150;
static_assert(blocksCountHi + 4 <= kSize);

constexpr std::uint32_t kIncompatFileType = 0x0002;
constexpr std::uint32_t kIncompatMetaBg = 0x0010;
constexpr std::uint32_t kIncompatExtents = 0x0040;
constexpr std::uint32_t kIncompat64Bit = 0x0080;
constexpr std::uint32_t kRoCompatSparseSuper = 0x0001;
constexpr std::uint32_t kRoCompatGdtCsum = 0x0010;
constexpr std::uint32_t kRoCompatMetadataCsum = 0x0400;

// Revision 0 volumes have fixed inodes of 128 bytes and first usable inode 11.
constexpr std::uint16_t kRev0InodeSize = 128;
constexpr std::uint32_t kRev0FirstIno = 11;
constexpr std::uint32_t kMaxLogBlockSize = 6;  // 64 KiB blocks
}  // namespace sb

// Group descriptor: 32 bytes, or the superblock's size (64) on 64bit volumes.
namespace gd {
constexpr std::uint32_t kSize32 = 32;
constexpr std::uint32_t kSize64 = 64;
constexpr std::uint32_t kMaxSize = 1024;
constexpr std::uint32_t inodeTableLo = 0x08;
constexpr std::uint32_t flags = 0x12;
constexpr std::uint32_t itableUnusedLo = 0x1C;
constexpr std::uint32_t inodeTableHi = 0x28;
constexpr std::uint32_t itableUnusedHi = 0x32;
static_assert(inodeTableLo + 4 <= kSize32 && itableUnusedLo + 2 <= kSize32);
static_assert(inodeTableHi + 4 <= kSize64 && itableUnusedHi + 2 <= kSize64);

constexpr std::uint16_t kInodeUninit = 0x0001;
}  // namespace gd

// Inode: 128 bytes in revision 0, the superblock's inode size otherwise.
namespace ino {
constexpr std::uint32_t kBaseSize = 128;
constexpr std::uint32_t mode = 0x00;
constexpr std::uint32_t sizeLo = 0x04;
constexpr std::uint32_t atime = 0x08;
constexpr std::uint32_t ctime = 0x0C;
constexpr std::uint32_t mtime = 0x10;
constexpr std::uint32_t dtime = 0x14;
constexpr std::uint32_t linksCount = 0x1A;
constexpr std::uint32_t flags = 0x20;
constexpr std::uint32_t block = 0x28;  // 15 words, or an extent tree root, or inline data
constexpr std::uint32_t kBlockBytes = 60;
constexpr std::uint32_t sizeHi = 0x6C;
constexpr std::uint32_t extraIsize = 0x80;
constexpr std::uint32_t ctimeExtra = 0x84;
constexpr std::uint32_t mtimeExtra = 0x88;
constexpr std::uint32_t atimeExtra = 0x8C;
static_assert(block + kBlockBytes == 0x64);
static_assert(sizeHi + 4 <= kBaseSize);

constexpr std::uint32_t kDirectBlocks = 12;
constexpr std::uint32_t kSingleIndirect = 12;
constexpr std::uint32_t kDoubleIndirect = 13;
constexpr std::uint32_t kTripleIndirect = 14;
static_assert((kTripleIndirect + 1) * 4 == kBlockBytes);

constexpr std::uint32_t kIndexFl = 0x00001000;
constexpr std::uint32_t kExtentsFl = 0x00080000;
constexpr std::uint32_t kInlineDataFl = 0x10000000;

constexpr std::uint16_t kTypeMask = 0xF000;
constexpr std::uint16_t kTypeDir = 0x4000;
constexpr std::uint16_t kTypeFile = 0x8000;
constexpr std::uint16_t kTypeLink = 0xA000;
}  // namespace ino

// Extent tree: a 12-byte header, then 12-byte entries (leaf extents or index entries).
namespace ext {
constexpr std::uint16_t kMagic = 0xF30A;
constexpr std::uint32_t kHeaderSize = 12;
constexpr std::uint32_t kEntrySize = 12;
constexpr std::uint32_t magic = 0x00;
constexpr std::uint32_t entries = 0x02;
constexpr std::uint32_t max = 0x04;
constexpr std::uint32_t depth = 0x06;
// leaf
constexpr std::uint32_t eeBlock = 0x00;
constexpr std::uint32_t eeLen = 0x04;
constexpr std::uint32_t eeStartHi = 0x06;
constexpr std::uint32_t eeStartLo = 0x08;
// index
constexpr std::uint32_t eiBlock = 0x00;
constexpr std::uint32_t eiLeafLo = 0x04;
constexpr std::uint32_t eiLeafHi = 0x08;
static_assert(eeStartLo + 4 == kEntrySize && eiLeafHi + 2 <= kEntrySize);
// A length above this marks an unwritten extent of (length - kInitMaxLen) blocks.
constexpr std::uint16_t kInitMaxLen = 32768;
constexpr std::uint16_t kMaxDepth = 5;
}  // namespace ext

// Directory entry: inode, record length, name length, file type (or a 16-bit name
// length without the file-type feature), then the name.
namespace dir {
constexpr std::uint32_t inode = 0x00;
constexpr std::uint32_t recLen = 0x04;
constexpr std::uint32_t nameLen = 0x06;
constexpr std::uint32_t fileType = 0x07;
constexpr std::uint32_t name = 0x08;
constexpr std::uint32_t kHeaderSize = 8;
constexpr std::uint32_t kMaxNameLenNoType = 1024;
constexpr std::uint8_t kTypeFile = 1;
constexpr std::uint8_t kTypeDir = 2;
constexpr std::uint8_t kTypeMax = 7;

// 8 + name length, rounded up to a multiple of 4.
constexpr std::uint32_t minimalSize(std::uint32_t nameLength) { return (kHeaderSize + nameLength + 3) & ~3u; }
static_assert(minimalSize(1) == 12 && minimalSize(4) == 12 && minimalSize(5) == 16);
}  // namespace dir

}  // namespace kelvara::ext2
