#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <random>
#include <set>

#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "device/MemoryReadSeek.h"
#include "fs/ParserFactory.h"
#include "fs/ext2/Ext2BlockMap.h"
#include "fs/ext2/ext2Class.h"
#include "support/TestSupport.h"
#include "widgets/CUseShGetFileInfo.h"
#include "widgets/CXHtmlTree.h"

using namespace kelvara;
using kelvara::test::ScratchDir;

namespace {

struct Row {
    std::string state, type, path, sha;
    std::uint64_t size = 0;
    std::int64_t atime = 0, mtime = 0, ctime = 0;
};

std::vector<Row> manifest(const std::string& name) {
    std::ifstream in(test::fixtureFile(name + ".manifest"), std::ios::binary);
    std::vector<Row> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        std::size_t start = 0;
        for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            f.push_back(line.substr(start, tab - start));
        f.push_back(line.substr(start));
        if (f.size() != 8) {
            ADD_FAILURE() << "bad manifest line: " << line;
            continue;
        }
        Row r;
        r.state = f[0], r.type = f[1], r.path = sanitizeUtf8(f[2]), r.sha = f[4];
        r.size = f[3] == "-" ? 0 : std::stoull(f[3]);
        r.atime = std::stoll(f[5]), r.mtime = std::stoll(f[6]), r.ctime = std::stoll(f[7]);
        rows.push_back(r);
    }
    return rows;
}

std::string sizeText(std::uint64_t bytes) { return strprintf("%llu  MB", static_cast<unsigned long long>(bytes / 1048576)); }

struct Scan {
    std::unique_ptr<readWriteInterface> reader;
    std::unique_ptr<ext2Class> parser = std::make_unique<ext2Class>();
    CXHtmlTree tree;
    std::multimap<std::string, EntryRef> byPath;

    void run(std::unique_ptr<readWriteInterface> r, std::uint64_t bytes) {
        reader = std::move(r);
        tree.initialize(true);
        parser->reader = reader.get();
        parser->tree = &tree;
        parser->volume.FILE_SYSTEM = "extX";
        parser->volume.VOLUME_SIZE = sizeText(bytes);
        ASSERT_TRUE(parser->runScan(1));
        // Every path below ROOT, walked through the interface.
        std::vector<std::pair<EntryRef, std::string>> stack{{parser->volumeRoot(), ""}};
        std::set<EntryRef> seen;
        while (!stack.empty()) {
            auto [dir, prefix] = stack.back();
            stack.pop_back();
            if (!seen.insert(dir).second) continue;
            for (EntryRef c = parser->firstChild(dir); c != kNoEntry; c = parser->nextSibling(c)) {
                const std::string path = prefix + parser->name(c);
                byPath.emplace(path, c);
                if (parser->isDirectory(c)) stack.emplace_back(c, path + "/");
            }
        }
    }
    EntryRef find(const std::string& path, bool deleted) const {
        auto [lo, hi] = byPath.equal_range(path);
        for (auto it = lo; it != hi; ++it)
            if (parser->isDeleted(it->second) == deleted) return it->second;
        return kNoEntry;
    }
};

void scanFixture(Scan& s, const std::string& name) {
    auto r = std::make_unique<FileReadSeek>();
    ASSERT_TRUE(r->open(test::fixtureImage(name))) << name;
    const std::uint64_t bytes = r->byteSize();
    s.run(std::move(r), bytes);
}

std::vector<std::uint8_t> imageBytes(const std::string& name) { return test::readFileBytes(test::fixtureImage(name)); }

class Ext2Fixture : public ::testing::TestWithParam<const char*> {};

}  // namespace

