// HFS+ parser behaviour on catalogs built node by node: which records become entries,
// how they are linked in each mode, what extraction writes, and how damaged B-trees end.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "device/MemoryReadSeek.h"
#include "fs/ParserFactory.h"
#include "fs/hfsp/HFSP.h"
#include "fs/hfsp/HfsStructures.h"
#include "fs/HfspTestImage.h"
#include "support/TestSupport.h"
#include "widgets/CXHtmlTree.h"

using namespace kelvara;
using namespace kelvara::test;

namespace {

struct Scan {
    MemoryReadSeek reader;
    CXHtmlTree tree;
    RecordingSink sink;
    std::unique_ptr<HFSP> hfs = std::make_unique<HFSP>();
    bool ran = false;

    Scan(const HfsTestImage& img, int mode, std::string volumeSize = "1  MB", bool withReader = true) {
        reader.setData(img.bytes);
        tree.initialize();
        hfs->tree = &tree;
        hfs->sink = &sink;
        hfs->reader = withReader ? &reader : nullptr;
        hfs->volume.FILE_SYSTEM = "HFS+";
        hfs->volume.VOLUME_SIZE = std::move(volumeSize);
        ran = hfs->runScan(mode);
    }

    std::vector<std::string> rootItems() const {
        std::vector<std::string> out;
        for (TreeItem i = tree.getChildItem(hfs->rootItem()); i != kNoItem; i = tree.getNextSiblingItem(i))
            out.push_back(tree.getItemText(i));
        return out;
    }
    std::vector<EntryRef> children(EntryRef dir) const {
        std::vector<EntryRef> out;
        for (EntryRef c = hfs->firstChild(dir); c != kNoEntry && out.size() < 100; c = hfs->nextSibling(c)) out.push_back(c);
        return out;
    }
    // The page's end text for what runScan returned.
    std::string last() const { return ran ? "Work Done." : "Work Aborted...."; }
};

TestRecord folder(std::uint32_t cnid, std::uint32_t parent, std::u16string name) {
    TestRecord r;
    r.type = 1;
    r.cnid = cnid;
    r.parent = parent;
    r.name = std::move(name);
    r.mode = 0x41ED;
    return r;
}

TestRecord file(std::uint32_t cnid, std::uint32_t parent, std::u16string name, std::uint64_t size = 0,
                std::vector<TestExtent> ext = {}) {
    TestRecord r;
    r.cnid = cnid;
    r.parent = parent;
    r.name = std::move(name);
    r.size = size;
    r.extents = std::move(ext);
    for (auto& e : r.extents) r.totalBlocks += e.count;
    return r;
}

// The root folder with its thread record, as every catalog has them.
std::vector<TestRecord> rootRecords() {
    TestRecord thread;
    thread.type = 3;
    thread.parent = 2;
    return {folder(2, 1, u"Volume"), thread};
}

std::u16string units(std::size_t n) { return std::u16string(n, u'n'); }

std::vector<std::uint8_t> blockBytes(const HfsTestImage& img, std::uint32_t b, std::size_t n = HfsTestImage::kBlock) {
    return {img.bytes.begin() + std::ptrdiff_t(b) * HfsTestImage::kBlock,
            img.bytes.begin() + std::ptrdiff_t(b) * HfsTestImage::kBlock + std::ptrdiff_t(n)};
}

}  // namespace

TEST(HfspRecords, NameLengthLimits) {
    struct Case {
        std::size_t units;
        bool listed;
    } cases[] = {{1, true}, {255, true}, {256, false}, {300, false}};
    for (const auto& c : cases) {
        HfsTestImage img;
        auto root = rootRecords();
        root.push_back(file(20, 2, units(c.units)));
        img.setCatalog({root});
        Scan s(img, 1);
        EXPECT_EQ(s.hfs->isEntry(20), c.listed) << c.units << " units";
        EXPECT_EQ(s.rootItems().size(), c.listed ? 1u : 0u) << c.units << " units";
    }
}

