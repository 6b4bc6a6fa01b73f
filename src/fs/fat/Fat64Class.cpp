#include "fs/fat/Fat64Class.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>

#include "common/ByteReader.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "fs/RecoveredFile.h"
#include "platform/Time.h"
#include "widgets/CUseShGetFileInfo.h"

namespace kelvara {

namespace exfat {

namespace {

bool isFileEntryType(std::uint8_t t) { return t == kFileEntry || t == kDeletedFileEntry; }
bool isStreamType(std::uint8_t t) { return t == kStreamEntry || t == kDeletedStreamEntry; }
bool isNameType(std::uint8_t t) { return t == kNameEntry || t == kDeletedNameEntry; }

bool allZero(const ByteReader& r, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i)
        if (r.u8(i) != 0) return false;
    return true;
}

DateTimeFields stampFields(std::uint32_t s) {
    DateTimeFields f;
    f.year = int(s >> 25) + 1980;
    f.month = int((s >> 21) & 0x0F);
    f.day = int((s >> 16) & 0x1F);
    f.hour = int((s >> 11) & 0x1F);
    f.minute = int((s >> 5) & 0x3F);
    f.second = int(s & 0x1F) * 2;
    return f;
}

}  // namespace

std::optional<ParsedSet> parseEntrySet(std::span<const std::uint8_t> slots) {
    const ByteReader r(slots.data(), slots.size());
    if (!r.has(0, kSlotSize) || !isFileEntryType(r.u8(0))) return std::nullopt;
    ParsedSet p;
    ExFatEntryRecord& e = p.record;
    e.entryType = r.u8(0);
    e.attributes = r.le16(4);
    e.createTimestamp = r.le32(8);
    e.modifyTimestamp = r.le32(12);
    e.accessTimestamp = r.le32(16);
    e.create10ms = r.u8(20);
    e.modify10ms = r.u8(21);
    e.createUtcOffset = r.u8(22);
    e.modifyUtcOffset = r.u8(23);
    e.accessUtcOffset = r.u8(24);
    std::size_t at = kSlotSize;
    if (r.has(at, kSlotSize) && isStreamType(r.u8(at))) {
        e.streamType = r.u8(at);
        e.streamFlags = r.u8(at + 1);
        e.nameLength = r.u8(at + 3);
        e.validDataLength = r.le64(at + 8);
        e.firstCluster = r.le32(at + 20);
        e.dataLength = r.le64(at + 24);
        at += kSlotSize;
    }
    // A live set takes live name entries and a deleted set deleted ones: name entries
    // a driver left behind when a set shrank are marked deleted and are no part of the
    // live name before them.
    const std::uint8_t nameType = e.entryType == kFileEntry ? kNameEntry : kDeletedNameEntry;
    std::vector<std::uint8_t> units;
    units.reserve(kMaxNameEntries * 30);
    for (std::size_t n = 0; n < kMaxNameEntries && r.has(at, kSlotSize) && r.u8(at) == nameType; ++n) {
        for (std::size_t k = 0; k < 15; ++k) {
            const std::uint16_t u = r.le16(at + 2 + 2 * k);
            if (u == 0) break;
            units.push_back(std::uint8_t(u & 0xFF));
            units.push_back(std::uint8_t(u >> 8));
        }
        at += kSlotSize;
    }
    e.name = utf16leToUtf8(units.data(), units.size() / 2);
    p.slots = at / kSlotSize;
    return p;
}

std::size_t acceptEntrySet(std::span<const std::uint8_t> slots) {
    const ByteReader r(slots.data(), slots.size());
    if (!r.has(0, 2 * kSlotSize) || !isFileEntryType(r.u8(0))) return 0;
    switch (r.u8(4)) {
        case 0x10: case 0x11: case 0x12: case 0x13: case 0x15: case 0x20: case 0x30: break;
        default: return 0;
    }
    if (r.le16(6) != 0 || !allZero(r, 25, 32)) return 0;
    const std::size_t s = kSlotSize;
    if (!isStreamType(r.u8(s)) || r.u8(s + 2) != 0 || r.le16(s + 6) != 0 || r.le32(s + 16) != 0) return 0;
    const std::uint8_t flags = r.u8(s + 1);
    if (flags != 1 && flags != 3) return 0;
    const std::size_t count = (std::size_t(r.u8(s + 3)) + 14) / 15;
    if (count == 0) return 0;
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t at = 2 * kSlotSize + k * kSlotSize;
        if (!r.has(at, kSlotSize) || !isNameType(r.u8(at)) || r.u8(at + 1) > 3) return 0;
    }
    return 2 + count;
}

