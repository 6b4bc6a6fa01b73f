#pragma once
// One found partition or mounted volume, as the volume lists show it.

#include <cstdint>
#include <string>

namespace kelvara {

struct VolumeRecord {
    std::string FILE_SYSTEM;  // "NTFS", "FAT12", "FAT16", "FAT32", "FAT64", "extX", "HFS+", ...
    std::string displayName;  // mount point of a mounted volume; empty in scanner records
    std::string VOLUME;       // scanner records: "%d" position; mounted volumes: device path
    std::string VOLUME_SIZE;  // the size text as listed
    std::int64_t START_SECTOR = 0;  // first 512-byte sector from the start of the device
};

// The bytes a listed size text such as "1024  MB" stands for: leading blanks, an optional
// sign, then the MiB in decimal up to the first other character. 0 when there is no
// number or it is negative; more than 2^40 MiB (beyond any disk) counts as 2^40 MiB.
std::uint64_t listedSizeBytes(const std::string& sizeText);

}  // namespace kelvara
