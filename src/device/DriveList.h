#pragma once
// The drive page's lists: physical drives by model name or path, and mounted volumes as
// VolumeRecords (read from their own first byte).

#include <vector>

#include "partition/VolumeRecord.h"
#include "platform/Drives.h"

namespace kelvara {

std::vector<platform::PhysicalDrive> listPhysicalDrives();

// FILE_SYSTEM the mount's type, displayName the mount point, VOLUME the device path,
// VOLUME_SIZE "%d  MB" of the total size, START_SECTOR 0.
std::vector<VolumeRecord> listMountedVolumes();
std::vector<VolumeRecord> toVolumeRecords(const std::vector<platform::MountedVolume>& mounts);

}  // namespace kelvara
