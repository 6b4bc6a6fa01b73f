#include <gtest/gtest.h>

#include "fs/fat/FatVolumeCommon.h"
#include "fs/FatTestSupport.h"

using namespace kelvara;
using namespace kelvara::test;

namespace {

struct FixtureCase {
    const char* fixture;
    const char* kind;
};

class FatFixtureScan : public ::testing::TestWithParam<FixtureCase> {};

// Every live file is listed and recovered byte-identical with its time; deleted files
// whose clusters are intact come back whole; deleted ones are marked deleted.
TEST_P(FatFixtureScan, ListsAndRecoversTheManifest) {
    const FixtureCase c = GetParam();
    FatVolume v(c.fixture, c.kind);
    ASSERT_TRUE(v.parser->runScan(1));
    const auto paths = v.paths();
    ScratchDir out;
    for (const ManifestLine& m : readManifest(c.fixture)) {
        SCOPED_TRACE(m.path);
        if (m.status == "gone") continue;  // deleted and overwritten: nothing to expect
        auto it = paths.find(m.path);
        ASSERT_NE(it, paths.end()) << "not listed";
        const EntryRef ref = it->second;
        EXPECT_EQ(v.parser->isDirectory(ref), m.kind == "d");
        EXPECT_EQ(v.parser->isDeleted(ref), m.status != "live");
        if (m.kind != "f") continue;
        EXPECT_EQ(v.parser->size(ref), m.size);
        const ExtractResult r = v.parser->extractEntry(ref, out.path());
        ASSERT_TRUE(r.created) << r.message;
        EXPECT_TRUE(r.complete) << r.message;
        EXPECT_EQ(sha256OfFile(r.path), m.sha256);
        const std::int64_t t = fileMtime(r.path);
        EXPECT_TRUE(t == m.mtime || t == m.mtime - 1) << t << " vs " << m.mtime;  // 2-second stamps
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FatFixtureScan,
                         ::testing::Values(FixtureCase{"fat12_tree", "fat16"}, FixtureCase{"fat16_tree", "fat"},
                                           FixtureCase{"fat32_tree", "fat32"},
                                           FixtureCase{"fat32_rootmoved", "fat32"}),
                         [](const auto& info) { return std::string(info.param.fixture); });

// The top level shows every folder and file of the root, whatever their attribute
// bits; deleted ones in red; ROOT carries no entry.
TEST(FatTopLevel, ShowsAllRootEntriesWithFolderIconsAndRedDeleted) {
    FatVolume v("fat32_tree", "fat32");
    ASSERT_TRUE(v.parser->runScan(1));
    const TreeItem root = v.tree.getRootItem();
    ASSERT_EQ(v.tree.getItemText(root), "ROOT");
    EXPECT_FALSE(v.parser->isEntry(v.tree.getItemData(root)));
    std::map<std::string, TreeItem> top;
    for (TreeItem i = v.tree.getChildItem(root); i != kNoItem; i = v.tree.getNextSiblingItem(i))
        top[v.tree.getItemText(i)] = i;
    for (const char* name : {"hidden.txt", "plain.txt", "readonly.txt", "system.txt", "HiddenDir",
                             "ReadOnlyDir", "SystemDir", "$RECYCLE.BIN", "hello.txt", "Docs"})
        EXPECT_TRUE(top.count(name)) << name;
    EXPECT_FALSE(top.count("DUMMY ENTRY"));
    EXPECT_EQ(v.tree.getItemImage(top.at("HiddenDir")), 3);
    EXPECT_EQ(v.tree.getItemImage(top.at("$RECYCLE.BIN")), 3);
    EXPECT_EQ(v.tree.getItemColor(top.at("deleted long name file.txt")), kRed);
    EXPECT_EQ(v.tree.getItemColor(top.at("Removed Folder")), kRed);
    EXPECT_EQ(v.tree.getItemColor(top.at("hello.txt")), kDefaultColor);
    const EntryRef hello = v.tree.getItemData(top.at("hello.txt"));
    EXPECT_EQ(v.parser->formatTimes(hello).modified, "03/05/2024  10:20 AM");
    EXPECT_EQ(v.parser->formatTimes(v.tree.getItemData(top.at("readonly.txt"))).attributes, "-R-A");
    EXPECT_EQ(v.parser->formatSize(hello), "48 Bytes");
}

TEST(FatBootTest, WrongKindIsRefusedWithTheClassMessage) {
    struct Case {
        const char* fixture;
        const char* kind;
    } cases[] = {{"fat32_tree", "fat16"}, {"fat16_tree", "fat32"}, {"fat12_tree", "fat32"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        FatVolume v(c.fixture, c.kind);
        EXPECT_TRUE(v.parser->runScan(1));
        EXPECT_EQ(v.parser->volumeRoot(), kNoEntry);
        EXPECT_EQ(v.tree.itemCount(), 1u);  // only ROOT
    }
    FatVolume v("fat16_tree", "fat16");
    EXPECT_FALSE(v.parser->runScan(3));
}

// The OEM name is not part of the boot test.
TEST(FatBootTest, OemNameIsIgnored) {
    auto bytes = readFileBytes(fixtureImage("fat16_tree"));
    putText(bytes, 3, "ANYTHING");
    FatVolume v("fat16_tree", "fat16", &bytes);
    ASSERT_TRUE(v.parser->runScan(1));
    EXPECT_TRUE(v.paths().count("Docs/notes.txt"));
}

// With driveFormatted every directory is read from its first cluster only.
TEST(FatStandard, DriveFormattedReadsFirstDirectoryClusterOnly) {
    FatVolume v("fat16_tree", "fat16");
    auto& fat = dynamic_cast<FatVolumeCommon&>(*v.parser);
    fat.driveFormatted = true;
    ASSERT_TRUE(v.parser->runScan(1));
    const auto paths = v.paths();
    EXPECT_TRUE(paths.count("Big/long file name number 001.txt"));
    EXPECT_FALSE(paths.count("Big/long file name number 120.txt"));
}

}  // namespace
