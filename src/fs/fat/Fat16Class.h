#pragma once
// FAT12 and FAT16 volumes: a fixed root area after the FATs, 12- or 16-bit FAT entries.

#include "fs/fat/FatVolumeCommon.h"

namespace kelvara {

class Fat16Class final : public FatVolumeCommon {
public:
    Fat16Class() : FatVolumeCommon(false) {}
    std::string kindName() const override { return "fat16"; }
};

}  // namespace kelvara
