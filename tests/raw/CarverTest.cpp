// The carving engine over in-memory volumes: matching, pairing of starts and ends, the
// flush, the length-field path, skips, the tree it builds, and saving finds.

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "common/Text.h"

#include "device/MemoryReadSeek.h"
#include "platform/Output.h"
#include "raw/RawSave.h"
#include "raw/RawTestSupport.h"
#include "raw/myJpg.h"
#include "support/TestSupport.h"
#include "widgets/CUseShGetFileInfo.h"

using namespace kelvara;
using kelvara::test::RecordedMessages;

namespace {

constexpr std::int64_t MiB = 1048576;

SignatureFields sig(const std::string& ext, const std::string& start, const std::string& end = "",
                    const std::string& approx = "", const std::string& category = "Cat") {
    SignatureFields f;
    f.extension = ext;
    f.startSignature = start;
    f.endSignature = end;
    f.approxFileSize = approx;
    f.category = category;
    return f;
}

void place(std::vector<std::uint8_t>& v, std::int64_t at, std::initializer_list<std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), v.begin() + at);
}

struct Finds {
    std::int64_t start, length;
    std::string name;
    bool operator==(const Finds&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Finds& f) {
    return o << "{" << f.start << ", " << f.length << ", \"" << f.name << "\"}";
}

struct Carve {
    explicit Carve(std::int64_t size) : image(static_cast<std::size_t>(size), 0) {}
    Carve& add(const SignatureFields& f) {
        engine.addSignature(test::recordFrom(f));
        return *this;
    }
    std::vector<Finds> run() {
        reader.setData(image);
        tree.initialize();
        tree.setSmartCheckBoxes(true);
        engine.reader = &reader;
        engine.volumeSize = static_cast<std::int64_t>(image.size());
        engine.tree = &tree;
        EXPECT_TRUE(engine.scanVolume());
        std::vector<Finds> out;
        for (const auto& f : engine.found()) out.push_back({f.start, f.length, f.name});
        return out;
    }
    std::vector<std::uint8_t> image;
    MemoryReadSeek reader;
    CXHtmlTree tree;
    myJpg engine;
    RecordedMessages messages;
};

}  // namespace

TEST(Carver, MatchingAtSectorStarts) {
    myJpg engine;
    engine.addSignature(test::recordFrom(sig("one", "0x89")));
    engine.addSignature(test::recordFrom(sig("wld", "0x89,0x2A,0x4E,0x47")));
    engine.addSignature(test::recordFrom(sig("end", "0x01,0x02", "0x89,0x50")));
    engine.buildPatternTable();
    const std::uint8_t png[10] = {0x89, 0x50, 0x4E, 0x47};
    const std::uint8_t other[10] = {0x89, 0x50, 0x4E, 0x48};
    const std::uint8_t endOnly[10] = {0x89, 0x50, 0x00};
    auto m = engine.matchAt(png);
    ASSERT_TRUE(m);  // the one-byte pattern never matches, the wildcard one does
    EXPECT_FALSE(m->isEnd);
    EXPECT_EQ(m->signatureId, 1);
    m = engine.matchAt(other);  // starts are tested before ends
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->isEnd);
    EXPECT_EQ(m->signatureId, 2);
    m = engine.matchAt(endOnly);
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->isEnd);
    const std::uint8_t zeros[10] = {};
    EXPECT_FALSE(engine.matchAt(zeros));
}

