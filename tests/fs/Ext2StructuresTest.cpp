#include <gtest/gtest.h>

#include <map>

#include "fs/ext2/Ext2BlockMap.h"
#include "fs/ext2/Ext2Structures.h"
#include "support/TestSupport.h"

using namespace kelvara;
using namespace kelvara::ext2;
using kelvara::test::put16;
using kelvara::test::put32;
using kelvara::test::putText;

namespace {

struct SbFields {
    std::uint32_t inodes = 2048, blocksLo = 8192, firstData = 1, log = 0, bpg = 8192, ipg = 2048;
    std::uint32_t rev = 1, inodeSize = 256, incompat = 0x2, blocksHi = 0;
    std::uint16_t descSize = 0;
};

std::vector<std::uint8_t> superblockBytes(const SbFields& f) {
    std::vector<std::uint8_t> b(1024, 0);
    put32(b, sb::inodesCount, f.inodes);
    put32(b, sb::blocksCountLo, f.blocksLo);
    put32(b, sb::firstDataBlock, f.firstData);
    put32(b, sb::logBlockSize, f.log);
    put32(b, sb::blocksPerGroup, f.bpg);
    put32(b, sb::inodesPerGroup, f.ipg);
    put16(b, sb::magic, sb::kMagic);
    put32(b, sb::revLevel, f.rev);
    put32(b, sb::firstIno, 11);
    put16(b, sb::inodeSize, static_cast<std::uint16_t>(f.inodeSize));
    put32(b, sb::featureIncompat, f.incompat);
    put16(b, sb::descSize, f.descSize);
    put32(b, sb::blocksCountHi, f.blocksHi);
    return b;
}

std::optional<Superblock> parse(const SbFields& f) {
    const auto b = superblockBytes(f);
    return parseSuperblock(ByteReader(b.data(), b.size()));
}

}  // namespace

TEST(Ext2Layout, DescriptorTableFollowsTheSuperblockBlock) {
    struct Case {
        std::uint64_t superblockAt;
        std::uint32_t blockSize;
        std::uint64_t table;
    };
    const Case cases[] = {
        {1024, 1024, 2048},                        // 1 KiB blocks: superblock is block 1
        {1024, 4096, 4096},                        // 4 KiB blocks: superblock inside block 0
        {1024, 2048, 2048},
        {8193ull * 1024, 1024, 8194ull * 1024},    // the backup in group 1
        {32768ull * 4096, 4096, 32769ull * 4096},  // the backup in group 1, 4 KiB blocks
    };
    for (const auto& c : cases)
        EXPECT_EQ(descriptorTableOffset(c.superblockAt, c.blockSize), c.table) << c.superblockAt << "/" << c.blockSize;
}