TEST(HfspRecords, RootFolderIsNotListedButItsChildrenAreAndThreadsAreSkipped) {
    HfsTestImage img;
    auto recs = rootRecords();
    recs.push_back(folder(16, 2, u"Docs"));
    recs.push_back(file(17, 16, u"inner.txt"));
    recs.push_back(file(18, 2, u"top.txt"));
    img.setCatalog({recs});
    Scan s(img, 1);
    EXPECT_EQ(s.rootItems(), (std::vector<std::string>{"Docs", "top.txt"}));
    EXPECT_EQ(s.hfs->entries().size(), 4u);  // the thread record is no entry
    EXPECT_EQ(s.hfs->volumeRoot(), 2);
    EXPECT_EQ(s.children(2), (std::vector<EntryRef>{18, 16}));  // descending CNIDs
    EXPECT_EQ(s.children(16), (std::vector<EntryRef>{17}));
    EXPECT_TRUE(s.hfs->hasChildren(16));
    EXPECT_FALSE(s.hfs->hasChildren(17));
    EXPECT_EQ(s.hfs->countFiles(2), 2u);
    EXPECT_EQ(s.last(), "Work Done.");
    // The tree item carries the CNID.
    TreeItem docs = s.tree.getChildItem(s.hfs->rootItem());
    EXPECT_EQ(s.tree.getItemData(docs), 16);
    EXPECT_EQ(s.tree.getItemImage(docs), 3);
}

TEST(HfspRecords, FirstRecordOfACnidStays) {
    HfsTestImage img;
    auto first = rootRecords();
    first.push_back(file(20, 2, u"first.txt"));
    img.setCatalog({first, {file(20, 2, u"second.txt"), file(21, 2, u"other.txt")}});
    for (int mode : {1, 3}) {
        Scan s(img, mode);
        EXPECT_EQ(s.hfs->name(20), "first.txt") << "mode " << mode;
        EXPECT_TRUE(s.hfs->isEntry(21));
    }
}

TEST(HfspRecords, NonAsciiNamesAndTimesAndAttributes) {
    HfsTestImage img;
    auto recs = rootRecords();
    TestRecord f = file(20, 2, u"Gr\u00FC\u00DFe \u540D\u524D.txt");
    f.created = 1600000000u + 2082844800u;  // 2020-09-13 12:26:40 UTC
    f.modified = 1600000000u + 2082844800u + 3600;
    f.accessed = 1600000000u + 2082844800u + 13 * 3600;
    f.mode = 0x81ED;
    recs.push_back(f);
    img.setCatalog({recs});
    Scan s(img, 1);
    EXPECT_EQ(s.hfs->name(20), "Gr\u00FC\u00DFe \u540D\u524D.txt");
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const EntryTimeTexts t = s.hfs->formatTimes(20);
    EXPECT_EQ(t.created, "09/13/2020  12:26 PM");
    EXPECT_EQ(t.modified, "09/13/2020  01:26 PM");
    EXPECT_EQ(t.accessed, "09/14/2020  01:26 AM");
    EXPECT_EQ(t.attributes, "-Owner:X-Owner:W-Owner:R-OX-OR-GX-GR");
    const EntryTimesUtc u = s.hfs->times(20);
    EXPECT_EQ(u.created->seconds, 1600000000);
    EXPECT_EQ(u.modified->seconds, 1600003600);
    EXPECT_EQ(u.accessed->seconds, 1600046800);
}

TEST(HfspRecords, AttributeTexts) {
    struct Case {
        std::uint16_t mode;
        const char* text;
    } cases[] = {{0x1ED, "-Owner:X-Owner:W-Owner:R-OX-OR-GX-GR"},
                 {0x1A4, "-Owner:W-Owner:R-OR-GR"},
                 {0x1FF, "-Owner:X-Owner:W-Owner:R-OX-OW-OR-GX-GW-GR"},
                 {0x8000, ""}};
    for (const auto& c : cases) EXPECT_EQ(hfsp::attributeText(c.mode), c.text) << std::hex << c.mode;
}