bool isWalkDirectory(std::uint16_t a) {
    return (a >= 0x10 && a <= 0x16) || a == 0x30;
}

bool isShownDirectory(std::uint16_t a) {
    return (a >= 0x10 && a <= 0x13) || a == 0x15 || a == 0x16 || a == 0x30;
}

bool isAdvancedDirectory(std::uint16_t a) {
    switch (a & 0xFF) {
        case 0x10: case 0x11: case 0x12: case 0x13: case 0x15: case 0x30: return true;
        default: return false;
    }
}

std::optional<platform::UtcTime> timestampToUtc(std::uint32_t stamp, std::uint8_t tenMs,
                                                std::uint8_t utcOffset) {
    const DateTimeFields f = stampFields(stamp);
    if (f.month < 1 || f.month > 12 || f.day < 1 || f.hour > 23 || f.minute > 59 || f.second > 59)
        return std::nullopt;
    platform::UtcTime t;
    if (utcOffset & 0x80) {
        // Seven-bit signed count of 15-minute steps east of UTC.
        int steps = utcOffset & 0x7F;
        if (steps & 0x40) steps -= 0x80;
        t.seconds = platform::utcFieldsToUnix(f) - std::int64_t(steps) * 15 * 60;
    } else {
        t.seconds = platform::localFieldsToUnix(f);
    }
    if (tenMs < 200) {
        t.seconds += tenMs / 100;
        t.nanoseconds = std::uint32_t(tenMs % 100) * 10'000'000u;
    }
    return t;
}

}  // namespace exfat

using namespace exfat;

namespace {

constexpr std::uint64_t kExtractPiece = 1ull << 20;
constexpr std::uint64_t kScanWindow = 4ull << 20;
constexpr std::size_t kFatWindow = 64 * 1024;
constexpr std::size_t kMaxSetSlots = 2 + kMaxNameEntries;

ExFatEntryRecord syntheticRecord(const ExFatEntryRecord& fieldsFrom, const char* name) {
    // Carries the first set's times; it is a folder of its own, never deleted and
    // without data.
    ExFatEntryRecord r;
    r.entryType = kFileEntry;
    r.attributes = 0x10;
    r.createTimestamp = fieldsFrom.createTimestamp;
    r.modifyTimestamp = fieldsFrom.modifyTimestamp;
    r.accessTimestamp = fieldsFrom.accessTimestamp;
    r.create10ms = fieldsFrom.create10ms;
    r.modify10ms = fieldsFrom.modify10ms;
    r.createUtcOffset = fieldsFrom.createUtcOffset;
    r.modifyUtcOffset = fieldsFrom.modifyUtcOffset;
    r.accessUtcOffset = fieldsFrom.accessUtcOffset;
    r.name = name;
    return r;
}

}  // namespace

// ---- wiring and boot sector ------------------------------------------------

std::uint64_t Fat64Class::volumeSizeFromRecord() const {
    std::uint64_t bytes = listedSizeBytes(volume.VOLUME_SIZE);
    if (bytes == 0 && reader) {
        // No usable size text (a volume under 1 MiB, say): what the reader holds.
        bytes = reader->bytesAfterBase();
    }
    return bytes;
}

bool Fat64Class::attachReader() {
    if (!reader) return false;
    reader->baseOffset = volume.START_SECTOR * std::int64_t(kSectorSize);
    reader->seek(0, 0);
    if (tree && !tree->isValid(rootItem)) {
        const int folder = CUseShGetFileInfo().getFolderIconIndex();
        rootItem = tree->insertItem("ROOT", folder, folder, TVI_ROOT);
    }
    volumeSize_ = volumeSizeFromRecord();
    return true;
}

bool Fat64Class::checkBootSector() {
    bootPassed_ = false;
    std::uint8_t b[512] = {};
    if (!reader || !readAt(*reader, 0, b, sizeof b)) {
        showMessage("cant read file");
        return false;
    }
    const ByteReader r(b, sizeof b);
    if (!r.matches(3, "EXFAT")) return false;
    const unsigned sectorShift = r.u8(108), clusterShift = r.u8(109);
    // Shifts beyond what the format allows would make no geometry at all.
    if (sectorShift < 9 || sectorShift > 12 || sectorShift + clusterShift > 25) return false;
    bytesPerSector_ = 1ull << sectorShift;
    bootClusterShift_ = int(clusterShift);
    bootFatOffset_ = std::uint64_t(r.le32(80)) * bytesPerSector_;
    bootHeapOffset_ = std::uint64_t(r.le32(88)) * bytesPerSector_;
    bootRootCluster_ = r.le32(96);
    if (!geometryOverride_) {
        clusterSize_ = bytesPerSector_ << clusterShift;
        fatOffset_ = bootFatOffset_;
        heapOffset_ = bootHeapOffset_;
        fatWindowValid_ = false;
    }
    bootPassed_ = true;
    return true;
}