TEST(Ext2Layout, SuperblockGeometry) {
    struct Case {
        const char* what;
        SbFields f;
        bool valid;
        std::uint64_t groups;
        std::uint32_t blockSize, inodeSize, descSize;
    };
    SbFields partial;  // 20000 blocks of 1 KiB: two full groups and a partial third
    partial.blocksLo = 20000;
    partial.inodes = 3 * 2048;
    SbFields exact;  // 8193 blocks from block 1: exactly one group
    exact.blocksLo = 8193;
    SbFields fourK;
    fourK.log = 2, fourK.firstData = 0, fourK.blocksLo = 40000, fourK.bpg = 32768, fourK.ipg = 4096, fourK.inodes = 8192;
    SbFields rev0 = exact;
    rev0.rev = 0, rev0.inodeSize = 0;
    SbFields size0 = exact;
    size0.inodeSize = 0;
    SbFields wide = fourK;
    wide.incompat = 0x2 | sb::kIncompat64Bit, wide.descSize = 64;
    SbFields wideBadDesc = wide;
    wideBadDesc.descSize = 32;
    SbFields huge = fourK;  // 2^32 + 40000 blocks claimed by an inode count for one group
    huge.incompat = 0x2 | sb::kIncompat64Bit, huge.descSize = 64, huge.blocksHi = 1;
    SbFields noGroups = exact;
    noGroups.bpg = 0;
    SbFields tooBigInode = exact;
    tooBigInode.inodeSize = 2048;
    SbFields oddInode = exact;
    oddInode.inodeSize = 200;
    SbFields bigBlocks = fourK;
    bigBlocks.log = 7;

    const Case cases[] = {
        {"partial last group", partial, true, 3, 1024, 256, 32},
        {"exact group", exact, true, 1, 1024, 256, 32},
        {"4 KiB blocks, partial second group", fourK, true, 2, 4096, 256, 32},
        {"revision 0 has 128-byte inodes", rev0, true, 1, 1024, 128, 32},
        {"inode size 0 means 128", size0, true, 1, 1024, 128, 32},
        {"64bit uses the descriptor size", wide, true, 2, 4096, 256, 64},
        {"64bit with a 32-byte descriptor size", wideBadDesc, false, 0, 0, 0, 0},
        {"group count beyond the inode count", huge, false, 0, 0, 0, 0},
        {"no blocks per group", noGroups, false, 0, 0, 0, 0},
        {"inode larger than a block", tooBigInode, false, 0, 0, 0, 0},
        {"inode size not a power of two", oddInode, false, 0, 0, 0, 0},
        {"block size over 64 KiB", bigBlocks, false, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const auto s = parse(c.f);
        ASSERT_EQ(s.has_value(), c.valid) << c.what;
        if (!s) continue;
        EXPECT_EQ(s->groupCount, c.groups) << c.what;
        EXPECT_EQ(s->blockSize, c.blockSize) << c.what;
        EXPECT_EQ(s->inodeSize, c.inodeSize) << c.what;
        EXPECT_EQ(s->descSize, c.descSize) << c.what;
    }
    auto bad = superblockBytes(exact);
    put16(bad, sb::magic, 0xEF54);
    EXPECT_FALSE(parseSuperblock(ByteReader(bad.data(), bad.size())));
}

TEST(Ext2Layout, GroupDescriptorHalves) {
    std::vector<std::uint8_t> d(64, 0);
    put32(d, gd::inodeTableLo, 0x1234);
    put32(d, gd::inodeTableHi, 0x2);
    put16(d, gd::itableUnusedLo, 7);
    put16(d, gd::itableUnusedHi, 1);
    EXPECT_EQ(parseGroupDesc(ByteReader(d.data(), 32), 32).inodeTable, 0x1234u);
    EXPECT_EQ(parseGroupDesc(ByteReader(d.data(), 32), 32).itableUnused, 7u);
    EXPECT_EQ(parseGroupDesc(ByteReader(d.data(), 64), 64).inodeTable, 0x200001234ull);
    EXPECT_EQ(parseGroupDesc(ByteReader(d.data(), 64), 64).itableUnused, 0x10007u);
}

TEST(Ext2Layout, ModeTexts) {
    const std::pair<std::uint16_t, const char*> cases[] = {
        {0x81A4, "-OR-GR-UW-UR"},
        {0x41ED, "-OE-OR-GE-GR-UE-UW-UR"},
        {0x8000, ""},
        {0x81FF, "-OE-OW-OR-GE-GW-GR-UE-UW-UR"},
        {0xA1C0, "-UE-UW-UR"},
    };
    for (const auto& [mode, text] : cases) EXPECT_EQ(modeText(mode), text) << std::hex << mode;
}

namespace {

// One directory block built entry by entry; recLen 0 means "minimal".
struct DirBlock {
    std::vector<std::uint8_t> b;
    std::size_t at = 0;
    explicit DirBlock(std::size_t size) : b(size, 0) {}
    std::size_t add(std::uint32_t inode, const std::string& name, std::uint8_t type, std::uint32_t recLen = 0) {
        const std::size_t off = at;
        if (recLen == 0) recLen = dir::minimalSize(static_cast<std::uint32_t>(name.size()));
        put32(b, off, inode);
        put16(b, off + 4, static_cast<std::uint16_t>(recLen));
        b[off + 6] = static_cast<std::uint8_t>(name.size());
        b[off + 7] = type;
        putText(b, off + 8, name);
        at += recLen;
        return off;
    }
    void setRecLen(std::size_t off, std::uint32_t recLen) { put16(b, off + 4, static_cast<std::uint16_t>(recLen)); }
};

std::vector<std::string> walk(const DirBlock& d, DirWalkRules rules) {
    std::vector<std::string> out;
    walkDirectoryBlock(ByteReader(d.b.data(), d.b.size()), rules, [&](const DirEntryHit& h) {
        out.push_back((h.fromSlack ? "deleted " : "") + std::string(h.name) + "=" + std::to_string(h.inode));
    });
    return out;
}

DirWalkRules rules() {
    DirWalkRules r;
    r.fileType = true;
    r.inodesCount = 100;
    r.firstIno = 11;
    return r;
}

}  // namespace

TEST(Ext2Directory, LiveEntriesAndDeletedOnesInSlack) {
    DirBlock d(1024);
    d.add(2, ".", 2);
    const auto dotdot = d.add(2, "..", 2);
    const auto a = d.add(20, "alpha.txt", 1);
    d.add(21, "beta.txt", 1);   // removed: alpha's record grows over it
    d.add(22, "gamma", 2);      // removed too, and it was the last: alpha reaches the end
    d.setRecLen(a, static_cast<std::uint32_t>(1024 - a));
    (void)dotdot;
    EXPECT_EQ(walk(d, rules()), (std::vector<std::string>{".=2", "..=2", "alpha.txt=20", "deleted beta.txt=21", "deleted gamma=22"}));

    auto noSlack = rules();
    noSlack.walkSlack = false;
    EXPECT_EQ(walk(d, noSlack), (std::vector<std::string>{".=2", "..=2", "alpha.txt=20"}));
}

TEST(Ext2Directory, SlackEntriesThatAreNotBelievable) {
    struct Case {
        const char* what;
        std::uint32_t inode;
        std::string name;
        std::uint8_t type;
    };
    const Case cases[] = {
        {"inode beyond the count", 500, "file.txt", 1},
        {"reserved inode", 5, "file.txt", 1},
        {"control character", 30, std::string("fi\x01le"), 1},
        {"slash", 30, "a/b", 1},
        {"not UTF-8", 30, std::string("caf\xe9"), 1},
        {"file type out of range", 30, "file.txt", 9},
        {"dot dot", 30, "..", 2},
    };
    for (const auto& c : cases) {
        DirBlock d(1024);
        d.add(2, ".", 2);
        const auto a = d.add(2, "..", 2);
        d.add(c.inode, c.name, c.type);
        d.setRecLen(a, static_cast<std::uint32_t>(1024 - a));
        EXPECT_EQ(walk(d, rules()), (std::vector<std::string>{".=2", "..=2"})) << c.what;
    }
}

TEST(Ext2Directory, IndexRootAndEndOfBlock) {
    // The index root after ".." of an indexed directory is not searched for entries.
    DirBlock d(1024);
    d.add(2, ".", 2);
    d.add(2, "..", 2, 1012);
    put32(d.b, 24, 0);  // dx_root info and entries, which can look like anything
    put32(d.b, 32, 40);
    put32(d.b, 36, 0x000C0001 | (4u << 24));
    putText(d.b, 40, "abcd");
    auto r = rules();
    r.indexedDirectory = true;
    r.firstBlock = true;
    EXPECT_EQ(walk(d, r), (std::vector<std::string>{".=2", "..=2"}));

    // An entry whose inode was cleared (the first of its block) is still reported, so
    // the caller can skip it; its slack is searched; the checksum tail ends the block.
    DirBlock e(1024);
    const auto first = e.add(0, "removed_first", 1);
    e.add(40, "after", 1);
    e.setRecLen(first, 1024 - 12);
    put32(e.b, 1012, 0);
    put16(e.b, 1016, 12);
    e.b[1018] = 0;
    e.b[1019] = 0xDE;
    EXPECT_EQ(walk(e, rules()), (std::vector<std::string>{"removed_first=0", "deleted after=40"}));
}

TEST(Ext2Directory, BrokenRecordsEndTheBlock) {
    struct Case {
        const char* what;
        std::uint32_t recLen;
        std::uint8_t nameLen;
    };
    const Case cases[] = {
        {"record length 0", 0, 4},
        {"name length 0", 12, 0},
        {"name past the block", 12, 255},
    };
    for (const auto& c : cases) {
        DirBlock d(64);
        d.add(12, "good", 1);
        const std::size_t off = d.at;
        put32(d.b, off, 13);
        put16(d.b, off + 4, static_cast<std::uint16_t>(c.recLen));
        d.b[off + 6] = c.nameLen;
        d.b[off + 7] = 1;
        EXPECT_EQ(walk(d, rules()), (std::vector<std::string>{"good=12"})) << c.what;
    }
}

TEST(Ext2Directory, ANamelessRecordIsSkippedAndTheEntriesAfterItCount) {
    DirBlock d(1024);
    d.add(2, ".", 2);
    d.add(2, "..", 2);
    const auto nameless = d.add(20, "x", 1);
    d.b[nameless + 6] = 0;
    d.add(21, "..", 1);  // a file, whatever its name: only the first two entries are the links
    d.add(22, "after", 1, static_cast<std::uint32_t>(1024 - d.at));
    std::vector<std::pair<std::string, std::uint32_t>> seen;
    walkDirectoryBlock(ByteReader(d.b.data(), d.b.size()), rules(),
                       [&](const DirEntryHit& h) { seen.emplace_back(std::string(h.name) + "=" + std::to_string(h.inode), h.index); });
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::uint32_t>>{{".=2", 0}, {"..=2", 1}, {"..=21", 2}, {"after=22", 3}}));
}

