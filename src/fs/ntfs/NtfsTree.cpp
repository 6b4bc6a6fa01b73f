// Linking the parsed entries into a tree by parent reference, the orphan list, and the
// top level of the results tree.

#include <cstring>

#include "common/Text.h"
#include "fs/ntfs/ntfs.h"
#include "widgets/CUseShGetFileInfo.h"

namespace kelvara {

using namespace ntfs_layout;

void ntfs::linkEntry(std::size_t index) {
    if (index >= entries.size()) return;
    MftEntry& e = entries[index];
    const std::int64_t p = e.parentIndex;
    const auto count = static_cast<std::int64_t>(entries.size());
    if (p >= 0 && p < static_cast<std::int64_t>(index)) {
        if (entries[static_cast<std::size_t>(p)].kind != kDirectoryKind) {
            e.orphan = 1;
            return;
        }
    } else {
        // The parent comes later (no directory test yet), is the entry itself, or is invalid.
        e.nextSibling = 0;
        if (p < 0 || p >= count) {
            e.orphan = 1;
            return;
        }
        if (p == static_cast<std::int64_t>(index)) return;  // the root names itself
    }
    linkChild(index);
}

void ntfs::linkChild(std::size_t index) {
    if (index == 0 || index >= entries.size()) return;
    MftEntry& e = entries[index];
    if (e.linked || e.parentIndex < 0 || static_cast<std::uint64_t>(e.parentIndex) >= entries.size() ||
        e.parentIndex == static_cast<std::int64_t>(index))
        return;
    MftEntry& parent = entries[static_cast<std::size_t>(e.parentIndex)];
    // Children are chained in the order they are linked; the tail keeps appending O(1).
    if (parent.firstChild <= 0) parent.firstChild = static_cast<std::int64_t>(index);
    else entries[static_cast<std::size_t>(parent.lastChild)].nextSibling = static_cast<std::int64_t>(index);
    parent.lastChild = static_cast<std::int64_t>(index);
    e.linked = true;
}

// A parent that turned out not to be a directory (a reused slot, or one never parsed)
// cannot show children: they become orphans instead of being lost.
void ntfs::detachChildrenOfNonDirectories() {
    for (auto& parent : entries) {
        if (parent.firstChild <= 0 || parent.kind == kDirectoryKind) continue;
        std::int64_t c = parent.firstChild;
        for (std::size_t guard = 0; c > 0 && static_cast<std::uint64_t>(c) < entries.size() && guard < entries.size(); ++guard) {
            MftEntry& child = entries[static_cast<std::size_t>(c)];
            const std::int64_t next = child.nextSibling;
            child.nextSibling = 0;
            child.linked = false;
            child.orphan = 1;
            c = next;
        }
        parent.firstChild = 0;
        parent.lastChild = 0;
    }
}

// An extension record holds attributes of its base record (hard links, moved $DATA):
// never an entry of its own, but the base takes its name when it has none left.
void ntfs::adoptExtensionNames() {
    for (auto& x : entries) {
        if (x.baseRecord == 0 || !x.hasName) continue;
        x.hasName = false;
        if (x.baseRecord >= entries.size()) continue;
        MftEntry& base = entries[static_cast<std::size_t>(x.baseRecord)];
        if (base.hasName || !base.isFileRecord() || base.baseRecord != 0) continue;
        base.hasName = true;
        base.nameOffset = x.nameOffset;
        base.nameLength = x.nameLength;
        base.parentIndex = x.parentIndex;
        base.kind = x.kind;
        base.fileAttributes = x.fileAttributes;
        base.allocatedSize = x.allocatedSize;
    }
}

void ntfs::buildTree() {
    if (mftRunsReady) {
        adoptExtensionNames();
        // The records were parsed while the runs were read; link them in record order.
        const bool stoppedEarlier = stopRequested();
        sink->setRange(0, static_cast<std::int64_t>(entries.size()));
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if ((i & 0x3FFF) == 0) {
                sink->setStatus(strprintf("parsing MFT entry %zu...", i));
                sink->setPos(static_cast<std::int64_t>(i));
            }
            if (entries[i].hasName) linkEntry(i);
            if (!stoppedEarlier && stopRequested()) {
                // What was not reached counts as not parsed.
                for (std::size_t k = i + 1; k < entries.size(); ++k) {
                    entries[k].hasName = false;
                    entries[k].kind = 0;
                }
                break;
            }
        }
        detachChildrenOfNonDirectories();
    }
    MftEntry orphan;
    std::memcpy(orphan.signature.data(), "FILE", 4);
    orphan.kind = kDirectoryKind;
    orphan.recordFlags = 1;
    orphan.nameOffset = nameStore_.size();
    nameStore_ += "ORPHAN_ENTRY";
    orphan.nameLength = 12;
    orphan.hasName = true;
    orphan.selfIndex = entries.size();
    orphanIndex = static_cast<std::int64_t>(entries.size());
    entries.push_back(orphan);