void Fat64Class::resetScan() {
    records.clear();
    visitedClusters.clear();
    processedPositions.clear();
    entryPositions.clear();
    labelPosition_ = 0;
    orphanThreshold_ = 0;
    fatWindowValid_ = false;
}

// ---- FAT -------------------------------------------------------------------

std::uint32_t Fat64Class::nextCluster(std::uint32_t c) {
    ++lookupCounter_;
    if (driveFormatted || !clusterInRange(c) || !reader) return kEndOfChain;
    const std::uint64_t at = fatOffset_ + 4ull * c;
    if (!fatWindowValid_ || at < fatWindowStart_ || at + 4 > fatWindowStart_ + fatWindow_.size()) {
        fatWindow_.assign(kFatWindow, 0);
        fatWindowStart_ = at - at % kFatWindow;
        readAt(*reader, std::int64_t(fatWindowStart_), fatWindow_.data(), fatWindow_.size());
        fatWindowValid_ = true;
    }
    const ByteReader r(fatWindow_.data(), fatWindow_.size());
    return r.le32(std::size_t(at - fatWindowStart_));
}

// ---- directory walks -------------------------------------------------------

std::int32_t Fat64Class::appendRecord(ExFatEntryRecord r) {
    r.selfIndex = std::int32_t(records.size());
    records.push_back(std::move(r));
    return records.back().selfIndex;
}

std::vector<std::uint32_t> Fat64Class::directoryClusters(const ExFatEntryRecord& dir) {
    std::vector<std::uint32_t> out;
    const std::uint32_t first = dir.firstCluster;
    if (clusterSize_ == 0 || !clusterInRange(first)) return out;
    if (!visitedClusters.insert(clusterOffset(first)).second) return out;
    out.push_back(first);
    const std::uint64_t maxClusters = std::max<std::uint64_t>(1, kMaxDirectoryBytes / clusterSize_);
    if (dir.streamFlags & kFlagNoFatChain) {
        // Contiguous: the clusters that hold its whole data length.
        const std::uint64_t want = std::min(maxClusters, std::max<std::uint64_t>(1, (dir.dataLength + clusterSize_ - 1) / clusterSize_));
        for (std::uint64_t k = 1; k < want; ++k) {
            const std::uint64_t c = std::uint64_t(first) + k;
            if (c >= clusterLimit() || !visitedClusters.insert(clusterOffset(std::uint32_t(c))).second) break;
            out.push_back(std::uint32_t(c));
        }
    } else if (dir.streamFlags == kFlagAllocationPossible) {
        lookupCounter_ = 0;
        for (std::uint32_t v = nextCluster(first); chainContinues(v) && out.size() < maxClusters; v = nextCluster(v)) {
            if (!visitedClusters.insert(clusterOffset(v)).second) break;
            out.push_back(v);
        }
    }
    return out;
}

