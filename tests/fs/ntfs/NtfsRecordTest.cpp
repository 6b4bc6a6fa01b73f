// MFT records byte by byte: the fixup, names, parents, flags, and the run-list decoder.

#include <gtest/gtest.h>

#include "common/ByteReader.h"
#include "fs/ntfs/NtfsRunList.h"
#include "fs/ntfs/ntfs.h"
#include "support/TestSupport.h"

using namespace kelvara;
using kelvara::test::put16;
using kelvara::test::put32;
using kelvara::test::put64;

namespace {

// A 1024-byte record with its update sequence at 0x30 and attributes from 0x38.
struct RecordBuilder {
    std::vector<std::uint8_t> b = std::vector<std::uint8_t>(1024, 0);
    std::size_t next = 0x38;

    RecordBuilder(std::uint16_t flags = 1) {
        b[0] = 'F', b[1] = 'I', b[2] = 'L', b[3] = 'E';
        put16(b, 4, 0x30);
        put16(b, 6, 3);
        put16(b, 0x14, 0x38);
        put16(b, 0x16, flags);
        put32(b, next, 0xFFFFFFFF);
    }
    // A resident $FILE_NAME with the given parent, namespace, flags and name.
    void fileName(std::uint64_t parent, std::uint8_t ns, const std::u16string& name, std::uint32_t flags = 0x20) {
        const std::size_t valueLength = 0x42 + 2 * name.size();
        const std::size_t length = (0x18 + valueLength + 7) & ~std::size_t(7);
        put32(b, next, 0x30);
        put32(b, next + 4, static_cast<std::uint32_t>(length));
        put32(b, next + 0x10, static_cast<std::uint32_t>(valueLength));
        put16(b, next + 0x14, 0x18);
        const std::size_t v = next + 0x18;
        put64(b, v, parent);
        put64(b, v + 0x28, 4096);
        put32(b, v + 0x38, flags);
        b[v + 0x40] = static_cast<std::uint8_t>(name.size());
        b[v + 0x41] = ns;
        for (std::size_t i = 0; i < name.size(); ++i) put16(b, v + 0x42 + 2 * i, name[i]);
        next += length;
        put32(b, next, 0xFFFFFFFF);
    }
    ParsedRecord parse() {
        applyFixup(b);
        return parseRecordBytes(b);
    }
};

std::string nameOf(const ParsedRecord& p) {
    std::string s;
    for (std::size_t i = 0; i < p.nameUnits; ++i) s += static_cast<char>(p.name[2 * i]);
    return s;
}

}  // namespace

TEST(NtfsRecord, FixupPutsTheArrayEntriesInPlaceEvenWhenTheCheckValueDiffers) {
    std::vector<std::uint8_t> r(1024, 0xAB);
    put16(r, 4, 0x30);
    put16(r, 6, 3);
    put16(r, 0x30, 0x1111);  // check value
    put16(r, 0x32, 0xBEEF);
    put16(r, 0x34, 0xCAFE);
    put16(r, 510, 0x2222);  // not the check value: a torn write is still used
    put16(r, 1022, 0x1111);
    applyFixup(r);
    ByteReader b(r.data(), r.size());
    EXPECT_EQ(b.le16(510), 0xBEEF);
    EXPECT_EQ(b.le16(1022), 0xCAFE);
    EXPECT_EQ(b.le16(508), 0xABAB);

    // An array offset past the record or a count past its strides changes nothing wrong.
    std::vector<std::uint8_t> odd(1024, 0);
    put16(odd, 4, 1030);
    put16(odd, 6, 3);
    const auto before = odd;
    applyFixup(odd);
    EXPECT_EQ(odd, before);
    std::vector<std::uint8_t> many(1024, 0);
    put16(many, 4, 0x30);
    put16(many, 6, 400);  // 399 entries claimed; only the two strides of the record exist
    put16(many, 0x32, 7);
    put16(many, 0x34, 8);
    applyFixup(many);
    EXPECT_EQ(ByteReader(many.data(), many.size()).le16(1022), 8);
}

