// exFAT: entry sets, the advanced slot rules and finders on bytes built here; the
// standard and advanced scans and extraction on images made by mkfs.exfat and
// exfat-fuse (tools/fixtures/make_exfat_fixtures.sh).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <sstream>

#include "common/Messages.h"
#include "device/FileReadSeek.h"
#include "device/MemoryReadSeek.h"
#include "fs/ParserFactory.h"
#include "fs/fat/Fat64Class.h"
#include "platform/Output.h"
#include "platform/Time.h"
#include "support/TestSupport.h"
#include "widgets/CUseShGetFileInfo.h"
#include "widgets/CXHtmlTree.h"

using namespace kelvara;
using namespace kelvara::test;

namespace {

class RecordingMessages final : public MessageService {
public:
    RecordingMessages() { previous_ = setMessageService(this); }
    ~RecordingMessages() override { setMessageService(previous_); }
    MessageAnswer show(const std::string& text, const std::string&, MessageIcon, MessageButtons) override {
        shown.push_back(text);
        return MessageAnswer::Ok;
    }
    std::vector<std::string> shown;

private:
    MessageService* previous_ = nullptr;
};

// ---- entry sets built in memory ------------------------------------------

std::u16string u16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

struct SetSpec {
    std::uint8_t type = 0x85;  // 0x05 deleted: stream and names follow in deleted form
    std::uint16_t attributes = 0x20;
    std::u16string name;
    std::uint32_t firstCluster = 0;
    std::uint64_t size = 0;
    std::uint8_t flags = 1;
    std::uint32_t stamp = (44u << 25) | (3u << 21) | (5u << 16) | (10u << 11) | (20u << 5) | 15u;
};

// One entry set as slots.
std::vector<std::uint8_t> entrySet(const SetSpec& s) {
    const bool deleted = s.type == 0x05;
    const std::size_t names = (s.name.size() + 14) / 15;
    std::vector<std::uint8_t> b(32 * (2 + names), 0);
    b[0] = s.type;
    b[1] = std::uint8_t(1 + names);
    put16(b, 4, s.attributes);
    put32(b, 8, s.stamp);
    put32(b, 12, s.stamp);
    put32(b, 16, s.stamp);
    b[32] = deleted ? 0x40 : 0xC0;
    b[33] = s.flags;
    b[35] = std::uint8_t(s.name.size());
    put64(b, 40, s.size);
    put32(b, 52, s.firstCluster);
    put64(b, 56, s.size);
    for (std::size_t k = 0; k < names; ++k) {
        const std::size_t at = 64 + 32 * k;
        b[at] = deleted ? 0x41 : 0xC1;
        for (std::size_t u = 0; u < 15 && k * 15 + u < s.name.size(); ++u) put16(b, at + 2 + 2 * u, s.name[k * 15 + u]);
    }
    return b;
}

TEST(Fat64EntrySet, ParsesNamesAndFields) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> slots;
        bool parsed;
        std::string name;
        std::size_t slotCount;
    };
    SetSpec twenty{.name = u16("ABCDEFGHIJKLMNOPQRST"), .firstCluster = 9, .size = 1234};
    SetSpec gone{.type = 0x05, .name = u16("deleted-name.txt")};
    // A live set followed by the deleted name entry a shorter rename left behind.
    auto renamed = entrySet({.name = u16("short.txt")});
    std::vector<std::uint8_t> stale(32, 0);
    stale[0] = 0x41;
    put16(stale, 2, 'X');
    renamed.insert(renamed.end(), stale.begin(), stale.end());
    // 40 name entries: only 32 are gathered.
    SetSpec longRun{.name = std::u16string(600, u'n')};
    // No stream entry: the names follow the file entry directly.
    auto noStream = entrySet({.name = u16("abc")});
    noStream.erase(noStream.begin() + 32, noStream.begin() + 64);
    // Surrogate pair split over two name entries.
    std::u16string split = u16("fourteen-chars");
    split += u'\xD83D';
    split += u'\xDE00';
    auto notAFile = entrySet({.name = u16("x")});
    notAFile[0] = 0x04;

    const Case cases[] = {
        {"20 characters over two name entries", entrySet(twenty), true, "ABCDEFGHIJKLMNOPQRST", 4},
        {"deleted set keeps its name", entrySet(gone), true, "deleted-name.txt", 4},
        {"stale deleted name entry after a live set", renamed, true, "short.txt", 3},
        {"name run cut at 32 entries", entrySet(longRun), true, std::string(480, 'n'), 34},
        {"set without stream entry", noStream, true, "abc", 2},
        {"surrogate pair across entries", entrySet({.name = split}), true, "fourteen-chars\xF0\x9F\x98\x80", 4},
        {"not a file entry", notAFile, false, "", 0},
        {"truncated slot", std::vector<std::uint8_t>(20, 0x85), false, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto p = exfat::parseEntrySet(c.slots);
        ASSERT_EQ(p.has_value(), c.parsed);
        if (!p) continue;
        EXPECT_EQ(p->record.name, c.name);
        EXPECT_EQ(p->slots, c.slotCount);
    }
    auto p = exfat::parseEntrySet(entrySet(twenty));
    EXPECT_EQ(p->record.entryType, 0x85);
    EXPECT_EQ(p->record.streamType, 0xC0);
    EXPECT_EQ(p->record.firstCluster, 9u);
    EXPECT_EQ(p->record.validDataLength, 1234u);
    EXPECT_EQ(p->record.nameLength, 20);
    auto d = exfat::parseEntrySet(entrySet(gone));
    EXPECT_EQ(d->record.entryType, 0x05);
    EXPECT_EQ(d->record.streamType, 0x40);
}