// Every file and folder of the fixture is listed where it belongs; every live file and
// every removed one whose blocks were kept comes back byte-identical with its times;
// removed ones whose blocks are gone are listed and come back empty, with the reason.
// Outputs of sparse files are sparse, so the 5 GiB ones cost little.
TEST_P(Ext2Fixture, ListsAndRecoversEverything) {
    const std::string name = GetParam();
    Scan s;
    scanFixture(s, name);
    const auto rows = manifest(name);
    ASSERT_FALSE(rows.empty());
    ScratchDir out;
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(name + ": " + row.state + " " + row.path);
        const bool deleted = row.state != "live";
        if (row.state == "wiped") {
            // The kernel cleared the entry and its inode: nothing is left to list.
            EXPECT_EQ(s.byPath.count(row.path), 0u);
            continue;
        }
        const EntryRef e = s.find(row.path, deleted);
        ASSERT_NE(e, kNoEntry) << "not listed";
        EXPECT_TRUE(s.parser->isEntry(e));
        EXPECT_EQ(s.parser->isDirectory(e), row.type == "d");
        if (row.type != "f") continue;
        const std::string folder = out.file(std::to_string(n++));
        ASSERT_TRUE(platform::makeDirectories(folder));
        const ExtractResult r = s.parser->extractEntry(e, folder);
        ASSERT_TRUE(r.created) << r.message;
        struct stat st {};
        ASSERT_EQ(::stat(r.path.c_str(), &st), 0);
        if (row.state == "listed") {
            EXPECT_EQ(s.parser->size(e), 0u);
            EXPECT_EQ(st.st_size, 0);
            EXPECT_FALSE(r.complete);
            EXPECT_NE(r.message.find("gone"), std::string::npos) << r.message;
            continue;
        }
        EXPECT_TRUE(r.complete) << r.message;
        EXPECT_EQ(s.parser->size(e), row.size);
        EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), row.size);
        EXPECT_EQ(test::sha256OfFile(r.path), row.sha);
        EXPECT_EQ(st.st_mtime, row.mtime);
        EXPECT_EQ(st.st_atime, row.atime);
        const EntryTimesUtc t = s.parser->times(e);
        ASSERT_TRUE(t.created && t.accessed && t.modified);
        EXPECT_EQ(t.created->seconds, row.ctime);
        ::unlink(r.path.c_str());  // the big sparse ones are not kept around
    }
    // Nothing listed that the manifest does not know, apart from names of other kinds.
    std::set<std::string> known;
    for (const Row& row : rows) known.insert(row.path);
    for (const auto& [path, ref] : s.byPath) EXPECT_TRUE(known.count(path)) << name << ": unexpected " << path;
}

INSTANTIATE_TEST_SUITE_P(Ext2, Ext2Fixture, ::testing::Values("ext2_1k", "ext3_4k", "ext4_4k", "ext4_kernel"));

TEST(Ext2Parser, TreeTopLevel) {
    Scan s;
    scanFixture(s, "ext2_1k");
    const TreeItem top = s.tree.getRootItem();
    ASSERT_NE(top, kNoItem);
    EXPECT_EQ(s.tree.getItemText(top), "ROOT");
    EXPECT_EQ(s.tree.getItemData(top), s.parser->volumeRoot());
    EXPECT_EQ(s.tree.getNextSiblingItem(top), kNoItem);
    EXPECT_TRUE(s.tree.isExpanded(top));
    CUseShGetFileInfo icons;
    std::map<std::string, TreeItem> items;
    for (TreeItem i = s.tree.getChildItem(top); i != kNoItem; i = s.tree.getNextSiblingItem(i)) {
        items[s.tree.getItemText(i)] = i;
        const EntryRef e = s.tree.getItemData(i);
        ASSERT_TRUE(s.parser->isEntry(e));
        EXPECT_EQ(s.parser->name(e), s.tree.getItemText(i));
        EXPECT_EQ(s.tree.getItemColor(i) == kRed, s.parser->isDeleted(e));
        EXPECT_EQ(s.tree.getItemImage(i), s.parser->isDirectory(e) ? icons.getFolderIconIndex() : icons.getFileIconIndex(s.parser->name(e)));
    }
    // Folders and files of the root, the removed folder in red; the symbolic link gets no item.
    for (const char* n : {"docs", "indirect", "many", "names", "lost+found", "hello.txt", "olddir"})
        EXPECT_TRUE(items.count(n)) << n;
    EXPECT_FALSE(items.count("link_to_hello"));
    EXPECT_EQ(s.tree.getItemColor(items["olddir"]), kRed);
    EXPECT_NE(s.tree.getItemColor(items["docs"]), kRed);
    // Folders are in name order among themselves.
    std::vector<std::string> folders;
    for (TreeItem i = s.tree.getChildItem(top); i != kNoItem; i = s.tree.getNextSiblingItem(i))
        if (s.parser->isDirectory(s.tree.getItemData(i))) folders.push_back(asciiLower(s.tree.getItemText(i)));
    EXPECT_TRUE(std::is_sorted(folders.begin(), folders.end()));

    // The link is an entry, but Save leaves it out.
    const EntryRef link = s.find("link_to_hello", false);
    ASSERT_NE(link, kNoEntry);
    EXPECT_TRUE(s.parser->skipOnSave(link));
    EXPECT_FALSE(s.parser->extractEntry(link, "/nonexistent").created);
}

