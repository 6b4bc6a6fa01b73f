// The HFS+ parser over the volumes xorriso wrote (see tools/fixtures/make_hfsp_fixtures.sh):
// every file listed and recovered byte-identical with its times, through the parser
// interface the results page uses.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "fs/hfsp/HFSP.h"
#include "fs/HfspTestImage.h"
#include "support/TestSupport.h"
#include "widgets/CXHtmlTree.h"

using namespace kelvara;
using namespace kelvara::test;

namespace {

struct ManifestFile {
    std::uint64_t size = 0;
    std::string sha256;
    std::int64_t created = 0, modified = 0, accessed = 0;
};

struct Manifest {
    std::int64_t startSector = 0;
    std::map<std::string, ManifestFile> files;  // by path
};

Manifest readManifest(const std::string& name) {
    Manifest m;
    std::ifstream in(fixtureFile(name + ".manifest"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("# start_sector ", 0) == 0) {
            m.startSector = std::stoll(line.substr(15));
            continue;
        }
        std::istringstream fields(line);
        std::string path, size, created, modified, accessed;
        ManifestFile f;
        std::getline(fields, path, '\t');
        std::getline(fields, size, '\t');
        std::getline(fields, f.sha256, '\t');
        std::getline(fields, created, '\t');
        std::getline(fields, modified, '\t');
        std::getline(fields, accessed, '\t');
        f.size = std::stoull(size);
        f.created = std::stoll(created);
        f.modified = std::stoll(modified);
        f.accessed = std::stoll(accessed);
        m.files[path] = f;
    }
    return m;
}

struct FixtureScan {
    Manifest manifest;
    FileReadSeek reader;
    CXHtmlTree tree;
    RecordingSink sink;
    HFSP hfs;
    bool ran = false;

    FixtureScan(const std::string& name, int mode) : manifest(readManifest(name)) {
        const std::string image = fixtureImage(name);
        EXPECT_TRUE(reader.open(image));
        tree.initialize();
        hfs.tree = &tree;
        hfs.sink = &sink;
        hfs.reader = &reader;
        hfs.volume.FILE_SYSTEM = "HFS+";
        hfs.volume.START_SECTOR = manifest.startSector;
        hfs.volume.VOLUME_SIZE = strprintf(
            "%lld  MB", static_cast<long long>((reader.byteSize() - std::uint64_t(manifest.startSector) * 512) / 1048576));
        ran = hfs.runScan(mode);
    }

    // path -> entry of every file below dir, walked through the interface.
    std::map<std::string, EntryRef> files(EntryRef dir) const {
        std::map<std::string, EntryRef> out;
        std::vector<std::pair<EntryRef, std::string>> stack{{dir, ""}};
        std::set<EntryRef> seen{dir};
        while (!stack.empty()) {
            auto [d, prefix] = stack.back();
            stack.pop_back();
            for (EntryRef c = hfs.firstChild(d); c != kNoEntry; c = hfs.nextSibling(c)) {
                const std::string p = prefix + hfs.name(c);
                if (hfs.isDirectory(c)) {
                    if (seen.insert(c).second) stack.push_back({c, p + "/"});
                } else {
                    out[p] = c;
                }
            }
        }
        return out;
    }

    std::vector<std::string> rootItems() const {
        std::vector<std::string> out;
        for (TreeItem i = tree.getChildItem(hfs.rootItem()); i != kNoItem; i = tree.getNextSiblingItem(i))
            out.push_back(tree.getItemText(i));
        return out;
    }
};

// sha256 of many files with one sha256sum run (one process per file is slow).
std::map<std::string, std::string> sha256OfFiles(const std::vector<std::string>& paths) {
    std::map<std::string, std::string> out;
    ScratchDir dir;
    const std::string list = dir.file("list");
    {
        std::ofstream l(list, std::ios::binary);
        for (const auto& p : paths) l << p << '\0';
    }
    const std::string cmd = "xargs -0 sha256sum < '" + list + "'";
    FILE* f = ::popen(cmd.c_str(), "r");
    if (!f) return out;
    char line[8192];
    while (std::fgets(line, sizeof line, f)) {
        std::string l(line);
        if (!l.empty() && l.back() == '\n') l.pop_back();
        if (l.size() > 66) out[l.substr(66)] = l.substr(0, 64);
    }
    ::pclose(f);
    return out;
}

// Collects what the extraction wrote; the contents are compared in one go at the end.
struct Recovered {
    std::vector<std::string> paths;
    std::vector<std::string> want;
    std::vector<std::string> names;
    void check() const {
        const auto got = sha256OfFiles(paths);
        for (std::size_t i = 0; i < paths.size(); ++i) {
            auto it = got.find(paths[i]);
            EXPECT_TRUE(it != got.end() && it->second == want[i]) << names[i];
        }
    }
};

// Extracts ref into folder and checks size and times against the manifest line.
void expectRecovered(HFSP& hfs, EntryRef ref, const std::string& folder, const std::string& path,
                     const ManifestFile& want, Recovered& done) {
    std::filesystem::create_directories(folder);
    const ExtractResult r = hfs.extractEntry(ref, folder);
    ASSERT_TRUE(r.created) << path << ": " << r.message;
    EXPECT_TRUE(r.complete) << path << ": " << r.message;
    struct stat st {};
    ASSERT_EQ(::stat(r.path.c_str(), &st), 0) << path;
    EXPECT_EQ(std::uint64_t(st.st_size), want.size) << path;
    EXPECT_EQ(st.st_mtime, want.modified) << path;
    EXPECT_EQ(st.st_atime, want.accessed) << path;
    const EntryTimesUtc t = hfs.times(ref);
    EXPECT_EQ(t.created->seconds, want.created) << path;
    done.paths.push_back(r.path);
    done.want.push_back(want.sha256);
    done.names.push_back(path);
}

}  // namespace