TEST(Fat64EntrySet, AdvancedSlotRules) {
    struct Case {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> change;
        std::size_t accepted;
    };
    const SetSpec base{.name = u16("ABCDEFGHIJKLMNOPQRST"), .firstCluster = 5, .size = 10};
    const Case cases[] = {
        {"plain file set", [](auto&) {}, 4},
        {"deleted forms", [](auto& b) { b[0] = 0x05; b[32] = 0x40; b[64] = 0x41; b[96] = 0x41; }, 4},
        {"folder 0x30", [](auto& b) { b[4] = 0x30; }, 4},
        {"attribute 0x14", [](auto& b) { b[4] = 0x14; }, 0},
        {"attribute 0x21", [](auto& b) { b[4] = 0x21; }, 0},
        {"attribute high byte ignored", [](auto& b) { b[5] = 0x7F; }, 4},
        {"file reserved field set", [](auto& b) { b[6] = 1; }, 0},
        {"file bytes 25-31 not zero", [](auto& b) { b[31] = 1; }, 0},
        {"stream byte 2 set", [](auto& b) { b[34] = 1; }, 0},
        {"stream reserved 16-bit set", [](auto& b) { b[39] = 1; }, 0},
        {"stream reserved 32-bit set", [](auto& b) { b[50] = 1; }, 0},
        {"stream flags 3", [](auto& b) { b[33] = 3; }, 4},
        {"stream flags 2", [](auto& b) { b[33] = 2; }, 0},
        {"no stream", [](auto& b) { b[32] = 0xC1; }, 0},
        {"name length 0", [](auto& b) { b[35] = 0; }, 0},
        {"name length 16 needs two", [](auto& b) { b[35] = 16; }, 4},
        {"name length 31 needs three", [](auto& b) { b[35] = 31; }, 0},
        {"name flags 3", [](auto& b) { b[65] = 3; }, 4},
        {"name flags 4", [](auto& b) { b[97] = 4; }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto b = entrySet(base);
        c.change(b);
        EXPECT_EQ(exfat::acceptEntrySet(b), c.accepted);
    }
}

TEST(Fat64Times, StampsToUtc) {
    // 2024-03-05 10:20:30
    const std::uint32_t stamp = (44u << 25) | (3u << 21) | (5u << 16) | (10u << 11) | (20u << 5) | 15u;
    const std::int64_t base = 1709634030;
    struct Case {
        std::uint8_t tenMs, offset;
        std::optional<std::int64_t> seconds;
        std::uint32_t nanos;
    };
    const Case cases[] = {
        {0, 0x00, base, 0},                        // no valid offset: local time (TZ=UTC)
        {0, 0x80, base, 0},                        // UTC
        {0, 0x80 | 8, base - 2 * 3600, 0},         // UTC+2
        {0, 0x80 | (0x80 - 20), base + 5 * 3600, 0},  // UTC-5
        {137, 0x80, base + 1, 370000000},          // 10 ms steps added
        {250, 0x80, base, 0},                      // out-of-range increment ignored
    };
    for (const auto& c : cases) {
        auto t = exfat::timestampToUtc(stamp, c.tenMs, c.offset);
        ASSERT_TRUE(t.has_value());
        EXPECT_EQ(t->seconds, *c.seconds) << int(c.offset);
        EXPECT_EQ(t->nanoseconds, c.nanos);
    }
    EXPECT_FALSE(exfat::timestampToUtc(0, 0, 0x80).has_value());  // month 0
}

// ---- small volumes built in memory ----------------------------------------

// 1 MiB, 512-byte sectors and clusters; FAT at sector 8, heap at sector 32.
struct MiniVolume {
    static constexpr std::uint32_t kCluster = 512;
    static constexpr std::uint64_t kFat = 8 * 512, kHeap = 32 * 512;
    std::vector<std::uint8_t> img = std::vector<std::uint8_t>(1 << 20, 0);

    explicit MiniVolume(std::uint32_t rootCluster = 2) {
        putText(img, 3, "EXFAT   ");
        put32(img, 80, 8);
        put32(img, 88, 32);
        put32(img, 92, std::uint32_t((img.size() - kHeap) / kCluster));
        put32(img, 96, rootCluster);
        img[108] = 9;
        img[109] = 0;
        img[510] = 0x55;
        img[511] = 0xAA;
        fat(0, 0xFFFFFFF8);
        fat(1, 0xFFFFFFFF);
    }
    std::uint64_t at(std::uint32_t c) const { return kHeap + std::uint64_t(c - 2) * kCluster; }
    void fat(std::uint32_t c, std::uint32_t v) { put32(img, kFat + 4 * c, v); }
    void chain(std::initializer_list<std::uint32_t> cs) {
        std::vector<std::uint32_t> v(cs);
        for (std::size_t i = 0; i < v.size(); ++i) fat(v[i], i + 1 < v.size() ? v[i + 1] : 0xFFFFFFFF);
    }
    void put(std::uint64_t off, const std::vector<std::uint8_t>& b) { std::copy(b.begin(), b.end(), img.begin() + std::ptrdiff_t(off)); }
    void fill(std::uint32_t c, std::uint8_t v) { std::fill_n(img.begin() + std::ptrdiff_t(at(c)), kCluster, v); }
};

struct Scanned {
    MemoryReadSeek reader;
    CXHtmlTree tree;
    Fat64Class parser;
    explicit Scanned(std::vector<std::uint8_t> img, const std::string& sizeText = "1  MB") : reader(std::move(img)) {
        tree.initialize();
        parser.reader = &reader;
        parser.tree = &tree;
        parser.volume.FILE_SYSTEM = "fat64";
        parser.volume.VOLUME_SIZE = sizeText;
    }
    std::map<std::string, EntryRef> paths() const {
        std::map<std::string, EntryRef> out;
        walk(parser.volumeRoot(), "", out, 0);
        return out;
    }
    void walk(EntryRef dir, const std::string& prefix, std::map<std::string, EntryRef>& out, int depth) const {
        if (depth > 64) return;
        for (EntryRef c = parser.firstChild(dir); c != kNoEntry; c = parser.nextSibling(c)) {
            const std::string p = prefix + parser.name(c);
            out.emplace(p, c);
            if (parser.hasChildren(c)) walk(c, p + "/", out, depth + 1);
        }
    }
    struct Top {
        std::string name;
        bool folder, red;
    };
    std::vector<Top> topLevel() const {
        std::vector<Top> out;
        for (TreeItem i = tree.getChildItem(tree.getRootItem()); i != kNoItem; i = tree.getNextSiblingItem(i))
            out.push_back({tree.getItemText(i), tree.getItemImage(i) == CUseShGetFileInfo::kFolderIcon,
                           tree.getItemColor(i) == kRed});
        return out;
    }
};

TEST(Fat64Standard, WholeRootChainContiguousFoldersAndTopLevelRules) {
    MiniVolume v;
    // Root: clusters 2 and 7, on its FAT chain.
    v.chain({2, 7});
    std::vector<std::uint8_t> root;
    auto add = [&](const SetSpec& s) { auto b = entrySet(s); root.insert(root.end(), b.begin(), b.end()); };
    add({.attributes = 0x10, .name = u16("Contig"), .firstCluster = 3, .size = 2 * 512, .flags = 3});
    add({.attributes = 0x14, .name = u16("Attr14"), .firstCluster = 5, .size = 512, .flags = 3});
    add({.type = 0x05, .name = u16("gone.txt"), .firstCluster = 6, .size = 100, .flags = 3});
    while (root.size() + 96 <= 512) add({.name = u16("pad" + std::to_string(root.size()) + ".txt")});
    v.put(v.at(2), root);
    v.put(v.at(7), entrySet({.name = u16("second.txt"), .firstCluster = 8, .size = 5, .flags = 3}));
    // Contig spans clusters 3 and 4; the entry in cluster 4 is only seen when the
    // folder is read for its whole length.
    v.put(v.at(3), entrySet({.name = u16("first-half.txt")}));
    v.put(v.at(4), entrySet({.name = u16("second-half.txt")}));
    v.put(v.at(5), entrySet({.name = u16("inside14.txt")}));

    Scanned s(v.img);
    ASSERT_TRUE(s.parser.runScan(1));
    const auto p = s.paths();
    for (const char* want : {"Contig/first-half.txt", "Contig/second-half.txt", "second.txt", "gone.txt",
                             "Attr14", "Attr14/inside14.txt"})
        EXPECT_TRUE(p.count(want)) << want;
    EXPECT_TRUE(s.parser.isDeleted(p.at("gone.txt")));
    EXPECT_FALSE(s.parser.isDirectory(p.at("Attr14")));  // walked, but listed as a file
    EXPECT_EQ(s.parser.name(s.parser.volumeRoot()), "DUMMY ENTRY");
    EXPECT_TRUE(s.parser.isSaveableDirectory(s.parser.volumeRoot()));

    std::map<std::string, Scanned::Top> top;
    for (const auto& t : s.topLevel()) top.emplace(t.name, t);
    EXPECT_FALSE(top.count("DUMMY ENTRY"));
    ASSERT_TRUE(top.count("Contig") && top.count("Attr14") && top.count("gone.txt") && top.count("second.txt"));
    EXPECT_TRUE(top.at("Contig").folder);
    EXPECT_FALSE(top.at("Attr14").folder);
    EXPECT_TRUE(top.at("gone.txt").red);
    EXPECT_FALSE(top.at("second.txt").red);
}

TEST(Fat64Standard, HostileStructuresEndQuietly) {
    {  // A folder whose chain loops back and a folder that contains the root.
        MiniVolume v;
        v.chain({2});
        std::vector<std::uint8_t> root = entrySet({.attributes = 0x10, .name = u16("Loop"), .firstCluster = 3, .size = 512});
        auto self = entrySet({.attributes = 0x10, .name = u16("Self"), .firstCluster = 2, .size = 512});
        root.insert(root.end(), self.begin(), self.end());
        v.put(v.at(2), root);
        v.fat(3, 4);
        v.fat(4, 3);
        v.put(v.at(3), entrySet({.name = u16("a.txt")}));
        v.put(v.at(4), entrySet({.name = u16("b.txt")}));
        Scanned s(v.img);
        ASSERT_TRUE(s.parser.runScan(1));
        const auto p = s.paths();
        EXPECT_TRUE(p.count("Loop/a.txt") && p.count("Loop/b.txt"));
        EXPECT_EQ(s.parser.entries().size(), 5u);  // DUMMY, Loop, Self, a, b
    }
    {  // Shifts past what the format allows are no exFAT boot sector.
        MiniVolume v;
        v.img[108] = 12;
        v.img[109] = 20;
        RecordingMessages m;
        Scanned s(v.img);
        ASSERT_TRUE(s.parser.runScan(1));
        EXPECT_EQ(m.shown, std::vector<std::string>{"Selected Drive is not in exFat Format"});
        EXPECT_TRUE(s.parser.entries().empty());
    }
    {  // Root cluster beyond the volume.
        MiniVolume v(0x7FFFFFFF);
        RecordingMessages m;
        Scanned s(v.img);
        ASSERT_TRUE(s.parser.runScan(1));
        EXPECT_EQ(m.shown, std::vector<std::string>{"error..."});
    }
    {  // An image too short for a boot sector.
        RecordingMessages m;
        Scanned s(std::vector<std::uint8_t>(100, 0));
        ASSERT_TRUE(s.parser.runScan(1));
        EXPECT_EQ(m.shown, (std::vector<std::string>{"cant read file", "Selected Drive is not in exFat Format"}));
    }
    EXPECT_FALSE(Scanned(MiniVolume().img).parser.runScan(3));
}

TEST(Fat64Extract, ChainsUnreadableClustersAndBounds) {
    MiniVolume v;
    v.chain({2});
    std::vector<std::uint8_t> root;
    auto add = [&](const SetSpec& s) { auto b = entrySet(s); root.insert(root.end(), b.begin(), b.end()); };
    add({.name = u16("chain.bin"), .firstCluster = 10, .size = 1280, .flags = 1});   // 10 -> 20 -> 11
    add({.name = u16("contig.bin"), .firstCluster = 30, .size = 1500, .flags = 3});  // 30..32
    add({.name = u16("loop.bin"), .firstCluster = 40, .size = 512 * 50, .flags = 1});  // 40 <-> 41
    add({.name = u16("huge.bin"), .firstCluster = 2040, .size = 1ull << 40, .flags = 3});
    add({.name = u16("empty.txt")});
    v.put(v.at(2), root);
    v.chain({10, 20, 11});
    v.fat(40, 41);
    v.fat(41, 40);
    v.fill(10, 'a');
    v.fill(20, 'b');
    v.fill(11, 'c');
    v.fill(30, 'x');
    v.fill(31, 'y');
    v.fill(32, 'z');
    Scanned s(v.img);
    s.reader.markUnreadable(v.at(31), 512);  // the middle of contig.bin
    ASSERT_TRUE(s.parser.runScan(1));
    const auto p = s.paths();
    ScratchDir out;

    auto r = s.parser.extractEntry(p.at("chain.bin"), out.path());
    ASSERT_TRUE(r.created);
    EXPECT_TRUE(r.complete) << r.message;
    auto bytes = readFileBytes(r.path);
    ASSERT_EQ(bytes.size(), 1280u);
    EXPECT_EQ(bytes[0], 'a');
    EXPECT_EQ(bytes[600], 'b');
    EXPECT_EQ(bytes[1279], 'c');

    r = s.parser.extractEntry(p.at("contig.bin"), out.path());
    EXPECT_FALSE(r.complete);
    bytes = readFileBytes(r.path);
    ASSERT_EQ(bytes.size(), 1500u);
    EXPECT_EQ(bytes[0], 'x');
    EXPECT_EQ(bytes[700], 0);
    EXPECT_EQ(bytes[1499], 'z');

    r = s.parser.extractEntry(p.at("loop.bin"), out.path());  // ends: lookups are bounded
    EXPECT_LE(readFileBytes(r.path).size(), 512u * 50);

    r = s.parser.extractEntry(p.at("huge.bin"), out.path());  // cut at the volume's end
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(readFileBytes(r.path).size(), 8u * 512);

    // A reformatted drive: no FAT lookups, the file is read on from its first cluster.
    s.parser.driveFormatted = true;
    r = s.parser.extractEntry(p.at("chain.bin"), out.path());
    bytes = readFileBytes(r.path);
    ASSERT_EQ(bytes.size(), 1280u);
    EXPECT_EQ(bytes[600], 'c');
    s.parser.driveFormatted = false;

    r = s.parser.extractEntry(p.at("empty.txt"), out.path());
    EXPECT_TRUE(r.complete);
    EXPECT_TRUE(readFileBytes(r.path).empty());
}

TEST(Fat64Advanced, FinderCounts) {
    MiniVolume v;
    for (std::uint64_t k = 0; k < 10; ++k) put64(v.img, 100 * 1024 + k * 512, ~0ull);  // ten heap-like sectors
    for (std::uint64_t k = 1; k <= 3; ++k) {  // three more FAT copies
        put32(v.img, v.kFat + k * 4096, 0xFFFFFFF8);
        put32(v.img, v.kFat + k * 4096 + 4, 0xFFFFFFFF);
    }
    put32(v.img, 200 * 1024, 0x0FFFFFF8);  // FAT32's signature is no exFAT FAT
    put32(v.img, 200 * 1024 + 4, 0xFFFFFFFF);
    Scanned s(v.img);
    s.parser.attachReader();
    EXPECT_EQ(s.parser.findFats(3).size(), 3u);
    EXPECT_EQ(s.parser.findFats(0).size(), 3u);
    EXPECT_EQ(s.parser.findFats(10).size(), 4u);
    EXPECT_EQ(s.parser.foundFats().front(), v.kFat);
    EXPECT_EQ(s.parser.findHeapOffsets(3).size(), 4u);
    EXPECT_EQ(s.parser.findHeapOffsets(20).size(), 10u);

    // The boot heap offset replaces the first heap position; with no cluster shift
    // chosen the boot sector's is used.
    AdvancedChoice three;
    three.maxFileSystems = 3;
    auto texts = s.parser.prepareAdvanced(three);
    EXPECT_EQ(s.parser.foundHeaps().size(), 4u);
    EXPECT_EQ(s.parser.foundHeaps().front(), v.kHeap);
    EXPECT_EQ(texts.front(), "FAT64_ENTRY:0");
    EXPECT_EQ(texts.back(), "HEAP_OFFSET_ENTRY:3");
}

// ---- fixtures ---------------------------------------------------------------

struct ManifestLine {
    bool deleted = false, dir = false;
    std::uint64_t size = 0;
    std::string sha, path;
    std::int64_t mtime = 0, atime = 0;
};

std::vector<ManifestLine> readManifest(const std::string& name) {
    std::ifstream in(fixtureFile(name + ".manifest"));
    std::vector<ManifestLine> out;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        std::string part;
        while (std::getline(ss, part, '\t')) f.push_back(part);
        if (f.size() != 7) continue;
        out.push_back({f[0] == "deleted", f[1] == "d", std::stoull(f[2]), f[3], f[6], std::stoll(f[4]), std::stoll(f[5])});
    }
    return out;
}