TEST(Ext2Parser, ChildrenInDescendingInodeOrder) {
    Scan s;
    scanFixture(s, "ext2_1k");
    const EntryRef many = s.find("many", false);
    ASSERT_NE(many, kNoEntry);
    std::vector<std::uint32_t> inodes;
    int deleted = 0;
    for (EntryRef c = s.parser->firstChild(many); c != kNoEntry; c = s.parser->nextSibling(c)) {
        inodes.push_back(s.parser->entries()[c].inode());
        deleted += s.parser->isDeleted(c);
    }
    EXPECT_EQ(inodes.size(), 40u);
    EXPECT_EQ(deleted, 1);
    EXPECT_TRUE(std::is_sorted(inodes.rbegin(), inodes.rend()));
    EXPECT_EQ(s.parser->countFiles(many), 40u);
    EXPECT_TRUE(s.parser->hasChildren(many));
    EXPECT_FALSE(s.parser->hasChildren(s.find("many/file_000.txt", false)));
}

TEST(Ext2Parser, NamesAndTexts) {
    Scan s;
    scanFixture(s, "ext2_1k");
    // A name that is not UTF-8 shows its bad byte as U+FFFD.
    EXPECT_NE(s.find("names/bad\xEF\xBF\xBD.txt", false), kNoEntry);
    EXPECT_NE(s.find("names/caf\xC3\xA9.txt", false), kNoEntry);
    const EntryRef hello = s.find("hello.txt", false);
    ASSERT_NE(hello, kNoEntry);
    const EntryTimeTexts t = s.parser->formatTimes(hello);
    // mtime 1578486600 = 2020-01-08 12:30:00 UTC; atime 1610067600 = 2021-01-08 01:00 UTC.
    EXPECT_EQ(t.modified, "01/08/2020  12:30 PM");
    EXPECT_EQ(t.accessed, "01/08/2021  01:00 AM");
    EXPECT_EQ(t.attributes, "-OR-GR-UW-UR");
    EXPECT_EQ(s.parser->formatSize(hello), "120 Bytes");
    EXPECT_EQ(s.parser->formatSize(s.find("indirect/double.bin", false)), "400.00 KB");
    EXPECT_EQ(s.parser->formatSize(s.find("indirect/triple_sparse.bin", false)), "70.00 MB");
    s.parser->setName(hello, "renamed.txt");
    EXPECT_EQ(s.parser->name(hello), "renamed.txt");
}

TEST(Ext2Parser, VolumeSizeTextAndShortVolumes) {
    const auto bytes = imageBytes("ext3_4k");
    struct Case {
        std::string sizeText;
        std::size_t keep;  // bytes of the image the reader holds
        bool parsed;
    };
    const Case cases[] = {
        {"16  MB", bytes.size(), true},
        {"  +16MB", bytes.size(), true},
        {"0  MB", bytes.size(), false},
        {"-16", bytes.size(), false},
        {"MB 16", bytes.size(), false},
        {"16  MB", 1536, false},  // the superblock is cut off: the search finds nothing
    };
    for (const auto& c : cases) {
        ext2Class p;
        CXHtmlTree tree;
        MemoryReadSeek r(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + c.keep));
        p.reader = &r;
        p.tree = &tree;
        p.volume.VOLUME_SIZE = c.sizeText;
        ASSERT_TRUE(p.runScan(1));
        EXPECT_EQ(tree.getRootItem() != kNoItem, c.parsed) << c.sizeText << " " << c.keep;
        EXPECT_EQ(p.entries().size() > 2, c.parsed) << c.sizeText << " " << c.keep;
    }
    ext2Class p;
    EXPECT_FALSE(p.runScan(2));
    EXPECT_FALSE(p.runScan(3));
}

TEST(Ext2Parser, FoundThroughTheFactoryAtAStartSector) {
    // The volume behind 1 MiB of something else: the start sector sets the base offset.
    auto bytes = imageBytes("ext3_4k");
    std::vector<std::uint8_t> disk((1 << 20) + bytes.size(), 0xAB);
    std::copy(bytes.begin(), bytes.end(), disk.data() + (1 << 20));
    auto parser = createParser("EXTX");
    ASSERT_NE(parser, nullptr);
    EXPECT_EQ(parser->kindName(), "extX");
    MemoryReadSeek r(std::move(disk));
    parser->reader = &r;
    parser->volume.START_SECTOR = 2048;
    parser->volume.VOLUME_SIZE = "16  MB";
    ASSERT_TRUE(parser->runScan(1));
    EXPECT_EQ(r.baseOffset, 1 << 20);
    EXPECT_TRUE(parser->hasChildren(parser->volumeRoot()));
}

