#include <gtest/gtest.h>

#include "fs/fat/FatVolumeCommon.h"
#include "fs/FatTestSupport.h"

using namespace kelvara;
using namespace kelvara::test;

namespace {

// fat16_tree: 512-byte sectors and clusters; FAT16 entries.
struct Layout {
    std::uint64_t fat, root, data;
};
Layout layoutOf(const std::vector<std::uint8_t>& b) {
    const std::uint64_t res = b[14] | (b[15] << 8), nf = b[16], spf = b[22] | (b[23] << 8);
    const std::uint64_t rootEntries = b[17] | (b[18] << 8);
    return {res * 512, (res + nf * spf) * 512, (res + nf * spf) * 512 + rootEntries * 32};
}
std::uint32_t fat16At(const std::vector<std::uint8_t>& b, const Layout& l, std::uint32_t c) {
    return b[l.fat + 2 * c] | (b[l.fat + 2 * c + 1] << 8);
}
void setFat16(std::vector<std::uint8_t>& b, const Layout& l, std::uint32_t c, std::uint16_t v) {
    put16(b, l.fat + 2 * c, v);
}
std::uint32_t clusterOf(FatVolume& v, const std::string& path) {
    auto& fat = dynamic_cast<FatVolumeCommon&>(*v.parser);
    return fat.records.at(v.paths().at(path)).firstCluster();
}
std::vector<std::uint8_t> original(const std::string& path) {
    auto b = readFileBytes(fixtureImage("fat16_tree"));
    FatVolume v("fat16_tree", "fat16", &b);
    v.parser->runScan(1);
    ScratchDir out;
    return readFileBytes(v.parser->extractEntry(v.paths().at(path), out.path()).path);
}

// Chains that loop, end early or leave the volume stop the file where they break; it is
// marked incomplete and nothing outside the volume is read into it.
TEST(FatExtract, BrokenChainsStopTheFile) {
    const auto whole = original("fragmented.bin");  // 4196 bytes, two runs
    ASSERT_EQ(whole.size(), 4196u);
    struct Case {
        const char* what;
        int cutAfter;          // rewrite the entry of the n-th cluster of the chain
        std::uint16_t value;   // 0 = point back at the first cluster
        std::size_t expectBytes;
    } cases[] = {
        {"loop back to the first cluster", 3, 0, 4 * 512},
        {"cleared entry", 1, 0x0000, 2 * 512},
        {"end mark early", 2, 0xFFFF, 3 * 512},
        {"cluster number beyond the volume", 2, 0xFFF0, 3 * 512},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto bytes = readFileBytes(fixtureImage("fat16_tree"));
        const Layout l = layoutOf(bytes);
        std::uint32_t first;
        {
            FatVolume probe("fat16_tree", "fat16", &bytes);
            probe.parser->runScan(1);
            first = clusterOf(probe, "fragmented.bin");
        }
        std::uint32_t at = first;
        for (int i = 1; i < c.cutAfter + 1; ++i) at = fat16At(bytes, l, at);
        setFat16(bytes, l, at, c.value ? c.value : static_cast<std::uint16_t>(first));
        FatVolume v("fat16_tree", "fat16", &bytes);
        ASSERT_TRUE(v.parser->runScan(1));
        ScratchDir out;
        const ExtractResult r = v.parser->extractEntry(v.paths().at("fragmented.bin"), out.path());
        ASSERT_TRUE(r.created);
        EXPECT_FALSE(r.complete);
        const auto got = readFileBytes(r.path);
        ASSERT_EQ(got.size(), c.expectBytes);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin()));
    }
}

// An unreadable cluster gives zeros at its place; the file keeps its size.
TEST(FatExtract, UnreadableClusterBecomesZeros) {
    const auto whole = original("A long file name with spaces.txt");  // 600 bytes
    auto bytes = readFileBytes(fixtureImage("fat16_tree"));
    const Layout l = layoutOf(bytes);
    FatVolume v("fat16_tree", "fat16", &bytes);
    ASSERT_TRUE(v.parser->runScan(1));
    const std::uint32_t first = clusterOf(v, "A long file name with spaces.txt");
    const std::uint32_t second = fat16At(bytes, l, first);
    v.reader->markUnreadable(l.data + (second - 2) * 512ull, 512);
    ScratchDir out;
    const ExtractResult r = v.parser->extractEntry(v.paths().at("A long file name with spaces.txt"), out.path());
    EXPECT_FALSE(r.complete);
    const auto got = readFileBytes(r.path);
    ASSERT_EQ(got.size(), 600u);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 512, whole.begin()));
    EXPECT_TRUE(std::all_of(got.begin() + 512, got.end(), [](std::uint8_t b) { return b == 0; }));
}

