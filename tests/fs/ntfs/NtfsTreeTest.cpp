// Linking entries into a tree: chain orders, orphans, the deep-scan grouping, and the
// entry texts.

#include <gtest/gtest.h>

#include <cstring>

#include "fs/ntfs/ntfs.h"
#include "widgets/CXHtmlTree.h"

using namespace kelvara;

namespace {

struct Spec {
    const char* name;
    std::int64_t parent;
    bool directory = false;
    bool inUse = true;
};

void fill(ntfs& p, const std::vector<Spec>& specs) {
    p.entries.clear();
    for (std::size_t i = 0; i < specs.size(); ++i) {
        MftEntry e;
        std::memcpy(e.signature.data(), "FILE", 4);
        e.selfIndex = i;
        e.parentIndex = specs[i].parent;
        e.kind = specs[i].directory ? 0x44 : 0;
        e.recordFlags = specs[i].inUse ? 1 : 0;
        p.entries.push_back(e);
        if (specs[i].name) p.setName(static_cast<EntryRef>(i), specs[i].name);
    }
}

std::vector<std::string> children(const ntfs& p, EntryRef dir) {
    std::vector<std::string> names;
    for (EntryRef c = p.firstChild(dir); c != kNoEntry && names.size() < 1000; c = p.nextSibling(c))
        names.push_back(p.name(c));
    return names;
}

using Names = std::vector<std::string>;

}  // namespace

TEST(NtfsTree, ChainsFollowRecordOrderAndOrphansGatherInReverse) {
    ntfs p;
    p.mftRunsReady = true;
    fill(p, {
                {"$MFT", 5},  {"$MFTMirr", 5}, {"$LogFile", 5}, {"$Volume", 5}, {"$AttrDef", 5},
                {".", 5, true},                 // 5: the root, parsed after the first children
                {"A", 5, true},                 // 6
                {"f", 6},                       // 7
                {"under a file", 7},            // 8: the parent is a plain file
                {"far parent", 100},            // 9: past the last record
                {"early 1", 12},                // 10: parent parsed later...
                {"early 2", 12},                // 11
                {"plain", 5},                   // 12: ...and it is no directory
                {"gone", 6, false, false},      // 13: deleted, still in its folder
                {nullptr, 5},                   // 14: an empty slot
            });
    CXHtmlTree tree;
    p.tree = &tree;
    p.insertRootItem();
    p.buildTree();

    EXPECT_EQ(p.rootIndex, 5);
    EXPECT_EQ(p.volumeRoot(), 5);
    // Record 0 is never linked; 1 to 4 take the root's chain before it is parsed.
    EXPECT_EQ(children(p, 5), (Names{"$MFTMirr", "$LogFile", "$Volume", "$AttrDef", "A", "plain", "ORPHAN_ENTRY"}));
    EXPECT_EQ(children(p, 6), (Names{"f", "gone"}));
    EXPECT_EQ(children(p, 12), Names{});
    EXPECT_EQ(children(p, p.orphanIndex), (Names{"early 2", "early 1", "far parent", "under a file"}));

    // The tree's top level is the root's chain, deleted entries in red.
    std::vector<std::string> top;
    const TreeItem root = tree.getRootItem();
    EXPECT_EQ(tree.getItemText(root), "ROOT");
    EXPECT_FALSE(p.isEntry(tree.getItemData(root)));
    for (TreeItem t = tree.getChildItem(root); t != kNoItem; t = tree.getNextSiblingItem(t)) {
        top.push_back(tree.getItemText(t));
        EXPECT_EQ(p.name(tree.getItemData(t)), top.back());
    }
    EXPECT_EQ(top, (Names{"$MFTMirr", "$LogFile", "$Volume", "$AttrDef", "A", "plain", "ORPHAN_ENTRY"}));
    EXPECT_TRUE(p.isDeleted(13));
    EXPECT_FALSE(p.isDeleted(6));
}

TEST(NtfsTree, AVeryWideDirectoryKeepsEveryChildInOrder) {
    ntfs p;
    p.mftRunsReady = true;
    std::vector<Spec> specs(6, Spec{"sys", 5});
    specs[5] = {".", 5, true};
    constexpr std::size_t kChildren = 200000;
    std::vector<std::string> names;
    names.reserve(kChildren);
    for (std::size_t i = 0; i < kChildren; ++i) names.push_back("f" + std::to_string(i));
    for (const auto& n : names) specs.push_back({n.c_str(), 5});
    fill(p, specs);
    p.buildTree();
    std::size_t count = 0;
    std::int64_t expected = 1;
    for (EntryRef c = p.firstChild(5); c != kNoEntry; c = p.nextSibling(c), ++count) {
        if (expected == 5) expected = 6;
        if (c != p.orphanIndex) {
            ASSERT_EQ(c, expected++);
        }
    }
    EXPECT_EQ(count, 4 + kChildren + 1);
}

