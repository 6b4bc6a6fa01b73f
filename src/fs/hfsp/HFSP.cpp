#include "fs/hfsp/HFSP.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "common/Text.h"
#include "fs/RecoveredFile.h"
#include "platform/Time.h"
#include "widgets/CUseShGetFileInfo.h"

namespace kelvara {

using namespace hfsp;

namespace {

constexpr const char* kWorkDone = "Work Done.";
constexpr const char* kWorkAborted = "Work Aborted....";
constexpr std::size_t kBTreeWindowBytes = 4u << 20;
constexpr std::size_t kExtractChunkBytes = 1u << 20;
// How often the tight per-block and per-entry loops look at the stop flag.
constexpr std::uint64_t kStopCheckEvery = 1024;

std::int64_t hfsDateToUnix(std::uint32_t date) { return static_cast<std::int64_t>(date) - kHfsEpochToUnix; }

std::string dateText(std::uint32_t date) {
    return formatDateTimeText(platform::toLocalFields(hfsDateToUnix(date)));
}

}  // namespace

// ---------------------------------------------------------------- reading

bool HFSP::readVolume(std::uint64_t offset, std::uint8_t* out, std::size_t length) {
    if (length == 0) return true;
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) - length) {
        std::memset(out, 0, length);
        return false;
    }
    if (readAt(*reader, static_cast<std::int64_t>(offset), out, length)) return true;
    // Something in the range failed: read it again block by block so that only the
    // blocks that cannot be read become zeros.
    const std::uint32_t piece = isUsableBlockSize(header_.blockSize) ? header_.blockSize : kSectorSize;
    bool ok = true;
    std::size_t pos = 0;
    while (pos < length) {
        const std::size_t n = std::min<std::size_t>(length - pos, piece - (offset + pos) % piece);
        if (!readAt(*reader, static_cast<std::int64_t>(offset + pos), out + pos, n)) {
            std::memset(out + pos, 0, n);
            ok = false;
        }
        pos += n;
    }
    return ok;
}

bool HFSP::readFork(const ForkMap& fork, std::uint64_t offset, std::uint8_t* out, std::size_t length) {
    const std::uint64_t bs = header_.blockSize;
    bool ok = true;
    std::size_t pos = 0;
    while (pos < length) {
        const std::uint64_t at = offset + pos;
        std::uint64_t volumeBlock = 0, runBlocks = 0;
        if (!fork.run(at / bs, volumeBlock, runBlocks)) {
            std::memset(out + pos, 0, length - pos);
            return false;
        }
        const std::uint64_t inBlock = at % bs;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length - pos, runBlocks * bs - inBlock));
        ok = readVolume(volumeBlock * bs + inBlock, out + pos, n) && ok;
        pos += n;
    }
    return ok;
}

void HFSP::addOverflowExtents(ForkMap& map, std::uint32_t fileId, std::uint64_t wantBlocks) const {
    // Each record must add blocks, so this ends after at most one look-up per record.
    for (std::size_t guard = 0; guard <= overflow_.size() && map.blocks() < wantBlocks; ++guard) {
        if (map.blocks() > std::numeric_limits<std::uint32_t>::max()) return;
        auto it = overflow_.find({fileId, static_cast<std::uint32_t>(map.blocks())});
        if (it == overflow_.end() || map.add(it->second) == 0) return;
    }
}

// ---------------------------------------------------------------- scan steps

std::uint64_t HFSP::volumeBlockLimit() const {
    std::uint64_t limit = header_.totalBlocks ? header_.totalBlocks : UINT64_MAX;
    if (reader && reader->byteSize() > 0 && isUsableBlockSize(header_.blockSize)) {
        const std::uint64_t avail = reader->bytesAfterBase();
        limit = std::min<std::uint64_t>(limit, (avail + header_.blockSize - 1) / header_.blockSize);
    }
    return limit;
}

