#include "fs/fat/FatVolumeCommon.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "common/Messages.h"
#include "fs/RecoveredFile.h"
#include "widgets/CUseShGetFileInfo.h"
#include "widgets/CXHtmlTree.h"

namespace kelvara {

namespace {

constexpr std::uint64_t kReadWindow = 1 << 20;     // directory and file runs
constexpr std::uint64_t kScanWindow = 4 << 20;     // advanced entry scan
constexpr std::uint64_t kFinderChunk = 10 << 20;   // FAT finder

}  // namespace

// ---------------------------------------------------------------- wiring

void FatVolumeCommon::attach() {
    reader->baseOffset = volume.START_SECTOR * 512;
    reader->seek(0, 0);
    if (tree) {
        CUseShGetFileInfo icons;
        const TreeItem root = tree->insertItem("ROOT", icons.getFolderIconIndex(), icons.getFolderIconIndex());
        tree->setItemData(root, kNoEntry);
    }
    volumeSize_ = listedVolumeSize();
}

std::uint64_t FatVolumeCommon::listedVolumeSize() const {
    std::uint64_t size = listedSizeBytes(volume.VOLUME_SIZE);
    // Never beyond what the source holds after the volume's start.
    const std::uint64_t avail = reader->bytesAfterBase();
    if (reader->byteSize() > 0 && (size == 0 || size > avail)) size = avail;
    return size;
}

std::optional<FatBootInfo> FatVolumeCommon::readBoot() {
    std::uint8_t sector[512] = {};
    if (!readAt(*reader, 0, sector, sizeof sector)) return std::nullopt;
    auto info = parseFatBootSector(ByteReader(sector, sizeof sector), 255);
    if (!info) return std::nullopt;
    if ((info->kind == FatKind::FAT32) != fat32_) return std::nullopt;
    if (fat32_) rootCluster_ = ByteReader(sector, sizeof sector).le32(44);
    return info;
}

void FatVolumeCommon::resetScan() {
    records.clear();
    visitedClusters_.clear();
    processedPositions_.clear();
    liveQueue_.clear();
    deletedQueue_.clear();
    windowValid_ = false;
}

void FatVolumeCommon::appendSynthetic(const char* text, std::int32_t parent) {
    FatEntryRecord r;
    r.attributes = kFatAttrDirectory;
    r.name = text;
    r.selfIndex = static_cast<std::int32_t>(records.size());
    r.parentIndex = parent;
    records.push_back(std::move(r));
}

bool FatVolumeCommon::runScan(int mode) {
    if (!reader) return false;
    if (mode == 1) return runStandard();
    if (mode == 2) return runAdvanced();
    return false;
}

// ---------------------------------------------------------------- standard scan

bool FatVolumeCommon::runStandard() {
    advanced_ = false;
    attach();
    boot_ = readBoot();
    if (!boot_) {
        showMessage(fat32_ ? "Selected Drive is not in Fat32 Format" : "Selected Drive is not in Fat16 Format");
        return true;
    }
    const FatBootInfo& b = *boot_;
    clusterSize_ = std::uint64_t(b.bytesPerSector) * b.sectorsPerCluster;
    const std::uint64_t fatOffset = std::uint64_t(b.reservedSectors) * b.bytesPerSector;
    const std::uint64_t fatBytes = std::uint64_t(b.sectorsPerFat) * b.bytesPerSector;
    rootOffset_ = (b.reservedSectors + std::uint64_t(b.fatCount) * b.sectorsPerFat) * b.bytesPerSector;
    rootSize_ = fat32_ ? 0 : std::uint64_t(b.rootEntries) * 32;
    const std::uint64_t rootSectors = (rootSize_ + b.bytesPerSector - 1) / b.bytesPerSector;
    dataStart_ = rootOffset_ + rootSectors * b.bytesPerSector;
    const FatWidth width = b.kind == FatKind::FAT12 ? FatWidth::Fat12
                           : b.kind == FatKind::FAT16 ? FatWidth::Fat16 : FatWidth::Fat32;
    clusterLimit_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(b.clusterCount + 2, 0x0FFFFFF7));
    fat_.configure(reader, fatOffset, fatBytes, width, clusterLimit_);

    sink->setStatus(fat32_ ? "Finding Fat32 File And Directory entries recursively...."
                           : "Finding Fat16 File And Directory entries recursively....");
    resetScan();
    appendSynthetic(kDummyName, 0);
    nestedBudget_ = -1;
    if (fat32_) {
        walkDirectory({0, rootCluster_, -1, true});
    } else {
        walkArea(rootOffset_, rootSize_, 0);
    }
    drainQueues();