TEST(NtfsRecord, NamesParentsAndKinds) {
    {
        // A short alias first, the long name second: the long name, the alias's parent.
        RecordBuilder r;
        r.fileName(0x0003000000000040ull, 2, u"LONGNA~1.TXT");
        r.fileName(0x0003000000000099ull, 1, u"long name.txt");
        const ParsedRecord p = r.parse();
        EXPECT_EQ(nameOf(p), "long name.txt");
        EXPECT_EQ(p.parentIndex, 0x40);
        EXPECT_EQ(p.kind, 0);
        EXPECT_EQ(p.recordFlags, 1);
    }
    {
        // The long name first and its alias after it: still the long name.
        RecordBuilder r(0);
        r.fileName(5, 1, u"Report 2024.docx", 0x10000020);
        r.fileName(5, 2, u"REPORT~1.DOC", 0x10000020);
        const ParsedRecord p = r.parse();
        EXPECT_EQ(nameOf(p), "Report 2024.docx");
        EXPECT_EQ(p.kind, 0x44);
        EXPECT_EQ(p.recordFlags, 0);
        EXPECT_EQ(p.fileAttributes, 0x0020);
    }
    {
        // Only a DOS name: it is the name.
        RecordBuilder r;
        r.fileName(5, 2, u"ONLYDOS.TXT");
        EXPECT_EQ(nameOf(r.parse()), "ONLYDOS.TXT");
    }
    {
        // 255 characters, NTFS's maximum, are taken like any other name.
        RecordBuilder r;
        r.fileName(5, 3, std::u16string(255, u'x'));
        const ParsedRecord p = r.parse();
        EXPECT_EQ(p.nameUnits, 255u);
        EXPECT_TRUE(p.hasFileName);
    }
    {
        // A parent reference's low 48 bits, taken as signed; its sequence number ignored.
        RecordBuilder r;
        r.fileName(0xFFFFFFFFFFFFFFFFull, 1, u"x");
        EXPECT_EQ(r.parse().parentIndex, -1);
    }
    {
        // A name that would run past the record is not taken, and nothing is read there.
        RecordBuilder r;
        r.fileName(5, 1, u"abc");
        put16(r.b, 0x38 + 0x14, 0x380);  // the value near the record's end...
        r.b[0x38 + 0x380 + 0x40] = 250;  // ...with a name longer than what is left
        EXPECT_FALSE(r.parse().hasFileName);
    }
    EXPECT_EQ(attributeText(0x0001 | 0x0002 | 0x0020 | 0x0200 | 0x0800 | 0x4000), "-R-H-S-A-C-E");
    EXPECT_EQ(attributeText(0x0100), "");
}

TEST(NtfsRunList, Decoding) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::uint64_t maxClusters;
        std::vector<DataRun> runs;
        bool ended;
    };
    const std::vector<Case> cases = {
        {"two runs, the second backwards",
         {0x31, 0x04, 0x00, 0x00, 0x10, 0x21, 0x02, 0xF0, 0xFF, 0x00},
         6,
         {{0x100000, 4, false}, {0x0FFFF0, 2, false}},
         true},
        {"a header without offset bytes is a hole that keeps the running cluster",
         {0x11, 0x02, 0x20, 0x01, 0x05, 0x11, 0x01, 0x10, 0x00},
         100,
         {{0x20, 2, false}, {0, 5, true}, {0x30, 1, false}},
         true},
        {"eight-byte length and offset are read whole",
         {0x88, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00},
         ~0ull,
         {{0x0000000200000000ull, 0x0000000100000000ull, false}},
         true},
        {"a five-byte offset is sign-extended from its top byte",
         {0x51, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x51, 0x01, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x00},
         10,
         {{0x100000000ull, 1, false}, {0, 1, false}},  // cluster 0 is real data ($Boot), not a hole
         true},
        {"runs past the attribute's cluster range are dropped",
         {0x11, 0x04, 0x10, 0x11, 0x04, 0x10, 0x11, 0x01, 0x10, 0x00},
         8,
         {{0x10, 4, false}, {0x20, 4, false}},
         false},
        {"a cluster number below 0 ends the list",
         {0x11, 0x01, 0x05, 0x11, 0x01, 0xF0, 0x00},
         10,
         {{5, 1, false}},
         false},
        {"a run cut off by the end of the bytes is not taken",
         {0x11, 0x01, 0x05, 0x32, 0x01},
         10,
         {{5, 1, false}},
         false},
        {"fields wider than eight bytes end the list",
         {0x19, 0x01},
         10,
         {},
         false},
    };
    for (const auto& c : cases) {
        const auto r = decodeRunList(ByteReader(c.bytes.data(), c.bytes.size()), c.maxClusters);
        EXPECT_EQ(r.runs, c.runs) << c.what;
        EXPECT_EQ(r.ended, c.ended) << c.what;
    }
}