void Fat64Class::walkDirectory(std::vector<std::uint32_t> clusters, std::int32_t parent, bool advanced) {
    struct Frame {
        std::vector<std::uint32_t> clusters;
        std::int32_t parent;
    };
    if (clusterSize_ < kSlotSize) return;
    std::vector<Frame> stack;
    stack.push_back({std::move(clusters), parent});
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(clusterSize_);
    } catch (const std::bad_alloc&) {
        return;
    }
    const std::size_t perCluster = clusterSize_ / kSlotSize;
    std::uint8_t set[kMaxSetSlots * kSlotSize];

    while (!stack.empty()) {
        Frame f = std::move(stack.back());
        stack.pop_back();
        const bool isRoot = f.parent < 0;
        std::size_t loaded = SIZE_MAX;
        auto slot = [&](std::size_t s) -> const std::uint8_t* {
            const std::size_t ci = s / perCluster;
            if (ci != loaded) {
                std::fill(buffer.begin(), buffer.end(), 0);
                readAt(*reader, std::int64_t(clusterOffset(f.clusters[ci])), buffer.data(), buffer.size());
                loaded = ci;
            }
            return buffer.data() + (s % perCluster) * kSlotSize;
        };
        const std::size_t total = f.clusters.size() * perCluster;
        std::unordered_map<std::uint32_t, std::int32_t> dirByCluster;
        std::vector<std::int32_t> nested;
        for (std::size_t s = 0; s < total;) {
            const std::uint8_t type = slot(s)[0];
            const std::uint64_t position = clusterOffset(f.clusters[s / perCluster]) + (s % perCluster) * kSlotSize;
            if (type == kBitmapEntry && isRoot) {
                bitmapPosition_ = position;
                ++s;
                continue;
            }
            if (type != kFileEntry && type != kDeletedFileEntry) {
                ++s;
                continue;
            }
            if (advanced && !processedPositions.insert(position).second) {
                // Built before from another position: the rest of this cluster is known.
                s = (s / perCluster + 1) * perCluster;
                continue;
            }
            // Only the slots the set can use are copied, so that reading ahead crosses
            // into the next cluster only for a set that does.
            std::size_t n = 0;
            while (n < kMaxSetSlots && s + n < total) {
                const std::uint8_t* src = slot(s + n);
                if (n >= 2 && src[0] != kNameEntry && src[0] != kDeletedNameEntry) break;
                std::memcpy(set + n * kSlotSize, src, kSlotSize);
                ++n;
            }
            auto parsed = parseEntrySet(std::span<const std::uint8_t>(set, n * kSlotSize));
            if (!parsed) {
                ++s;
                continue;
            }
            s += parsed->slots;
            ExFatEntryRecord rec = std::move(parsed->record);
            std::int32_t p = f.parent;
            if (isRoot) {
                if (records.empty()) {
                    ExFatEntryRecord dummy = syntheticRecord(rec, "DUMMY ENTRY");
                    dummy.parentIndex = 0;
                    appendRecord(std::move(dummy));
                }
                p = 0;
            }
            rec.parentIndex = p;
            if (isWalkDirectory(rec.attributes)) {
                auto seen = rec.firstCluster ? dirByCluster.find(rec.firstCluster) : dirByCluster.end();
                if (seen != dirByCluster.end()) {
                    // The same folder listed twice: one record, with the later name.
                    records[seen->second].name = rec.name;
                    records[seen->second].entryType = rec.entryType;
                } else {
                    const std::uint32_t fc = rec.firstCluster;
                    const std::int32_t idx = appendRecord(std::move(rec));
                    if (fc) dirByCluster[fc] = idx;
                    nested.push_back(idx);
                }
            } else {
                appendRecord(std::move(rec));
            }
        }
        for (auto it = nested.rbegin(); it != nested.rend(); ++it) {
            auto dirClusters = directoryClusters(records[*it]);
            if (!dirClusters.empty()) stack.push_back({std::move(dirClusters), *it});
        }
    }
}

void Fat64Class::linkRecords() {
    const std::int32_t n = std::int32_t(records.size());
    std::vector<std::int32_t> lastChild(records.size(), -1);
    for (auto& r : records) r.firstChild = r.nextSibling = -1;
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t p = records[i].parentIndex;
        if (p < 0 || p >= n || p == i) continue;
        if (records[p].firstChild < 0) records[p].firstChild = i;
        else records[lastChild[p]].nextSibling = i;
        lastChild[p] = i;
    }
}

void Fat64Class::fillTopLevel() {
    if (!tree) return;
    const CUseShGetFileInfo icons;
    const int folder = icons.getFolderIconIndex();
    for (std::size_t i = 0; i < records.size(); ++i) {
        // Every 256th record (and the last): the status line shows progress, not a log.
        if ((i & 255) == 0 || i + 1 == records.size()) sink->setStatus(strprintf("filling entry =%d in tree ", int(i)));
        const ExFatEntryRecord& r = records[i];
        if (r.parentIndex != 0 || r.name == "DUMMY ENTRY") continue;
        const bool isFolder = isShownDirectory(r.attributes);
        const int icon = isFolder ? folder : icons.getFileIconIndex(r.name);
        const TreeItem item = tree->insertItem(r.name, icon, icon, rootItem);
        tree->setItemData(item, std::int64_t(i));
        if (r.entryType == kDeletedFileEntry && r.name != "ORPHAN ENTRY") tree->setItemColor(item, kRed);
        if (isFolder) tree->expand(item, ExpandCode::Expand);
    }
    tree->expand(rootItem, ExpandCode::Expand);
}

// ---- standard scan ---------------------------------------------------------