TEST(Carver, FindsByCase) {
    struct Case {
        const char* what;
        std::int64_t size;
        std::vector<SignatureFields> sigs;
        std::function<void(std::vector<std::uint8_t>&)> fill;
        std::vector<Finds> expected;
    };
    auto lengthSig = [](const std::string& approx, bool incl, const std::string& header) {
        SignatureFields f = sig("len", "0x4C,0x46", "", approx);
        f.sizeOffset = "4";
        f.sizeByteCount = "4";
        f.sizeIncludesHeader = incl;
        f.headerSize = header;
        return f;
    };
    auto withSkip = [](SignatureFields f, const std::string& skip) {
        f.skipSize = skip;
        return f;
    };
    const std::vector<Case> cases = {
        {"pattern inside a sector is not a start", 2 * MiB, {sig("abc", "0xAB,0xCD")},
         [](auto& v) { place(v, 4096 + 200, {0xAB, 0xCD}); }, {}},
        {"start-only without size: a find of length 0 at every start", 2 * MiB, {sig("abc", "0xAB,0xCD")},
         [](auto& v) {
             place(v, 0, {0xAB, 0xCD});
             place(v, 512, {0xAB, 0xCD});
         },
         {{0, 0, "0 .abc"}, {512, 0, "512 .abc"}}},
        {"start, start, end: the end pairs with the later start", 1 * MiB, {sig("pr", "0x53,0x53", "0x45,0x45", "100000")},
         [](auto& v) {
             place(v, 0, {0x53, 0x53});
             place(v, 4096, {0x53, 0x53});
             place(v, 8192, {0x45, 0x45});
         },
         {{4096, 4096 + 2, "8192 .pr"}, {0, 100000, "0 .pr"}}},
        {"unmatched start without approximate size is dropped", 1 * MiB, {sig("pr", "0x53,0x53", "0x45,0x45")},
         [](auto& v) {
             place(v, 0, {0x53, 0x53});
             place(v, 4096, {0x53, 0x53});
             place(v, 8192, {0x45, 0x45});
         },
         {{4096, 4098, "8192 .pr"}}},
        {"flush: each start runs to the next, the latest gets the approximate size", 1 * MiB,
         {sig("fl", "0x53,0x53", "0x45,0x45", "10000")},
         [](auto& v) {
             place(v, 0, {0x53, 0x53});
             place(v, 4096, {0x53, 0x53});
             place(v, 8192, {0x53, 0x53});
         },
         {{8192, 10000, "8192 .fl"}, {4096, 4096, "4096 .fl"}, {0, 4096, "0 .fl"}}},
        {"an end inside the file's sectors closes it, with the bytes kept after it", 1 * MiB,
         [] {
             SignatureFields f = sig("zp", "0x50,0x4B,0x03,0x04", "0x50,0x4B,0x05,0x06", "50000");
             f.endExtraBytes = "18";
             return std::vector<SignatureFields>{f};
         }(),
         [](auto& v) {
             place(v, 1024, {0x50, 0x4B, 0x03, 0x04});
             place(v, 1024 + 3000, {0x50, 0x4B, 0x05, 0x06});
         },
         {{1024, 3000 + 4 + 18, "1024 .zp"}}},
        {"an end pattern across the boundary of the end search's windows", 4 * MiB,
         {sig("wb", "0x57,0x42", "0x45,0x4E", "3145728")},
         [](auto& v) {
             place(v, 0, {0x57, 0x42});
             place(v, MiB + 1, {0x45, 0x4E});
         },
         {{0, MiB + 3, "0 .wb"}}},
        {"length field: stated length plus header", 1 * MiB, {lengthSig("30000", false, "16")},
         [](auto& v) {
             place(v, 512, {0x4C, 0x46, 0, 0, 0x10, 0x27, 0, 0});  // 10000
         },
         {{512, 10016, "512 .len"}}},
        {"length field: capped at the approximate size", 1 * MiB, {lengthSig("5000", true, "")},
         [](auto& v) { place(v, 512, {0x4C, 0x46, 0, 0, 0x10, 0x27, 0, 0}); }, {{512, 5000, "512 .len"}}},
        {"length field: no approximate size, no cap", 1 * MiB, {lengthSig("", true, "")},
         [](auto& v) { place(v, 512, {0x4C, 0x46, 0, 0, 0x10, 0x27, 0, 0}); }, {{512, 10000, "512 .len"}}},
        {"length field: zero or negative length gives nothing", 1 * MiB, {lengthSig("", true, "")},
         [](auto& v) {
             place(v, 512, {0x4C, 0x46, 0, 0, 0, 0, 0, 0});
             place(v, 1024, {0x4C, 0x46, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
         },
         {}},
        {"length field: the next test is the sector behind the file", 1 * MiB, {lengthSig("", true, "")},
         [](auto& v) {
             place(v, 0, {0x4C, 0x46, 0, 0, 0x00, 0x04, 0, 0});     // 1024 bytes
             place(v, 512, {0x4C, 0x46, 0, 0, 0x00, 0x02, 0, 0});   // inside: not tested
             place(v, 1024, {0x4C, 0x46, 0, 0, 0x00, 0x02, 0, 0});  // right behind it
         },
         {{0, 1024, "0 .len"}, {1024, 512, "1024 .len"}}},
        {"skip of 2 MiB ends the chunk's tests", 3 * MiB, {withSkip(sig("sk", "0x5C,0x5C"), "2097152")},
         [](auto& v) {
             place(v, 0, {0x5C, 0x5C});
             place(v, 4096, {0x5C, 0x5C});
             place(v, MiB, {0x5C, 0x5C});
         },
         {{0, 0, "0 .sk"}, {MiB, 0, "1048576 .sk"}}},
        {"skip of 1000: the next test after a start-only find is one sector on", 1 * MiB,
         {withSkip(sig("sk", "0x5C,0x5C"), "1000")},
         [](auto& v) {
             place(v, 0, {0x5C, 0x5C});
             place(v, 512, {0x5C, 0x5C});
         },
         {{0, 0, "0 .sk"}, {512, 0, "512 .sk"}}},
        {"skip of 1000: after an end match the next sector is not tested", 1 * MiB,
         {withSkip(sig("se", "0x53,0x53", "0x45,0x45"), "1000"), sig("o", "0x4F,0x4F")},
         [](auto& v) {
             place(v, 0, {0x53, 0x53});
             place(v, 8192, {0x45, 0x45});
             place(v, 8704, {0x4F, 0x4F});  // skipped
             place(v, 9216, {0x4F, 0x4F});
         },
         {{0, 8194, "8192 .se"}, {9216, 0, "9216 .o"}}},
        {"a negative approximate size gives length 0", 1 * MiB, {sig("ng", "0x4E,0x47", "", "-5")},
         [](auto& v) { place(v, 1024, {0x4E, 0x47}); }, {{1024, 0, "1024 .ng"}}},
        {"a find stops at the volume's end", 2 * MiB, {sig("ve", "0x56,0x45", "", "1048576")},
         [](auto& v) { place(v, 2 * MiB - 512, {0x56, 0x45}); }, {{2 * MiB - 512, 512, "2096640 .ve"}}},
        {"the tail after the last whole MiB is tested", MiB + 1024, {sig("tl", "0x54,0x4C", "", "100")},
         [](auto& v) { place(v, MiB + 512, {0x54, 0x4C}); }, {{MiB + 512, 100, "1049088 .tl"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Carve carve(c.size);
        for (const auto& s : c.sigs) carve.add(s);
        c.fill(carve.image);
        EXPECT_EQ(carve.run(), c.expected);
    }
}

TEST(Carver, LengthFieldFindGoesOnBehindItInALaterChunk) {
    Carve carve(8 * MiB);
    SignatureFields f = sig("len", "0x4C,0x46", "", "30000");
    f.sizeOffset = "4";
    f.sizeByteCount = "4";
    f.sizeIncludesHeader = true;
    carve.add(f).add(sig("o", "0x4F,0x4F"));
    const std::int64_t a = 4 * MiB - 8192;  // 8192 bytes before the end of chunk 3
    place(carve.image, a, {0x4C, 0x46, 0, 0, 0x20, 0x4E, 0, 0});  // 20000 bytes
    place(carve.image, 4 * MiB + 8192, {0x4F, 0x4F});             // inside the file
    place(carve.image, a + 20480, {0x4F, 0x4F});                  // first sector behind it
    const std::vector<Finds> expected = {{a, 20000, strprintf("%lld .len", (long long)a)},
                                         {a + 20480, 0, strprintf("%lld .o", (long long)(a + 20480))}};
    EXPECT_EQ(carve.run(), expected);
}

TEST(Carver, TreeProgressAndMessages) {
    Carve carve(3 * MiB + 512);
    carve.add(sig("jpg", "0xFF,0xD8,0xFF", "", "0", "Images"))
        .add(sig("png", "0x89,0x50,0x4E,0x47", "", "0", "Images"))
        .add(sig("pdf", "0x25,0x50,0x44,0x46", "", "0", "Documents"));
    place(carve.image, MiB, {0xFF, 0xD8, 0xFF});
    place(carve.image, MiB + 512, {0x89, 0x50, 0x4E, 0x47});
    place(carve.image, 2 * MiB, {0xFF, 0xD8, 0xFF});
    struct Sink : ProgressSink {
        void setRange(std::int64_t lo, std::int64_t hi) override { ranges.push_back({lo, hi}); }
        void setPos(std::int64_t p) override { pos.push_back(p); }
        std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
        std::vector<std::int64_t> pos;
    } sink;
    carve.engine.sink = &sink;
    ASSERT_EQ(carve.run().size(), 3u);

    CXHtmlTree& t = carve.tree;
    const TreeItem root = carve.engine.rootItem();
    EXPECT_EQ(t.getItemText(root), "RAW RECOVERY ");
    EXPECT_TRUE(t.isExpanded(root));
    const TreeItem images = t.getChildItem(root);
    const TreeItem docs = t.getNextSiblingItem(images);
    EXPECT_EQ(t.getNextSiblingItem(docs), kNoItem);  // one node per category
    EXPECT_EQ(t.getItemText(images), "Images (3)");
    EXPECT_EQ(t.getItemText(docs), "Documents");
    EXPECT_EQ(t.getItemImage(images), CUseShGetFileInfo::kFolderIcon);
    std::vector<std::string> names;
    for (TreeItem i = t.getChildItem(images); i; i = t.getNextSiblingItem(i)) {
        names.push_back(t.getItemText(i));
        const myJpg::Found* f = carve.engine.findForItem(i);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->name, t.getItemText(i));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"1048576 .jpg", "1049088 .png", "2097152 .jpg"}));
    EXPECT_EQ(carve.engine.findForItem(root), nullptr);
    EXPECT_EQ(carve.engine.findForItem(images), nullptr);

    EXPECT_EQ(sink.ranges, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 1000}, {0, 3}}));
    EXPECT_EQ(sink.pos, (std::vector<std::int64_t>{0, 1, 2, 3}));
    EXPECT_EQ(carve.messages.texts,
              std::vector<std::string>{"Scanning processing done.Select save button to save the data.."});
}