class HfspFixtureStandard : public ::testing::TestWithParam<std::string> {};

TEST_P(HfspFixtureStandard, EveryFileListedAndRecoveredWithItsTimes) {
    FixtureScan s(GetParam(), 1);
    ASSERT_TRUE(s.ran);
    EXPECT_EQ(s.hfs.volumeRoot(), 2);
    const auto listed = s.files(s.hfs.volumeRoot());
    std::set<std::string> want, got;
    for (const auto& [p, f] : s.manifest.files) want.insert(p);
    for (const auto& [p, r] : listed) got.insert(p);
    EXPECT_EQ(got, want);

    // The top level: the root folder's children, not the root folder itself.
    auto top = s.rootItems();
    std::sort(top.begin(), top.end());
    EXPECT_TRUE(std::binary_search(top.begin(), top.end(), "Docs"));
    EXPECT_TRUE(std::binary_search(top.begin(), top.end(), "Many"));
    EXPECT_TRUE(std::binary_search(top.begin(), top.end(), "big.dat"));
    EXPECT_FALSE(std::binary_search(top.begin(), top.end(), "KELVARA_HFS"));
    EXPECT_EQ(s.hfs.countFiles(2), s.manifest.files.size());

    ScratchDir out;
    Recovered done;
    for (const auto& [path, ref] : listed) {
        const auto it = s.manifest.files.find(path);
        if (it == s.manifest.files.end()) continue;
        const std::filesystem::path p(path);
        expectRecovered(s.hfs, ref, (std::filesystem::path(out.path()) / p.parent_path()).string(), path, it->second, done);
    }
    done.check();
}

INSTANTIATE_TEST_SUITE_P(Images, HfspFixtureStandard, ::testing::Values("hfsp_basic", "hfsp_fragmented"));

TEST(HfspFixture, BasicCatalogHasSeveralLeavesUnderAnIndexNode) {
    FixtureScan s("hfsp_basic", 1);
    int leaves = 0, index = 0;
    for (const auto& n : s.hfs.catalogNodes()) {
        leaves += n.kind == -1;
        index += n.kind == 0;
    }
    EXPECT_GE(leaves, 3);
    EXPECT_GE(index, 1);
}

TEST(HfspFixture, FragmentedCatalogAndOverflowExtentsAreFollowed) {
    FixtureScan s("hfsp_fragmented", 1);
    const auto& cat = s.hfs.volumeHeader().catalogFile;
    EXPECT_NE(cat.extents[2].blockCount, 0u);  // three extents
    // A node straddles the first two extents: its blocks are not adjacent on the volume.
    EXPECT_NE(cat.extents[0].startBlock + cat.extents[0].blockCount, cat.extents[1].startBlock);
    const auto listed = s.files(2);
    const EntryRef big = listed.at("big.dat");
    const HfsEntry& e = s.hfs.entries().at(big);
    std::uint64_t inRecord = 0;
    for (const auto& x : e.extents) inRecord += x.blockCount;
    EXPECT_LT(inRecord, e.totalBlocks);  // the rest lies in the extents-overflow file
    EXPECT_FALSE(s.hfs.extentsNodes().empty());
}

TEST(HfspFixture, WipedHeaderNodeStandardModeAborts) {
    FixtureScan s("hfsp_wiped", 1);
    EXPECT_FALSE(s.ran);
    EXPECT_TRUE(s.hfs.entries().empty());
}

// The advanced and deep modes find the leaf nodes anywhere on the volume, also when the
// catalog's header node is gone; all folders then hang below "ORPHAN_ENTRY".
class HfspFixtureSearch : public ::testing::TestWithParam<std::tuple<std::string, int>> {};

TEST_P(HfspFixtureSearch, EveryFileFoundAndRecovered) {
    const auto& [image, mode] = GetParam();
    FixtureScan s(image, mode);
    ASSERT_TRUE(s.ran);
    const EntryRef orphan = s.hfs.orphanFolderId();
    ASSERT_NE(orphan, 0);
    EXPECT_EQ(s.hfs.volumeRoot(), orphan);
    const auto top = s.rootItems();
    EXPECT_NE(std::find(top.begin(), top.end(), "ORPHAN_ENTRY"), top.end());

    // Paths differ in these modes; names are unique in the fixture.
    std::map<std::string, EntryRef> byName;
    for (const auto& [p, ref] : s.files(orphan)) byName[std::filesystem::path(p).filename().string()] = ref;
    ScratchDir out;
    Recovered done;
    for (const auto& [path, f] : s.manifest.files) {
        const std::string name = std::filesystem::path(path).filename().string();
        auto it = byName.find(name);
        ASSERT_NE(it, byName.end()) << path;
        EXPECT_EQ(s.hfs.size(it->second), f.size) << path;
        expectRecovered(s.hfs, it->second, out.path(), path, f, done);
    }
    done.check();
}

INSTANTIATE_TEST_SUITE_P(Images, HfspFixtureSearch,
                         ::testing::Values(std::make_tuple("hfsp_wiped", 2), std::make_tuple("hfsp_wiped", 3),
                                           std::make_tuple("hfsp_basic", 3)));
