#include "partition/Partition.h"

#include <array>
#include <set>

#include "common/ByteReader.h"
#include "common/Text.h"
#include "partition/BootSectors.h"

namespace kelvara {
namespace {

constexpr std::uint64_t kWindowBytes = 1 << 20;
constexpr std::uint64_t kWindowSectors = kWindowBytes / kSectorSize;
constexpr int kMaxExtendedTables = 50;
constexpr std::uint64_t kMaxSector = (1ull << 54);  // beyond this sector x 512 overflows

// How far to move the sector index after a hit so that the next sector tested is the
// first one behind the volume: sectors is the volume's length, headerAt how far into the
// volume the hit sector lies (the HFS+ header and the ext superblock are 2 sectors in).
std::uint64_t skipBehind(std::uint64_t sectors, std::uint64_t headerAt) {
    return sectors > headerAt + 1 ? sectors - headerAt - 1 : 0;
}

bool isExtended(std::uint8_t type) { return type == 0x05 || type == 0x0F; }

std::string fatKindName(FatKind k) {
    switch (k) {
        case FatKind::FAT12: return "FAT12";
        case FatKind::FAT16: return "FAT16";
        case FatKind::FAT32: return "FAT32";
    }
    return "FAT16";
}

}  // namespace

void Partition::append(VolumeRecord record) {
    record.VOLUME = strprintf("%d", counter_++);
    records.push_back(record);
    if (onRecord) onRecord(records.back());
}

bool Partition::isExFatAt(readWriteInterface& reader, std::int64_t sector) {
    std::array<std::uint8_t, 512> s{};
    if (sector < 0 || std::uint64_t(sector) >= kMaxSector) return false;
    if (!readAt(reader, sector * 512, s.data(), s.size())) return false;
    return parseExfatBootSector(ByteReader(s.data(), s.size())).has_value();
}

bool Partition::isHfsPlusAt(readWriteInterface& reader, std::int64_t sector) {
    std::array<std::uint8_t, 512> s{};
    if (sector < 0 || std::uint64_t(sector) + 2 >= kMaxSector) return false;
    if (!readAt(reader, (sector + 2) * 512, s.data(), s.size())) return false;
    return parseHfsPlusHeader(ByteReader(s.data(), s.size())).has_value();
}

// What the first sectors of a volume say it holds.
Partition::Detected Partition::classifyContents(readWriteInterface& reader,
                                                std::uint64_t firstSector, bool* bootReadOk) {
    Detected d;
    std::array<std::uint8_t, 512> boot{};
    std::array<std::uint8_t, 512> third{};
    if (firstSector + 2 >= kMaxSector) {
        if (bootReadOk) *bootReadOk = false;
        return d;
    }
    const bool bootOk = readAt(reader, std::int64_t(firstSector * 512), boot.data(), 512);
    if (bootReadOk) *bootReadOk = bootOk;
    ByteReader b(boot.data(), boot.size());
    if (bootOk) {
        if (auto ntfs = parseNtfsBootSector(b)) {
            d.fileSystem = "NTFS";
            d.sizeBytes = *ntfs * 512;
            return d;
        }
        if (auto ex = parseExfatBootSector(b)) {
            d.fileSystem = "FAT64";
            d.sizeBytes = *ex * 512;
            d.fatLike = true;
            return d;
        }
        if (auto fat = parseFatBootSector(b)) {
            d.fileSystem = fatKindName(fat->kind);
            d.sizeBytes = fat->listedSizeBytes;
            d.fatLike = true;
            return d;
        }
    }
    if (readAt(reader, std::int64_t((firstSector + 2) * 512), third.data(), 512)) {
        ByteReader t(third.data(), third.size());
        if (auto hfs = parseHfsPlusHeader(t)) {
            d.fileSystem = "HFS+";
            d.sizeBytes = *hfs;
        } else if (auto ext = parseExtSuperblock(t)) {
            d.fileSystem = "extX";
            d.sizeBytes = *ext;
        }
    }
    return d;
}

void Partition::scanPartitionTables(readWriteInterface& reader) {
    counter_ = 0;
    ntfsCounter_ = 1;
    std::array<std::uint8_t, 1024> lba01{};
    if (!readAt(reader, 0, lba01.data(), lba01.size())) return;
    if (gptFormat)
        gptWalk(reader, lba01.data());
    else
        mbrWalk(reader, lba01.data());
}

// Names an MBR entry's partition: by its contents first, by its type when the contents
// say nothing. Sets the status text that goes with the kind.
std::string Partition::classifyMbrEntry(readWriteInterface& reader, std::uint8_t type,
                                        std::uint64_t firstSector, bool primary) {
    std::string fs = classifyContents(reader, firstSector).fileSystem;
    if (fs.empty()) {
        switch (type) {
            case 0x01: fs = "FAT12"; break;
            case 0x04: case 0x06: case 0x0E: fs = "FAT16"; break;
            case 0x07: fs = "NTFS"; break;
            case 0x0B: case 0x0C: fs = "FAT32"; break;
            case 0x42: fs = primary ? "NTFS" : "Unknown"; break;
            case 0x83: fs = "extX"; break;
            default: fs = "Unknown"; break;
        }
        if (type == 0x42 && primary) {
            status("NTFS...");
            return fs;
        }
    }
    if (fs == "NTFS")
        status(primary ? strprintf("found NTFS %d...", ntfsCounter_++) : "found NTFS...");
    else if (fs == "FAT16")
        status("found FAT 16...");
    else if (fs == "FAT32")
        status("found FAT 32...");
    else if (fs == "FAT64")
        status("found FAT64...");
    else if (fs == "extX")
        status(primary ? "found ext2..." : "found extx...");
    else if (fs == "HFS+")
        status("found HFS+...");
    else if (fs == "Unknown")
        status("found UNKNOWN...");
    return fs;
}

void Partition::mbrWalk(readWriteInterface& reader, const std::uint8_t* mbr) {
    auto sizeText = [](std::uint32_t sectors) {
        return strprintf("%lld   MB", static_cast<long long>(sectors / 2048));
    };
    // Primary entries. An empty slot is passed over and an extended entry remembered, so
    // that partitions in later slots are still listed.
    bool haveExtended = false;
    std::uint64_t extendedBase = 0;
    for (int k = 0; k < 4; ++k) {
        ByteReader e(mbr + 0x1BE + 16 * k, 16);
        const std::uint8_t type = e.u8(4);
        const std::uint32_t first = e.le32(8);
        const std::uint32_t count = e.le32(12);
        if (type == 0) continue;
        if (isExtended(type)) {
            if (!haveExtended) {
                haveExtended = true;
                extendedBase = first;
            }
            continue;
        }
        VolumeRecord r;
        r.FILE_SYSTEM = classifyMbrEntry(reader, type, first, true);
        r.VOLUME_SIZE = sizeText(count);
        r.START_SECTOR = first;
        append(r);
    }
    if (!haveExtended) return;

    // The extended chain: each table holds logical partitions and at most one link to
    // the next table, relative to the extended partition's start.
    std::set<std::uint64_t> visited;
    std::uint64_t tableSector = extendedBase;
    std::uint64_t tableOffset = 0;
    std::array<std::uint8_t, 512> table{};
    for (int n = 0; n < kMaxExtendedTables; ++n) {
        if (tableSector >= kMaxSector || !visited.insert(tableSector).second) return;
        reader.baseOffset = 0;
        if (!readAt(reader, std::int64_t(tableSector * 512), table.data(), table.size())) return;
        bool haveNext = false;
        std::uint64_t nextSector = 0, nextOffset = 0;
        for (int k = 0; k < 4; ++k) {
            ByteReader e(table.data() + 0x1BE + 16 * k, 16);
            const std::uint8_t type = e.u8(4);
            const std::uint32_t first = e.le32(8);
            const std::uint32_t count = e.le32(12);
            if (type == 0) continue;
            if (isExtended(type)) {
                if (!haveNext) {
                    haveNext = true;
                    nextSector = extendedBase + first;
                    nextOffset = first;
                }
                continue;
            }
            const std::uint64_t start = extendedBase + tableOffset + first;
            VolumeRecord r;
            r.FILE_SYSTEM = classifyMbrEntry(reader, type, start, false);
            r.VOLUME_SIZE = strprintf("%d   MB", static_cast<int>(count / 2048));
            r.START_SECTOR = static_cast<std::int64_t>(start);
            append(r);
        }
        if (!haveNext) return;
        tableSector = nextSector;
        tableOffset = nextOffset;
    }
}

void Partition::gptWalk(readWriteInterface& reader, const std::uint8_t* lba01) {
    ByteReader header(lba01 + 512, 512);
    const std::uint64_t arrayLba = header.le64(72);
    std::vector<std::uint8_t> entries(10240);
    if (arrayLba >= kMaxSector) return;
    readAt(reader, std::int64_t(arrayLba * 512), entries.data(), entries.size());

    struct Entry {
        std::uint64_t first, last;
        std::string name;
    };
    std::vector<Entry> collected;
    for (int k = 0; k < 72; ++k) {
        ByteReader e(entries.data() + 128 * k, 128);
        bool zeroChar = false;
        for (int b = 0; b < 4; ++b) zeroChar = zeroChar || e.u8(b) == 0x30;
        const std::uint64_t first = e.le64(32);
        if (zeroChar || first < 3) break;
        collected.push_back({first, e.le64(40), utf16leToUtf8(e.bytes() + 56, 36, true)});
    }

    for (const Entry& entry : collected) {
        bool bootOk = false;
        Detected d;
        if (entry.name != "Microsoft reserved partition") d = classifyContents(reader, entry.first, &bootOk);
        if (entry.name == "Microsoft reserved partition") continue;
        if (!bootOk) return;
        VolumeRecord r;
        r.START_SECTOR = static_cast<std::int64_t>(entry.first);
        const long long mb = static_cast<long long>(d.sizeBytes / 1048576);
        if (d.fileSystem == "NTFS") {
            if (mb > 0) {
                r.FILE_SYSTEM = "NTFS";
                r.VOLUME_SIZE = strprintf("%d   MB", static_cast<int>(mb));
                append(r);
                status(strprintf("found NTFS %d...", ntfsCounter_++));
            }
        } else if (d.fatLike) {
            if (d.fileSystem == "FAT32") status("found FAT 32...");
            else if (d.fileSystem == "FAT16") status("found FAT 16...");
            else if (d.fileSystem == "FAT64") status("found FAT 64...");
            if (mb > 0) {
                r.FILE_SYSTEM = d.fileSystem;
                r.VOLUME_SIZE = strprintf("%lld  MB", mb);
                append(r);
            }
        } else if (d.fileSystem == "extX" && mb > 0) {
            r.FILE_SYSTEM = "extX";
            r.VOLUME_SIZE = strprintf("%lld  MB", mb);
            append(r);
        } else {
            r.FILE_SYSTEM = d.fileSystem == "HFS+" ? "HFS+" : entry.name;
            const std::uint64_t span = entry.last >= entry.first ? entry.last - entry.first : 0;
            r.VOLUME_SIZE = strprintf("%lld", static_cast<long long>(span / 2048));
            append(r);
        }
        if (stopRequested.load()) return;
    }
}

void Partition::searchPartitions(readWriteInterface& reader) {
    counter_ = 0;
    ntfsCounter_ = 1;
    stopRequested.store(0);
    status("Scanning partition.....");
    const std::uint64_t startByte = startSector > 0 ? std::uint64_t(startSector) * 512 : 0;
    const std::uint64_t endByte = endSector > 0 ? std::uint64_t(endSector) * 512 : 0;
    sink_->setRange(0, 1000);
    std::vector<std::uint8_t> window(kWindowBytes);

    const std::uint64_t total = reader.sectorCount();
    std::uint64_t current = startSector > 0 ? std::uint64_t(startSector) : 0;
    std::uint64_t windowStart = startByte;
    if (current >= total || current >= kMaxSector) return;
    if (!reader.seek(std::int64_t(windowStart))) return;

    for (;;) {
        // A window that cannot be read whole is still tested: a bad area in the middle
        // arrives as zeros, and at the end of the device only its whole sectors count.
        const bool complete = reader.read(window.data(), kWindowBytes);
        std::uint64_t valid = kWindowSectors;
        bool last = false;
        if (!complete) {
            const std::uint64_t remaining = total * 512 - windowStart;
            if (remaining < kWindowBytes) {
                valid = remaining / 512;
                last = true;
                std::fill(window.begin() + std::ptrdiff_t(valid * 512), window.end(), 0);
            }
            if (valid == 0) return;
        }
        if (endByte && endByte < windowStart) return;

        std::uint64_t i = 0;
        while (i < valid) {
            if (stopRequested.load()) break;
            const std::uint8_t* raw = window.data() + i * 512;
            // Almost every sector fails on its first byte or its ext magic; test only
            // the candidates in full.
            if (raw[0] != 0xEB && raw[0] != 0xE9 && raw[0] != 'H' && !(raw[0x38] == 0x53 && raw[0x39] == 0xEF)) {
                ++i;
                continue;
            }
            const std::uint64_t position = windowStart + i * 512;
            ByteReader s(raw, 512);
            if (auto ntfs = parseNtfsBootSector(s)) {
                const std::uint64_t mb = (*ntfs * 512) / 1048576;
                if (*ntfs < kMaxSector && mb > 0) {
                    VolumeRecord r;
                    r.FILE_SYSTEM = "NTFS";
                    r.VOLUME_SIZE = strprintf("%d   MB", static_cast<int>(mb));
                    r.START_SECTOR = std::int64_t(position / 512);
                    append(r);
                    status(strprintf("found NTFS %d...", ntfsCounter_++));
                    if (skipVolumeSize) i += *ntfs;
                }
            } else if (auto fat = parseFatBootSector(s)) {
                status(fat->kind == FatKind::FAT32   ? "found FAT 32..."
                       : fat->kind == FatKind::FAT16 ? "found FAT 16..."
                                                     : "found FAT 12...");
                const std::uint64_t mb = fat->listedSizeBytes / 1048576;
                if (mb > 0) {
                    VolumeRecord r;
                    r.FILE_SYSTEM = fatKindName(fat->kind);
                    r.VOLUME_SIZE = strprintf("%lld  MB", static_cast<long long>(mb));
                    r.START_SECTOR = std::int64_t(position / 512);
                    append(r);
                    if (skipVolumeSize) i += skipBehind(fat->listedSizeBytes / 512, 0);
                }
            } else if (auto ex = parseExfatBootSector(s)) {
                status("found FAT 64...");
                const std::uint64_t mb = *ex < kMaxSector ? (*ex * 512) / 1048576 : 0;
                if (mb > 0) {
                    VolumeRecord r;
                    r.FILE_SYSTEM = "FAT64";
                    r.VOLUME_SIZE = strprintf("%lld  MB", static_cast<long long>(mb));
                    r.START_SECTOR = std::int64_t(position / 512);
                    append(r);
                    if (skipVolumeSize) i += skipBehind(*ex, 0);
                }
            } else if (auto hfs = position >= 1024 ? parseHfsPlusHeader(s) : std::nullopt) {
                const std::uint64_t mb = *hfs / 1048576;
                if (mb >= 1 && mb <= 20971519) {
                    status("found HFS+...");
                    VolumeRecord r;
                    r.FILE_SYSTEM = "HFS+";
                    r.VOLUME_SIZE = strprintf("%lld  MB", static_cast<long long>(mb));
                    r.START_SECTOR = std::int64_t((position - 1024) / 512);
                    append(r);
                }
                if (skipVolumeSize && mb > 0) i += skipBehind(*hfs / 512, 2);
            } else if (auto ext = position >= 1024 ? parseExtSuperblock(s) : std::nullopt) {
                const std::uint64_t mb = *ext / 1048576;
                if (mb > 0) {
                    status("found extX...");
                    VolumeRecord r;
                    r.FILE_SYSTEM = "extX";
                    r.VOLUME_SIZE = strprintf("%lld  MB", static_cast<long long>(mb));
                    r.START_SECTOR = std::int64_t((position - 1024) / 512);
                    append(r);
                    if (skipVolumeSize) i += skipBehind(*ext / 512, 2);
                }
            }
            if (stopRequested.load()) break;
            ++i;
        }
        if (stopRequested.load()) {
            status("Scanned Partitions");
            return;
        }
        current += i;
        windowStart += i * 512;
        sink_->setPos(std::int64_t(static_cast<double>(current) / double(total) * 1000.0));
        if (last || current >= total || current >= kMaxSector) return;
        if (!reader.seek(std::int64_t(windowStart))) return;
    }
}

}  // namespace kelvara
