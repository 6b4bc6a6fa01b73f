// The ntfs parser as the results page sees it: the scan workers and the entry queries.

#include "fs/ntfs/ntfs.h"

#include "common/Text.h"
#include "platform/Time.h"
#include "widgets/CUseShGetFileInfo.h"

namespace kelvara {

using namespace ntfs_layout;

ntfs::ntfs() : recordBuffer_(kDefaultRecordSize, 0) {}

bool ntfs::runScan(int mode) {
    if (!reader) return false;
    if (mode == 1 || mode == 3) {
        // A new scan on this object starts from nothing.
        entries.clear();
        freeNames();
        mftRuns.clear();
        mftRunsReady = false;
        needRunFromFirstEntry = true;
        orphanIndex = -1;
        rootIndex = 5;
        deepRecordOffsets_.clear();
        deepMapBuilt_ = false;
        reader->baseOffset = volume.START_SECTOR * 512;
        if (tree) insertRootItem();
        readBootSector();
        scanMode = mode;
        if (mode == 1) {
            sink->setStatus(" ParsingBasedOnMFT is going on....");
            locateMft();
        } else {
            sink->setStatus(" scanning for mft entries in deep mode ....");
            deepScan();
        }
        collectMftRecords();
        buildTree();
        return true;
    }
    if (mode != 2) return false;
    // The advanced worker: prepareAdvanced ran the finder on this object.
    stopFlag.store(0);
    scanMode = 2;
    if (tree) {
        tree->deleteAllItems();
        insertRootItem();
    }
    freeNames();
    entries.clear();
    deepRecordOffsets_.clear();
    deepMapBuilt_ = false;
    const bool haveRuns = choice_.entry >= 0 && useMftCandidate(static_cast<std::size_t>(choice_.entry));
    if (choice_.sectorsPerCluster && *choice_.sectorsPerCluster > 0 && *choice_.sectorsPerCluster <= 4096)
        bytesPerCluster = static_cast<std::uint64_t>(*choice_.sectorsPerCluster) * 512;
    else if (!bootIntact())
        bytesPerCluster = 8 * 512;
    if (!haveRuns) sink->setStatus("no run found for the chosen MFT entry");
    collectMftRecords();
    buildTree();
    return true;
}

std::vector<std::string> ntfs::prepareAdvanced(const AdvancedChoice& choice) {
    choice_ = choice;
    std::vector<std::string> listed;
    if (!reader) return listed;
    reader->baseOffset = volume.START_SECTOR * 512;
    if (tree) insertRootItem();
    readBootSector();
    mftCandidates.clear();
    const std::uint64_t wanted = choice.maxFileSystems < 1 ? 3 : static_cast<std::uint64_t>(choice.maxFileSystems);
    const std::uint64_t found = findMftCandidates(wanted);
    for (std::uint64_t k = 0; k < found; ++k) listed.push_back(strprintf("MFT_ENTRY:%d", static_cast<int>(k)));
    return listed;
}

void ntfs::insertRootItem() {
    if (!tree) return;
    CUseShGetFileInfo icons;
    rootItem = tree->insertItem("ROOT", icons.getFolderIconIndex(), icons.getFolderIconIndex());
    tree->setItemData(rootItem, kNoEntry);
}

const MftEntry* ntfs::entry(EntryRef ref) const {
    if (ref < 0 || static_cast<std::uint64_t>(ref) >= entries.size()) return nullptr;
    return &entries[static_cast<std::size_t>(ref)];
}

bool ntfs::isEntry(EntryRef ref) const {
    const MftEntry* e = entry(ref);
    return e && e->isFileRecord();
}
bool ntfs::isDirectory(EntryRef ref) const {
    const MftEntry* e = entry(ref);
    return e && e->kind == kDirectoryKind;
}
bool ntfs::isDeleted(EntryRef ref) const {
    const MftEntry* e = entry(ref);
    return e && !(e->recordFlags & 1);
}
bool ntfs::hasChildren(EntryRef ref) const { return firstChild(ref) != kNoEntry; }

EntryRef ntfs::firstChild(EntryRef ref) const {
    const MftEntry* e = entry(ref);
    if (!e || e->firstChild <= 0 || static_cast<std::uint64_t>(e->firstChild) >= entries.size()) return kNoEntry;
    return e->firstChild;
}
EntryRef ntfs::nextSibling(EntryRef ref) const {
    const MftEntry* e = entry(ref);
    if (!e || e->nextSibling <= 0 || static_cast<std::uint64_t>(e->nextSibling) >= entries.size()) return kNoEntry;
    return e->nextSibling;
}

std::string ntfs::name(EntryRef ref) const {
    const MftEntry* e = entry(ref);
    return e ? std::string(nameView(*e)) : std::string();
}

void ntfs::setName(EntryRef ref, const std::string& text) {
    if (!entry(ref)) return;
    MftEntry& e = entries[static_cast<std::size_t>(ref)];
    e.nameOffset = nameStore_.size();
    nameStore_ += text;
    e.nameLength = static_cast<std::uint32_t>(text.size());
    e.hasName = true;
}

std::uint64_t ntfs::size(EntryRef ref) const {
    const MftEntry* e = entry(ref);
    if (!e || e->kind == kDirectoryKind) return 0;
    if (e->dataSizeKnown) return e->dataSize;
    if (!e->hasAttributeList || static_cast<std::uint64_t>(ref) == static_cast<std::uint64_t>(orphanIndex)) return 0;
    // The first extent lives in an extension record: read it once and keep the size.
    auto* self = const_cast<ntfs*>(this);
    DataStream s;
    const std::uint64_t n = self->loadDataStream(e->recordOffset, s) ? s.realSize : 0;
    MftEntry& m = self->entries[static_cast<std::size_t>(ref)];
    m.dataSize = n;
    m.dataSizeKnown = true;
    return n;
}

namespace {
std::string timeText(std::uint64_t filetime) {
    return formatDateTimeText(platform::toLocalFields(platform::filetimeToUnixSeconds(filetime)));
}
std::optional<platform::UtcTime> utcOf(bool has, std::uint64_t filetime) {
    if (!has || filetime == 0) return std::nullopt;
    const std::int64_t seconds = platform::filetimeToUnixSeconds(filetime);
    const std::int64_t ticks = static_cast<std::int64_t>(filetime) - platform::kFiletimeUnixEpoch;
    const std::int64_t rest = ticks - seconds * 10000000LL;
    return platform::UtcTime{seconds, static_cast<std::uint32_t>(rest * 100)};
}
}  // namespace

EntryTimeTexts ntfs::formatTimes(EntryRef ref) const {
    EntryTimeTexts t;
    const MftEntry* e = entry(ref);
    if (!e) return t;
    if (e->hasTimes) {
        t.created = timeText(e->created);
        t.accessed = timeText(e->accessed);
        t.modified = timeText(e->modified);
    }
    t.attributes = kelvara::attributeText(e->fileAttributes);
    return t;
}

std::string ntfs::formatAttributes(EntryRef ref) const {
    const MftEntry* e = entry(ref);
    return e ? kelvara::attributeText(e->fileAttributes) : std::string();
}

EntryTimesUtc ntfs::times(EntryRef ref) const {
    EntryTimesUtc t;
    const MftEntry* e = entry(ref);
    if (!e) return t;
    t.created = utcOf(e->hasTimes, e->created);
    t.accessed = utcOf(e->hasTimes, e->accessed);
    t.modified = utcOf(e->hasTimes, e->modified);
    return t;
}

std::string ntfs::formatSize(EntryRef ref) const { return formatSizeText(size(ref)); }

bool ntfs::isSaveableDirectory(EntryRef ref) const {
    const MftEntry* e = entry(ref);
    return e && e->isFileRecord() && ref > 0 && e->kind == kDirectoryKind;
}
bool ntfs::skipOnSave(EntryRef ref) const { return name(ref) == "$BadClus"; }
// Only the root folder (the "." record) lists itself; another record that claims the
// name is a folder like any other and its files are saved.
bool ntfs::isSelfLink(EntryRef ref) const { return rootIndex >= 0 && static_cast<std::int64_t>(ref) == rootIndex; }

EntryRef ntfs::volumeRoot() const {
    // The deep scan shows everything under ORPHAN_ENTRY; "." has no children there.
    if (scanMode == 3) return orphanIndex >= 0 ? orphanIndex : kNoEntry;
    if (rootIndex > 0 && static_cast<std::uint64_t>(rootIndex) < entries.size()) return rootIndex;
    return orphanIndex >= 0 ? orphanIndex : kNoEntry;
}

}  // namespace kelvara
