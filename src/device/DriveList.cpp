#include "device/DriveList.h"

#include "common/Text.h"

namespace kelvara {

std::vector<platform::PhysicalDrive> listPhysicalDrives() { return platform::enumeratePhysicalDrives(); }

std::vector<VolumeRecord> toVolumeRecords(const std::vector<platform::MountedVolume>& mounts) {
    std::vector<VolumeRecord> out;
    for (const auto& m : mounts) {
        VolumeRecord r;
        r.FILE_SYSTEM = m.fileSystem;
        r.displayName = m.mountPoint;
        r.VOLUME = m.device;
        r.VOLUME_SIZE = strprintf("%d  MB", static_cast<int>(m.totalBytes / 1048576));
        r.START_SECTOR = 0;
        out.push_back(r);
    }
    return out;
}

std::vector<VolumeRecord> listMountedVolumes() {
    return toVolumeRecords(platform::enumerateMountedVolumes());
}

}  // namespace kelvara