bool HFSP::readVolumeHeader() {
    if (!reader) return false;
    std::array<std::uint8_t, 512> vh{};
    readVolume(1024, vh.data(), vh.size());
    header_ = parseVolumeHeader(ByteReader(vh.data(), vh.size()));
    catalogFork_ = ForkMap();
    extentsFork_ = ForkMap();
    catalogFork_.add(header_.catalogFile.extents);
    extentsFork_.add(header_.extentsFile.extents);
    extentsFork_.clip(volumeBlockLimit());
    catalogFork_.clip(volumeBlockLimit());
    return true;
}

template <typename OnNode>
bool HFSP::walkBTree(const ForkMap& fork, std::uint64_t forkBytes, std::vector<CollectedNode>& into,
                     std::uint32_t& nodeSizeOut, OnNode onNode) {
    nodeSizeOut = 0;
    if (!isUsableBlockSize(header_.blockSize)) return false;
    std::array<std::uint8_t, 512> first{};
    readFork(fork, 0, first.data(), first.size());
    const ByteReader head(first.data(), first.size());
    const NodeDescriptor d0 = parseNodeDescriptor(head);
    const BTreeHeader h = parseBTreeHeader(head);
    if (!isKnownNodeKind(d0.kind) || !isUsableNodeSize(h.nodeSize)) return false;
    const std::uint32_t ns = h.nodeSize;
    nodeSizeOut = ns;
    // Nodes past the end of the file are not read, whatever the header claims.
    const std::uint64_t nodes = std::min<std::uint64_t>(h.totalNodes, forkBytes / ns);
    sink->setRange(0, static_cast<std::int64_t>(nodes));

    const std::uint64_t perWindow = std::max<std::uint64_t>(1, kBTreeWindowBytes / ns);
    std::vector<std::uint8_t> window(static_cast<std::size_t>(std::min(perWindow, std::max<std::uint64_t>(nodes, 1)) * ns));
    bool stopped = false;
    for (std::uint64_t j = 0; j < nodes && !stopped;) {
        const std::uint64_t count = std::min(perWindow, nodes - j);
        readFork(fork, j * ns, window.data(), static_cast<std::size_t>(count * ns));
        for (std::uint64_t k = 0; k < count; ++k, ++j) {
            if (j > 0 && stopRequested()) {
                stopped = true;
                break;
            }
            sink->setPos(static_cast<std::int64_t>(j));
            const ByteReader node(window.data() + k * ns, ns);
            const NodeDescriptor d = parseNodeDescriptor(node);
            if (!isKnownNodeKind(d.kind) || d.numRecords == 0) continue;
            CollectedNode c;
            c.number = j;
            c.kind = d.kind;
            c.height = d.height;
            c.numRecords = d.numRecords;
            c.offsets = recordOffsets(node, d.numRecords);
            c.nodeSize = ns;
            onNode(node, c);
            into.push_back(std::move(c));
        }
    }
    stopFlag = 0;
    return true;
}

bool HFSP::walkExtentsNodes() {
    const std::uint64_t bs = header_.blockSize;
    const std::uint64_t bytes = std::min<std::uint64_t>(header_.extentsFile.logicalSize, extentsFork_.blocks() * bs);
    const bool ok = walkBTree(extentsFork_, bytes, extentsNodes_, extentsNodeSize_,
                              [this](const ByteReader& node, const CollectedNode& c) {
                                  if (c.kind != kLeafNode) return;
                                  for (std::uint16_t o : c.offsets) {
                                      if (o < kNodeDescriptorSize || o >= node.size()) continue;
                                      auto rec = parseExtentsRecord(node, o);
                                      // Resource-fork records share the key pairs of the data
                                      // fork's; only the data fork is extracted.
                                      if (!rec || rec->forkType != 0) continue;
                                      overflow_[{rec->fileId, rec->startBlock}] = rec->extents;
                                  }
                              });
    // A catalog file of more than eight extents continues in the overflow file.
    if (ok) {
        addOverflowExtents(catalogFork_, kCatalogFileId, header_.catalogFile.totalBlocks);
        catalogFork_.clip(volumeBlockLimit());
    }
    return ok;
}

