#pragma once
// Builds small disk images in memory: partition tables and the first structures of each
// file system, enough for the partition scanner and the search to recognise them.

#include <cstdint>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace kelvara::test {

class DiskBuilder {
public:
    explicit DiskBuilder(std::uint64_t sectors) : bytes(sectors * 512, 0) {}

    std::uint8_t* sector(std::uint64_t s) { return bytes.data() + s * 512; }

    void mbrEntry(std::uint64_t tableSector, int slot, std::uint8_t type, std::uint32_t first,
                  std::uint32_t count) {
        const std::size_t e = tableSector * 512 + 0x1BE + 16 * slot;
        bytes.at(e + 4) = type;
        put32(bytes, e + 8, first);
        put32(bytes, e + 12, count);
        bytes.at(tableSector * 512 + 510) = 0x55;
        bytes.at(tableSector * 512 + 511) = 0xAA;
    }

    void ntfsBoot(std::uint64_t s, std::uint64_t totalSectors, std::uint16_t bytesPerSector = 512) {
        const std::size_t o = s * 512;
        bytes.at(o) = 0xEB;
        bytes.at(o + 1) = 0x52;
        bytes.at(o + 2) = 0x90;
        putText(bytes, o + 3, "NTFS    ");
        put16(bytes, o + 11, bytesPerSector);
        bytes.at(o + 13) = 8;
        put64(bytes, o + 40, totalSectors);
        bytes.at(o + 510) = 0x55;
        bytes.at(o + 511) = 0xAA;
    }

    // A FAT boot sector as mkfs.fat writes it (OEM name "mkfs.fat").
    void fatBoot(std::uint64_t s, std::uint32_t totalSectors, std::uint16_t sectorsPerFat16,
                 std::uint32_t sectorsPerFat32, std::uint8_t sectorsPerCluster,
                 std::uint16_t rootEntries) {
        const std::size_t o = s * 512;
        bytes.at(o) = 0xEB;
        bytes.at(o + 1) = 0x3C;
        bytes.at(o + 2) = 0x90;
        putText(bytes, o + 3, "mkfs.fat");
        put16(bytes, o + 11, 512);
        bytes.at(o + 13) = sectorsPerCluster;
        put16(bytes, o + 14, sectorsPerFat16 ? 1 : 32);
        bytes.at(o + 16) = 2;
        put16(bytes, o + 17, rootEntries);
        if (totalSectors < 65536 && sectorsPerFat16)
            put16(bytes, o + 19, static_cast<std::uint16_t>(totalSectors));
        else
            put32(bytes, o + 32, totalSectors);
        put16(bytes, o + 22, sectorsPerFat16);
        if (!sectorsPerFat16) put32(bytes, o + 36, sectorsPerFat32);
        bytes.at(o + 510) = 0x55;
        bytes.at(o + 511) = 0xAA;
    }

    void exfatBoot(std::uint64_t s, std::uint64_t volumeSectors) {
        const std::size_t o = s * 512;
        bytes.at(o) = 0xEB;
        bytes.at(o + 1) = 0x76;
        bytes.at(o + 2) = 0x90;
        putText(bytes, o + 3, "EXFAT   ");
        put64(bytes, o + 72, volumeSectors);
        bytes.at(o + 510) = 0x55;
        bytes.at(o + 511) = 0xAA;
    }

    // HFS+ volume header 1024 bytes into a volume that starts at sector s.
    void hfsHeader(std::uint64_t s, std::uint32_t blockSize, std::uint32_t totalBlocks) {
        const std::size_t o = (s + 2) * 512;
        bytes.at(o) = 'H';
        bytes.at(o + 1) = '+';
        bytes.at(o + 2) = 0;
        bytes.at(o + 3) = 4;
        for (int i = 0; i < 4; ++i) {
            bytes.at(o + 40 + i) = (blockSize >> (24 - 8 * i)) & 0xFF;
            bytes.at(o + 44 + i) = (totalBlocks >> (24 - 8 * i)) & 0xFF;
        }
    }

    // ext superblock 1024 bytes into a volume that starts at sector s (4 KiB blocks).
    void extSuperblock(std::uint64_t s, std::uint32_t blocks) {
        const std::size_t o = (s + 2) * 512;
        put32(bytes, o + 0x00, 1024);   // inodes
        put32(bytes, o + 0x04, blocks);
        put32(bytes, o + 0x14, 0);      // first data block
        put32(bytes, o + 0x18, 2);      // 4 KiB blocks
        put32(bytes, o + 0x20, 32768);  // blocks per group
        put32(bytes, o + 0x28, 1024);   // inodes per group
        put16(bytes, o + 0x38, 0xEF53);
        put32(bytes, o + 0x4C, 1);
    }

    void gptHeader(std::uint64_t entryArrayLba) {
        putText(bytes, 512, "EFI PART");
        put64(bytes, 512 + 72, entryArrayLba);
    }

    void gptEntry(std::uint64_t entryArrayLba, int index, std::uint32_t typeFirst4,
                  std::uint64_t first, std::uint64_t last, const std::string& name) {
        const std::size_t o = entryArrayLba * 512 + 128 * index;
        put32(bytes, o, typeFirst4);
        put64(bytes, o + 32, first);
        put64(bytes, o + 40, last);
        for (std::size_t i = 0; i < name.size() && i < 36; ++i) put16(bytes, o + 56 + 2 * i, static_cast<std::uint8_t>(name[i]));
    }

    std::vector<std::uint8_t> bytes;
};

}  // namespace kelvara::test