namespace {

// Blocks of a small pretend volume, for the block map walks.
struct Blocks {
    explicit Blocks(std::uint32_t blockSize) : bs(blockSize) {}
    std::uint32_t bs;
    std::map<std::uint64_t, std::vector<std::uint8_t>> data;
    std::uint64_t reads = 0;
    std::vector<std::uint8_t>& at(std::uint64_t b) {
        auto& v = data[b];
        v.resize(bs, 0);
        return v;
    }
    BlockMap map(std::uint64_t blocksCount = 1ull << 40) {
        return BlockMap([this](std::uint64_t b, std::uint8_t* out) {
            ++reads;
            auto it = data.find(b);
            if (it == data.end()) return false;
            std::copy(it->second.begin(), it->second.end(), out);
            return true;
        }, bs, blocksCount);
    }
};

std::vector<std::string> runs(BlockMap m, const Inode& inode, std::uint64_t limit, bool* sound = nullptr) {
    std::vector<std::string> out;
    const bool ok = m.walk(inode, limit, [&](const BlockRun& r) {
        out.push_back(std::to_string(r.logical) + (r.zeros ? "z" : "@" + std::to_string(r.physical)) + "x" + std::to_string(r.count));
        return true;
    });
    if (sound) *sound = ok;
    return out;
}

void setWord(Inode& n, std::uint32_t i, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) n.block[i * 4 + k] = (v >> (8 * k)) & 0xFF;
}