    sink->setStatus("maintaining tree Structure in vector...");
    linkRecords();
    sink->setStatus("Creating Tree Structure....");
    fillTopLevel();
    sink->setStatus("Tree Structure Created.");
    if (!fat32_) {
        sink->setRange(0, 100);
        sink->setPos(100);
    }
    return true;
}

std::optional<std::uint32_t> FatVolumeCommon::nextCluster(std::uint32_t c) {
    if (driveFormatted || !fat_.configured()) return std::nullopt;
    return fat_.next(c);
}

bool FatVolumeCommon::clusterInVolume(std::uint32_t c) const {
    if (!validCluster(c)) return false;
    if (!advanced_ || volumeSize_ == 0) return true;
    return clusterOffset(c) + clusterSize_ <= volumeSize_;
}

void FatVolumeCommon::walkArea(std::uint64_t offset, std::uint64_t size, std::int32_t parent) {
    size = std::min<std::uint64_t>(size, 65536ull * 32);
    if (size == 0) return;
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(size), 0);
    readAt(*reader, static_cast<std::int64_t>(offset), buf.data(), size);
    DirState st;
    st.parent = parent;
    st.root = true;
    parseSlots(buf.data(), buf.size(), offset, st);
}

void FatVolumeCommon::walkDirectory(const DirTask& task) {
    const std::uint32_t first = task.cluster;
    if (!clusterInVolume(first) || !visitedClusters_.insert(first).second) return;
    DirState st;
    st.parent = task.dir;
    st.root = task.root;
    st.zeroEndsCluster = fat32_ && !task.root;
    st.deletedContext = task.dir >= 0 && records[task.dir].deleted;

    const auto windowSize = static_cast<std::size_t>(std::max<std::uint64_t>(clusterSize_, kReadWindow));
    if (dirWindow_.size() != windowSize) dirWindow_.assign(windowSize, 0);
    std::vector<std::uint8_t>& buf = dirWindow_;
    std::fill(buf.begin(), buf.begin() + clusterSize_, 0);
    readAt(*reader, static_cast<std::int64_t>(clusterOffset(first)), buf.data(), clusterSize_);
    // A subdirectory starts with its "." entry; anything else is not (or no longer) one.
    if (!task.root && buf[0] != '.') return;
    parseSlots(buf.data(), clusterSize_, clusterOffset(first), st);

    // The rest of the chain, read in contiguous runs.
    std::uint32_t last = first;
    int further = 0;
    while (task.budget < 0 || further < task.budget) {
        auto v = nextCluster(last);
        if (!v || !clusterInVolume(*v) || !visitedClusters_.insert(*v).second) break;
        const std::uint32_t runStart = *v;
        std::uint64_t runLen = 1;
        ++further;
        last = runStart;
        while ((runLen + 1) * clusterSize_ <= buf.size() && (task.budget < 0 || further < task.budget)) {
            auto w = nextCluster(last);
            if (!w || *w != last + 1 || !clusterInVolume(*w) || visitedClusters_.count(*w)) break;
            visitedClusters_.insert(*w);
            last = *w;
            ++runLen;
            ++further;
        }
        const std::uint64_t bytes = runLen * clusterSize_;
        std::fill(buf.begin(), buf.begin() + bytes, 0);
        readAt(*reader, static_cast<std::int64_t>(clusterOffset(runStart)), buf.data(), bytes);
        for (std::uint64_t i = 0; i < runLen; ++i)
            parseSlots(buf.data() + i * clusterSize_, clusterSize_, clusterOffset(runStart) + i * clusterSize_, st);
    }
}

void FatVolumeCommon::drainQueues() {
    // Live directories first, so that a deleted directory whose first cluster now
    // belongs to a live one cannot claim it.
    while (!liveQueue_.empty() || !deletedQueue_.empty()) {
        std::deque<DirTask>& q = liveQueue_.empty() ? deletedQueue_ : liveQueue_;
        const DirTask t = q.front();
        q.pop_front();
        walkDirectory(t);
    }
}