void HFSP::readCatalogRecords(const ByteReader& node, std::uint64_t nodeVolumeBlock) {
    const NodeDescriptor d = parseNodeDescriptor(node);
    for (std::uint16_t o : recordOffsets(node, d.numRecords)) {
        if (o < kNodeDescriptorSize || o >= node.size()) continue;
        auto rec = parseCatalogRecord(node, o);
        if (!rec || entries_.count(rec->cnid)) continue;  // the first record of a CNID stays
        HfsEntry e;
        e.type = rec->type;
        e.parentId = rec->parentId;
        e.cnid = rec->cnid;
        e.name = std::move(rec->name);
        e.nodeBlock = nodeVolumeBlock;
        e.recordOffset = o;
        e.createDate = rec->createDate;
        e.contentModDate = rec->contentModDate;
        e.accessDate = rec->accessDate;
        e.fileMode = rec->fileMode;
        if (rec->type == kFileRecord) {
            e.totalBlocks = rec->dataFork.totalBlocks;
            e.logicalSize = rec->dataFork.logicalSize;
            e.extents = rec->dataFork.extents;
        }
        entries_.emplace(e.cnid, std::move(e));
    }
}

bool HFSP::walkCatalogNodes() {
    const std::uint64_t bs = header_.blockSize;
    const std::uint64_t bytes = std::min<std::uint64_t>(header_.catalogFile.logicalSize, catalogFork_.blocks() * bs);
    return walkBTree(catalogFork_, bytes, catalogNodes_, catalogNodeSize_,
                     [this, bs](const ByteReader& node, const CollectedNode& c) {
                         if (c.kind != kLeafNode) return;
                         std::uint64_t block = 0, run = 0;
                         catalogFork_.run(c.number * c.nodeSize / bs, block, run);
                         readCatalogRecords(node, block);
                     });
}

bool HFSP::searchLeafNodes() {
    foundBySearch_ = true;
    const std::uint32_t bs = header_.blockSize;
    if (!isUsableBlockSize(bs)) {
        status("BlockSize not valid .Aborting..");
        return false;
    }
    // The node size comes from the catalog's header node when that is still there;
    // otherwise each candidate node's size is recognised from its offset table.
    std::uint32_t ns = 0;
    {
        std::array<std::uint8_t, 512> first{};
        readFork(catalogFork_, 0, first.data(), first.size());
        const ByteReader head(first.data(), first.size());
        const BTreeHeader h = parseBTreeHeader(head);
        if (parseNodeDescriptor(head).kind == kHeaderNode && isUsableNodeSize(h.nodeSize)) ns = h.nodeSize;
    }
    catalogNodeSize_ = ns;

    std::uint64_t volumeBlocks = listedSizeBytes(volume.VOLUME_SIZE) / bs;
    // Never search past the end of what the reader holds.
    if (reader->byteSize() > 0) {
        volumeBlocks = std::min<std::uint64_t>(volumeBlocks, reader->bytesAfterBase() / bs);
    }
    if (volumeBlocks == 0) {
        status("BlockSize not valid .Aborting..");
        return false;
    }
    const std::uint64_t volumeBytes = volumeBlocks * bs;
    const std::uint32_t step = ns ? std::min(bs, ns) : bs;
    const std::uint32_t maxNode = ns ? ns : kMaxNodeSize;
    const std::uint64_t windowBytes = std::max<std::uint64_t>(step, searchWindowBytes / step * step);
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(std::min<std::uint64_t>(windowBytes + maxNode, volumeBytes)));

    sink->setRange(0, static_cast<std::int64_t>(volumeBlocks));
    std::uint64_t nextFree = 0;  // found nodes do not overlap: skip what one covered
    std::uint64_t tested = 0;
    bool stopped = false;
    for (std::uint64_t pos = 0; pos < volumeBytes && !stopped;) {
        sink->setPos(static_cast<std::int64_t>(pos / bs));
        const std::uint64_t winLen = std::min(windowBytes, volumeBytes - pos);
        const std::size_t readLen = static_cast<std::size_t>(std::min<std::uint64_t>(winLen + maxNode, volumeBytes - pos));
        readVolume(pos, buf.data(), readLen);
        for (std::uint64_t q = 0; q < winLen; q += step) {
            if (++tested % kStopCheckEvery == 0 && stopRequested()) {
                stopped = true;
                break;
            }
            if (pos + q < nextFree || readLen - q < kNodeDescriptorSize || buf[q + 8] != 0xFF) continue;
            const ByteReader at(buf.data() + q, readLen - q);
            std::uint32_t size = 0;
            if (ns) {
                if (looksLikeLeafNode(at, ns)) size = ns;
            } else {
                for (std::uint32_t s = kMinNodeSize; s <= kMaxNodeSize && !size; s <<= 1)
                    if (looksLikeLeafNodeStrict(at, s)) size = s;
            }
            if (!size) continue;
            const ByteReader node = at.sub(0, size);
            const NodeDescriptor d = parseNodeDescriptor(node);
            CollectedNode c;
            c.number = (pos + q) / bs;
            c.kind = d.kind;
            c.height = d.height;
            c.numRecords = d.numRecords;
            for (std::uint16_t o : recordOffsets(node, d.numRecords))
                if (o != 0 && o < 32768) c.offsets.push_back(o);
            c.nodeSize = size;
            readCatalogRecords(node, c.number);
            catalogNodes_.push_back(std::move(c));
            nextFree = pos + q + size;
        }
        pos += winLen;
    }
    stopFlag = 0;
    return true;
}