TEST(HfspLinking, DeepModeGroupsByCnidOrder) {
    HfsTestImage img;
    auto recs = rootRecords();
    recs.push_back(file(15, 2, u"early.txt"));
    recs.push_back(folder(16, 2, u"A"));
    recs.push_back(file(17, 2, u"rootfile.txt"));
    recs.push_back(folder(18, 16, u"B"));
    recs.push_back(file(19, 16, u"inA.txt"));
    img.setCatalog({recs});
    for (int mode : {2, 3}) {
        Scan s(img, mode);
        const EntryRef orphan = s.hfs->orphanFolderId();
        ASSERT_EQ(orphan, 20) << "mode " << mode;
        EXPECT_EQ(s.hfs->name(orphan), "ORPHAN_ENTRY");
        EXPECT_EQ(s.hfs->volumeRoot(), orphan);
        EXPECT_EQ(s.children(orphan), (std::vector<EntryRef>{18, 16, 2}));
        EXPECT_EQ(s.children(2), (std::vector<EntryRef>{15}));
        EXPECT_EQ(s.children(16), (std::vector<EntryRef>{17}));  // follows its folder in CNID order
        EXPECT_EQ(s.children(18), (std::vector<EntryRef>{19}));
        // Files whose parent is the root folder show under ROOT too.
        EXPECT_EQ(s.rootItems(), (std::vector<std::string>{"early.txt", "rootfile.txt", "ORPHAN_ENTRY"}));
        EXPECT_EQ(s.hfs->countFiles(orphan), 3u);
        EXPECT_EQ(s.last(), "Work Done.");
    }
}

TEST(HfspLinking, FoldersThatAreEachOthersParentsEndUnlinked) {
    HfsTestImage img;
    auto recs = rootRecords();
    recs.push_back(folder(20, 21, u"A"));
    recs.push_back(folder(21, 20, u"B"));
    recs.push_back(file(22, 20, u"f"));
    img.setCatalog({recs});
    Scan s(img, 1);
    EXPECT_EQ(s.children(20), (std::vector<EntryRef>{22}));
    EXPECT_EQ(s.children(21), (std::vector<EntryRef>{}));
    EXPECT_EQ(s.hfs->countFiles(20), 1u);
}