void FatVolumeCommon::parseSlots(const std::uint8_t* data, std::size_t size, std::uint64_t position,
                                 DirState& st) {
    for (std::size_t off = 0; off + kFatSlotSize <= size; off += kFatSlotSize) {
        const ByteReader slot(data + off, kFatSlotSize);
        const std::uint8_t b0 = data[off];
        const std::uint8_t attr = data[off + 11];
        const std::uint64_t pos = position + off;
        if (advanced_) {
            if (attr == 0xCD) return;  // filler, not a directory
            if (b0 != 0 && b0 != '.' && !processedPositions_.insert(pos).second) {
                st.lfn.reset();  // this part of the tree was built before
                continue;
            }
        }
        if (b0 == 0) {
            st.lfn.reset();
            if (st.zeroEndsCluster) return;
            continue;
        }
        if (isFatLongNameSlot(attr)) {
            // A live slot marked as the last of its name starts a run: slots before it
            // were left by a renamed or deleted entry and belong to no entry.
            if (st.lfn.full() || (b0 != kFatDeletedMark && (b0 & 0x40) != 0)) st.lfn.reset();
            st.lfn.add(slot);
            continue;
        }
        const FatShortSlot s = parseFatShortSlot(slot);
        if (s.isDotEntry() || isFatVolumeLabel(attr)) {
            st.lfn.reset();
            continue;
        }
        std::string name;
        bool deleted = s.deleted();
        // A run belongs to this entry only when its checksum says so; a deleted entry
        // lost the first byte the checksum covers.
        if (!st.lfn.empty() && (deleted || st.lfn.checksum() == fatShortNameChecksum(s.name))) {
            name = st.lfn.name();
            deleted = deleted || st.lfn.deleted();
        } else {
            name = fatShortName(s);
        }
        st.lfn.reset();
        addEntry(s, std::move(name), deleted, st);
    }
}

void FatVolumeCommon::addEntry(const FatShortSlot& s, std::string name, bool deleted, DirState& st) {
    const bool dir = isFatDirectoryAttr(s.attributes);
    const std::uint32_t cl = s.firstCluster();
    if (dir && validCluster(cl)) {
        auto it = st.byCluster.find(cl);
        if (it != st.byCluster.end()) {
            // Two entries of one directory for the same folder: one record, named by the
            // later entry unless that one is deleted and the earlier is not.
            FatEntryRecord& earlier = records[it->second];
            if (!deleted || earlier.deleted) {
                earlier.name = std::move(name);
                earlier.deleted = deleted ? 1 : 0;
            }
            return;
        }
    }
    FatEntryRecord r;
    r.attributes = s.attributes;
    r.createTimeTenths = s.createTimeTenths;
    r.createTime = s.createTime;
    r.createDate = s.createDate;
    r.accessDate = s.accessDate;
    r.firstClusterHigh = s.firstClusterHigh;
    r.writeTime = s.writeTime;
    r.writeDate = s.writeDate;
    r.firstClusterLow = s.firstClusterLow;
    r.fileSize = s.fileSize;
    r.deleted = deleted ? 1 : 0;
    r.name = std::move(name);
    r.parentIndex = st.parent;
    r.selfIndex = static_cast<std::int32_t>(records.size());
    records.push_back(std::move(r));
    if (dir && validCluster(cl)) {
        st.byCluster.emplace(cl, records.back().selfIndex);
        const DirTask t{records.back().selfIndex, cl, nestedBudget_, false};
        (deleted || st.deletedContext ? deletedQueue_ : liveQueue_).push_back(t);
    }
}

// ---------------------------------------------------------------- linking and top level

void FatVolumeCommon::linkRecords() {
    const std::size_t n = records.size();
    std::vector<std::int32_t> lastChild(n, -1);
    if (!fat32_) sink->setRange(0, 1000);
    for (std::size_t i = 0; i < n; ++i) {
        if (!fat32_ && (i & 1023) == 0) sink->setPos(static_cast<std::int64_t>(i * 1000 / n));
        FatEntryRecord& r = records[i];
        r.firstChild = -1;
        r.nextSibling = -1;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t p = records[i].parentIndex;
        if (p < 0 || static_cast<std::size_t>(p) >= n || static_cast<std::size_t>(p) == i) continue;
        if (lastChild[p] < 0)
            records[p].firstChild = static_cast<std::int32_t>(i);
        else
            records[lastChild[p]].nextSibling = static_cast<std::int32_t>(i);
        lastChild[p] = static_cast<std::int32_t>(i);
    }
    if (!fat32_) sink->setPos(1000);
}

