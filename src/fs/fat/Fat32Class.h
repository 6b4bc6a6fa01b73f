#pragma once
// FAT32 volumes: the root directory is a cluster chain like any directory, 28-bit FAT
// entries.

#include "fs/fat/FatVolumeCommon.h"

namespace kelvara {

class Fat32Class final : public FatVolumeCommon {
public:
    Fat32Class() : FatVolumeCommon(true) {}
    std::string kindName() const override { return "fat32"; }
};

}  // namespace kelvara