void Fat64Class::standardScan() {
    resetScan();
    geometryOverride_ = false;
    attachReader();
    if (!checkBootSector()) {
        showMessage("Selected Drive is not in exFat Format");
        return;
    }
    if (!clusterInRange(bootRootCluster_)) {
        showMessage("error...");
        return;
    }
    sink->setStatus("processing file and directory entries...");
    sink->setStatus("Finding Fat64 File And Directory entries recursively....");
    ExFatEntryRecord root;
    root.firstCluster = bootRootCluster_;
    root.streamFlags = kFlagAllocationPossible;  // the root always has a FAT chain
    walkDirectory(directoryClusters(root), -1, false);
    linkRecords();
    sink->setStatus("creating tree Structure...");
    fillTopLevel();
}

bool Fat64Class::runScan(int mode) {
    if (!reader) return false;
    if (mode == 1) {
        standardScan();
        return true;
    }
    if (mode == 2) {
        advancedScan();
        return true;
    }
    return false;
}

// ---- advanced scan ---------------------------------------------------------

std::vector<std::uint64_t> Fat64Class::findFats(int maxCount) {
    fatPositions.clear();
    if (maxCount <= 0) maxCount = 3;
    sink->setRange(0, 1000);
    std::vector<std::uint8_t> buf;
    try {
        buf.resize(std::size_t(std::min(kFinderChunk, volumeSize_)));
    } catch (const std::bad_alloc&) {
        return fatPositions;
    }
    for (std::uint64_t start = 0; start < volumeSize_; start += kFinderChunk) {
        sink->setPos(std::int64_t(double(start) / double(volumeSize_) * 1000));
        const std::uint64_t len = std::min<std::uint64_t>(kFinderChunk, volumeSize_ - start);
        std::fill(buf.begin(), buf.end(), 0);
        readAt(*reader, std::int64_t(start), buf.data(), len);
        const ByteReader r(buf.data(), std::size_t(len));
        bool full = false;
        for (std::size_t k = 0; k + 8 <= len; k += 512) {
            if (r.le32(k) == 0xFFFFFFF8u && r.le32(k + 4) == 0xFFFFFFFFu) {
                fatPositions.push_back(start + k);
                sink->setStatus(strprintf("found fat entry  %d ", int(fatPositions.size())));
                if (fatPositions.size() >= std::size_t(maxCount)) {
                    full = true;
                    break;
                }
            }
        }
        if (full) break;
        if (stopRequested()) {
            stopFlag = 0;
            break;
        }
    }
    sink->setPos(1000);
    return fatPositions;
}

std::vector<std::uint64_t> Fat64Class::findHeapOffsets(int maxCount) {
    stopFlag = 0;
    heapPositions.clear();
    if (maxCount <= 0) maxCount = 3;
    std::vector<std::uint8_t> buf;
    try {
        buf.resize(std::size_t(std::min(kFinderChunk, volumeSize_)));
    } catch (const std::bad_alloc&) {
        return heapPositions;
    }
    for (std::uint64_t start = 0; start < volumeSize_; start += kFinderChunk) {
        if (stopRequested()) break;
        const std::uint64_t len = std::min<std::uint64_t>(kFinderChunk, volumeSize_ - start);
        std::fill(buf.begin(), buf.end(), 0);
        readAt(*reader, std::int64_t(start), buf.data(), len);
        const ByteReader r(buf.data(), std::size_t(len));
        for (std::size_t k = 0; k + 8 <= len; k += 512) {
            if (stopFlag.load(std::memory_order_relaxed)) return heapPositions;
            if (r.le32(k) == 0xFFFFFFFFu && r.le32(k + 4) == 0xFFFFFFFFu) {
                heapPositions.push_back(start + k);
                if (heapPositions.size() > std::size_t(maxCount)) return heapPositions;
            }
        }
    }
    return heapPositions;
}

void Fat64Class::useGeometry(int shift) {
    geometryOverride_ = true;
    bytesPerSector_ = 512;
    clusterSize_ = 512ull << shift;
    fatWindowValid_ = false;
}