void FatVolumeCommon::fillTopLevel() {
    if (!tree) return;
    const TreeItem rootItem = tree->getRootItem();
    CUseShGetFileInfo icons;
    const std::size_t n = records.size();
    for (std::size_t i = 0; i < n; ++i) {
        if ((i & 255) == 0 || i + 1 == n) sink->setStatus(strprintf("filling entry =%zu in tree ", i));
        const FatEntryRecord& r = records[i];
        if (i == 0 || r.parentIndex != 0) continue;
        const bool dir = isFatDirectoryAttr(r.attributes);
        const int icon = dir ? icons.getFolderIconIndex() : icons.getFileIconIndex(r.name);
        const TreeItem item = tree->insertItem(r.name, icon, icon, rootItem);
        tree->setItemData(item, static_cast<EntryRef>(i));
        if (r.deleted) tree->setItemColor(item, kRed);
        if (dir) tree->expand(item, ExpandCode::Expand);
    }
    tree->expand(rootItem, ExpandCode::Expand);
}

// ---------------------------------------------------------------- interface

bool FatVolumeCommon::isDirectory(EntryRef ref) const {
    return isEntry(ref) && isFatDirectoryAttr(records[ref].attributes);
}
bool FatVolumeCommon::isDeleted(EntryRef ref) const { return isEntry(ref) && records[ref].deleted; }
bool FatVolumeCommon::hasChildren(EntryRef ref) const { return isEntry(ref) && records[ref].firstChild >= 0; }
EntryRef FatVolumeCommon::firstChild(EntryRef ref) const {
    return isEntry(ref) && records[ref].firstChild >= 0 ? records[ref].firstChild : kNoEntry;
}
EntryRef FatVolumeCommon::nextSibling(EntryRef ref) const {
    return isEntry(ref) && records[ref].nextSibling >= 0 ? records[ref].nextSibling : kNoEntry;
}
std::string FatVolumeCommon::name(EntryRef ref) const { return isEntry(ref) ? records[ref].name : std::string(); }
void FatVolumeCommon::setName(EntryRef ref, const std::string& text) {
    if (isEntry(ref)) records[ref].name = text;
}
std::uint64_t FatVolumeCommon::size(EntryRef ref) const { return isEntry(ref) ? records[ref].fileSize : 0; }

EntryTimeTexts FatVolumeCommon::formatTimes(EntryRef ref) const {
    if (!isEntry(ref)) return {};
    const FatEntryRecord& r = records[ref];
    return {fatDateTimeText(r.createDate, r.createTime), fatDateText(r.accessDate),
            fatDateTimeText(r.writeDate, r.writeTime), fatAttributeText(r.attributes)};
}

std::string FatVolumeCommon::formatSize(EntryRef ref) const {
    return isEntry(ref) ? formatSizeText(records[ref].fileSize) : std::string();
}

EntryTimesUtc FatVolumeCommon::times(EntryRef ref) const {
    if (!isEntry(ref)) return {};
    const FatEntryRecord& r = records[ref];
    return {fatStampToUtc(r.createDate, r.createTime, r.createTimeTenths), fatStampToUtc(r.accessDate, 0),
            fatStampToUtc(r.writeDate, r.writeTime)};
}

// ---------------------------------------------------------------- extraction

