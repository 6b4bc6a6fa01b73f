#include <gtest/gtest.h>

#include "common/ByteReader.h"
#include "common/SafeName.h"
#include "common/Text.h"

using namespace kelvara;

TEST(Text, DateTimeUsesTwelveHourClock) {
    struct Case {
        int hour, minute;
        const char* text;
    } cases[] = {
        {0, 10, "03/05/2024  12:10 AM"}, {1, 0, "03/05/2024  01:00 AM"},
        {11, 59, "03/05/2024  11:59 AM"}, {12, 30, "03/05/2024  12:30 PM"},
        {13, 5, "03/05/2024  01:05 PM"},  {23, 59, "03/05/2024  11:59 PM"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatDateTimeText({2024, 3, 5, c.hour, c.minute, 0}), c.text) << c.hour;
}

TEST(Text, SizeTexts) {
    EXPECT_EQ(formatSizeText(0), "0 Bytes");
    EXPECT_EQ(formatSizeText(1023), "1023 Bytes");
    EXPECT_EQ(formatSizeText(1024), "1.00 KB");
    EXPECT_EQ(formatSizeText(1536), "1.50 KB");
    EXPECT_EQ(formatSizeText(1048576), "1.00 MB");
    EXPECT_EQ(formatSizeText(5ull << 30), "5.00 GB");
}

TEST(Text, Utf16ToUtf8KeepsEveryCharacter) {
    // "aé€😀" then a lone high surrogate, then NUL and more.
    const std::uint8_t le[] = {'a', 0, 0xE9, 0, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE, 0x3D, 0xD8, 0, 0, 'x', 0};
    EXPECT_EQ(utf16leToUtf8(le, 8), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBD" + std::string(1, '\0') + "x");
    EXPECT_EQ(utf16leToUtf8(le, 8, true), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBD");
    const std::uint8_t be[] = {0, 'H', 0x00, 0xE9};
    EXPECT_EQ(utf16beToUtf8(be, 2), "H\xC3\xA9");
}

TEST(Text, InvalidUtf8BecomesReplacementCharacter) {
    EXPECT_EQ(sanitizeUtf8("ok\xC3\xA9"), "ok\xC3\xA9");
    EXPECT_EQ(sanitizeUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(sanitizeUtf8("\xC3"), "\xEF\xBF\xBD");
    EXPECT_EQ(sanitizeUtf8("\xE0\x80\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // overlong
    EXPECT_EQ(cp437ToUtf8("CAF\x90"), "CAF\xC3\x89");
}

TEST(SafeName, NothingLeavesTheOutputFolder) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"report.txt", "report.txt"}, {"", "_"}, {".", "_."}, {"..", "_.."},
        {"../../x", ".._.._x"}, {"a/b", "a_b"}, {"a\\b", "a_b"},
        {std::string("nul\0x", 5), "nul_x"}, {"tab\there", "tab_here"}, {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
    };
    for (const auto& c : cases) EXPECT_EQ(makeSafeName(c.in), c.out) << c.in;
    std::string longName(300, 'a');
    longName += ".jpeg";
    std::string safe = makeSafeName(longName);
    EXPECT_LE(safe.size(), 255u);
    EXPECT_EQ(safe.substr(safe.size() - 5), ".jpeg");
}

TEST(ByteReader, ReadsOutsideTheSliceYieldZeroAndAreNoted) {
    const std::uint8_t b[] = {1, 2, 3, 4, 5, 6, 7, 8};
    ByteReader r(b, sizeof b);
    EXPECT_EQ(r.le32(0), 0x04030201u);
    EXPECT_EQ(r.be16(6), 0x0708u);
    EXPECT_EQ(r.le(5, 3), 0x080706u);
    EXPECT_FALSE(r.truncated());
    EXPECT_EQ(r.le32(6), 0u);
    EXPECT_TRUE(r.truncated());
    EXPECT_FALSE(r.has(SIZE_MAX, 2));
    EXPECT_EQ(r.sub(4, 8).size(), 0u);
    EXPECT_EQ(r.sub(4, 4).le16(0), 0x0605u);
}
