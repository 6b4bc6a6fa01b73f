#include <gtest/gtest.h>

#include "fs/fat/FatVolumeCommon.h"
#include "fs/FatTestSupport.h"

using namespace kelvara;
using namespace kelvara::test;

namespace {

// Folders nested below the root keep the advanced walk's budget of further clusters, so
// only the start of a folder larger than that is expected (skipPrefix).
void expectRecovered(FatVolume& v, const std::vector<ManifestLine>& lines, const std::string& status,
                     const std::string& skipPrefix = "\n") {
    const auto paths = v.paths();
    ScratchDir out;
    int checked = 0;
    for (const ManifestLine& m : lines) {
        if (m.status != status || m.path.rfind(skipPrefix, 0) == 0) continue;
        SCOPED_TRACE(m.path);
        auto it = paths.find(m.path);
        ASSERT_NE(it, paths.end()) << "not listed";
        EXPECT_EQ(v.parser->isDirectory(it->second), m.kind == "d");
        if (m.kind != "f") continue;
        const ExtractResult r = v.parser->extractEntry(it->second, out.path());
        ASSERT_TRUE(r.created) << r.message;
        EXPECT_EQ(sha256OfFile(r.path), m.sha256);
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

// A volume whose boot sector is wiped: the finder finds the FATs, the data area is
// placed by the directories' "." entries, and the whole tree comes back.
TEST(FatAdvanced, RebuildsTheTreeOfAVolumeWithAWipedBootSector) {
    struct Case {
        const char* fixture;
        const char* kind;
        std::vector<std::size_t> wipe;
        const char* firstEntry;
    } cases[] = {{"fat16_tree", "fat16", {0}, "FAT_ENTRY:0"}, {"fat32_tree", "fat32", {0, 6}, "FAT32_ENTRY:0"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        auto bytes = readFileBytes(fixtureImage(c.fixture));
        for (std::size_t s : c.wipe) std::fill(bytes.begin() + s * 512, bytes.begin() + s * 512 + 512, 0);
        FatVolume v(c.fixture, c.kind, &bytes);
        AdvancedChoice choice;
        choice.sectorsPerCluster = 1;
        const auto found = v.parser->prepareAdvanced(choice);
        ASSERT_GE(found.size(), 2u);  // both FAT copies
        EXPECT_EQ(found[0], c.firstEntry);
        auto& fat = dynamic_cast<FatVolumeCommon&>(*v.parser);
        EXPECT_FALSE(fat.bootPassed());
        ASSERT_TRUE(v.parser->runScan(2));
        expectRecovered(v, readManifest(c.fixture), "live", "Big/");
        EXPECT_TRUE(v.paths().count("Big/long file name number 001.txt"));
        // The synthetic folder for what has no parent is a top-level folder.
        bool orphanShown = false;
        for (TreeItem i = v.tree.getChildItem(v.tree.getRootItem()); i != kNoItem; i = v.tree.getNextSiblingItem(i))
            orphanShown |= v.tree.getItemText(i) == "ORPHAN ENTRY";
        EXPECT_TRUE(orphanShown);
    }
}

// A volume formatted again over an older one: with driveFormatted the old folders'
// files are found under "ORPHAN ENTRY" and read contiguously; the new file is at the root.
TEST(FatAdvanced, FindsTheOlderVolumeUnderOrphanEntryWhenFormatted) {
    FatVolume v("fat16_reformatted", "fat16");
    AdvancedChoice choice;
    choice.driveFormatted = true;
    ASSERT_FALSE(v.parser->prepareAdvanced(choice).empty());
    auto& fat = dynamic_cast<FatVolumeCommon&>(*v.parser);
    EXPECT_TRUE(fat.bootPassed());
    EXPECT_EQ(fat.clusterSizeChoices(), (std::vector<std::string>{"4", "4", "8", "16", "2", "32", "64", "128"}));
    ASSERT_TRUE(v.parser->runScan(2));
    const auto lines = readManifest("fat16_reformatted");
    expectRecovered(v, lines, "old");
    expectRecovered(v, lines, "live");
    // The standard scan sees only the new volume.
    FatVolume s("fat16_reformatted", "fat16");
    ASSERT_TRUE(s.parser->runScan(1));
    const auto paths = s.paths();
    EXPECT_TRUE(paths.count("fresh.txt"));
    EXPECT_FALSE(paths.count("ORPHAN ENTRY"));
}

// The finder stops after maxCount matches (0 means 3) and accepts both FAT32 forms of
// entry 1.
TEST(FatAdvanced, FinderStopsAfterMaxCount) {
    std::vector<std::uint8_t> img(4 << 20, 0);
    for (std::size_t k = 0; k < 4; ++k) {
        put32(img, 4096 + k * 65536, 0x0FFFFFF8);
        put32(img, 4096 + k * 65536 + 4, k % 2 ? 0xFFFFFFFF : 0x0FFFFFFF);
    }
    struct Case {
        int maxCount;
        std::size_t found;
    } cases[] = {{0, 3}, {3, 3}, {2, 2}, {10, 4}};
    for (const Case& c : cases) {
        FatVolume v("", "fat32", &img);
        auto& fat = dynamic_cast<FatVolumeCommon&>(*v.parser);
        AdvancedChoice choice;
        choice.maxFileSystems = c.maxCount;
        const auto texts = v.parser->prepareAdvanced(choice);
        EXPECT_EQ(texts.size(), c.found) << c.maxCount;
        ASSERT_FALSE(fat.fatPositions().empty());
        EXPECT_EQ(fat.fatPositions()[0], 4096u);
    }
    // FAT16: F8 FF FF FF at a sector start; a FAT whose second word is not FFFF is not one.
    std::vector<std::uint8_t> f16(40 << 20, 0);
    put32(f16, 2048, 0xFFFFFFF8);
    put32(f16, 8192, 0x0000FFF8);
    FatVolume v("", "fat16", &f16);
    auto& fat = dynamic_cast<FatVolumeCommon&>(*v.parser);
    v.parser->prepareAdvanced(AdvancedChoice{});
    EXPECT_EQ(fat.fatPositions(), (std::vector<std::uint64_t>{2048}));
}

}  // namespace