ExtractResult FatVolumeCommon::extractEntry(EntryRef ref, const std::string& outputFolder) {
    ExtractResult none;
    if (!isEntry(ref) || isDirectory(ref) || ref == 0) {
        none.message = "not a file";
        return none;
    }
    const FatEntryRecord rec = records[ref];
    reader->baseOffset = volume.START_SECTOR * 512;
    RecoveredFile out;
    if (!out.create(outputFolder, rec.name)) {
        none.message = "cannot create the output file: " + out.error();
        return none;
    }
    const EntryTimesUtc stamps = times(ref);
    std::uint64_t remaining = rec.fileSize;
    if (remaining == 0) return out.finish(stamps, true);
    const std::uint32_t first = rec.firstCluster();
    if (!clusterInVolume(first) || clusterSize_ == 0)
        return out.finish(stamps, false, "the entry names no cluster of the volume");

    // A deleted file's chain is usually cleared: its data is taken as contiguous, as is
    // every file of a volume that was formatted again.
    const bool contiguous = driveFormatted || !fat_.configured() || (rec.deleted && fat_.entry(first) == 0);
    std::map<std::uint32_t, std::uint32_t> runs;  // clusters read so far: start -> end (exclusive)
    std::uint32_t highest = 0;
    auto seen = [&](std::uint32_t c) {
        if (c > highest) return false;
        auto it = runs.upper_bound(c);
        if (it == runs.begin()) return false;
        --it;
        return c < it->second;
    };
    auto step = [&](std::uint32_t c, std::uint32_t runStart) -> std::optional<std::uint32_t> {
        std::optional<std::uint32_t> v;
        if (contiguous) {
            if (c + 1 < clusterLimit_) v = c + 1;
        } else {
            v = fat_.next(c);
        }
        if (!v || !clusterInVolume(*v)) return std::nullopt;
        if ((*v >= runStart && *v <= c) || seen(*v)) return std::nullopt;  // a loop
        return v;
    };

    const std::uint64_t windowClusters = std::max<std::uint64_t>(1, kReadWindow / clusterSize_);
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(windowClusters * clusterSize_));
    bool unreadable = false, ended = false;
    std::uint32_t cur = first;
    while (remaining > 0) {
        const std::uint32_t runStart = cur;
        std::uint64_t runLen = 1;
        std::optional<std::uint32_t> after;
        while (runLen * clusterSize_ < remaining && runLen < windowClusters) {
            auto nx = step(runStart + static_cast<std::uint32_t>(runLen) - 1, runStart);
            if (!nx) {
                ended = true;
                break;
            }
            if (*nx == runStart + runLen) {
                ++runLen;
                continue;
            }
            after = nx;
            break;
        }
        const std::uint64_t bytes = std::min(runLen * clusterSize_, remaining);
        std::fill(buf.begin(), buf.begin() + bytes, 0);
        if (!readAt(*reader, static_cast<std::int64_t>(clusterOffset(runStart)), buf.data(), bytes)) {
            // Find the clusters that failed; each one contributes zeros at its place.
            for (std::uint64_t i = 0; i * clusterSize_ < bytes; ++i) {
                const std::uint64_t n = std::min(clusterSize_, bytes - i * clusterSize_);
                std::uint8_t* p = buf.data() + i * clusterSize_;
                std::fill(p, p + n, 0);
                if (!readAt(*reader, static_cast<std::int64_t>(clusterOffset(runStart + std::uint32_t(i))), p, n)) {
                    std::fill(p, p + n, 0);
                    unreadable = true;
                }
            }
        }
        if (!out.write(buf.data(), static_cast<std::size_t>(bytes))) break;
        remaining -= bytes;
        const std::uint32_t runEnd = runStart + static_cast<std::uint32_t>(runLen);
        runs[runStart] = runEnd;
        highest = std::max(highest, runEnd - 1);
        if (remaining == 0 || ended) break;
        if (!after) after = step(runEnd - 1, runStart);
        if (!after) {
            ended = true;
            break;
        }
        cur = *after;
    }
    if (remaining > 0)
        return out.finish(stamps, false,
                          strprintf("the cluster chain ends after %llu of %u bytes",
                                    static_cast<unsigned long long>(rec.fileSize - remaining), rec.fileSize));
    if (unreadable) return out.finish(stamps, false, "unreadable clusters were written as zeros");
    return out.finish(stamps, true);
}

// ---------------------------------------------------------------- advanced scan

std::vector<std::string> FatVolumeCommon::clusterSizeChoices() const {
    std::vector<std::string> list;
    if (boot_ && boot_->sectorsPerCluster != 0 && boot_->sectorsPerCluster % 2 == 0)
        list.push_back(std::to_string(boot_->sectorsPerCluster));
    const char* const* rest;
    static const char* const fat16List[] = {"4", "8", "16", "2", "32", "64", "128", nullptr};
    static const char* const fat32List[] = {"2", "4", "16", "32", "64", "8", nullptr};
    rest = fat32_ ? fat32List : fat16List;
    for (; *rest; ++rest) list.emplace_back(*rest);
    return list;
}

