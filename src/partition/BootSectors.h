#pragma once
// Recognising file systems by their first structures: the boot sectors of NTFS, FAT and
// exFAT, the HFS+ volume header and the ext superblock (both 1024 bytes into their
// volume). Every test looks at one 512-byte sector and trusts nothing it reads.

#include <cstdint>
#include <optional>

#include "common/ByteReader.h"

namespace kelvara {

enum class FatKind { FAT12, FAT16, FAT32 };

struct FatBootInfo {
    FatKind kind = FatKind::FAT16;
    std::uint32_t bytesPerSector = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t reservedSectors = 0;
    std::uint32_t fatCount = 0;
    std::uint32_t rootEntries = 0;
    std::uint64_t totalSectors = 0;   // the 16-bit count, or the 32-bit one when that is 0
    std::uint32_t sectorsPerFat = 0;  // the 16-bit value, or the FAT32 one when that is 0
    std::uint64_t clusterCount = 0;
    // Size as the volume lists give it: FAT32 the 32-bit count x 512, FAT12/16 the 16-bit
    // count (or the 32-bit one when that is 0) x 512.
    std::uint64_t listedSizeBytes = 0;
};

// A FAT boot sector: jump EB ?? 90 or E9, bytes per sector 512/1024/2048/4096, sectors
// per cluster a power of two, at least one reserved sector, maxFats >= FAT count >= 1,
// 0x55AA at its end. The OEM name is not looked at. The kind follows the cluster count.
std::optional<FatBootInfo> parseFatBootSector(ByteReader sector, std::uint32_t maxFats = 2);

// NTFS: EB 52, "NTFS" at 3, 512 bytes per sector. Returns the total sectors (offset 40).
std::optional<std::uint64_t> parseNtfsBootSector(ByteReader sector);

// exFAT: EB 3C/58/76, "EXFA" at 3. Returns the volume length in sectors (offset 72).
std::optional<std::uint64_t> parseExfatBootSector(ByteReader sector);

// HFS+ ("H+") or HFSX ("HX") volume header followed by version 0x00 0x04/0x05... only the
// first three bytes are compared: 'H', '+' or 'X', 0x00. Returns block size x total blocks.
std::optional<std::uint64_t> parseHfsPlusHeader(ByteReader sector);

// ext2/3/4 superblock: magic 0xEF53 at 0x38 and plausible geometry. Returns the volume
// size in bytes (block count x block size).
std::optional<std::uint64_t> parseExtSuperblock(ByteReader sector);

}  // namespace kelvara