void Fat64Class::scanForEntries() {
    entryPositions.clear();
    labelPosition_ = 0;
    if (clusterSize_ == 0 || volumeSize_ == 0) return;
    sink->setRange(0, 1000);
    const std::uint64_t window = std::max(clusterSize_, kScanWindow - kScanWindow % clusterSize_);
    const std::uint64_t lookahead = kMaxSetSlots * kSlotSize;
    std::vector<std::uint8_t> buf;
    try {
        buf.resize(window + lookahead);
    } catch (const std::bad_alloc&) {
        return;
    }
    std::uint64_t next = 0;  // the next slot to judge
    for (std::uint64_t start = 0; start < volumeSize_; start += window) {
        if (stopRequested()) {
            stopFlag = 0;
            break;
        }
        sink->setPos(std::int64_t(double(start) / double(volumeSize_) * 1000));
        const std::uint64_t len = std::min(window + lookahead, volumeSize_ - start);
        const std::uint64_t end = std::min(window, volumeSize_ - start);
        std::fill(buf.begin(), buf.end(), 0);
        readAt(*reader, std::int64_t(start), buf.data(), len);
        std::uint64_t o = next > start ? next - start : 0;
        while (o < end) {
            const std::uint8_t* b = buf.data() + o;
            if (b[0] == kLabelEntry) {
                // The first label-like slot stands for the root's start.
                bool zeros = true;
                for (int i = 24; i < 32; ++i) zeros = zeros && b[i] == 0;
                if (zeros && labelPosition_ == 0) labelPosition_ = start + o;
            } else if (b[0] == kFileEntry || b[0] == kDeletedFileEntry) {
                const std::size_t n = acceptEntrySet(std::span<const std::uint8_t>(b, std::size_t(len - o)));
                if (n) {
                    entryPositions.push_back(start + o);
                    if ((entryPositions.size() & 255) == 1)
                        sink->setStatus(strprintf("found Entry %d ", int(entryPositions.size())));
                    o += n * kSlotSize;
                    continue;
                }
            }
            o += kSlotSize;
        }
        next = start + o;
    }
    if (!entryPositions.empty()) sink->setStatus(strprintf("found Entry %d ", int(entryPositions.size())));
}

void Fat64Class::buildFromPositions(std::uint64_t fatPosition, std::uint64_t heapPosition) {
    fatOffset_ = fatPosition;
    heapOffset_ = heapPosition;
    fatWindowValid_ = false;
    bool first = true;
    std::uint8_t buf[2048];
    for (const std::uint64_t p : entryPositions) {
        if (!processedPositions.insert(p).second) continue;
        const std::uint64_t sector = p - p % 512;
        std::memset(buf, 0, sizeof buf);
        readAt(*reader, std::int64_t(sector), buf, sizeof buf);
        const std::size_t off = std::size_t(p - sector);
        auto parsed = parseEntrySet(std::span<const std::uint8_t>(buf + off, sizeof buf - off));
        if (!parsed) continue;
        ExFatEntryRecord rec = std::move(parsed->record);
        if (first) {
            if (labelPosition_ == 0) labelPosition_ = p;
            orphanThreshold_ = labelPosition_ + clusterSize_;
            ExFatEntryRecord dummy = syntheticRecord(rec, "DUMMY ENTRY");
            dummy.parentIndex = 0;
            appendRecord(std::move(dummy));
            ExFatEntryRecord orphan = syntheticRecord(rec, "ORPHAN ENTRY");
            orphan.parentIndex = 0;
            appendRecord(std::move(orphan));
            first = false;
        }
        rec.parentIndex = 0;
        if (p > orphanThreshold_ && rec.name != "DUMMY ENTRY") rec.parentIndex = 1;
        const bool dir = isAdvancedDirectory(rec.attributes);
        const std::int32_t idx = appendRecord(std::move(rec));
        if (dir) walkDirectory(directoryClusters(records[idx]), idx, true);
    }
}

std::vector<std::string> Fat64Class::prepareAdvanced(const AdvancedChoice& choice) {
    advancedPrepared_ = false;
    if (!reader) return {};
    fatPositions.clear();
    heapPositions.clear();
    attachReader();
    checkBootSector();
    const int maxCount = choice.maxFileSystems > 0 ? choice.maxFileSystems : 3;
    sink->setStatus("Finding Fat64 entries....");
    findFats(maxCount);
    findHeapOffsets(maxCount);
    if (bootPassed_) {
        if (heapPositions.empty()) heapPositions.push_back(bootHeapOffset_);
        else heapPositions.front() = bootHeapOffset_;
    }
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < fatPositions.size(); ++i) texts.push_back(strprintf("FAT64_ENTRY:%d", int(i)));
    for (std::size_t i = 0; i < heapPositions.size(); ++i) texts.push_back(strprintf("HEAP_OFFSET_ENTRY:%d", int(i)));
    auto pick = [](const std::vector<std::uint64_t>& v, int i) {
        return i >= 0 && std::size_t(i) < v.size() ? v[std::size_t(i)] : 0;
    };
    chosenFat_ = pick(fatPositions, choice.entry);
    chosenHeap_ = pick(heapPositions, choice.heapOffset);
    chosenShift_ = choice.clusterShift ? *choice.clusterShift : (bootPassed_ ? bootClusterShift_ : 8);
    driveFormatted = choice.driveFormatted;
    advancedPrepared_ = true;
    sink->setStatus(strprintf("Number of FAT64-ENTRY found = %d and Number of HeapOffset-ENTRY found =  %d  . "
                              "Please select the choice from ( Entry and Heap ) Combobox and click Next button to proceed.",
                              int(fatPositions.size()), int(heapPositions.size())));
    if (fatPositions.empty()) return {};
    return texts;
}