void HFSP::linkChildren() {
    status("Maintaining Parent Child....");
    sink->setRange(0, static_cast<std::int64_t>(entries_.size()));
    if (mode_ == 1)
        linkStandard();
    else if (!entries_.empty())
        linkByOrder();
    stopFlag = 0;
}

void HFSP::linkStandard() {
    const std::size_t total = entries_.size();
    std::size_t pos = 0;
    for (auto& [id, e] : entries_) {
        if (stopRequested()) break;
        if (pos % kStopCheckEvery == 0 || pos + 1 == total)
            status(strprintf("Maintaining Parent Child for record %d of %d....", static_cast<int>(pos), static_cast<int>(total)));
        sink->setPos(static_cast<std::int64_t>(++pos));
        if (e.parentId <= 0) continue;
        HfsEntry* p = find(e.parentId);
        if (!p || p->type != kFolderRecord || p == &e) continue;
        if (p->firstChild != -1 && p->childCount > 1 && p->parentId == e.cnid) continue;
        // A folder that is an ancestor of its own parent would close a loop.
        bool loop = false;
        std::int64_t up = p->parentId;
        for (int guard = 0; guard < 4096 && up > 0; ++guard) {
            if (up == e.cnid) {
                loop = true;
                break;
            }
            const HfsEntry* a = find(up);
            if (!a) break;
            up = a->parentId;
        }
        if (loop) continue;
        e.nextSibling = p->firstChild;  // -1 when the chain was empty
        p->firstChild = e.cnid;
        ++p->childCount;
    }
}

void HFSP::linkByOrder() {
    const std::int64_t largest = entries_.rbegin()->first;
    if (largest <= 1) return;
    orphanId_ = largest + 1;
    HfsEntry& orphan = entries_[orphanId_];
    orphan.type = kFolderRecord;
    orphan.cnid = orphanId_;
    orphan.parentId = kRootFolderId;
    orphan.name = "ORPHAN_ENTRY";
    HfsEntry* lastFolder = nullptr;
    std::uint64_t pos = 0;
    for (auto& [id, e] : entries_) {
        if (++pos % kStopCheckEvery == 0 && stopRequested()) break;
        sink->setPos(static_cast<std::int64_t>(pos));
        if (id == orphanId_) continue;
        HfsEntry& into = e.type == kFolderRecord ? orphan : (lastFolder ? *lastFolder : orphan);
        if (e.type == kFolderRecord) {
            e.parentId = orphanId_;
            lastFolder = &e;
        }
        e.nextSibling = into.firstChild;
        into.firstChild = id;
        ++into.childCount;
    }
}