std::vector<std::uint64_t> FatVolumeCommon::findFats(int maxCount) {
    if (maxCount <= 0) maxCount = 3;
    fatPositions_.clear();
    // FAT12 begins with three bytes only (media, 0xFF, 0xFF); it is looked for where the
    // volume is small enough to be FAT12 or its boot sector says so.
    const bool maybeFat12 = !fat32_ && (boot_ ? boot_->kind == FatKind::FAT12 : volumeSize_ <= (32ull << 20));
    std::vector<std::uint8_t> buf;
    try {
        buf.resize(std::size_t(std::min(kFinderChunk, volumeSize_)));  // a small volume needs no full window
    } catch (const std::bad_alloc&) {
        return {};
    }
    sink->setRange(0, 1000);
    auto media = [](std::uint8_t m) { return m == 0xF0 || m >= 0xF8; };
    for (std::uint64_t start = 0; start < volumeSize_; start += kFinderChunk) {
        sink->setPos(static_cast<std::int64_t>(double(start) / double(volumeSize_) * 1000));
        const std::uint64_t n = std::min<std::uint64_t>(kFinderChunk, volumeSize_ - start);
        std::fill(buf.begin(), buf.end(), 0);
        readAt(*reader, static_cast<std::int64_t>(start), buf.data(), n);
        if (fat32_)
            sink->setStatus(strprintf("Parsing Disk Currently at position %f of the disk of size %f",
                                      double(start), double(volumeSize_)));
        for (std::uint64_t k = 0; k + 8 <= n; k += 512) {
            const ByteReader s(buf.data() + k, 8);
            bool match;
            if (fat32_) {
                const std::uint32_t e0 = s.le32(0) & 0x0FFFFFFF, e1 = s.le32(4) & 0x0FFFFFFF;
                match = (e0 & 0x0FFFFF00) == 0x0FFFFF00 && media(std::uint8_t(e0)) && e1 == 0x0FFFFFFF;
            } else {
                match = media(s.u8(0)) && s.u8(1) == 0xFF && s.u8(2) == 0xFF && (maybeFat12 || s.u8(3) == 0xFF);
            }
            if (!match) continue;
            fatPositions_.push_back(start + k);
            sink->setStatus(strprintf("found fat entry  %d ", static_cast<int>(fatPositions_.size())));
            if (static_cast<int>(fatPositions_.size()) >= maxCount) break;
        }
        if (stopFlag.load()) {
            stopFlag = 0;
            break;
        }
        if (static_cast<int>(fatPositions_.size()) >= maxCount) break;
    }
    sink->setPos(1000);
    return fatPositions_;
}

std::vector<std::string> FatVolumeCommon::prepareAdvanced(const AdvancedChoice& choice) {
    if (!reader) return {};
    attach();
    boot_ = readBoot();
    if (!fat32_) sink->setStatus("Finding Fat entries....");
    findFats(choice.maxFileSystems);
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < fatPositions_.size(); ++i)
        texts.push_back(strprintf(fat32_ ? "FAT32_ENTRY:%zu" : "FAT_ENTRY:%zu", i));
    chosenEntry_ = choice.entry;
    if (choice.sectorsPerCluster && *choice.sectorsPerCluster > 0 && *choice.sectorsPerCluster <= 256)
        chosenSpc_ = static_cast<std::uint32_t>(*choice.sectorsPerCluster);
    else if (boot_)
        chosenSpc_ = boot_->sectorsPerCluster;
    else
        chosenSpc_ = static_cast<std::uint32_t>(std::atoi(clusterSizeChoices().front().c_str()));
    driveFormatted = choice.driveFormatted;
    if (fatPositions_.empty())
        sink->setStatus(fat32_ ? "NO FAT  FAT32-ENTRY found .." : "Number of FAT-ENTRY found = 0 .");
    else
        sink->setStatus(strprintf(fat32_ ? "Number of FAT32-ENTRY found = %zu . Please select the choice from combo box and click Next button to proceed."
                                         : "Number of FAT-ENTRY found = %zu . Please select the choice from combo box and click Next button to proceed.",
                                  fatPositions_.size()));
    prepared_ = true;
    return texts;
}

bool FatVolumeCommon::runAdvanced() {
    if (!prepared_) prepareAdvanced(AdvancedChoice{});
    stopFlag = 0;
    if (tree) tree->deleteAllItems();
    attach();
    advanced_ = true;
    clusterSize_ = 512ull * std::max<std::uint32_t>(1, chosenSpc_);
    const std::uint64_t count = volumeSize_ / clusterSize_;
    clusterLimit_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(count + 2, 0x0FFFFFF7));
    FatWidth width = FatWidth::Fat32;
    if (!fat32_) {
        const bool fat12 = boot_ ? boot_->kind == FatKind::FAT12 : count < 4085;
        width = fat12 ? FatWidth::Fat12 : FatWidth::Fat16;
    }
    fat_.clear();
    if (!fatPositions_.empty()) {
        std::uint64_t pos = 0;
        if (chosenEntry_ >= 0 && static_cast<std::size_t>(chosenEntry_) < fatPositions_.size())
            pos = fatPositions_[chosenEntry_];
        else if (!fat32_)
            pos = fatPositions_.front();
        fat_.configure(reader, pos, FatTable::tableBytes(width, clusterLimit_), width, clusterLimit_);
    }
    resetScan();
    scanForEntries();
    chooseDataStart();
    sink->setStatus("Maintaining directory Structure in AdvanceScanning");
    buildFromPositions();
    sink->setStatus(fat32_ ? "Maintaining TreeStructure for Tree Control" : "Maintaining Tree Structure for Tree Control");
    linkRecords();
    fillTopLevel();
    return true;
}