void Fat64Class::advancedScan() {
    if (!advancedPrepared_) prepareAdvanced(AdvancedChoice{});
    stopFlag = 0;
    if (tree) {
        tree->deleteAllItems();
        rootItem = kNoItem;
    }
    attachReader();
    if (tree) tree->expand(rootItem, ExpandCode::Expand);
    if (fatPositions.empty()) return;
    // 512 bytes up to 32 MiB per cluster.
    if (chosenShift_ < 0 || chosenShift_ > 16) {
        sink->setStatus(strprintf("cluster shift %d is out of range (0 to 16)", chosenShift_));
        return;
    }
    useGeometry(chosenShift_);
    resetScan();
    scanForEntries();
    sink->setStatus("Maintaining TreeStructure for Tree Control");
    if (chosenFat_ > 0 && chosenHeap_ > 0) {
        buildFromPositions(chosenFat_, chosenHeap_);
        linkRecords();
        fillTopLevel();
    }
}

// ---- the results page's view of the records --------------------------------

bool Fat64Class::isEntry(EntryRef ref) const { return ref >= 0 && std::uint64_t(ref) < records.size(); }

bool Fat64Class::isDirectory(EntryRef ref) const {
    return isEntry(ref) && isShownDirectory(records[std::size_t(ref)].attributes);
}

bool Fat64Class::isSaveableDirectory(EntryRef ref) const {
    return isDirectory(ref) && records[std::size_t(ref)].firstChild >= 0;
}

bool Fat64Class::isDeleted(EntryRef ref) const {
    if (!isEntry(ref)) return false;
    const auto& r = records[std::size_t(ref)];
    return r.entryType == kDeletedFileEntry && r.name != "ORPHAN ENTRY";
}

bool Fat64Class::hasChildren(EntryRef ref) const { return isEntry(ref) && records[std::size_t(ref)].firstChild >= 0; }

EntryRef Fat64Class::firstChild(EntryRef ref) const {
    if (!isEntry(ref)) return kNoEntry;
    const auto c = records[std::size_t(ref)].firstChild;
    return c >= 0 ? c : kNoEntry;
}

EntryRef Fat64Class::nextSibling(EntryRef ref) const {
    if (!isEntry(ref)) return kNoEntry;
    const auto s = records[std::size_t(ref)].nextSibling;
    return s >= 0 ? s : kNoEntry;
}

std::string Fat64Class::name(EntryRef ref) const { return isEntry(ref) ? records[std::size_t(ref)].name : std::string(); }

void Fat64Class::setName(EntryRef ref, const std::string& n) {
    if (isEntry(ref)) records[std::size_t(ref)].name = n;
}

std::uint64_t Fat64Class::size(EntryRef ref) const {
    return isEntry(ref) ? records[std::size_t(ref)].validDataLength : 0;
}

EntryTimeTexts Fat64Class::formatTimes(EntryRef ref) const {
    EntryTimeTexts t;
    if (!isEntry(ref)) return t;
    const auto& r = records[std::size_t(ref)];
    auto text = [](std::uint32_t stamp) {
        DateTimeFields f = stampFields(stamp);
        f.second = 0;
        return formatDateTimeText(f);
    };
    t.created = text(r.createTimestamp);
    t.accessed = text(r.accessTimestamp);
    t.modified = text(r.modifyTimestamp);
    if (r.attributes & 0x01) t.attributes += "-R";
    if (r.attributes & 0x02) t.attributes += "-H";
    if (r.attributes & 0x04) t.attributes += "-S";
    if (r.attributes & 0x20) t.attributes += "-A";
    return t;
}

std::string Fat64Class::formatSize(EntryRef ref) const { return formatSizeText(size(ref)); }

EntryTimesUtc Fat64Class::times(EntryRef ref) const {
    EntryTimesUtc t;
    if (!isEntry(ref)) return t;
    const auto& r = records[std::size_t(ref)];
    t.created = timestampToUtc(r.createTimestamp, r.create10ms, r.createUtcOffset);
    t.modified = timestampToUtc(r.modifyTimestamp, r.modify10ms, r.modifyUtcOffset);
    t.accessed = timestampToUtc(r.accessTimestamp, 0, r.accessUtcOffset);
    return t;
}