// A file saved twice is written whole both times (under a second name); an empty
// file gives an empty output; a folder is not extracted as a file.
TEST(FatExtract, RepeatsEmptyFilesAndFolders) {
    FatVolume v("fat32_tree", "fat32");
    ASSERT_TRUE(v.parser->runScan(1));
    const auto paths = v.paths();
    ScratchDir out;
    const EntryRef frag = paths.at("fragmented.bin");
    const auto a = v.parser->extractEntry(frag, out.path());
    const auto b = v.parser->extractEntry(frag, out.path());
    EXPECT_TRUE(a.complete && b.complete);
    EXPECT_NE(a.path, b.path);
    EXPECT_EQ(sha256OfFile(a.path), sha256OfFile(b.path));
    auto& fat = dynamic_cast<FatVolumeCommon&>(*v.parser);
    fat.records[paths.at("hello.txt")].fileSize = 0;
    const auto e = v.parser->extractEntry(paths.at("hello.txt"), out.path());
    EXPECT_TRUE(e.complete);
    EXPECT_TRUE(readFileBytes(e.path).empty());
    EXPECT_FALSE(v.parser->extractEntry(paths.at("Docs"), out.path()).created);
    EXPECT_FALSE(v.parser->extractEntry(v.parser->volumeRoot(), out.path()).created);
}

// Directory slots: a long-name run whose checksum does not match a live entry is not
// its name; two entries of one folder with the same first cluster make one record,
// named by the live one; a directory that contains itself is walked once.
TEST(FatWalk, ChecksumsDuplicatesAndLoops) {
    auto bytes = readFileBytes(fixtureImage("fat16_tree"));
    const Layout l = layoutOf(bytes);
    std::size_t longSlot = 0, docsSlot = 0, freeSlot = 0;
    for (std::size_t p = l.root; p < l.data; p += 32) {
        if (std::equal(bytes.begin() + p, bytes.begin() + p + 11, "ALONGF~1TXT")) longSlot = p;
        if (std::equal(bytes.begin() + p, bytes.begin() + p + 11, "DOCS       ")) docsSlot = p;
        if (bytes[p] == 0 && !freeSlot) freeSlot = p;
    }
    ASSERT_TRUE(longSlot && docsSlot && freeSlot);
    for (std::size_t p = longSlot - 32; bytes[p + 11] == 0x0F; p -= 32) bytes[p + 13] ^= 0xFF;
    // A deleted copy of the Docs entry after the live one.
    std::copy(bytes.begin() + docsSlot, bytes.begin() + docsSlot + 32, bytes.begin() + freeSlot);
    bytes[freeSlot] = 0xE5;
    // Docs/Deep's "L1" folder gets an entry pointing back at Docs.
    FatVolume probe("fat16_tree", "fat16", &bytes);
    probe.parser->runScan(1);
    const std::uint32_t l6 = clusterOf(probe, "Docs/Deep/L1/L2/L3/L4/L5/L6");
    const std::uint64_t l6slots = l.data + (l6 - 2) * 512ull;
    std::size_t slot = l6slots;
    while (bytes[slot] != 0) slot += 32;
    std::copy(bytes.begin() + docsSlot, bytes.begin() + docsSlot + 32, bytes.begin() + slot);

    FatVolume v("fat16_tree", "fat16", &bytes);
    ASSERT_TRUE(v.parser->runScan(1));
    const auto paths = v.paths();
    EXPECT_TRUE(paths.count("ALONGF~1.TXT"));
    EXPECT_FALSE(paths.count("A long file name with spaces.txt"));
    int docs = 0;
    for (EntryRef c = v.parser->firstChild(0); c != kNoEntry; c = v.parser->nextSibling(c))
        docs += v.parser->name(c) == "Docs";
    EXPECT_EQ(docs, 1);
    EXPECT_FALSE(v.parser->isDeleted(paths.at("Docs")));
    EXPECT_TRUE(paths.count("Docs/notes.txt"));
    // The looping entry is listed, but its folder is not walked a second time.
    ASSERT_TRUE(paths.count("Docs/Deep/L1/L2/L3/L4/L5/L6/DOCS"));
    EXPECT_FALSE(v.parser->hasChildren(paths.at("Docs/Deep/L1/L2/L3/L4/L5/L6/DOCS")));
}

}  // namespace
