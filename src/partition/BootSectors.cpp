#include "partition/BootSectors.h"

#include <bit>

namespace kelvara {

std::optional<FatBootInfo> parseFatBootSector(ByteReader s, std::uint32_t maxFats) {
    if (!s.has(0, 512)) return std::nullopt;
    const bool jumpOk = (s.u8(0) == 0xEB && s.u8(2) == 0x90) || s.u8(0) == 0xE9;
    if (!jumpOk || s.u8(510) != 0x55 || s.u8(511) != 0xAA) return std::nullopt;
    FatBootInfo f;
    f.bytesPerSector = s.le16(11);
    f.sectorsPerCluster = s.u8(13);
    f.reservedSectors = s.le16(14);
    f.fatCount = s.u8(16);
    f.rootEntries = s.le16(17);
    if (f.bytesPerSector != 512 && f.bytesPerSector != 1024 && f.bytesPerSector != 2048 &&
        f.bytesPerSector != 4096)
        return std::nullopt;
    if (f.sectorsPerCluster == 0 || !std::has_single_bit(f.sectorsPerCluster)) return std::nullopt;
    if (f.reservedSectors < 1 || f.fatCount < 1 || f.fatCount > maxFats) return std::nullopt;
    const std::uint32_t total16 = s.le16(19);
    const std::uint32_t total32 = s.le32(32);
    const std::uint32_t fat16 = s.le16(22);
    f.totalSectors = total16 ? total16 : total32;
    f.sectorsPerFat = fat16 ? fat16 : s.le32(36);
    if (f.totalSectors == 0 || f.sectorsPerFat == 0) return std::nullopt;
    const std::uint64_t rootSectors =
        (std::uint64_t(f.rootEntries) * 32 + f.bytesPerSector - 1) / f.bytesPerSector;
    const std::uint64_t meta =
        f.reservedSectors + std::uint64_t(f.fatCount) * f.sectorsPerFat + rootSectors;
    if (meta >= f.totalSectors) return std::nullopt;
    f.clusterCount = (f.totalSectors - meta) / f.sectorsPerCluster;
    if (f.clusterCount < 4085)
        f.kind = FatKind::FAT12;
    else if (f.clusterCount < 65525)
        f.kind = FatKind::FAT16;
    else
        f.kind = FatKind::FAT32;
    f.listedSizeBytes = f.kind == FatKind::FAT32 ? std::uint64_t(total32) * 512
                                                 : std::uint64_t(total16 ? total16 : total32) * 512;
    return f;
}

std::optional<std::uint64_t> parseNtfsBootSector(ByteReader s) {
    if (!s.has(0, 512)) return std::nullopt;
    if (s.u8(0) != 0xEB || s.u8(1) != 0x52 || !s.matches(3, "NTFS") || s.le16(11) != 512)
        return std::nullopt;
    return s.le64(40);
}

std::optional<std::uint64_t> parseExfatBootSector(ByteReader s) {
    if (!s.has(0, 512)) return std::nullopt;
    const std::uint8_t j = s.u8(1);
    if (s.u8(0) != 0xEB || (j != 0x3C && j != 0x58 && j != 0x76) || !s.matches(3, "EXFA"))
        return std::nullopt;
    return s.le64(72);
}

std::optional<std::uint64_t> parseHfsPlusHeader(ByteReader s) {
    if (!s.has(0, 48)) return std::nullopt;
    if (s.u8(0) != 'H' || (s.u8(1) != '+' && s.u8(1) != 'X') || s.u8(2) != 0) return std::nullopt;
    return std::uint64_t(s.be32(40)) * s.be32(44);
}

std::optional<std::uint64_t> parseExtSuperblock(ByteReader s) {
    if (!s.has(0, 512) || s.le16(0x38) != 0xEF53) return std::nullopt;
    const std::uint32_t logBlock = s.le32(0x18);
    if (logBlock > 6) return std::nullopt;  // blocks of 1 KiB to 64 KiB
    const std::uint64_t blockSize = 1024ull << logBlock;
    const std::uint32_t inodes = s.le32(0x00);
    const std::uint32_t blocksPerGroup = s.le32(0x20);
    const std::uint32_t inodesPerGroup = s.le32(0x28);
    const std::uint32_t firstDataBlock = s.le32(0x14);
    const std::uint32_t revision = s.le32(0x4C);
    if (inodes == 0 || blocksPerGroup == 0 || inodesPerGroup == 0 || revision > 1)
        return std::nullopt;
    if (firstDataBlock != (blockSize == 1024 ? 1u : 0u)) return std::nullopt;
    std::uint64_t blocks = s.le32(0x04);
    if (s.le32(0x60) & 0x80) blocks |= std::uint64_t(s.le32(0x150)) << 32;  // 64bit feature
    if (blocks == 0) return std::nullopt;
    return blocks * blockSize;
}

}  // namespace kelvara