struct FixtureScan {
    FileReadSeek reader;
    CXHtmlTree tree;
    std::unique_ptr<VolumeParser> parser = createParser("exFat");
    explicit FixtureScan(const std::string& name) {
        EXPECT_TRUE(reader.open(fixtureImage(name)));
        tree.initialize();
        parser->reader = &reader;
        parser->tree = &tree;
        parser->volume.FILE_SYSTEM = "fat64";
        parser->volume.VOLUME_SIZE = std::to_string(reader.byteSize() >> 20) + "  MB";
    }
    std::map<std::string, EntryRef> paths(bool stripOrphan = false) const {
        std::map<std::string, EntryRef> out;
        walk(parser->volumeRoot(), "", out, stripOrphan, 0);
        return out;
    }
    void walk(EntryRef dir, const std::string& prefix, std::map<std::string, EntryRef>& out, bool strip, int depth) const {
        if (depth > 64) return;
        for (EntryRef c = parser->firstChild(dir); c != kNoEntry; c = parser->nextSibling(c)) {
            const bool orphan = strip && depth == 0 && parser->name(c) == "ORPHAN ENTRY";
            const std::string p = orphan ? "" : prefix + parser->name(c);
            if (!orphan && !out.emplace(p, c).second) ADD_FAILURE() << "listed twice: " << p;
            if (parser->hasChildren(c)) walk(c, orphan ? "" : p + "/", out, strip, depth + 1);
        }
    }
};