TEST(Carver, StopStillFlushesAndNoSignaturesStillBuildTheRoot) {
    Carve carve(4 * MiB);
    carve.add(sig("st", "0x53,0x53", "0x45,0x45", "700"));
    place(carve.image, 0, {0x53, 0x53});
    place(carve.image, 2 * MiB, {0x53, 0x53});
    struct StopAt : ProgressSink {
        myJpg* engine = nullptr;
        void setPos(std::int64_t p) override {
            if (p == 1) engine->stopFlag = 1;
        }
    } sink;
    sink.engine = &carve.engine;
    carve.engine.sink = &sink;
    EXPECT_EQ(carve.run(), (std::vector<Finds>{{0, 700, "0 .st"}}));
    EXPECT_EQ(carve.messages.texts.size(), 1u);

    Carve empty(MiB);
    EXPECT_TRUE(empty.run().empty());
    EXPECT_EQ(empty.tree.getItemText(empty.engine.rootItem()), "RAW RECOVERY ");
    EXPECT_EQ(empty.messages.texts.size(), 1u);
}

namespace {

// A reader whose reads of one range deliver nothing at all (the buffer is left as is).
class DeadChunkReader final : public readWriteInterface {
public:
    DeadChunkReader(std::vector<std::uint8_t> d, std::uint64_t deadFrom, std::uint64_t deadTo)
        : data_(std::move(d)), from_(deadFrom), to_(deadTo) {}
    bool open(const std::string&) override { return true; }
    bool seek(std::int64_t offset, int) override {
        pos_ = static_cast<std::uint64_t>(offset + baseOffset);
        return true;
    }
    bool read(void* buffer, std::uint64_t count) override {
        if (pos_ < to_ && pos_ + count > from_) return false;
        std::memcpy(buffer, data_.data() + pos_, static_cast<std::size_t>(count));
        return true;
    }

private:
    std::vector<std::uint8_t> data_;
    std::uint64_t from_, to_, pos_ = 0;
};

}  // namespace

