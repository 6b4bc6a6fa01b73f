#pragma once
// A parser whose entries live in memory, for driving the results page in tests: an
// NTFS-like layout (entry 0 a file, a root folder named ".", top-level items inserted by
// the scan), extraction writing each entry's bytes through RecoveredFile.

#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "common/Text.h"
#include "fs/RecoveredFile.h"
#include "fs/VolumeParser.h"
#include "widgets/CUseShGetFileInfo.h"
#include "widgets/CXHtmlTree.h"

namespace kelvara::test {

class FakeVolumeParser : public VolumeParser {
public:
    struct Entry {
        std::string name;
        bool dir = false;
        bool deleted = false;
        EntryRef parent = kNoEntry;
        std::string content;
        EntryRef first = kNoEntry, last = kNoEntry, next = kNoEntry;
    };

    explicit FakeVolumeParser(std::string kind = "ntfs") : kind_(std::move(kind)) {
        add("$MFT", false, kNoEntry, "mft");  // entry 0, never anybody's child
        root = add(".", true, kNoEntry);
    }

    EntryRef add(const std::string& name, bool dir, EntryRef parent, std::string content = {}, bool deleted = false) {
        Entry e;
        e.name = name;
        e.dir = dir;
        e.deleted = deleted;
        e.parent = parent;
        e.content = std::move(content);
        entries.push_back(std::move(e));
        const EntryRef id = static_cast<EntryRef>(entries.size() - 1);
        if (parent >= 0) link(parent, id);
        return id;
    }
    EntryRef dir(const std::string& name, EntryRef parent, bool deleted = false) {
        return add(name, true, parent, {}, deleted);
    }
    EntryRef file(const std::string& name, EntryRef parent, std::string content = "data", bool deleted = false) {
        return add(name, false, parent, std::move(content), deleted);
    }
    void link(EntryRef parent, EntryRef child) {
        Entry& p = entries[static_cast<std::size_t>(parent)];
        if (p.last == kNoEntry) p.first = child;
        else entries[static_cast<std::size_t>(p.last)].next = child;
        p.last = child;
    }

    std::string kindName() const override { return kind_; }
    bool hasOwnEndOfScan() const override { return kind_ == "HFS+"; }

    bool runScan(int mode) override {
        scannedMode = mode;
        if (duringScan) duringScan(*this);
        if (!tree) return false;
        if (hasOwnEndOfScan()) sink->setStatus(scanResult ? "Work Done." : "Work Aborted....");
        const int folder = CUseShGetFileInfo::kFolderIcon;
        const TreeItem rootItem = tree->insertItem("ROOT", folder, folder);
        tree->setItemData(rootItem, 0);  // as a model's default data word: entry 0
        CUseShGetFileInfo icons;
        for (EntryRef c = entries[static_cast<std::size_t>(root)].first; c != kNoEntry; c = entries[c].next) {
            const Entry& e = entries[static_cast<std::size_t>(c)];
            if (e.name == ".") continue;
            const int icon = e.dir ? folder : icons.getFileIconIndex(e.name);
            const TreeItem item = tree->insertItem(e.name, icon, icon, rootItem);
            tree->setItemData(item, c);
            if (e.deleted) tree->setItemColor(item, kRed);
        }
        tree->expand(rootItem, ExpandCode::Expand);
        return scanResult;
    }

    bool isEntry(EntryRef ref) const override { return ref >= 0 && static_cast<std::size_t>(ref) < entries.size(); }
    const Entry& at(EntryRef ref) const { return entries.at(static_cast<std::size_t>(ref)); }
    bool isDirectory(EntryRef ref) const override { return isEntry(ref) && at(ref).dir; }
    bool isDeleted(EntryRef ref) const override { return isEntry(ref) && at(ref).deleted; }
    bool hasChildren(EntryRef ref) const override { return isEntry(ref) && at(ref).first != kNoEntry; }
    EntryRef firstChild(EntryRef ref) const override { return isEntry(ref) ? at(ref).first : kNoEntry; }
    EntryRef nextSibling(EntryRef ref) const override { return isEntry(ref) ? at(ref).next : kNoEntry; }
    std::string name(EntryRef ref) const override { return isEntry(ref) ? at(ref).name : std::string(); }
    void setName(EntryRef ref, const std::string& n) override {
        if (isEntry(ref)) entries[static_cast<std::size_t>(ref)].name = n;
    }
    std::uint64_t size(EntryRef ref) const override { return isEntry(ref) ? at(ref).content.size() : 0; }
    EntryTimeTexts formatTimes(EntryRef ref) const override {
        return {"c:" + name(ref), "a:" + name(ref), "m:" + name(ref), at(ref).deleted ? "-D" : "-A"};
    }
    std::string formatSize(EntryRef ref) const override { return formatSizeText(size(ref)); }
    EntryTimesUtc times(EntryRef) const override {
        EntryTimesUtc t;
        t.accessed = platform::UtcTime{1600000000, 0};
        t.modified = platform::UtcTime{1500000000, 0};
        return t;
    }
    ExtractResult extractEntry(EntryRef ref, const std::string& folder) override {
        ++extractCalls;
        extractedNames.push_back(name(ref));
        RecoveredFile out;
        if (!out.create(folder, name(ref))) {
            ExtractResult r;
            r.message = "cannot create " + name(ref);
            return r;
        }
        const std::string& c = at(ref).content;
        out.write(c.data(), c.size());
        return out.finish(times(ref), !unreadable.count(name(ref)), unreadable.count(name(ref)) ? "unreadable" : "");
    }
    bool skipOnSave(EntryRef ref) const override { return name(ref) == "$BadClus"; }
    bool isSelfLink(EntryRef ref) const override { return name(ref) == "."; }
    EntryRef volumeRoot() const override { return root; }

    std::vector<Entry> entries;
    EntryRef root = kNoEntry;
    std::function<void(FakeVolumeParser&)> duringScan;
    bool scanResult = true;
    int scannedMode = 0;
    std::atomic<int> extractCalls{0};
    std::vector<std::string> extractedNames;
    std::set<std::string> unreadable;

private:
    std::string kind_;
};

}  // namespace kelvara::test