TEST(HfspExtract, TenThousandBytesOverFourKiBBlocks) {
    HfsTestImage img;
    auto recs = rootRecords();
    recs.push_back(file(20, 2, u"ten.bin", 10000, {{20, 3}}));
    img.setCatalog({recs});
    for (std::uint32_t b = 20; b < 24; ++b) img.fillBlock(b);
    Scan s(img, 1);
    ScratchDir out;
    const ExtractResult r = s.hfs->extractEntry(20, out.path());
    ASSERT_TRUE(r.created) << r.message;
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(r.bytesWritten, 10000u);
    struct stat st {};
    ASSERT_EQ(::stat(r.path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, std::int64_t(3684100000u) - hfsp::kHfsEpochToUnix);
    EXPECT_EQ(st.st_atime, std::int64_t(3684200000u) - hfsp::kHfsEpochToUnix);
    EXPECT_EQ(readFileBytes(r.path), blockBytes(img, 20, 10000));
}

TEST(HfspExtract, UnreadableBlockBecomesZerosAndTheOutputKeepsItsSize) {
    HfsTestImage img;
    auto recs = rootRecords();
    recs.push_back(file(20, 2, u"ten.bin", 10000, {{20, 3}}));
    img.setCatalog({recs});
    for (std::uint32_t b = 20; b < 23; ++b) img.fillBlock(b);
    Scan s(img, 1);
    s.reader.markUnreadable(21 * HfsTestImage::kBlock + 100, 10);
    ScratchDir out;
    const ExtractResult r = s.hfs->extractEntry(20, out.path());
    ASSERT_TRUE(r.created);
    EXPECT_FALSE(r.complete);
    EXPECT_FALSE(r.message.empty());
    auto want = blockBytes(img, 20, 10000);
    std::fill(want.begin() + 4096, want.begin() + 8192, 0);
    EXPECT_EQ(readFileBytes(r.path), want);
}

TEST(HfspExtract, OverflowExtentsFoundByCnidAndBlocksSoFar) {
    HfsTestImage img(96);
    auto recs = rootRecords();
    // Eight one-block extents in the record, scattered backwards; four more blocks in
    // the overflow file, split over two records.
    std::vector<TestExtent> first;
    for (std::uint32_t i = 0; i < 8; ++i) first.push_back({40 - 2 * i, 1});
    TestRecord big = file(20, 2, u"big.bin", 11 * 4096 + 123, first);
    big.totalBlocks = 12;
    recs.push_back(big);
    recs.push_back(file(21, 2, u"other.bin", 100, {{70, 1}}));
    img.setCatalog({recs});
    img.setOverflow({
        {0, 20, 7, {{80, 5}}},           // wrong start block: never asked for
        {0, 20, 8, {{50, 2}}},
        {0, 20, 10, {{60, 1}, {62, 1}}},
        {0xFF, 20, 8, {{90, 4}}},        // the resource fork's: must not replace the data fork's
        {0, 21, 1, {{91, 1}}},
    });
    std::vector<std::uint32_t> order;
    for (const auto& e : first) order.push_back(e.start);
    for (std::uint32_t b : {50u, 51u, 60u, 62u}) order.push_back(b);
    for (std::uint32_t b : order) img.fillBlock(b);
    for (std::uint32_t b : {80u, 81u, 82u, 83u, 84u, 90u, 91u, 92u, 93u}) img.fillBlock(b);
    Scan s(img, 1);
    ScratchDir out;
    const ExtractResult r = s.hfs->extractEntry(20, out.path());
    ASSERT_TRUE(r.created) << r.message;
    EXPECT_TRUE(r.complete) << r.message;
    std::vector<std::uint8_t> want;
    for (std::uint32_t b : order) {
        auto blk = blockBytes(img, b);
        want.insert(want.end(), blk.begin(), blk.end());
    }
    want.resize(11 * 4096 + 123);
    EXPECT_EQ(readFileBytes(r.path), want);
}

TEST(HfspExtract, EmptyFileIsCreatedEmptyAndFoldersAreNotExtracted) {
    HfsTestImage img;
    auto recs = rootRecords();
    recs.push_back(file(20, 2, u"empty.txt"));
    recs.push_back(folder(21, 2, u"dir"));
    recs.push_back(file(22, 2, u"lost.bin", 5000));  // a size but no extents
    img.setCatalog({recs});
    Scan s(img, 1);
    ScratchDir out;
    EXPECT_EQ(s.hfs->formatSize(20), "0 Bytes");
    const ExtractResult r = s.hfs->extractEntry(20, out.path());
    ASSERT_TRUE(r.created);
    EXPECT_TRUE(r.complete);
    EXPECT_TRUE(readFileBytes(r.path).empty());
    EXPECT_FALSE(s.hfs->extractEntry(21, out.path()).created);
    const ExtractResult lost = s.hfs->extractEntry(22, out.path());
    EXPECT_FALSE(lost.created);
    EXPECT_FALSE(lost.message.empty());
}

TEST(HfspExtract, NamesCannotLeaveTheOutputFolder) {
    HfsTestImage img;
    auto recs = rootRecords();
    recs.push_back(file(20, 2, u"../escape", 10, {{20, 1}}));
    img.setCatalog({recs});
    Scan s(img, 1);
    ScratchDir out;
    const ExtractResult r = s.hfs->extractEntry(20, out.path() + "/sub");
    // The folder does not exist: nothing is written anywhere else.
    EXPECT_FALSE(r.created);
    const ExtractResult r2 = s.hfs->extractEntry(20, out.path());
    ASSERT_TRUE(r2.created);
    EXPECT_EQ(std::filesystem::path(r2.path).parent_path(), std::filesystem::path(out.path()));
}

// The end texts of each mode, and what the scan still lists when a step fails.
TEST(HfspModes, EndTexts) {
    enum Damage { None, NoReader, BlockSizeZero, HeaderWiped, ExtentsKindBad, SizeTextZero, HfsxSignature };
    struct Case {
        Damage damage;
        int mode;
        const char* end;
        bool blockSizeText;
        bool listsFile;
    } cases[] = {
        {None, 1, "Work Done.", false, true},
        {None, 2, "Work Done.", false, true},
        {None, 3, "Work Done.", false, true},
        {HfsxSignature, 1, "Work Done.", false, true},
        {NoReader, 1, "Work Aborted....", false, false},
        {NoReader, 3, "Work Aborted....", false, false},
        {BlockSizeZero, 1, "Work Aborted....", false, false},
        {BlockSizeZero, 3, "Work Aborted....", true, false},
        {SizeTextZero, 2, "Work Aborted....", true, false},
        {SizeTextZero, 1, "Work Done.", false, true},
        {HeaderWiped, 1, "Work Aborted....", false, false},
        {HeaderWiped, 2, "Work Done.", false, true},
        {HeaderWiped, 3, "Work Done.", false, true},
        {ExtentsKindBad, 1, "Work Aborted....", false, true},
    };
    for (const auto& c : cases) {
        HfsTestImage img;
        auto recs = rootRecords();
        recs.push_back(file(20, 2, u"a.txt", 5, {{30, 1}}));
        img.setCatalog({recs});
        img.setOverflow({});
        if (c.damage == BlockSizeZero) be32(img.bytes, 1024 + 0x28, 0);
        if (c.damage == HeaderWiped) std::fill_n(img.bytes.begin() + std::ptrdiff_t(img.nodeAt(0)), 4096, 0);
        if (c.damage == ExtentsKindBad) img.bytes[4096 + 8] = 7;
        if (c.damage == HfsxSignature) img.bytes[1025] = 'X';
        Scan s(img, c.mode, c.damage == SizeTextZero ? "0  MB" : "1  MB", c.damage != NoReader);
        const std::string what = "damage " + std::to_string(c.damage) + " mode " + std::to_string(c.mode);
        EXPECT_EQ(s.last(), c.end) << what;
        EXPECT_EQ(s.hfs->scanSucceeded(), std::string(c.end) == "Work Done.") << what;
        EXPECT_EQ(s.sink.saw("BlockSize not valid .Aborting.."), c.blockSizeText) << what;
        EXPECT_EQ(s.hfs->isEntry(20), c.listsFile) << what;
        EXPECT_FALSE(s.sink.saw("Scanning processing done.Select save button to save the data.")) << what;
    }
    HfsTestImage img;
    Scan s(img, 1);
    EXPECT_FALSE(s.hfs->runScan(4));
    EXPECT_TRUE(s.hfs->hasOwnEndOfScan());
    EXPECT_TRUE(s.hfs->hasWorker(1) && s.hfs->hasWorker(2) && s.hfs->hasWorker(3));
    EXPECT_FALSE(s.hfs->prepareAdvanced({}).empty());
}

TEST(HfspModes, StatusTextsOfTheSteps) {
    HfsTestImage img;
    auto recs = rootRecords();
    recs.push_back(folder(16, 2, u"Docs"));
    recs.push_back(file(17, 2, u"a.txt"));
    img.setCatalog({recs});
    Scan s(img, 1);
    EXPECT_TRUE(s.sink.saw("Maintaining Parent Child...."));
    EXPECT_TRUE(s.sink.saw("Maintaining Parent Child for record 0 of 3...."));
    EXPECT_TRUE(s.sink.saw("found folder at Node 1"));
    EXPECT_TRUE(s.sink.saw("found file at Node 2"));
    EXPECT_EQ(s.tree.getItemText(s.hfs->rootItem()), "ROOT");
    EXPECT_TRUE(s.tree.isExpanded(s.hfs->rootItem()));
}

TEST(HfspModes, FactoryMakesTheParserForTheKindText) {
    auto p = createParser("HFS+");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->kindName(), "HFS+");
    EXPECT_NE(createParser("hfs+"), nullptr);
}