EntryRef Fat64Class::volumeRoot() const { return records.empty() ? kNoEntry : 0; }

// ---- extraction ------------------------------------------------------------

ExtractResult Fat64Class::extractEntry(EntryRef ref, const std::string& outputFolder) {
    if (!isEntry(ref) || !reader) {
        ExtractResult none;
        none.message = "no such entry";
        return none;
    }
    const ExFatEntryRecord r = records[std::size_t(ref)];
    RecoveredFile out;
    if (!out.create(outputFolder, r.name)) {
        ExtractResult failed;
        failed.message = "cannot create the output file: " + out.error();
        return failed;
    }
    const EntryTimesUtc stamps = times(ref);
    const std::uint64_t target = r.validDataLength;
    if (target == 0) return out.finish(stamps, true);
    if (clusterSize_ == 0) return out.finish(stamps, false, "no cluster geometry");

    std::uint64_t written = 0;
    bool unreadable = false;
    std::vector<std::uint8_t> buf;
    const std::uint64_t piece = std::max(clusterSize_, kExtractPiece - kExtractPiece % clusterSize_);
    try {
        buf.resize(piece);
    } catch (const std::bad_alloc&) {
        return out.finish(stamps, false, "out of memory");
    }
    // Writes bytes from volume offset `at`, in bounded pieces; a piece that does not
    // read is read again cluster by cluster, and what still fails becomes zeros.
    auto copy = [&](std::uint64_t at, std::uint64_t bytes) -> bool {
        while (bytes > 0) {
            const std::uint64_t n = std::min(bytes, piece);
            std::fill(buf.begin(), buf.begin() + std::ptrdiff_t(n), 0);
            if (!readAt(*reader, std::int64_t(at), buf.data(), n)) {
                for (std::uint64_t o = 0; o < n; o += clusterSize_) {
                    const std::uint64_t m = std::min(clusterSize_, n - o);
                    std::fill(buf.begin() + std::ptrdiff_t(o), buf.begin() + std::ptrdiff_t(o + m), 0);
                    if (!readAt(*reader, std::int64_t(at + o), buf.data() + o, m)) {
                        std::fill(buf.begin() + std::ptrdiff_t(o), buf.begin() + std::ptrdiff_t(o + m), 0);
                        unreadable = true;
                    }
                }
            }
            if (!out.write(buf.data(), std::size_t(n))) return false;
            written += n;
            at += n;
            bytes -= n;
        }
        return true;
    };
    auto runBytes = [&](std::uint64_t clusters) { return std::min(clusters * clusterSize_, target - written); };

    std::string problem;
    bool writeOk = true;
    if (!clusterInRange(r.firstCluster)) {
        problem = strprintf("first cluster %u lies outside the volume", r.firstCluster);
    } else if (r.streamFlags != kFlagAllocationPossible || driveFormatted) {
        // Contiguous: the clusters from the first one on, as far as the volume goes.
        const std::uint64_t available = (clusterLimit() - r.firstCluster) * clusterSize_;
        writeOk = copy(clusterOffset(r.firstCluster), std::min(target, available));
        if (target > available) problem = "the file runs past the end of the volume";
    } else {
        lookupCounter_ = 0;
        const std::uint64_t lookups = target / clusterSize_ + 1;
        const std::uint64_t maxRun = piece / clusterSize_;
        std::uint32_t runStart = r.firstCluster, last = r.firstCluster;
        std::uint64_t runLen = 1;
        while (writeOk && written + runLen * clusterSize_ < target && lookupCounter_ < lookups) {
            const std::uint32_t v = nextCluster(last);
            if (!chainContinues(v)) break;
            if (v == last + 1 && runLen < maxRun) {
                ++runLen;
            } else {
                writeOk = copy(clusterOffset(runStart), runBytes(runLen));
                runStart = v;
                runLen = 1;
            }
            last = v;
        }
        if (writeOk) writeOk = copy(clusterOffset(runStart), runBytes(runLen));
    }
    if (problem.empty() && written < target)
        problem = strprintf("the cluster chain ends after %llu of %llu bytes", (unsigned long long)written,
                            (unsigned long long)target);
    if (problem.empty() && unreadable) problem = "some clusters could not be read and were written as zeros";
    return out.finish(stamps, writeOk && problem.empty(), problem);
}

}  // namespace kelvara