void extentHeader(std::uint8_t* p, std::uint16_t entries, std::uint16_t max, std::uint16_t depth) {
    const std::uint16_t v[] = {ext::kMagic, entries, max, depth};
    for (int i = 0; i < 4; ++i) {
        p[i * 2] = v[i] & 0xFF;
        p[i * 2 + 1] = v[i] >> 8;
    }
}
void le32(std::uint8_t* p, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) p[k] = (v >> (8 * k)) & 0xFF;
}
void le16(std::uint8_t* p, std::uint16_t v) {
    p[0] = v & 0xFF;
    p[1] = v >> 8;
}
void leafExtent(std::uint8_t* p, std::uint32_t logical, std::uint16_t len, std::uint64_t physical) {
    le32(p, logical);
    le16(p + 4, len);
    le16(p + 6, static_cast<std::uint16_t>(physical >> 32));
    le32(p + 8, static_cast<std::uint32_t>(physical));
}
void indexEntry(std::uint8_t* p, std::uint32_t logical, std::uint64_t leaf) {
    le32(p, logical);
    le32(p + 4, static_cast<std::uint32_t>(leaf));
    le16(p + 8, static_cast<std::uint16_t>(leaf >> 32));
}

}  // namespace

TEST(Ext2BlockMap, IndirectBlocksAndHoles) {
    Blocks v(1024);  // 256 words per indirect block
    Inode n;
    setWord(n, 0, 100);
    setWord(n, 1, 101);
    setWord(n, 2, 0);  // a hole
    setWord(n, 3, 103);
    setWord(n, ino::kSingleIndirect, 500);
    setWord(n, ino::kDoubleIndirect, 600);
    setWord(n, ino::kTripleIndirect, 700);
    put32(v.at(500), 0, 200);
    put32(v.at(500), 4, 201);
    put32(v.at(500), 255 * 4, 300);        // logical 12 + 255
    put32(v.at(600), 1 * 4, 601);          // second single-indirect block of the double
    put32(v.at(601), 2 * 4, 900);          // logical 12 + 256 + 256 + 2
    put32(v.at(700), 0, 701);
    put32(v.at(701), 0, 702);
    put32(v.at(702), 0, 1000);             // first block of the triple range
    put32(v.at(702), 4, 1001);
    const std::uint64_t tripleBase = 12 + 256 + 256 * 256;
    EXPECT_EQ(runs(v.map(), n, tripleBase + 10),
              (std::vector<std::string>{"0@100x2", "3@103x1", "12@200x2", "267@300x1", "526@900x1",
                                        std::to_string(tripleBase) + "@1000x2"}));
    // The walk ends at the limit without reading further indirect blocks.
    v.reads = 0;
    EXPECT_EQ(runs(v.map(), n, 13), (std::vector<std::string>{"0@100x2", "3@103x1", "12@200x1"}));
    EXPECT_EQ(v.reads, 1u);
    // An indirect block that cannot be read leaves a hole and says so.
    v.data.erase(601);
    bool sound = true;
    EXPECT_EQ(runs(v.map(), n, 600, &sound), (std::vector<std::string>{"0@100x2", "3@103x1", "12@200x2", "267@300x1"}));
    EXPECT_FALSE(sound);
}