// Damaged B-trees end their walk; nothing hangs, crashes or allocates by a claimed size.
TEST(HfspBounds, DamagedNodesEndTheWalk) {
    enum Damage { HugeNodeCount, LoopingLinks, OffsetOutsideNode, HugeRecordCount, NodeSizeOdd, CatalogPastVolume };
    for (Damage d : {HugeNodeCount, LoopingLinks, OffsetOutsideNode, HugeRecordCount, NodeSizeOdd, CatalogPastVolume}) {
        HfsTestImage img;
        auto recs = rootRecords();
        recs.push_back(file(20, 2, u"a.txt"));
        recs.push_back(file(21, 2, u"b.txt"));
        img.setCatalog({recs, {file(22, 2, u"c.txt")}});
        const std::size_t leaf = img.nodeAt(1), leaf2 = img.nodeAt(2);
        switch (d) {
        case HugeNodeCount: be32(img.bytes, img.nodeAt(0) + 14 + 22, 0xFFFFFFFF); break;
        case LoopingLinks:
            be32(img.bytes, leaf, 2);
            be32(img.bytes, leaf2, 1);
            be32(img.bytes, leaf2 + 4, 2);
            break;
        case OffsetOutsideNode: be16(img.bytes, leaf + 4096 - 6, 0xFFF0); break;
        case HugeRecordCount: be16(img.bytes, leaf + 10, 0xFFFF); break;
        case NodeSizeOdd: be16(img.bytes, img.nodeAt(0) + 14 + 18, 1000); break;
        case CatalogPastVolume:
            img.setFork(0x110, 0xFFFFFFFFull * 4096, {{3, 3}, {0xFFFFFFF0u, 0x0FFFFFFFu}});
            be32(img.bytes, img.nodeAt(0) + 14 + 22, 0xFFFFFFFF);
            break;
        }
        for (int mode : {1, 3}) {
            Scan s(img, mode);
            const std::string what = "damage " + std::to_string(d) + " mode " + std::to_string(mode);
            EXPECT_FALSE(s.last().empty()) << what;
            if (d == OffsetOutsideNode) {
                EXPECT_FALSE(s.hfs->isEntry(20)) << what;  // its offset was the one damaged
                EXPECT_TRUE(s.hfs->isEntry(21)) << what;
            }
            if (d == HugeNodeCount || d == LoopingLinks || d == CatalogPastVolume) {
                EXPECT_TRUE(s.hfs->isEntry(22)) << what;
                EXPECT_LE(s.hfs->catalogNodes().size(), 3u) << what;
            }
            if (d == NodeSizeOdd && mode == 1) {
                EXPECT_EQ(s.last(), "Work Aborted....") << what;
            }
        }
    }
}

