#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "device/MemoryReadSeek.h"
#include "fs/fat/FatDirectory.h"
#include "fs/fat/FatTable.h"

using namespace kelvara;

namespace {

FatShortSlot shortSlot(const char* name11, std::uint8_t caseFlags = 0) {
    FatShortSlot s;
    std::memcpy(s.name, name11, 11);
    s.caseFlags = caseFlags;
    return s;
}

TEST(FatShortName, DotFormCaseFlagsAndDeletedMark) {
    struct Case {
        const char* raw;
        std::uint8_t flags;
        const char* shown;
    } cases[] = {
        {"README  TXT", 0, "README.TXT"},
        {"FOO        ", 0, "FOO"},
        {"HELLO   TXT", 0x18, "hello.txt"},
        {"HELLO   TXT", 0x08, "hello.TXT"},
        {"HELLO   TXT", 0x10, "HELLO.txt"},
        {"\xE5OO     TXT", 0, "\uFFE5OO.TXT"},
        {"\x05" "BC     TXT", 0, "\u03C3BC.TXT"},  // 0x05 stands for 0xE5, sigma in CP437
        {"\x80" "BC     TXT", 0, "\u00C7BC.TXT"},
        {"FOLDER  OLD", 0, "FOLDER.OLD"},
        {"A B     TXT", 0, "A B.TXT"},
        {"$RECYCLEBIN", 0, "$RECYCLE.BIN"},
    };
    for (const Case& c : cases) EXPECT_EQ(fatShortName(shortSlot(c.raw, c.flags)), c.shown) << c.raw;
}

// Long-name slots of text in disk order (last piece first), 0-terminated and padded
// with 0xFFFF as formatters write them.
std::vector<std::array<std::uint8_t, 32>> longNameSlots(const std::u16string& name, std::uint8_t checksum,
                                                        bool deleted = false) {
    const std::size_t pieces = (name.size() + 12) / 13;
    std::vector<std::array<std::uint8_t, 32>> slots;
    for (std::size_t k = pieces; k-- > 0;) {
        std::array<std::uint8_t, 32> s{};
        s[0] = static_cast<std::uint8_t>((k + 1) | (k + 1 == pieces ? 0x40 : 0));
        s[11] = 0x0F;
        s[13] = checksum;
        static const int offs[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (int i = 0; i < 13; ++i) {
            const std::size_t at = k * 13 + i;
            const std::uint16_t u = at < name.size() ? name[at] : at == name.size() ? 0 : 0xFFFF;
            s[offs[i]] = u & 0xFF;
            s[offs[i] + 1] = u >> 8;
        }
        slots.push_back(s);
    }
    if (deleted) slots.front()[0] = 0xE5;
    return slots;
}

TEST(FatLongName, AssemblesRunsInReadingOrder) {
    struct Case {
        std::u16string name;
        const char* utf8;
        bool deleted;
    } cases[] = {
        {u"A long file name with spaces.txt", "A long file name with spaces.txt", false},
        {u"exactly13char", "exactly13char", false},
        {u"日本語のファイル.txt", "日本語のファイル.txt", true},
        // More than ten slots: the format allows 255 characters in twenty.
        {std::u16string(200, u'x') + u".txt", nullptr, false},
    };
    for (const Case& c : cases) {
        FatLongNameRun run;
        for (const auto& s : longNameSlots(c.name, 0x5A, c.deleted)) run.add(ByteReader(s.data(), s.size()));
        const std::string expect = c.utf8 ? c.utf8 : std::string(200, 'x') + ".txt";
        EXPECT_EQ(run.name(), expect);
        EXPECT_EQ(run.deleted(), c.deleted);
        EXPECT_EQ(run.checksum(), 0x5A);
    }
}

TEST(FatTexts, TimesSizesAndAttributes) {
    const std::uint16_t date = (44 << 9) | (3 << 5) | 5;  // 2024-03-05
    EXPECT_EQ(fatDateTimeText(date, 0x6000), "03/05/2024  12:00 PM");
    EXPECT_EQ(fatDateTimeText(date, 0x6800), "03/05/2024  01:00 PM");
    EXPECT_EQ(fatDateTimeText(date, 0x0000), "03/05/2024  12:00 AM");
    EXPECT_EQ(fatDateText(date), "03/05/2024 ");
    EXPECT_EQ(fatAttributeText(0x27), "-R-H-S-A");
    EXPECT_EQ(fatAttributeText(0x10), "");
    EXPECT_EQ(formatSizeText(1023), "1023 Bytes");
    EXPECT_EQ(formatSizeText(1024), "1.00 KB");
    EXPECT_EQ(formatSizeText(1572864), "1.50 MB");
    // Stamps are local times; invalid dates give no time at all.
    const auto t = fatStampToUtc(date, (10 << 11) | (20 << 5) | 15, 150);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->seconds, 1709634030 + 1);  // TZ=UTC; 150 hundredths add a second
    EXPECT_EQ(t->nanoseconds, 500000000u);
    EXPECT_FALSE(fatStampToUtc(0, 0));
    EXPECT_FALSE(fatStampToUtc((44 << 9) | (13 << 5) | 1, 0));
}

TEST(FatTableTest, EntriesAndEndOfChainByWidth) {
    // FAT12 packs two entries in three bytes: entries 2 = 0x003, 3 = 0xFFF.
    std::vector<std::uint8_t> fat12 = {0xF8, 0xFF, 0xFF, 0x03, 0xF0, 0xFF, 0x05, 0x70, 0xFF};
    MemoryReadSeek r12(fat12);
    FatTable t;
    t.configure(&r12, 0, fat12.size(), FatWidth::Fat12, 6);
    EXPECT_EQ(t.entry(2), 0x003u);
    EXPECT_EQ(t.entry(3), 0xFFFu);
    EXPECT_EQ(t.entry(4), 0x005u);
    EXPECT_EQ(t.entry(5), 0xFF7u);
    EXPECT_EQ(t.next(2), std::optional<std::uint32_t>(3));
    EXPECT_FALSE(t.next(3));  // end mark
    EXPECT_FALSE(t.next(5));  // bad cluster
    EXPECT_EQ(t.next(4), std::optional<std::uint32_t>(5));
}

TEST(FatTableTest, ValuesThatEndAChain) {
    struct Case {
        FatWidth width;
        std::uint32_t value;
        bool continues;
    } cases[] = {
        {FatWidth::Fat12, 0xFF8, false}, {FatWidth::Fat12, 0xFF7, false}, {FatWidth::Fat12, 0x0FF, true},
        {FatWidth::Fat16, 0xFFF8, false}, {FatWidth::Fat16, 0xFFF7, false}, {FatWidth::Fat16, 0x1000, true},
        {FatWidth::Fat32, 0x0FFFFFF8, false}, {FatWidth::Fat32, 0xFFFFFFFF, false},
        {FatWidth::Fat32, 0x0FFFFFF7, false}, {FatWidth::Fat32, 0xF0001000, true},  // top 4 bits ignored
        {FatWidth::Fat16, 0, false}, {FatWidth::Fat16, 1, false},
        {FatWidth::Fat16, 0x2000, false},  // at the cluster limit: outside the volume
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> fat(0x10000, 0);
        const std::uint32_t limit = 0x2000;
        if (c.width == FatWidth::Fat12) {
            fat[3] = c.value & 0xFF;  // entry 2
            fat[4] = static_cast<std::uint8_t>((c.value >> 8) & 0x0F);
        } else if (c.width == FatWidth::Fat16) {
            fat[4] = c.value & 0xFF;
            fat[5] = static_cast<std::uint8_t>(c.value >> 8);
        } else {
            for (int i = 0; i < 4; ++i) fat[8 + i] = static_cast<std::uint8_t>(c.value >> (8 * i));
        }
        MemoryReadSeek r(fat);
        FatTable t;
        t.configure(&r, 0, fat.size(), c.width, limit);
        EXPECT_EQ(t.next(2).has_value(), c.continues) << std::hex << c.value;
    }
}

// The advanced scan's slot tests, on a slot built per case.
TEST(FatSlotJudge, AcceptsPlausibleEntriesOnly) {
    const std::uint16_t date = (44 << 9) | (3 << 5) | 5, time = (10 << 11) | (20 << 5);
    struct Case {
        const char* what;
        bool fat32;
        std::uint8_t c0, attr, tenths;
        std::uint32_t cluster, size;
        std::uint16_t date;
        FatSlotKind kind;
    } cases[] = {
        {"live folder", false, 'D', 0x10, 0, 5, 0, date, FatSlotKind::Directory},
        {"live folder with a size", false, 'D', 0x10, 0, 5, 100, date, FatSlotKind::None},
        {"deleted folder, any size and cluster", false, 0xE5, 0x10, 0, 0xFFFFFF, 100, date, FatSlotKind::Directory},
        {"deleted folder, bad date", false, 0xE5, 0x10, 0, 5, 0, 0, FatSlotKind::None},
        {"file", false, 'F', 0x20, 0, 5, 10, date, FatSlotKind::File},
        {"file beyond the volume", false, 'F', 0x20, 0, 0x10000, 10, date, FatSlotKind::None},
        {"system folder 0x13", false, 'D', 0x13, 0, 5, 0, date, FatSlotKind::None},
        {"label", false, 'L', 0x08, 0, 0, 0, date, FatSlotKind::None},
        {"FAT32 file, tenths 0", true, 'F', 0x20, 0, 5, 10, date, FatSlotKind::None},
        {"FAT32 file", true, 'F', 0x20, 7, 5, 10, date, FatSlotKind::File},
        {"FAT32 empty file", true, 'F', 0x20, 7, 5, 0, date, FatSlotKind::None},
        {"FAT32 folder", true, 'D', 0x10, 7, 5, 0, date, FatSlotKind::Directory},
        {"FAT32 folder at cluster 0", true, 'D', 0x10, 7, 0, 0, date, FatSlotKind::None},
    };
    for (const Case& c : cases) {
        std::uint8_t s[32] = {};
        std::memset(s, ' ', 11);
        s[0] = c.c0;
        s[1] = 'A';
        s[11] = c.attr;
        s[13] = c.tenths;
        auto p16 = [&](int off, std::uint16_t v) { s[off] = v & 0xFF, s[off + 1] = static_cast<std::uint8_t>(v >> 8); };
        p16(14, time), p16(16, c.date), p16(18, c.date), p16(22, time), p16(24, c.date);
        p16(20, static_cast<std::uint16_t>(c.cluster >> 16)), p16(26, c.cluster & 0xFFFF);
        p16(28, c.size & 0xFFFF), p16(30, static_cast<std::uint16_t>(c.size >> 16));
        const ByteReader slot(s, 32);
        EXPECT_EQ(c.fat32 ? judgeFat32Slot(slot, 0x10000) : judgeFat16Slot(slot, 0x10000), c.kind) << c.what;
    }
    // Long-name slots: byte 12 and byte 26 must be 0.
    auto lfn = longNameSlots(u"Name.txt", 1)[0];
    EXPECT_EQ(judgeFat16Slot(ByteReader(lfn.data(), 32), 100), FatSlotKind::LongName);
    lfn[26] = 1;
    EXPECT_EQ(judgeFat32Slot(ByteReader(lfn.data(), 32), 100), FatSlotKind::None);
}

}  // namespace