TEST(Ext2BlockMap, ExtentTreesOfAnyDepth) {
    Blocks v(1024);
    Inode n;
    n.flags = ino::kExtentsFl;
    // Root: depth 2 with two index entries.
    extentHeader(n.block.data(), 2, 4, 2);
    indexEntry(n.block.data() + 12, 0, 50);
    indexEntry(n.block.data() + 24, 1000, 51);
    // Depth 1 node 50 -> leaves 60, 61; node 51 -> leaf 62.
    extentHeader(v.at(50).data(), 2, 84, 1);
    indexEntry(v.at(50).data() + 12, 0, 60);
    indexEntry(v.at(50).data() + 24, 100, 61);
    extentHeader(v.at(51).data(), 1, 84, 1);
    indexEntry(v.at(51).data() + 12, 1000, 62);
    extentHeader(v.at(60).data(), 2, 84, 0);
    leafExtent(v.at(60).data() + 12, 0, 4, 0x1234567890ull);   // 48-bit start
    leafExtent(v.at(60).data() + 24, 10, 32768 + 5, 7777);     // unwritten: 5 blocks of zeros
    extentHeader(v.at(61).data(), 1, 84, 0);
    leafExtent(v.at(61).data() + 12, 100, 32768, 2000);        // exactly 32768 is written
    extentHeader(v.at(62).data(), 1, 84, 0);
    leafExtent(v.at(62).data() + 12, 40000, 3, 3000);
    EXPECT_EQ(runs(v.map(), n, 50000),
              (std::vector<std::string>{"0@78187493520x4", "10zx5", "100@2000x32768", "40000@3000x3"}));
    EXPECT_EQ(runs(v.map(), n, 12), (std::vector<std::string>{"0@78187493520x4", "10zx2"}));

    // A node that names itself, or a child of the wrong depth, ends that branch.
    indexEntry(v.at(50).data() + 24, 100, 50);
    bool sound = true;
    EXPECT_EQ(runs(v.map(), n, 50000, &sound), (std::vector<std::string>{"0@78187493520x4", "10zx5", "40000@3000x3"}));
    EXPECT_FALSE(sound);
    // A wrong magic in the inode: nothing.
    n.block[0] = 0;
    EXPECT_TRUE(runs(v.map(), n, 50000, &sound).empty());
    EXPECT_FALSE(sound);
}