TEST(NtfsTree, NoRootStillShowsEverythingUnderOrphanEntry) {
    ntfs p;
    p.mftRunsReady = true;
    fill(p, {{"$MFT", 5}, {"a", 5}, {"D", 5, true}, {"b", 2}});
    CXHtmlTree tree;
    p.tree = &tree;
    p.insertRootItem();
    p.buildTree();
    const TreeItem top = tree.getChildItem(tree.getRootItem());
    ASSERT_NE(top, kNoItem);
    EXPECT_EQ(tree.getItemText(top), "ORPHAN_ENTRY");
    EXPECT_EQ(tree.getNextSiblingItem(top), kNoItem);
    // Record 0 ($MFT) can never be anybody's child.
    EXPECT_EQ(children(p, p.orphanIndex), (Names{"D", "a"}));
    EXPECT_EQ(children(p, 2), Names{"b"});
    EXPECT_EQ(p.volumeRoot(), p.orphanIndex);
}

TEST(NtfsTree, DeepScanGroupsFilesUnderTheDirectoryBeforeThem) {
    ntfs p;
    p.scanMode = 3;
    // The deep scan keeps slot 0 empty, so that every record found can be a child.
    fill(p, {{nullptr, 0}, {"F0", 99}, {"D1", 99, true}, {"F1", 99}, {".", 5, true}, {"D2", 99, true}, {"F2", 99}, {"F3", 99}});
    CXHtmlTree tree;
    p.tree = &tree;
    p.insertRootItem();
    p.buildTree();
    // Files found before any directory stay reachable, behind the directories.
    EXPECT_EQ(children(p, p.orphanIndex), (Names{"D2", "D1", "F0"}));
    EXPECT_EQ(children(p, 5), (Names{"F3", "F2"}));
    EXPECT_EQ(children(p, 2), (Names{"F1"}));
    const TreeItem top = tree.getChildItem(tree.getRootItem());
    EXPECT_EQ(tree.getItemText(top), "ORPHAN_ENTRY");
    EXPECT_EQ(tree.getNextSiblingItem(top), kNoItem);
}

TEST(NtfsTree, TimeAndSizeTexts) {
    // TZ=UTC: the display is the stored UTC time on a 12-hour clock.
    auto filetime = [](std::int64_t unix) { return static_cast<std::uint64_t>(unix + 11644473600LL) * 10000000ull + 1234567; };
    ntfs p;
    fill(p, {{"t.txt", 5}});
    MftEntry& e = p.entries[0];
    e.hasTimes = true;
    e.created = filetime(1709643900);   // 2024-03-05 13:05:00
    e.accessed = filetime(1709641800);  // 12:30
    e.modified = filetime(1709597400);  // 00:10
    e.fileAttributes = 0x0021;
    const EntryTimeTexts t = p.formatTimes(0);
    EXPECT_EQ(t.created, "03/05/2024  01:05 PM");
    EXPECT_EQ(t.accessed, "03/05/2024  12:30 PM");
    EXPECT_EQ(t.modified, "03/05/2024  12:10 AM");
    EXPECT_EQ(t.attributes, "-R-A");
    const EntryTimesUtc utc = p.times(0);
    ASSERT_TRUE(utc.created && utc.modified && utc.accessed);
    EXPECT_EQ(utc.created->seconds, 1709643900);
    EXPECT_EQ(utc.created->nanoseconds, 123456700u);
    EXPECT_EQ(utc.modified->seconds, 1709597400);

    e.dataSizeKnown = true;
    for (auto [bytes, text] : std::vector<std::pair<std::uint64_t, std::string>>{
             {100, "100 Bytes"}, {1023, "1023 Bytes"}, {1536, "1.50 KB"}, {1048576, "1.00 MB"}, {3ull << 30, "3.00 GB"}}) {
        e.dataSize = bytes;
        EXPECT_EQ(p.formatSize(0), text);
        EXPECT_EQ(p.size(0), bytes);
    }
}