void FatVolumeCommon::scanForEntries() {
    entryPositions_.clear();
    dotVotePositions_.clear();
    dotVoteClusters_.clear();
    rootHint_.reset();
    const std::uint64_t count = volumeSize_ / clusterSize_;
    sink->setRange(0, fat32_ ? 1000 : 100000);
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(std::min(kScanWindow, volumeSize_)));
    for (std::uint64_t start = 0; start < volumeSize_; start += kScanWindow) {
        if (stopRequested()) {
            stopFlag = 0;
            break;
        }
        if (fat32_) {
            sink->setPos(static_cast<std::int64_t>(double(start) / double(volumeSize_) * 1000));
        } else {
            sink->setStatus(strprintf("currently at sector %lld of %lld", static_cast<long long>(start / 512),
                                      static_cast<long long>(volumeSize_ / 512)));
            sink->setPos(static_cast<std::int64_t>(double(start) / double(volumeSize_) * 100000));
        }
        const std::uint64_t n = std::min<std::uint64_t>(kScanWindow, volumeSize_ - start);
        std::fill(buf.begin(), buf.end(), 0);
        readAt(*reader, static_cast<std::int64_t>(start), buf.data(), n);
        for (std::uint64_t off = 0; off + kFatSlotSize <= n; off += kFatSlotSize) {
            const std::uint8_t* p = buf.data() + off;
            if (p[0] == 0) continue;
            const ByteReader slot(p, kFatSlotSize);
            const std::uint64_t pos = start + off;
            if (p[0] == '.' && p[1] == ' ' && (pos % 512) == 0 && isFatDirectoryAttr(p[11])) {
                // The "." entry of a directory names its own first cluster: it places the
                // data area for this cluster size.
                const std::uint32_t c = (std::uint32_t(slot.le16(20)) << 16) | slot.le16(26);
                if (c >= 2 && dotVotePositions_.size() < 100000) {
                    dotVotePositions_.push_back(pos);
                    dotVoteClusters_.push_back(c);
                }
                continue;
            }
            const FatSlotKind kind = fat32_ ? judgeFat32Slot(slot, count) : judgeFat16Slot(slot, count);
            if (fat32_ && !rootHint_ && looksLikeFat32RootSlot(slot)) rootHint_ = pos;
            if (kind == FatSlotKind::None) continue;
            entryPositions_.push_back(pos);
            if (fat32_ && (entryPositions_.size() & 255) == 0)
                sink->setStatus(strprintf("found file or directory =  %zu ", entryPositions_.size()));
        }
    }
    sink->setPos(fat32_ ? 1000 : 100000);
}

void FatVolumeCommon::chooseDataStart() {
    std::map<std::uint64_t, int> votes;
    for (std::size_t i = 0; i < dotVotePositions_.size(); ++i) {
        const std::uint64_t back = std::uint64_t(dotVoteClusters_[i] - 2) * clusterSize_;
        if (back <= dotVotePositions_[i]) ++votes[dotVotePositions_[i] - back];
    }
    std::uint64_t best = 0;
    int bestVotes = 0;
    for (const auto& [at, n] : votes)
        if (n > bestVotes) best = at, bestVotes = n;

    std::optional<std::uint64_t> bootData;
    if (boot_ && boot_->bytesPerSector == 512 && boot_->sectorsPerCluster == chosenSpc_) {
        const FatBootInfo& b = *boot_;
        const std::uint64_t root = (b.reservedSectors + std::uint64_t(b.fatCount) * b.sectorsPerFat) * 512;
        bootData = root + (fat32_ ? 0 : (std::uint64_t(b.rootEntries) * 32 + 511) / 512 * 512);
    }
    if (bestVotes >= 2 || (bestVotes == 1 && !bootData)) {
        dataStart_ = best;
    } else if (bootData) {
        dataStart_ = *bootData;
    } else if (fat32_) {
        dataStart_ = rootHint_ ? *rootHint_ : (!entryPositions_.empty() && entryPositions_.front() >= 32 ? entryPositions_.front() - 32 : 0);
    } else {
        // The fixed layout a wiped FAT16 volume most often had: two FATs after four
        // reserved sectors, then 512 root entries.
        const std::uint64_t g = FatTable::tableBytes(FatWidth::Fat16, volumeSize_ / clusterSize_);
        dataStart_ = 2 * (g + (512 - g % 512) + 2048) + 16384;
    }
    rootSize_ = fat32_ ? 0 : (boot_ ? (std::uint64_t(boot_->rootEntries) * 32 + 511) / 512 * 512 : 16384);
    rootOffset_ = dataStart_ >= rootSize_ ? dataStart_ - rootSize_ : 0;
    orphanThreshold_ = fat32_ ? dataStart_ + clusterSize_ : dataStart_;
}