TEST(HfspBounds, DeepSearchAcrossWindowsFindsEveryLeafOnce) {
    HfsTestImage img(200);
    auto recs = rootRecords();
    recs.push_back(file(20, 2, u"a.txt"));
    img.setCatalog({recs});
    // Copies of a leaf node elsewhere on the volume, one straddling a window boundary.
    std::vector<TestRecord> more = {file(30, 2, u"far.txt")};
    HfsTestImage other;
    other.setCatalog({more});
    for (std::uint32_t b : {100u, 155u}) {
        auto node = blockBytes(other, other.catalogStart + 1);
        std::copy(node.begin(), node.end(), img.bytes.begin() + std::ptrdiff_t(b) * 4096);
    }
    be32(img.bytes, 155 * 4096 + 14 + 8 + 2 * 7 + 8, 31);  // the second copy holds CNID 31
    Scan s(img, 3, "1  MB");
    s.hfs->searchWindowBytes = 3 * 4096;
    const std::uint64_t before = s.reader.readCount();
    ASSERT_TRUE(s.hfs->runScan(3));
    // One read per window, plus the few reads of the header and the B-tree heads.
    const std::uint64_t windows = (200 + 2) / 3;
    EXPECT_LE(s.reader.readCount() - before, windows + 8);
    EXPECT_TRUE(s.hfs->isEntry(20));
    EXPECT_TRUE(s.hfs->isEntry(30));
    EXPECT_TRUE(s.hfs->isEntry(31));
    EXPECT_EQ(s.hfs->catalogNodes().size(), 3u);
}

