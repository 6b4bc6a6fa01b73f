#include "platform/Drives.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kelvara::platform {
namespace {

std::string readLine(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string rstrip(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

// Mount tables escape blanks and a few other bytes as \ooo.
std::string unescapeMountField(const std::string& s) {
    auto octal = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && octal(s[i + 1]) && octal(s[i + 2]) && octal(s[i + 3])) {
            out.push_back(static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
            i += 3;
            continue;
        }
        out.push_back(s[i]);
    }
    return out;
}

}  // namespace

std::vector<PhysicalDrive> enumeratePhysicalDrives(const std::string& sysRoot) {
    namespace fs = std::filesystem;
    std::vector<PhysicalDrive> drives;
    std::error_code ec;
    fs::path blockDir = fs::path(sysRoot) / "block";
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(blockDir, ec)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        fs::path dir = blockDir / name;
        if (name.rfind("ram", 0) == 0 || name.rfind("zram", 0) == 0) continue;
        if (name.rfind("loop", 0) == 0 && rstrip(readLine(dir / "loop" / "backing_file")).empty())
            continue;
        if (fs::exists(dir / "partition", ec)) continue;  // partitions are not drives
        PhysicalDrive d;
        d.path = "/dev/" + name;
        d.modelName = rstrip(readLine(dir / "device" / "model"));
        std::string sectors = readLine(dir / "size");
        try {
            d.sizeBytes = sectors.empty() ? 0 : std::stoull(sectors) * 512;
        } catch (...) {
            d.sizeBytes = 0;
        }
        drives.push_back(d);
    }
    return drives;
}

std::vector<MountedVolume> enumerateMountedVolumes(const std::string& mountsPath) {
    std::vector<MountedVolume> volumes;
    std::ifstream in(mountsPath);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string device, mountPoint, type;
        if (!(fields >> device >> mountPoint >> type)) continue;
        if (device.rfind("/dev/", 0) != 0) continue;  // block-device mounts only
        MountedVolume v;
        v.device = unescapeMountField(device);
        v.mountPoint = unescapeMountField(mountPoint);
        v.fileSystem = type;
        struct statvfs st{};
        if (::statvfs(v.mountPoint.c_str(), &st) == 0)
            v.totalBytes = std::uint64_t(st.f_blocks) * st.f_frsize;
        volumes.push_back(v);
    }
    return volumes;
}

}  // namespace kelvara::platform