const std::uint8_t* FatVolumeCommon::windowAt(std::uint64_t position, std::size_t need) {
    constexpr std::uint64_t kWindow = 64 * 1024;
    if (!windowValid_ || position < windowStart_ || position + need > windowStart_ + window_.size()) {
        windowStart_ = position / 512 * 512;
        window_.assign(static_cast<std::size_t>(kWindow), 0);
        readAt(*reader, static_cast<std::int64_t>(windowStart_), window_.data(), kWindow);
        windowValid_ = true;
    }
    if (position + need > windowStart_ + window_.size()) return nullptr;
    return window_.data() + (position - windowStart_);
}

void FatVolumeCommon::buildFromPositions() {
    appendSynthetic(kDummyName, 0);
    appendSynthetic(kOrphanName, 0);
    nestedBudget_ = fat32_ ? 20 : 2;
    // The root first: everything reachable from it gets its real place.
    if (fat32_) {
        const std::uint32_t root = boot_ && validCluster(rootCluster_) ? rootCluster_ : 2;
        walkDirectory({0, root, nestedBudget_, true});
    } else {
        walkArea(rootOffset_, rootSize_, 0);
    }
    drainQueues();
    // Then what the scan found elsewhere: folders before files, so that a folder's
    // entries are read through the folder and not taken for orphans.
    for (std::uint64_t p : entryPositions_) processPosition(p, true);
    for (std::uint64_t p : entryPositions_) processPosition(p, false);
}

void FatVolumeCommon::processPosition(std::uint64_t p, bool directoriesOnly) {
    if (processedPositions_.count(p)) return;
    const std::uint8_t* slot = windowAt(p, kFatSlotSize * (FatLongNameRun::kMaxSlots + 1));
    if (!slot) return;
    DirState st;
    st.parent = p >= orphanThreshold_ ? 1 : 0;
    // A long-name run goes with the short entry after it.
    int run = 0;
    while (run < FatLongNameRun::kMaxSlots && isFatLongNameSlot(slot[run * kFatSlotSize + 11])) ++run;
    const std::uint8_t* shortSlot = slot + run * kFatSlotSize;
    const std::uint64_t shortPos = p + std::uint64_t(run) * kFatSlotSize;
    if (shortSlot[0] == 0 || (shortSlot[0] == '.' && isFatDirectoryAttr(shortSlot[11])) || isFatLongNameSlot(shortSlot[11]) ||
        isFatVolumeLabel(shortSlot[11]) || processedPositions_.count(shortPos))
        return;
    const FatShortSlot s = parseFatShortSlot(ByteReader(shortSlot, kFatSlotSize));
    const bool dir = isFatDirectoryAttr(s.attributes);
    if (directoriesOnly && !dir) return;
    for (int i = 0; i <= run; ++i) processedPositions_.insert(p + std::uint64_t(i) * kFatSlotSize);
    for (int i = 0; i < run; ++i) st.lfn.add(ByteReader(slot + i * kFatSlotSize, kFatSlotSize));
    std::string name;
    bool deleted = s.deleted();
    if (!st.lfn.empty() && (deleted || st.lfn.checksum() == fatShortNameChecksum(s.name))) {
        name = st.lfn.name();
        deleted = deleted || st.lfn.deleted();
    } else {
        name = fatShortName(s);
    }
    const int savedBudget = nestedBudget_;
    nestedBudget_ = fat32_ ? 19 : 1;
    addEntry(s, std::move(name), deleted, st);
    nestedBudget_ = savedBudget;
    drainQueues();
}

}  // namespace kelvara