TEST(Carver, UnreadableChunkIsTestedAsZeros) {
    std::vector<std::uint8_t> image(3 * MiB, 0);
    place(image, 0, {0x5A, 0x5A});
    place(image, 2 * MiB, {0x5A, 0x5A});
    DeadChunkReader reader(image, MiB, 2 * MiB);
    RecordedMessages messages;
    myJpg engine;
    engine.addSignature(test::recordFrom(sig("z", "0x5A,0x5A")));
    engine.reader = &reader;
    engine.volumeSize = 3 * MiB;
    ASSERT_TRUE(engine.scanVolume());
    ASSERT_EQ(engine.found().size(), 2u);  // not a third at 1 MiB from the stale buffer
    EXPECT_EQ(engine.found()[1].start, 2 * MiB);
}

TEST(Carver, DefaultListLoadedTwiceFindsWithTheFirstCopy) {
    RecordedMessages messages;
    const std::string list = platform::joinPath(platform::executableDirectory(), "FileSetting.txt");
    Carve carve(MiB);
    ASSERT_TRUE(loadSignatureFile(list, carve.engine, true));
    const std::size_t n = carve.engine.signatures().size();
    ASSERT_GE(n, 10u);
    ASSERT_TRUE(loadSignatureFile(list, carve.engine, true));
    ASSERT_EQ(carve.engine.signatures().size(), 2 * n);
    EXPECT_EQ(carve.engine.signatures().back().signatureId, int(2 * n - 1));
    place(carve.image, 0, {0x42, 0x4D, 0x00, 0x02, 0, 0, 0, 0, 0, 0});  // a 512-byte BMP
    place(carve.image, 4096, {0xFF, 0xD8, 0xFF, 0xE0});
    place(carve.image, 4096 + 700, {0xFF, 0xD9});
    const auto finds = carve.run();
    ASSERT_EQ(finds.size(), 2u);
    for (const auto& f : carve.engine.found()) EXPECT_LT(f.signatureId, int(n));
    EXPECT_EQ(finds[0], (Finds{0, 512, "0 .bmp"}));
    EXPECT_EQ(finds[1], (Finds{4096, 702, "4096 .jpg"}));
    std::set<std::string> categories;
    for (TreeItem c = carve.tree.getChildItem(carve.engine.rootItem()); c; c = carve.tree.getNextSiblingItem(c))
        EXPECT_TRUE(categories.insert(carve.tree.getItemText(c)).second);
    EXPECT_TRUE(categories.count("Images (2)"));
    EXPECT_TRUE(categories.count("Video"));
}

