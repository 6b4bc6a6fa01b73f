#pragma once
// What the wizard pages hand on to the scan.

#include <cstdint>
#include <string>

#include "partition/VolumeRecord.h"

namespace kelvara {

struct ScanSettings {
    bool isVolume = false;
    std::string devicePath;
    int partitionScanMode = 1;  // 1: partition tables, 2: boot-sector search
    bool gptFormat = false;
    std::int64_t customStartSector = 0;  // 0 = not set
    std::int64_t customEndSector = 0;    // 0 = not set
    bool skipVolumeSize = true;
    VolumeRecord selectedVolume;
    int recoveryMode = 1;  // 1 Standard, 2 Advanced, 3 Deep
    std::int32_t maxFileSystems = 3;
    bool driveFormatted = false;
};

}  // namespace kelvara
