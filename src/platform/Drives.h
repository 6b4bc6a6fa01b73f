#pragma once
// What the machine offers for recovery: whole-disk block devices and mounted volumes.

#include <cstdint>
#include <string>
#include <vector>

namespace kelvara::platform {

struct PhysicalDrive {
    std::string path;       // /dev/sda
    std::string modelName;  // device/model with trailing blanks removed; may be empty
    std::uint64_t sizeBytes = 0;
    // The text a drive list shows: the model name, or the path when there is none.
    std::string label() const { return modelName.empty() ? path : modelName; }
};

struct MountedVolume {
    std::string device;      // /dev/sda1
    std::string mountPoint;  // /home
    std::string fileSystem;  // ext4
    std::uint64_t totalBytes = 0;
};

// Whole-disk block devices of sysRoot/block in name order. Loop devices count only when
// they have a backing file; ram and zram devices never do.
std::vector<PhysicalDrive> enumeratePhysicalDrives(const std::string& sysRoot = "/sys");

// Block-device mounts of a mounts table (the format of /proc/self/mounts), in table order.
std::vector<MountedVolume> enumerateMountedVolumes(const std::string& mountsPath = "/proc/self/mounts");

}  // namespace kelvara::platform