TEST(HfspBounds, StopEndsTheStepAndTheLaterStepsStillRun) {
    HfsTestImage img;
    auto recs = rootRecords();
    recs.push_back(file(20, 2, u"a.txt"));
    img.setCatalog({recs, {file(21, 2, u"b.txt")}});
    MemoryReadSeek reader(img.bytes);
    RecordingSink sink;
    HFSP hfs;
    hfs.reader = &reader;
    hfs.sink = &sink;
    hfs.volume.VOLUME_SIZE = "1  MB";
    int checks = 0;
    hfs.pauseHook = [&] {
        if (++checks == 3) hfs.stopFlag = 1;  // in the catalog walk, after node 1
    };
    EXPECT_TRUE(hfs.runScan(1));  // a stopped step still counts as done
    EXPECT_EQ(hfs.stopFlag.load(), 0);
    EXPECT_TRUE(hfs.isEntry(20));
    EXPECT_FALSE(hfs.isEntry(21));
}

// Random damage anywhere in the metadata: every mode ends, every extraction ends, and
// nothing is written beyond the volume's size.
TEST(HfspBounds, RandomlyDamagedMetadataNeverBreaksTheScan) {
    HfsTestImage base(48);
    auto recs = rootRecords();
    recs.push_back(folder(16, 2, u"Docs"));
    recs.push_back(file(17, 16, u"a.txt", 5000, {{40, 2}}));
    recs.push_back(file(18, 2, u"b.txt", 9000, {{42, 1}, {44, 2}}));
    TestRecord big = file(19, 2, u"c.bin", 40000, {{30, 1}});
    big.totalBlocks = 10;
    recs.push_back(big);
    base.setCatalog({recs, {file(20, 16, u"d.txt", 10, {{46, 1}})}});
    base.setOverflow({{0, 19, 1, {{31, 9}}}});
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    for (int round = 0; round < 150; ++round) {
        HfsTestImage img = base;
        const int flips = 1 + int(next() % 24);
        for (int i = 0; i < flips; ++i) {
            // The volume header, the extents-overflow file and the catalog (blocks 0-5).
            const std::size_t at = round % 3 == 0 ? 1024 + next() % 512 : next() % (6 * 4096);
            img.bytes[at] = std::uint8_t(next() >> 16);
        }
        for (int mode : {1, 3}) {
            Scan s(img, mode);
            ScratchDir out;
            for (const auto& [id, e] : s.hfs->entries()) {
                (void)s.hfs->formatTimes(id);
                if (e.type != 2) continue;
                const ExtractResult r = s.hfs->extractEntry(id, out.path());
                EXPECT_LE(r.bytesWritten, img.bytes.size()) << "round " << round;
            }
            (void)s.hfs->countFiles(s.hfs->volumeRoot());
        }
    }
}