TEST(Carver, SavingCheckedFinds) {
    Carve carve(2 * MiB);
    carve.add(sig("a", "0x41,0x41", "", "3000", "One")).add(sig("b", "0x42,0x42", "", "600", "Two"));
    for (std::size_t i = 0; i < carve.image.size(); ++i)
        if (i % 512 >= 2) carve.image[i] = static_cast<std::uint8_t>(i * 7);
    place(carve.image, 0, {0x41, 0x41});
    place(carve.image, MiB - 1024, {0x41, 0x41});  // its bytes run into the next MiB
    place(carve.image, MiB + 4096, {0x42, 0x42});
    carve.reader.markUnreadable(MiB + 4096 + 100, 10);
    ASSERT_EQ(carve.run().size(), 3u);

    test::ScratchDir out;
    EXPECT_EQ(saveCheckedFinds(carve.engine, out.path()).results.size(), 0u);
    EXPECT_EQ(carve.messages.texts.back(), "Please Select item from tree to save");

    const TreeItem one = carve.tree.getChildItem(carve.engine.rootItem());
    carve.tree.setCheck(one, true);
    auto summary = saveCheckedFinds(carve.engine, out.path());
    EXPECT_EQ(summary.saved, 2u);
    EXPECT_FALSE(platform::pathExists(out.file(strprintf("%lld .b", (long long)(MiB + 4096)))));
    const std::string second = out.file(strprintf("%lld .a", (long long)(MiB - 1024)));
    EXPECT_EQ(test::readFileBytes(second),
              std::vector<std::uint8_t>(carve.image.begin() + (MiB - 1024), carve.image.begin() + (MiB - 1024 + 3000)));

    // A second save of the same finds gets numbered names; an unreadable range is zeros.
    carve.tree.setCheck(carve.engine.rootItem(), true);
    summary = saveCheckedFinds(carve.engine, out.path());
    EXPECT_EQ(summary.saved, 2u);
    EXPECT_EQ(summary.incomplete, 1u);
    EXPECT_TRUE(platform::pathExists(out.file("0  (2).a")));
    const auto b = test::readFileBytes(out.file(strprintf("%lld .b", (long long)(MiB + 4096))));
    ASSERT_EQ(b.size(), 600u);
    EXPECT_EQ(b[99], carve.image[MiB + 4096 + 99]);
    EXPECT_EQ(b[100], 0);
    EXPECT_EQ(b[110], carve.image[MiB + 4096 + 110]);
}
