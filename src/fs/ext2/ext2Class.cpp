#include "fs/ext2/ext2Class.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

#include "common/Text.h"
#include "fs/RecoveredFile.h"
#include "fs/ext2/Ext2BlockMap.h"
#include "platform/Time.h"
#include "widgets/CUseShGetFileInfo.h"
#include "widgets/CXHtmlTree.h"

namespace kelvara {

using namespace ext2;

namespace {

constexpr std::uint64_t kWindowBytes = 1 << 20;     // large sequential reads
constexpr std::uint64_t kMaxDescriptorBytes = 256ull << 20;
constexpr std::uint64_t kMaxNamePool = 0xFFFFFFFFull;
constexpr std::uint32_t kStatusEvery = 4096;

// The inode type a directory entry's file type stands for.
std::uint16_t modeOfFileType(std::uint8_t t) {
    static constexpr std::uint16_t kModes[] = {0, 0x8000, 0x4000, 0x2000, 0x6000, 0x1000, 0xC000, 0xA000};
    return t < std::size(kModes) ? kModes[t] : 0;
}

bool isRegularMode(std::uint16_t mode) { return (mode & ino::kTypeMask) == ino::kTypeFile; }
bool isDirectoryMode(std::uint16_t mode) { return (mode & ino::kTypeMask) == ino::kTypeDir; }

// A group holds a superblock backup (and so, in a meta group, the descriptors sit one
// block later) in group 0 and 1 and in powers of 3, 5 and 7 with sparse_super.
bool groupHasSuper(const Superblock& s, std::uint64_t g) {
    if (!s.sparseSuper() || g <= 1) return true;
    for (std::uint64_t base : {3u, 5u, 7u}) {
        std::uint64_t p = base;
        while (p < g) p *= base;
        if (p == g) return true;
    }
    return false;
}

std::string lowerForSort(const std::string& s) { return asciiLower(s); }

platform::UtcTime utcOf(const InodeTime& t) { return platform::UtcTime{t.seconds, t.nanoseconds}; }

}  // namespace

void ext2Class::reset() {
    super_.reset();
    superOffset_ = 0;
    groups_.clear();
    records_ = 0;
    hits_.clear();
    dotDot_.clear();
    namePool_.clear();
    entryTypes_.clear();
    entries_.assign(2, Ext2Entry{});
    Ext2Entry& root = entries_[kRootRef];
    root.name = "ROOT";
    root.key = 1;  // the root directory, inode 2
    root.mode = ino::kTypeDir;
}

bool ext2Class::readVolume(std::uint64_t offset, void* buffer, std::uint64_t count) const {
    if (!reader || offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
    return readAt(*reader, static_cast<std::int64_t>(offset), buffer, count);
}

bool ext2Class::runScan(int mode) {
    if (mode != 1) return false;
    reset();
    if (!reader) return true;
    reader->baseOffset = volume.START_SECTOR * 512;
    reader->seek(0, 0);
    volumeSize_ = listedSizeBytes(volume.VOLUME_SIZE);
    if (volumeSize_ == 0) return true;
    if (findSuperblock() && readGroupDescriptors()) {
        readDirectories();
        buildEntryTable();
        collectInodes();
        linkChildren();
        fillRootItems();
    } else {
        // Said, so that an empty list is not taken for an empty volume.
        sink->setStatus("no usable ext superblock or group table: nothing could be listed");
    }
    return true;
}

bool ext2Class::findSuperblock() {
    if (volumeSize_ <= 1536) return false;
    std::vector<std::uint8_t> window(kWindowBytes + sb::kSize);
    for (std::uint64_t o = sb::kPrimaryOffset; o < volumeSize_; o += kWindowBytes) {
        if (stopRequested()) {
            stopFlag = 0;
            return false;
        }
        std::fill(window.begin(), window.end(), 0);
        readVolume(o, window.data(), window.size());  // past the end reads as zeros
        for (std::uint64_t k = 0; k < kWindowBytes && o + k < volumeSize_; k += 512) {
            if (auto s = parseSuperblock(ByteReader(window.data() + k, sb::kSize))) {
                super_ = s;
                superOffset_ = o + k;
                return true;
            }
        }
    }
    return false;
}

bool ext2Class::readGroupDescriptors() {
    const Superblock& s = *super_;
    const std::uint64_t bs = s.blockSize;
    const std::uint64_t perBlock = bs / s.descSize;
    // Without meta_bg the whole table follows the superblock; with it, only the
    // groups below the first meta group do, and each meta group keeps its own block.
    const std::uint64_t contiguousGroups =
        s.metaBg() ? std::min<std::uint64_t>(s.groupCount, std::uint64_t(s.firstMetaBg) * perBlock) : s.groupCount;
    std::uint64_t bytes = contiguousGroups * s.descSize;
    if (bytes % 512) bytes += 512 - bytes % 512;
    if (s.groupCount * s.descSize > kMaxDescriptorBytes) return false;
    std::vector<std::uint8_t> table;
    try {
        table.assign(s.groupCount * s.descSize, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::vector<std::uint8_t> head(bytes, 0);
    if (bytes && !readVolume(descriptorTableOffset(superOffset_, s.blockSize), head.data(), bytes)) return false;
    std::copy_n(head.begin(), contiguousGroups * s.descSize, table.begin());
    std::vector<std::uint8_t> block(bs);
    for (std::uint64_t g = contiguousGroups; g < s.groupCount; g += perBlock) {
        const std::uint64_t first = g - g % perBlock;
        const std::uint64_t where = s.firstDataBlock + first * s.blocksPerGroup + (groupHasSuper(s, first) ? 1 : 0);
        if (!readVolume(where * bs, block.data(), bs)) return false;
        const std::uint64_t n = std::min<std::uint64_t>(perBlock, s.groupCount - first);
        std::copy_n(block.begin(), n * s.descSize, table.begin() + first * s.descSize);
    }

    const std::uint64_t tableBlocks = (std::uint64_t(s.inodesPerGroup) * s.inodeSize + bs - 1) / bs;
    groups_.resize(s.groupCount);
    for (std::uint64_t g = 0; g < s.groupCount; ++g) {
        GroupDesc d = parseGroupDesc(ByteReader(table.data() + g * s.descSize, s.descSize), s.descSize);
        // A table outside the volume, or over its first blocks, is nothing to read.
        if (d.inodeTable <= s.firstDataBlock || d.inodeTable >= s.blocksCount || tableBlocks > s.blocksCount - d.inodeTable)
            d.inodeTable = 0;
        groups_[g] = d;
    }
    records_ = std::min<std::uint64_t>(s.inodesCount, s.groupCount * s.inodesPerGroup);
    return true;
}

std::optional<std::pair<std::uint64_t, std::uint32_t>> ext2Class::inodeLocation(std::uint32_t n) const {
    if (!super_ || n == 0 || n > records_) return std::nullopt;
    const std::uint64_t g = (n - 1) / super_->inodesPerGroup;
    const std::uint32_t idx = (n - 1) % super_->inodesPerGroup;
    if (g >= groups_.size() || groups_[g].inodeTable == 0) return std::nullopt;
    return std::make_pair(groups_[g].inodeTable, idx);
}

std::optional<Inode> ext2Class::readInode(std::uint32_t n) const {
    const auto loc = inodeLocation(n);
    if (!loc) return std::nullopt;
    std::vector<std::uint8_t> slot(super_->inodeSize);
    if (!readVolume(loc->first * super_->blockSize + std::uint64_t(loc->second) * super_->inodeSize, slot.data(), slot.size()))
        return std::nullopt;
    return parseInode(ByteReader(slot.data(), slot.size()));
}

void ext2Class::readDirectories() {
    const Superblock& s = *super_;
    sink->setRange(0, static_cast<std::int64_t>(records_));
    const std::uint64_t perChunk = std::max<std::uint64_t>(1, kWindowBytes / s.inodeSize);
    std::vector<std::uint8_t> chunk(perChunk * s.inodeSize);
    std::vector<std::uint8_t> dirBuf;
    for (std::uint64_t g = 0; g < groups_.size(); ++g) {
        if (stopRequested()) {
            stopFlag = 0;
            break;
        }
        const std::uint64_t first = g * s.inodesPerGroup;
        if (first >= records_) break;
        sink->setStatus(strprintf("parsing inode entry %llu  of %llu ", static_cast<unsigned long long>(first + 1),
                                  static_cast<unsigned long long>(records_)));
        sink->setPos(static_cast<std::int64_t>(first));
        const GroupDesc& d = groups_[g];
        if (d.inodeTable == 0) continue;
        std::uint64_t usable = s.inodesPerGroup;
        if (s.groupChecksums()) {
            // Never-used inodes are not initialised and may hold anything.
            if (d.flags & gd::kInodeUninit) continue;
            if (d.itableUnused <= usable) usable -= d.itableUnused;
        }
        usable = std::min<std::uint64_t>(usable, records_ - first);
        for (std::uint64_t c = 0; c < usable; c += perChunk) {
            const std::uint64_t count = std::min(perChunk, usable - c);
            if (!readVolume(d.inodeTable * s.blockSize + c * s.inodeSize, chunk.data(), count * s.inodeSize)) continue;
            for (std::uint64_t i = 0; i < count; ++i) {
                const ByteReader slot(chunk.data() + i * s.inodeSize, s.inodeSize);
                if (!isDirectoryMode(slot.le16(ino::mode))) continue;
                const Inode inode = parseInode(slot);
                if (inode.blockWord(0) == 0 || inode.hasInlineData()) continue;
                parseDirectory(static_cast<std::uint32_t>(first + c + i + 1), inode, dirBuf);
            }
        }
    }
    sink->setStatus(strprintf("parsed inode entry %llu  of %llu ", static_cast<unsigned long long>(records_),
                              static_cast<unsigned long long>(records_)));
}

void ext2Class::parseDirectory(std::uint32_t dirInode, const Inode& inode, std::vector<std::uint8_t>& buf) {
    const Superblock& s = *super_;
    const std::uint64_t bs = s.blockSize;
    const bool deletedDir = inode.isDeleted();
    // A directory is at most 4 GiB; its size bounds the walk.
    const std::uint64_t limit = std::min<std::uint64_t>((inode.size + bs - 1) / bs, (std::uint64_t(4) << 30) / bs);
    if (limit == 0) return;
    DirWalkRules rules;
    rules.fileType = s.fileType();
    rules.inodesCount = static_cast<std::uint32_t>(records_);
    rules.firstIno = s.firstIno;
    rules.indexedDirectory = inode.flags & ino::kIndexFl;
    const std::size_t hitsBefore = hits_.size();
    const std::size_t poolBefore = namePool_.size();
    bool checkedFirst = false, rejected = false;

    auto onEntry = [&](const DirEntryHit& h) {
        if (h.inode == 0 || h.inode > records_) return;
        // A directory's own links are the first two entries of its first block; the
        // same names anywhere else are entries like any other.
        if (!h.fromSlack && rules.firstBlock && ((h.index == 0 && h.name == ".") || (h.index == 1 && h.name == ".."))) {
            if (h.index == 1 && !deletedDir) dotDot_.emplace(dirInode, h.inode);
            return;
        }
        if (namePool_.size() + h.name.size() > kMaxNamePool) return;
        hits_.push_back(DirHit{dirInode, h.inode, static_cast<std::uint32_t>(namePool_.size()),
                               static_cast<std::uint32_t>(h.name.size()), h.fileType, h.fromSlack || deletedDir});
        namePool_.append(h.name);
    };

    const std::uint64_t batch = std::max<std::uint64_t>(1, kWindowBytes / bs);
    BlockMap map([this](std::uint64_t b, std::uint8_t* out) { return readVolume(b * super_->blockSize, out, super_->blockSize); },
                 s.blockSize, s.blocksCount);
    map.walk(inode, limit, [&](const BlockRun& run) {
        if (run.zeros) return true;
        for (std::uint64_t k = 0; k < run.count; k += batch) {
            const std::uint64_t n = std::min(batch, run.count - k);
            if (run.physical + k + n > s.blocksCount) return true;
            buf.assign(n * bs, 0);
            readVolume((run.physical + k) * bs, buf.data(), n * bs);  // a failed block reads as zeros and yields nothing
            for (std::uint64_t j = 0; j < n; ++j) {
                const std::uint64_t logical = run.logical + k + j;
                const ByteReader block(buf.data() + j * bs, bs);
                if (deletedDir && !checkedFirst) {
                    // A deleted directory's blocks may belong to something else by now:
                    // believe them only while its first block still starts with its own ".".
                    checkedFirst = true;
                    if (logical != 0 || block.le32(dir::inode) != dirInode || block.u8(dir::name) != '.' ||
                        (s.fileType() ? block.u8(dir::nameLen) : block.le16(dir::nameLen)) != 1) {
                        rejected = true;
                        return false;
                    }
                }
                rules.firstBlock = logical == 0;
                walkDirectoryBlock(block, rules, onEntry);
            }
        }
        return true;
    });
    if (rejected) {
        hits_.resize(hitsBefore);
        namePool_.resize(poolBefore);
    }
}

void ext2Class::buildEntryTable() {
    sink->setStatus("clearing vector....");
    std::vector<std::uint32_t> order(hits_.size());
    for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return hits_[a].inode < hits_[b].inode; });
    auto nameOf = [&](const DirHit& h) { return std::string_view(namePool_).substr(h.nameOffset, h.nameLength); };
    auto same = [&](const DirHit& a, const DirHit& b) { return a.dirInode == b.dirInode && nameOf(a) == nameOf(b); };

    std::vector<Ext2Entry> table;
    std::vector<std::uint32_t> parentInodes, types;
    table.reserve(order.size());
    for (std::size_t i = 0; i < order.size();) {
        std::size_t j = i;
        while (j < order.size() && hits_[order[j]].inode == hits_[order[i]].inode) ++j;
        // The last live name of an inode wins (a hard link shows once); removed names
        // are kept each on their own unless a live or earlier removed one says the same.
        // A folder's name inside itself, or in a folder other than the one its ".."
        // names, would hang it below itself and cut it off from the root: such a name
        // wins only when there is no other.
        const std::uint32_t inode = hits_[order[i]].inode;
        const auto up = dotDot_.find(inode);
        auto trusted = [&](const DirHit& h) {
            return h.dirInode != inode && (up == dotDot_.end() || up->second == h.dirInode);
        };
        std::optional<std::uint32_t> winner;
        bool winnerTrusted = false;
        for (std::size_t k = i; k < j; ++k) {
            const DirHit& h = hits_[order[k]];
            if (h.deleted) continue;
            const bool t = trusted(h);
            if (t || !winnerTrusted) {
                winner = order[k];
                winnerTrusted = t;
            }
        }
        auto add = [&](const DirHit& h) {
            Ext2Entry e;
            e.name = sanitizeUtf8(nameOf(h));
            e.key = h.inode - 1;
            e.deleted = h.deleted;
            e.mode = super_->fileType() ? modeOfFileType(h.fileType) : 0;
            table.push_back(std::move(e));
            parentInodes.push_back(h.dirInode);
            types.push_back(h.fileType);
        };
        if (winner) add(hits_[*winner]);
        if (j - i <= 32) {
            for (std::size_t k = i; k < j; ++k) {
                const DirHit& h = hits_[order[k]];
                if (!h.deleted) continue;
                bool duplicate = false;
                for (std::size_t m = i; m < k && !duplicate; ++m) duplicate = same(hits_[order[m]], h);
                for (std::size_t m = k + 1; m < j && !duplicate; ++m) duplicate = !hits_[order[m]].deleted && same(hits_[order[m]], h);
                if (!duplicate) add(h);
            }
        } else {
            // Many names for one inode (hard links, or a name churned in place): a set
            // keeps this linear.
            std::set<std::pair<std::uint32_t, std::string_view>> seen;
            for (std::size_t k = i; k < j; ++k)
                if (!hits_[order[k]].deleted) seen.emplace(hits_[order[k]].dirInode, nameOf(hits_[order[k]]));
            for (std::size_t k = i; k < j; ++k) {
                const DirHit& h = hits_[order[k]];
                if (h.deleted && seen.emplace(h.dirInode, nameOf(h)).second) add(h);
            }
        }
        i = j;
    }
    hits_.clear();
    hits_.shrink_to_fit();
    dotDot_.clear();
    namePool_.clear();
    namePool_.shrink_to_fit();

    entries_.resize(2);
    entries_.reserve(2 + table.size());
    for (auto& e : table) entries_.push_back(std::move(e));
    // Parents are linked by inode number until linkChildren resolves them.
    for (std::size_t i = 0; i < parentInodes.size(); ++i) {
        entries_[2 + i].parentKey = parentInodes[i];
    }
    entryTypes_.assign(entries_.size(), 0);
    for (std::size_t i = 0; i < types.size(); ++i) entryTypes_[2 + i] = static_cast<std::uint8_t>(types[i]);
}

void ext2Class::collectInodes() {
    const Superblock& s = *super_;
    const std::uint64_t perChunk = std::max<std::uint64_t>(1, kWindowBytes / s.inodeSize);
    std::vector<std::uint8_t> chunk(perChunk * s.inodeSize);
    std::uint64_t cachedGroup = UINT64_MAX, cachedStart = 0, cachedCount = 0, lastGroup = UINT64_MAX;
    bool stopped = false;
    sink->setRange(0, static_cast<std::int64_t>(groups_.size()));

    for (std::size_t r = kRootRef; r < entries_.size(); ++r) {
        Ext2Entry& e = entries_[r];
        const std::uint8_t fileType = r < entryTypes_.size() ? entryTypes_[r] : 0;
        if (stopped) continue;
        const auto loc = inodeLocation(e.inode());
        if (!loc) continue;
        const std::uint64_t g = (e.inode() - 1) / s.inodesPerGroup;
        if (g != lastGroup) {
            if (stopRequested()) {
                stopFlag = 0;
                stopped = true;
                continue;
            }
            lastGroup = g;
            sink->setStatus(strprintf("parsing group %llu  of %llu ", static_cast<unsigned long long>(g + 1),
                                      static_cast<unsigned long long>(groups_.size())));
            sink->setPos(static_cast<std::int64_t>(g + 1));
        }
        const std::uint64_t idx = loc->second;
        if (g != cachedGroup || idx < cachedStart || idx >= cachedStart + cachedCount) {
            cachedGroup = g;
            cachedStart = idx - idx % perChunk;
            cachedCount = std::min<std::uint64_t>(perChunk, s.inodesPerGroup - cachedStart);
            if (!readVolume(loc->first * s.blockSize + cachedStart * s.inodeSize, chunk.data(), cachedCount * s.inodeSize))
                cachedCount = 0;  // unreadable: the entries keep what their names said
        }
        if (idx < cachedStart || idx >= cachedStart + cachedCount) continue;
        const Inode inode = parseInode(ByteReader(chunk.data() + (idx - cachedStart) * s.inodeSize, s.inodeSize));
        e.tableBlock = loc->first;
        e.indexInGroup = loc->second;
        e.inodeKnown = true;
        if (r == kRootRef) continue;
        e.size = inode.size;
        const std::uint16_t typed = s.fileType() ? modeOfFileType(fileType) : 0;
        if (!e.deleted) {
            e.mode = (typed == ino::kTypeDir || typed == ino::kTypeFile) ? typed : inode.mode;
            continue;
        }
        // A removed name: its inode may have gone to another file since, or lost its map.
        if (typed != 0 && inode.type() != typed) {
            e.mode = typed;
            e.size = 0;
            e.blocksGone = true;
            continue;
        }
        e.mode = typed ? typed : inode.mode;
        if (isRegularMode(inode.mode) && !inode.hasInlineData() && (inode.size == 0 || !inode.mapsAnyBlock())) {
            e.size = 0;
            e.blocksGone = true;
        }
    }
    entryTypes_.clear();
    entryTypes_.shrink_to_fit();
}

void ext2Class::linkChildren() {
    sink->setStatus("Maintaining Parent Child....");
    const std::size_t n = entries_.size();
    sink->setRange(0, static_cast<std::int64_t>(n - 1));
    // Entries are in inode order: the directory an inode number stands for is its live
    // name, or else its first removed one.
    auto directoryEntry = [&](std::uint32_t inode) -> EntryRef {
        if (inode == 2) return kRootRef;
        auto lo = std::lower_bound(entries_.begin() + 2, entries_.end(), inode,
                                   [](const Ext2Entry& e, std::uint32_t v) { return e.inode() < v; });
        EntryRef found = kNoEntry;
        for (auto it = lo; it != entries_.end() && it->inode() == inode; ++it) {
            if (!isDirectoryMode(it->mode)) continue;
            if (!it->deleted) return it - entries_.begin();
            if (found == kNoEntry) found = it - entries_.begin();
        }
        return found;
    };
    std::vector<EntryRef> parents(n, kNoEntry);
    for (std::size_t i = 2; i < n; ++i) parents[i] = directoryEntry(static_cast<std::uint32_t>(entries_[i].parentKey));
    for (std::size_t i = 2; i < n; ++i) {
        Ext2Entry& e = entries_[i];
        e.parentKey = kNoEntry;
        if (stopRequested()) {
            stopFlag = 0;
            break;
        }
        if ((i - 1) % kStatusEvery == 1 || i + 1 == n) {
            sink->setStatus(strprintf("Maintaining Parent Child for record %zu of %zu....", i - 1, n - 2));
            sink->setPos(static_cast<std::int64_t>(i - 1));
        }
        const EntryRef p = parents[i];
        if (p == kNoEntry || p == static_cast<EntryRef>(i)) continue;
        e.parentKey = p;
        e.nextSibling = entries_[p].firstChild;
        entries_[p].firstChild = static_cast<EntryRef>(i);
    }
}

void ext2Class::fillRootItems() {
    sink->setStatus("filling root entries in  tree....");
    if (!tree) return;
    CUseShGetFileInfo icons;
    const int folder = icons.getFolderIconIndex();
    const TreeItem top = tree->insertItem("ROOT", folder, folder, TVI_ROOT);
    tree->setItemData(top, kRootRef);
    // Folders go in sorted position among what is there already, files at the end,
    // as a sorted insert into the tree would place them.
    std::vector<EntryRef> order;
    std::vector<std::string> keys;
    for (EntryRef c = entries_[kRootRef].firstChild; c != kNoEntry; c = entries_[c].nextSibling) {
        const Ext2Entry& e = entries_[c];
        if (e.name.empty()) continue;
        if (isDirectoryMode(e.mode)) {
            const std::string key = lowerForSort(e.name);
            const auto at = std::upper_bound(keys.begin(), keys.end(), key) - keys.begin();
            keys.insert(keys.begin() + at, key);
            order.insert(order.begin() + at, c);
        } else if (isRegularMode(e.mode)) {
            keys.push_back(lowerForSort(e.name));
            order.push_back(c);
        }
    }
    for (EntryRef c : order) {
        const Ext2Entry& e = entries_[c];
        const int image = isDirectoryMode(e.mode) ? folder : icons.getFileIconIndex(e.name);
        const TreeItem item = tree->insertItem(e.name, image, image, top);
        tree->setItemData(item, c);
        if (e.deleted) tree->setItemColor(item, kRed);
    }
    tree->expand(top, ExpandCode::Expand);
}

bool ext2Class::isEntry(EntryRef ref) const { return validRef(ref); }
bool ext2Class::isDirectory(EntryRef ref) const { return validRef(ref) && isDirectoryMode(entries_[ref].mode); }
bool ext2Class::isDeleted(EntryRef ref) const { return validRef(ref) && entries_[ref].deleted; }
bool ext2Class::hasChildren(EntryRef ref) const { return validRef(ref) && entries_[ref].firstChild != kNoEntry; }
EntryRef ext2Class::firstChild(EntryRef ref) const { return validRef(ref) ? entries_[ref].firstChild : kNoEntry; }
EntryRef ext2Class::nextSibling(EntryRef ref) const { return validRef(ref) ? entries_[ref].nextSibling : kNoEntry; }
std::string ext2Class::name(EntryRef ref) const { return validRef(ref) ? entries_[ref].name : std::string(); }
void ext2Class::setName(EntryRef ref, const std::string& n) {
    if (validRef(ref)) entries_[ref].name = n;
}
std::uint64_t ext2Class::size(EntryRef ref) const { return validRef(ref) ? entries_[ref].size : 0; }
std::string ext2Class::formatSize(EntryRef ref) const { return formatSizeText(size(ref)); }
bool ext2Class::skipOnSave(EntryRef ref) const { return !isDirectory(ref) && !(validRef(ref) && isRegularMode(entries_[ref].mode)); }

EntryTimeTexts ext2Class::formatTimes(EntryRef ref) const {
    EntryTimeTexts t;
    if (!validRef(ref) || !entries_[ref].inodeKnown) return t;
    const auto inode = readInode(entries_[ref].inode());
    if (!inode) return t;
    t.created = formatDateTimeText(platform::toLocalFields(inode->ctime.seconds));
    t.accessed = formatDateTimeText(platform::toLocalFields(inode->atime.seconds));
    t.modified = formatDateTimeText(platform::toLocalFields(inode->mtime.seconds));
    t.attributes = modeText(inode->mode);
    return t;
}

EntryTimesUtc ext2Class::times(EntryRef ref) const {
    EntryTimesUtc t;
    if (!validRef(ref) || !entries_[ref].inodeKnown) return t;
    const auto inode = readInode(entries_[ref].inode());
    if (!inode) return t;
    t.created = utcOf(inode->ctime);
    t.accessed = utcOf(inode->atime);
    t.modified = utcOf(inode->mtime);
    return t;
}

ExtractResult ext2Class::extractEntry(EntryRef ref, const std::string& outputFolder) {
    ExtractResult failed;
    if (!validRef(ref) || !isRegularMode(entries_[ref].mode) || !super_) {
        failed.message = "not a file";
        return failed;
    }
    const Ext2Entry& e = entries_[ref];
    RecoveredFile out;
    if (!out.create(outputFolder, e.name)) {
        failed.message = "cannot create " + e.name + " in " + outputFolder + ": " + out.error();
        return failed;
    }
    const EntryTimesUtc when = times(ref);
    if (e.blocksGone) return out.finish(when, false, "the blocks of this deleted file are gone");
    const auto inode = e.inodeKnown ? readInode(e.inode()) : std::nullopt;
    if (!inode) return out.finish(when, false, "its inode cannot be read");

    const std::uint64_t size = e.size;
    const std::uint64_t bs = super_->blockSize;
    std::uint64_t written = 0;
    bool complete = true, writeOk = true;
    std::string problem;
    auto put = [&](const std::uint8_t* data, std::uint64_t n) {
        n = std::min(n, size - written);
        if (n && !out.write(data, static_cast<std::size_t>(n))) writeOk = false;
        written += n;
    };
    auto zeros = [&](std::uint64_t n) {
        n = std::min(n, size - written);
        if (n && !out.skipZeros(n)) writeOk = false;
        written += n;
    };

    if (inode->hasInlineData()) {
        put(inode->block.data(), inode->block.size());
        if (written < size) {
            complete = false;
            problem = "data kept beyond the inode is not read";
        }
        zeros(size - written);
        return out.finish(when, complete && writeOk, problem);
    }

    std::vector<std::uint8_t> buf(std::max<std::uint64_t>(bs, kWindowBytes - kWindowBytes % bs));
    const std::uint64_t perRead = buf.size() / bs;
    BlockMap map([this](std::uint64_t b, std::uint8_t* o) { return readVolume(b * super_->blockSize, o, super_->blockSize); },
                 super_->blockSize, super_->blocksCount);
    const bool mapSound = map.walk(*inode, (size + bs - 1) / bs, [&](const BlockRun& run) {
        const std::uint64_t start = run.logical * bs;
        if (start > written) zeros(start - written);  // a hole
        if (run.zeros) {
            zeros(run.count * bs);
            return writeOk && written < size;
        }
        for (std::uint64_t k = 0; k < run.count && writeOk && written < size; k += perRead) {
            const std::uint64_t n = std::min(perRead, run.count - k);
            const std::uint64_t block = run.physical + k;
            if (block >= super_->blocksCount || n > super_->blocksCount - block) {
                complete = false;
                problem = "some blocks lie outside the volume";
                zeros(n * bs);
                continue;
            }
            std::fill_n(buf.begin(), n * bs, 0);
            if (!readVolume(block * bs, buf.data(), n * bs)) {
                complete = false;  // unreadable sectors are written as zeros in their place
                problem = "some blocks could not be read";
            }
            put(buf.data(), n * bs);
        }
        return writeOk && written < size;
    });
    if (!mapSound && problem.empty()) {
        complete = false;
        problem = "part of its block map could not be read";
    }
    zeros(size - written);  // a hole at the end
    return out.finish(when, complete && writeOk, problem);
}

}  // namespace kelvara