struct Stat {
    std::int64_t mtime, atime;
};
Stat statTimes(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return {st.st_mtim.tv_sec, st.st_atim.tv_sec};
}

// Every manifest entry is listed with its kind, deleted state and size, and every
// file is written byte-identical with its times; deleted files too, where the
// listed expectation (fully intact, or only the first cluster) says so.
void checkFixture(FixtureScan& s, const std::string& manifest, bool stripOrphan,
                  const std::map<std::string, std::uint64_t>& firstClusterOnly = {}) {
    const auto found = s.paths(stripOrphan);
    ScratchDir out;
    int n = 0;
    for (const auto& m : readManifest(manifest)) {
        SCOPED_TRACE(m.path);
        auto it = found.find(m.path);
        ASSERT_NE(it, found.end());
        const EntryRef e = it->second;
        EXPECT_EQ(s.parser->isDirectory(e), m.dir);
        EXPECT_EQ(s.parser->isDeleted(e), m.deleted);
        if (m.dir) continue;
        EXPECT_EQ(s.parser->size(e), m.size);
        const std::string folder = out.file(std::to_string(n++));
        ASSERT_TRUE(platform::makeDirectories(folder));
        const auto r = s.parser->extractEntry(e, folder);
        ASSERT_TRUE(r.created) << r.message;
        if (auto cut = firstClusterOnly.find(m.path); cut != firstClusterOnly.end()) {
            EXPECT_FALSE(r.complete);
            EXPECT_EQ(readFileBytes(r.path).size(), cut->second);
            continue;
        }
        EXPECT_TRUE(r.complete) << r.message;
        const Stat t = statTimes(r.path);  // before reading it moves the access time
        EXPECT_EQ(t.mtime, m.mtime);
        // The manifest has the driver's in-memory access time; the disk keeps it in
        // 2-second steps.
        EXPECT_EQ(t.atime, m.atime - m.atime % 2);
        EXPECT_EQ(sha256OfFile(r.path), m.sha);
    }
}