    rootIndex = static_cast<std::int64_t>(entries.size());
    for (std::size_t i = 0; i + 1 < entries.size(); ++i)
        if (nameView(entries[i]) == ".") {
            rootIndex = static_cast<std::int64_t>(i);
            break;
        }
    attachOrphanEntry();
    regroupOrphans();
    fillTopLevel();
}

void ntfs::attachOrphanEntry() {
    if (rootIndex <= 0 || static_cast<std::uint64_t>(rootIndex) >= entries.size() || scanMode == 3) return;
    MftEntry& orphan = entries[static_cast<std::size_t>(orphanIndex)];
    orphan.parentIndex = rootIndex;
    orphan.nextSibling = 0;
    MftEntry& root = entries[static_cast<std::size_t>(rootIndex)];
    if (root.firstChild <= 0) root.firstChild = orphanIndex;
    else entries[static_cast<std::size_t>(root.lastChild)].nextSibling = orphanIndex;
    root.lastChild = orphanIndex;
    orphan.linked = true;
}

void ntfs::regroupOrphans() {
    sink->setRange(0, static_cast<std::int64_t>(entries.size()));
    const auto oi = static_cast<std::size_t>(orphanIndex);
    MftEntry& orphan = entries[oi];
    if (scanMode != 3) {
        // Orphans in front of each other: the list shows them in reverse record order.
        bool first = true;
        for (std::size_t i = 0; i < oi; ++i) {
            MftEntry& e = entries[i];
            if (e.orphan != 1) continue;
            if (first) {
                orphan.firstChild = static_cast<std::int64_t>(i);
                e.parentIndex = orphanIndex;
                e.nextSibling = -1;
                first = false;
            } else {
                e.nextSibling = orphan.firstChild;
                orphan.firstChild = static_cast<std::int64_t>(i);
            }
        }
        return;
    }
    // Deep scan: directories under ORPHAN_ENTRY, newest first; each directory gets the
    // file records found after it on the disk. Files found before any directory stay in
    // ORPHAN_ENTRY's own list, behind the directories.
    std::int64_t current = orphanIndex;
    std::uint64_t directories = 0;
    bool firstDirectory = true;
    for (std::size_t i = 0; i < oi; ++i) {
        if (static_cast<std::int64_t>(i) == rootIndex || !entries[i].hasName) continue;
        MftEntry& e = entries[i];
        e.firstChild = 0;
        e.parentIndex = 0;
        e.nextSibling = 0;
        const bool asDirectory = e.kind == kDirectoryKind && (firstDirectory || directories < 100000);
        if (asDirectory) {
            if (!firstDirectory) ++directories;
            e.nextSibling = orphan.firstChild > 0 ? orphan.firstChild : -1;
            orphan.firstChild = static_cast<std::int64_t>(i);
            e.parentIndex = orphanIndex;
            current = static_cast<std::int64_t>(i);
            firstDirectory = false;
        } else {
            MftEntry& c = entries[static_cast<std::size_t>(current)];
            e.nextSibling = c.firstChild;
            c.firstChild = static_cast<std::int64_t>(i);
        }
    }
}

bool ntfs::fillTopLevel() {
    if (!tree) return rootIndex < static_cast<std::int64_t>(entries.size());
    CUseShGetFileInfo icons;
    const int folder = icons.getFolderIconIndex();
    auto insert = [&](std::size_t g) {
        const MftEntry& e = entries[g];
        const std::string text(nameView(e));
        const int image = e.kind == kDirectoryKind ? folder : icons.getFileIconIndex(text);
        const TreeItem item = tree->insertItem(text, image, image, rootItem);
        if (!(e.recordFlags & 1)) tree->setItemColor(item, kRed);
        tree->setItemData(item, static_cast<std::int64_t>(g));
    };
    bool orphanShown = false;
    const bool haveRoot = rootIndex > 0 && static_cast<std::uint64_t>(rootIndex) < entries.size();
    if (haveRoot && scanMode != 3) {
        std::size_t guard = 0;
        for (std::int64_t g = entries[static_cast<std::size_t>(rootIndex)].firstChild;
             g > 0 && static_cast<std::uint64_t>(g) < entries.size() && guard < entries.size(); ++guard) {
            insert(static_cast<std::size_t>(g));
            if (g == orphanIndex) orphanShown = true;
            g = entries[static_cast<std::size_t>(g)].nextSibling;
        }
    }
    // Without a root record everything found is still reachable through ORPHAN_ENTRY.
    if (!orphanShown) insert(static_cast<std::size_t>(orphanIndex));
    tree->expand(rootItem, ExpandCode::Expand);
    return haveRoot;
}

void ntfs::freeNames() {
    nameStore_.clear();
    for (auto& e : entries) e.hasName = false;
}

}  // namespace kelvara
