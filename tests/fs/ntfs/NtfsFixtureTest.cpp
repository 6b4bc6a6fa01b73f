// The parser over real volumes made by mkntfs and ntfs-3g: every file of the manifest is
// listed with its kind, deleted flag, size and time, and extracts byte for byte.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "device/FileReadSeek.h"
#include "device/MemoryReadSeek.h"
#include "fs/ntfs/Lznt1.h"
#include "fs/ntfs/ntfs.h"
#include "support/TestSupport.h"
#include "widgets/CXHtmlTree.h"

using namespace kelvara;
using kelvara::test::fixtureFile;
using kelvara::test::fixtureImage;
using kelvara::test::ScratchDir;
using kelvara::test::sha256OfFile;

namespace {

constexpr std::int64_t kFixedTime = 1709634030;  // 2024-03-05 10:20:30 UTC

struct Expected {
    bool deleted = false;
    bool directory = false;
    std::string path;
    std::uint64_t size = 0;
    std::string sha;
};

std::vector<Expected> manifest(const std::string& name) {
    std::vector<Expected> out;
    std::ifstream in(fixtureFile(name + ".manifest"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        std::string status, kind, path, size, sha;
        s >> status >> kind >> path >> size >> sha;
        Expected e{status == "deleted", kind == "dir", path, 0, sha};
        if (size != "-") e.size = std::stoull(size);
        out.push_back(e);
    }
    return out;
}

struct Scan {
    FileReadSeek reader;
    ntfs parser;
    CXHtmlTree tree;
    std::map<std::string, EntryRef> byPath;  // below "ROOT", without it

    Scan(const std::string& fixture, int mode, AdvancedChoice choice = {}) {
        const std::string image = fixtureImage(fixture);
        EXPECT_TRUE(reader.open(image));
        parser.reader = &reader;
        parser.volume.FILE_SYSTEM = "ntfs";
        parser.volume.VOLUME_SIZE = std::to_string(reader.byteSize() / 1048576) + "  MB";
        parser.tree = &tree;
        tree.initialize(true);
        if (mode == 2) {
            EXPECT_FALSE(parser.prepareAdvanced(choice).empty());
        }
        EXPECT_TRUE(parser.runScan(mode));
        // Every entry, from the top-level items down the child chains.
        std::vector<std::pair<EntryRef, std::string>> stack;
        for (TreeItem t = tree.getChildItem(tree.getRootItem()); t != kNoItem; t = tree.getNextSiblingItem(t))
            stack.emplace_back(tree.getItemData(t), "");
        std::set<EntryRef> seen;
        while (!stack.empty()) {
            auto [ref, parent] = stack.back();
            stack.pop_back();
            if (!seen.insert(ref).second) continue;
            const std::string path = parent.empty() ? parser.name(ref) : parent + "/" + parser.name(ref);
            byPath.emplace(path, ref);
            if (parser.isDirectory(ref))
                for (EntryRef c = parser.firstChild(ref); c != kNoEntry; c = parser.nextSibling(c)) stack.emplace_back(c, path);
        }
    }

    std::string extractedSha(EntryRef ref, const ScratchDir& dir, bool* complete = nullptr) {
        const ExtractResult r = parser.extractEntry(ref, dir.path());
        EXPECT_TRUE(r.created) << r.message;
        if (complete) *complete = r.complete;
        else EXPECT_TRUE(r.complete) << parser.name(ref) << ": " << r.message;
        const std::string sha = sha256OfFile(r.path);
        std::remove(r.path.c_str());
        return sha;
    }
};

// Checks every manifest line against the scan; prefix is where the volume's root shows.
void expectManifest(Scan& scan, const std::string& fixture) {
    ScratchDir out;
    for (const Expected& x : manifest(fixture)) {
        SCOPED_TRACE(fixture + ": " + x.path);
        EntryRef ref = kNoEntry;
        if (x.path == "links/*") {
            // All the hard links are one record: listed once, under one of its names.
            int files = 0;
            for (const auto& [path, r] : scan.byPath)
                if (path.rfind("links/", 0) == 0) {
                    ref = r;
                    ++files;
                }
            EXPECT_EQ(files, 1);
        } else {
            auto it = scan.byPath.find(x.path);
            ASSERT_NE(it, scan.byPath.end());
            ref = it->second;
        }
        ASSERT_NE(ref, kNoEntry);
        EXPECT_EQ(scan.parser.isDirectory(ref), x.directory);
        EXPECT_EQ(scan.parser.isDeleted(ref), x.deleted);
        if (x.directory) continue;
        EXPECT_EQ(scan.parser.size(ref), x.size);
        const EntryTimesUtc t = scan.parser.times(ref);
        ASSERT_TRUE(t.modified.has_value());
        EXPECT_EQ(t.modified->seconds, kFixedTime);
        EXPECT_EQ(scan.extractedSha(ref, out), x.sha);
    }
}

}  // namespace

TEST(NtfsFixture, StandardScansListAndExtractEveryFile) {
    for (const std::string name : {"ntfs_main", "ntfs_c512", "ntfs_c64k"}) {
        Scan scan(name, 1);
        expectManifest(scan, name);
        EXPECT_EQ(scan.parser.name(scan.parser.volumeRoot()), ".");
    }
    Scan scan("ntfs_c512", 1);
    EXPECT_EQ(scan.parser.bytesPerCluster, 512u);
    Scan big("ntfs_c64k", 1);
    EXPECT_EQ(big.parser.bytesPerCluster, 65536u);
}

TEST(NtfsFixture, MainVolumeDetails) {
    Scan scan("ntfs_main", 1);
    // The alternate data stream is not the file's data; the 255-character name is whole.
    const EntryRef ads = scan.byPath.at("ads.txt");
    EXPECT_EQ(scan.parser.size(ads), 16u);
    bool longName = false;
    for (const auto& [path, ref] : scan.byPath)
        if (path.rfind("Docs/", 0) == 0 && scan.parser.name(ref).size() == 255) longName = true;
    EXPECT_TRUE(longName);
    // Files whose extents live in extension records ($ATTRIBUTE_LIST) name themselves
    // from there, and extension records are no entries of their own.
    for (const char* p : {"fragmented.txt", "holes.txt"}) {
        const MftEntry& e = scan.parser.entries[static_cast<std::size_t>(scan.byPath.at(p))];
        EXPECT_TRUE(e.hasAttributeList) << p;
        EXPECT_EQ(e.baseRecord, 0u);
    }
    EXPECT_EQ(scan.parser.formatTimes(scan.byPath.at("Compressed/text.txt")).attributes, "-A-C");
    EXPECT_EQ(scan.parser.formatSize(scan.byPath.at("hello.txt")), "34 Bytes");
    // Extracting a directory leaves an empty file named like it.
    ScratchDir out;
    const ExtractResult r = scan.parser.extractEntry(scan.byPath.at("Docs"), out.path());
    EXPECT_TRUE(r.created);
    EXPECT_EQ(r.bytesWritten, 0u);
    EXPECT_FALSE(r.complete);
}

TEST(NtfsFixture, RealCompressionUnitDecodes) {
    Scan scan("ntfs_main", 1);
    const MftEntry& e = scan.parser.entries[static_cast<std::size_t>(scan.byPath.at("Compressed/pattern.txt"))];
    const auto runs = scan.parser.getRuns(e.recordOffset, 0x80);
    ASSERT_FALSE(runs.empty());
    ASSERT_FALSE(runs[0].sparse);
    ASSERT_LT(runs[0].length, 16u);  // it really is stored compressed
    std::vector<std::uint8_t> stored(runs[0].length * 4096);
    ASSERT_TRUE(readAt(scan.reader, static_cast<std::int64_t>(runs[0].start * 4096), stored.data(), stored.size()));
    std::string expected;
    for (int i = 0; i < 800; ++i) expected += "pattern line " + std::to_string(i % 7) + "\n";
    std::vector<std::uint8_t> unit(65536, 0);
    const std::size_t n = lznt1Decompress(stored, unit);
    ASSERT_GE(n, expected.size());
    EXPECT_EQ(std::string(unit.begin(), unit.begin() + static_cast<std::ptrdiff_t>(expected.size())), expected);
}

TEST(NtfsFixture, DeepScanFindsEveryRecord) {
    Scan scan("ntfs_main", 3);
    std::multimap<std::string, EntryRef> byName;
    for (const auto& [path, ref] : scan.byPath) byName.emplace(scan.parser.name(ref), ref);
    ScratchDir out;
    for (const Expected& x : manifest("ntfs_main")) {
        if (x.directory || x.path == "links/*") continue;
        const std::string base = x.path.substr(x.path.rfind('/') + 1);
        bool found = false;
        for (auto [it, end] = byName.equal_range(base); it != end && !found; ++it)
            found = scan.parser.size(it->second) == x.size && scan.extractedSha(it->second, out) == x.sha;
        EXPECT_TRUE(found) << x.path;
    }
}

TEST(NtfsFixture, ZeroedBootSectorFallbackAndFinder) {
    {
        Scan scan("ntfs_noboot", 1);  // the search finds $MFT and works out the cluster size
        EXPECT_EQ(scan.parser.bytesPerCluster, 512u);
        expectManifest(scan, "ntfs_noboot");
    }
    AdvancedChoice choice;
    choice.sectorsPerCluster = 1;
    Scan scan("ntfs_noboot", 2, choice);
    EXPECT_EQ(scan.parser.mftCandidates.size(), 1u);  // $MFTMirr holds no $Boot
    expectManifest(scan, "ntfs_noboot");
    // An intact volume with the boot sector's own cluster size.
    Scan intact("ntfs_c64k", 2, AdvancedChoice{});
    expectManifest(intact, "ntfs_c64k");
}

TEST(NtfsFixture, UnreadableClusterBecomesZerosInPlace) {
    const auto bytes = kelvara::test::readFileBytes(fixtureImage("ntfs_c64k"));
    MemoryReadSeek memory(bytes);
    ntfs p;
    p.reader = &memory;
    p.volume.VOLUME_SIZE = "32  MB";
    ASSERT_TRUE(p.runScan(1));
    EntryRef ref = kNoEntry;
    for (EntryRef c = p.firstChild(p.volumeRoot()); c != kNoEntry; c = p.nextSibling(c))
        if (p.name(c) == "b.bin") ref = c;
    ASSERT_NE(ref, kNoEntry);
    ScratchDir out;
    const ExtractResult good = p.extractEntry(ref, out.path());
    ASSERT_TRUE(good.complete);
    const auto runs = p.getRuns(p.entries[static_cast<std::size_t>(ref)].recordOffset, 0x80);
    ASSERT_FALSE(runs.empty());
    memory.markUnreadable(runs[0].start * 65536 + 100, 10);
    const ExtractResult bad = p.extractEntry(ref, out.path());
    EXPECT_FALSE(bad.complete);
    auto a = kelvara::test::readFileBytes(good.path), b = kelvara::test::readFileBytes(bad.path);
    ASSERT_EQ(a.size(), 80000u);
    ASSERT_EQ(b.size(), a.size());
    for (std::size_t i = 100; i < 110; ++i) a[i] = 0;
    EXPECT_EQ(a, b);
}