void HFSP::fillRootItems() {
    const CUseShGetFileInfo icons;
    std::int64_t pos = 0;
    for (const auto& [id, e] : entries_) {
        if (stopRequested()) break;
        if (e.parentId == kRootFolderId) {
            const bool folder = e.type == kFolderRecord;
            status(strprintf(folder ? "found folder at Node %lld" : "found file at Node %lld", static_cast<long long>(pos)));
            if (tree) {
                const int icon = folder ? icons.getFolderIconIndex() : icons.getFileIconIndex(e.name);
                const TreeItem item = tree->insertItem(e.name, icon, icon, rootItem_);
                tree->setItemData(item, id);
            }
        }
        ++pos;
    }
    if (tree && rootItem_ != kNoItem) tree->expand(rootItem_, ExpandCode::Expand);
    stopFlag = 0;
}

bool HFSP::runScan(int mode) {
    if (mode < 1 || mode > 3) return false;
    mode_ = mode;
    succeeded_ = false;
    header_ = {};
    catalogNodeSize_ = extentsNodeSize_ = 0;
    catalogNodes_.clear();
    extentsNodes_.clear();
    entries_.clear();
    overflow_.clear();
    foundBySearch_ = false;
    orphanId_ = 0;
    rootItem_ = kNoItem;

    if (!reader || volume.START_SECTOR < 0 ||
        volume.START_SECTOR > std::numeric_limits<std::int64_t>::max() / kSectorSize) {
        status(kWorkAborted);
        return false;
    }
    reader->baseOffset = volume.START_SECTOR * kSectorSize;
    if (tree) {
        const int icon = CUseShGetFileInfo().getFolderIconIndex();
        rootItem_ = tree->insertItem("ROOT", icon, icon);
        tree->expand(rootItem_, ExpandCode::Expand);
    }
    bool ok = readVolumeHeader();
    // The extents-overflow file comes first: a fragmented catalog file may need it.
    // A step that fails does not keep the later ones from listing what they find.
    ok = walkExtentsNodes() && ok;
    ok = (mode == 1 ? walkCatalogNodes() : searchLeafNodes()) && ok;
    linkChildren();
    fillRootItems();
    succeeded_ = ok;
    status(ok ? kWorkDone : kWorkAborted);
    return ok;
}

std::vector<std::string> HFSP::prepareAdvanced(const AdvancedChoice&) {
    // HFS+ has no finder to choose from: the advanced scan searches the whole volume.
    return {"HFS+ catalog leaf node search"};
}

// ---------------------------------------------------------------- entries

const HfsEntry* HFSP::find(EntryRef ref) const {
    auto it = entries_.find(ref);
    return it == entries_.end() ? nullptr : &it->second;
}

HfsEntry* HFSP::find(EntryRef ref) {
    auto it = entries_.find(ref);
    return it == entries_.end() ? nullptr : &it->second;
}

bool HFSP::isDirectory(EntryRef ref) const {
    const HfsEntry* e = find(ref);
    return e && e->type == kFolderRecord;
}

bool HFSP::hasChildren(EntryRef ref) const {
    const HfsEntry* e = find(ref);
    return e && e->firstChild > 0;
}

EntryRef HFSP::firstChild(EntryRef ref) const {
    const HfsEntry* e = find(ref);
    return e && e->firstChild > 0 && find(e->firstChild) ? e->firstChild : kNoEntry;
}