TEST(Fat64Fixtures, StandardScanListsAndRecoversEverything) {
    struct Case {
        const char* image;
        std::map<std::string, std::uint64_t> firstClusterOnly;
    };
    // exfat-fuse clears the FAT chain of a deleted fragmented file: only its first
    // cluster is left to follow.
    const Case cases[] = {{"exfat_c4k", {}}, {"exfat_c512", {{"gone_fragmented_file.bin", 512}}}, {"exfat_c32k", {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        FixtureScan s(c.image);
        ASSERT_TRUE(s.parser->runScan(1));
        checkFixture(s, c.image, false, c.firstClusterOnly);
    }
}

TEST(Fat64Fixtures, TopLevelOfTheResultsTree) {
    FixtureScan s("exfat_c4k");
    ASSERT_TRUE(s.parser->runScan(1));
    const TreeItem root = s.tree.getRootItem();
    EXPECT_EQ(s.tree.getItemText(root), "ROOT");
    std::map<std::string, TreeItem> top;
    for (TreeItem i = s.tree.getChildItem(root); i != kNoItem; i = s.tree.getNextSiblingItem(i))
        top.emplace(s.tree.getItemText(i), i);
    std::size_t expected = 0;
    for (const auto& m : readManifest("exfat_c4k")) {
        if (m.path.find('/') != std::string::npos) continue;
        ++expected;
        SCOPED_TRACE(m.path);
        ASSERT_TRUE(top.count(m.path));
        const TreeItem i = top.at(m.path);
        EXPECT_EQ(s.tree.getItemColor(i) == kRed, m.deleted);
        EXPECT_EQ(s.tree.getItemImage(i) == CUseShGetFileInfo::kFolderIcon, m.dir);
        EXPECT_EQ(s.parser->name(s.tree.getItemData(i)), m.path);
    }
    EXPECT_EQ(top.size(), expected);
}

TEST(Fat64Fixtures, AdvancedScanOfAWipedBootSector) {
    {
        RecordingMessages m;
        FixtureScan s("exfat_wiped");
        ASSERT_TRUE(s.parser->runScan(1));
        EXPECT_EQ(m.shown, std::vector<std::string>{"Selected Drive is not in exFat Format"});
    }
    // The heap of the intact copy is where the advanced scan has to look.
    std::uint64_t heap = 0;
    {
        FixtureScan intact("exfat_c512");
        auto& p = static_cast<Fat64Class&>(*intact.parser);
        p.attachReader();
        ASSERT_TRUE(p.checkBootSector());
        heap = p.bootHeapOffset();
    }
    FixtureScan s("exfat_wiped");
    auto& p = static_cast<Fat64Class&>(*s.parser);
    AdvancedChoice choice;
    choice.clusterShift = 0;  // 512-byte clusters
    auto texts = p.prepareAdvanced(choice);
    ASSERT_FALSE(texts.empty());
    const auto& heaps = p.foundHeaps();
    const auto at = std::find(heaps.begin(), heaps.end(), heap);
    ASSERT_NE(at, heaps.end());
    choice.heapOffset = int(at - heaps.begin());
    p.prepareAdvanced(choice);
    ASSERT_TRUE(p.runScan(2));
    EXPECT_EQ(p.name(p.volumeRoot()), "DUMMY ENTRY");
    checkFixture(s, "exfat_wiped", true, {{"gone_fragmented_file.bin", 512}});
    // The entries past the root's first cluster hang under ORPHAN ENTRY, never red.
    bool orphanShown = false;
    for (TreeItem i = s.tree.getChildItem(s.tree.getRootItem()); i != kNoItem; i = s.tree.getNextSiblingItem(i))
        if (s.tree.getItemText(i) == "ORPHAN ENTRY") orphanShown = s.tree.getItemColor(i) != kRed;
    EXPECT_TRUE(orphanShown);
}

TEST(Fat64Fixtures, AdvancedScanOfAnIntactVolumeUsesItsBootGeometry) {
    FixtureScan s("exfat_c512");
    auto& p = static_cast<Fat64Class&>(*s.parser);
    ASSERT_FALSE(p.prepareAdvanced({}).empty());
    ASSERT_TRUE(p.runScan(2));
    EXPECT_EQ(p.clusterSize(), 512u);
    checkFixture(s, "exfat_c512", true, {{"gone_fragmented_file.bin", 512}});
}

}  // namespace

namespace {

// The results page gives recycled files back their names from the $I files, through
// this parser's extraction and renaming.
TEST(Fat64Recycle, ResultsPageRestoresTheDeletedFilesName) {
    MiniVolume v;
    v.chain({2});
    v.put(v.at(2), entrySet({.attributes = 0x16, .name = u16("$RECYCLE.BIN"), .firstCluster = 3, .size = 512, .flags = 3}));
    v.put(v.at(3), entrySet({.attributes = 0x10, .name = u16("S-1-5-21-1"), .firstCluster = 4, .size = 512, .flags = 3}));
    const std::string original = "C:\\Users\\me\\report.txt";
    std::vector<std::uint8_t> index(28 + 2 * (original.size() + 1), 0);
    put64(index, 0, 2);
    put64(index, 8, 5);
    put32(index, 24, std::uint32_t(original.size() + 1));
    for (std::size_t i = 0; i < original.size(); ++i) put16(index, 28 + 2 * i, std::uint8_t(original[i]));
    std::vector<std::uint8_t> user = entrySet({.name = u16("$I123456.txt"), .firstCluster = 5, .size = index.size(), .flags = 3});
    auto r = entrySet({.name = u16("$R123456.txt"), .firstCluster = 6, .size = 5, .flags = 3});
    user.insert(user.end(), r.begin(), r.end());
    v.put(v.at(4), user);
    v.put(v.at(5), index);
    v.put(v.at(6), {'h', 'e', 'l', 'l', 'o'});
    ScratchDir dir;
    writeFileBytes(dir.file("recycle.img"), v.img);

    const auto listed = runCli({"list", dir.file("recycle.img"), "--start-sector", "0", "--fs", "exFat", "--path",
                                "ROOT/$RECYCLE.BIN/S-1-5-21-1"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find("report.txt"), std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.find("$R123456.txt"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("$I123456.txt"), std::string::npos) << listed.out;
}

}  // namespace