TEST(Ext2Parser, BackupSuperblockWhenThePrimaryIsGone) {
    auto bytes = imageBytes("ext2_1k");
    std::fill(bytes.begin() + 1024, bytes.begin() + 2048, 0);
    Scan s;
    s.run(std::make_unique<MemoryReadSeek>(std::move(bytes)), 24 << 20);
    // The copy at the start of group 1, with its own copy of the descriptors after it.
    EXPECT_EQ(s.parser->superblockOffset(), 8193u * 1024);
    EXPECT_NE(s.find("docs/deep/a/b/notes.txt", false), kNoEntry);
}

TEST(Ext2Parser, UnreadableBlocksAreZerosInTheirPlace) {
    const auto bytes = imageBytes("ext3_4k");
    const Row five = [] {
        for (const Row& r : manifest("ext3_4k"))
            if (r.path == "five_k.bin") return r;
        return Row{};
    }();
    ASSERT_EQ(five.size, 5000u);
    Scan s;
    auto mem = std::make_unique<MemoryReadSeek>(bytes);
    MemoryReadSeek* reader = mem.get();
    s.run(std::move(mem), bytes.size());
    const EntryRef e = s.find("five_k.bin", false);
    ASSERT_NE(e, kNoEntry);

    ScratchDir out;
    ExtractResult whole = s.parser->extractEntry(e, out.path());
    ASSERT_TRUE(whole.complete) << whole.message;
    EXPECT_EQ(test::sha256OfFile(whole.path), five.sha);  // one full block and 904 bytes
    const auto original = test::readFileBytes(whole.path);

    // Mark its first block unreadable: the second still lands at 4096.
    const auto inode = s.parser->readInode(s.parser->entries()[e].inode());
    ASSERT_TRUE(inode);
    std::uint64_t first = 0;
    ext2::BlockMap map([&](std::uint64_t, std::uint8_t*) { return false; }, 4096, s.parser->superblock()->blocksCount);
    map.walk(*inode, 2, [&](const ext2::BlockRun& r) {
        if (r.logical == 0) first = r.physical;
        return true;
    });
    ASSERT_NE(first, 0u);
    reader->markUnreadable(first * 4096, 4096);
    const ExtractResult damaged = s.parser->extractEntry(e, out.path());
    EXPECT_TRUE(damaged.created);
    EXPECT_FALSE(damaged.complete);
    EXPECT_FALSE(damaged.message.empty());
    EXPECT_NE(damaged.path, whole.path);  // a numbered variant, never an overwrite
    const auto got = test::readFileBytes(damaged.path);
    ASSERT_EQ(got.size(), 5000u);
    EXPECT_TRUE(std::all_of(got.begin(), got.begin() + 4096, [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::equal(got.begin() + 4096, got.end(), original.begin() + 4096));
}

// Damaged metadata yields less, never a crash, a hang or a huge allocation.
TEST(Ext2Parser, SurvivesDamagedMetadata) {
    const auto pristine = imageBytes("ext4_kernel");
    std::mt19937 rng(7);
    for (int round = 0; round < 24; ++round) {
        auto bytes = pristine;
        // Flip bytes in the first 2 MiB, where the superblock, descriptors, inode tables
        // and most directory blocks live.
        const int flips = 200 + round * 100;
        for (int i = 0; i < flips; ++i) {
            const std::size_t at = 1024 + rng() % ((2u << 20) - 1024);
            if (round % 3 == 0 && at < 4096) continue;  // keep the superblock in a third of the rounds
            bytes[at] = static_cast<std::uint8_t>(rng());
        }
        Scan s;
        s.run(std::make_unique<MemoryReadSeek>(std::move(bytes)), pristine.size());
        ScratchDir out;
        int extracted = 0;
        for (const auto& [path, ref] : s.byPath) {
            if (s.parser->isDirectory(ref) || s.parser->size(ref) > (4u << 20) || extracted >= 40) continue;
            s.parser->formatTimes(ref);
            s.parser->extractEntry(ref, out.path());
            ++extracted;
        }
    }
}