EntryRef HFSP::nextSibling(EntryRef ref) const {
    const HfsEntry* e = find(ref);
    return e && e->nextSibling > 0 && find(e->nextSibling) ? e->nextSibling : kNoEntry;
}

std::string HFSP::name(EntryRef ref) const {
    const HfsEntry* e = find(ref);
    return e ? e->name : std::string();
}

void HFSP::setName(EntryRef ref, const std::string& n) {
    if (HfsEntry* e = find(ref)) e->name = n;
}

std::uint64_t HFSP::size(EntryRef ref) const {
    const HfsEntry* e = find(ref);
    return e ? e->logicalSize : 0;
}

std::string HFSP::formatSize(EntryRef ref) const { return formatSizeText(size(ref)); }

EntryTimeTexts HFSP::formatTimes(EntryRef ref) const {
    const HfsEntry* e = find(ref);
    if (!e || e->cnid == orphanId_) return {};
    return {dateText(e->createDate), dateText(e->accessDate), dateText(e->contentModDate), hfsp::attributeText(e->fileMode)};
}

std::string HFSP::formatAttributes(EntryRef ref) const {
    const HfsEntry* e = find(ref);
    return e && e->cnid != orphanId_ ? hfsp::attributeText(e->fileMode) : std::string();
}

EntryTimesUtc HFSP::times(EntryRef ref) const {
    const HfsEntry* e = find(ref);
    if (!e || e->cnid == orphanId_) return {};
    auto t = [](std::uint32_t d) { return platform::UtcTime{hfsDateToUnix(d), 0}; };
    return {t(e->createDate), t(e->accessDate), t(e->contentModDate)};
}

bool HFSP::skipOnSave(EntryRef ref) const {
    const HfsEntry* e = find(ref);
    return e && e->parentId <= 0;
}

EntryRef HFSP::volumeRoot() const {
    if (mode_ != 1 && orphanId_ != 0) return orphanId_;
    return kRootFolderId;
}

ExtractResult HFSP::extractEntry(EntryRef ref, const std::string& outputFolder) {
    ExtractResult res;
    const HfsEntry* e = find(ref);
    if (!e || e->type != kFileRecord) {
        res.message = "not a file of this volume";
        return res;
    }
    const std::uint32_t bs = header_.blockSize;
    if (!reader || !isUsableBlockSize(bs)) {
        res.message = "the volume has no usable block size";
        return res;
    }
    ForkMap map;
    map.add(e->extents);
    if (e->logicalSize > 0 && map.blocks() == 0) {
        res.message = "the file record has no data extents";
        return res;
    }
    addOverflowExtents(map, static_cast<std::uint32_t>(e->cnid), e->totalBlocks);

    // A file cannot be larger than its volume; a size beyond it is a damaged record.
    std::uint64_t want = e->logicalSize;
    std::string message;
    const std::uint64_t limit = volumeBlockLimit();
    const std::uint64_t volumeBytes = limit > UINT64_MAX / bs ? UINT64_MAX : limit * bs;
    if (want > volumeBytes) {
        want = volumeBytes;
        message = strprintf("the record's size of %llu bytes exceeds the volume; %llu bytes written",
                            static_cast<unsigned long long>(e->logicalSize), static_cast<unsigned long long>(want));
    }

    RecoveredFile out;
    if (!out.create(outputFolder, e->name)) {
        res.message = "cannot create the output file: " + out.error();
        return res;
    }
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(std::min<std::uint64_t>(kExtractChunkBytes, std::max<std::uint64_t>(want, 1))));
    bool allRead = true;
    for (std::uint64_t off = 0; off < want;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), want - off));
        allRead = readFork(map, off, buf.data(), n) && allRead;
        if (!out.write(buf.data(), n)) break;
        off += n;
    }
    if (!allRead && message.empty())
        message = "some blocks could not be read or are not mapped by any extent; zeros stand in their place";
    return out.finish(times(ref), allRead && want == e->logicalSize, message);
}

}  // namespace kelvara
