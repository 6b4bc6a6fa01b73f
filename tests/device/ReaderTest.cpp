#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "common/Messages.h"
#include "device/FileReadSeek.h"
#include "device/MemoryReadSeek.h"
#include "support/TestSupport.h"

using namespace kelvara;
using kelvara::test::ScratchDir;

namespace {

class RecordingMessages final : public MessageService {
public:
    MessageAnswer show(const std::string& text, const std::string& caption, MessageIcon,
                       MessageButtons) override {
        shown.push_back(caption + "|" + text);
        return MessageAnswer::Ok;
    }
    std::vector<std::string> shown;
};

std::vector<std::uint8_t> pattern(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return v;
}

}  // namespace

TEST(FileReadSeek, ReadsWithBaseOffsetAndReportsShortReads) {
    ScratchDir dir;
    const auto data = pattern(1048576 + 1536 + 100);  // not a whole number of sectors
    test::writeFileBytes(dir.file("disk.img"), data);
    FileReadSeek reader;
    ASSERT_TRUE(reader.open(dir.file("disk.img")));
    EXPECT_EQ(reader.sectorCount(), (1048576u + 1536u + 100u) / 512u);
    EXPECT_EQ(deviceSectorCount.load(), reader.sectorCount());
    EXPECT_EQ(reader.length, static_cast<std::int64_t>(data.size()));

    // baseOffset 2048 sectors: seek(0) is byte 1 MiB of the device.
    reader.baseOffset = 2048 * 512;
    std::array<std::uint8_t, 512> s{};
    ASSERT_TRUE(reader.seek(0));
    ASSERT_TRUE(reader.read(s.data(), s.size()));
    EXPECT_TRUE(std::equal(s.begin(), s.end(), data.begin() + 1048576));

    // Crossing the end: the available bytes, then zeros, and false.
    std::vector<std::uint8_t> tail(1024, 0xCC);
    ASSERT_TRUE(reader.seek(1536));
    EXPECT_FALSE(reader.read(tail.data(), tail.size()));
    EXPECT_TRUE(std::equal(tail.begin(), tail.begin() + 100, data.begin() + 1048576 + 1536));
    EXPECT_TRUE(std::all_of(tail.begin() + 100, tail.end(), [](auto b) { return b == 0; }));

    // At or past the end: nothing delivered, the buffer left as it was.
    std::vector<std::uint8_t> past(512, 0xCC);
    ASSERT_TRUE(reader.seek(1 << 20));
    EXPECT_FALSE(reader.read(past.data(), past.size()));
    EXPECT_TRUE(std::all_of(past.begin(), past.end(), [](auto b) { return b == 0xCC; }));
}

TEST(FileReadSeek, FailedOpenShowsInvalidHandleOnceAndKeepsTheOldCount) {
    ScratchDir dir;
    test::writeFileBytes(dir.file("a.img"), pattern(4096));
    RecordingMessages messages;
    MessageService* previous = setMessageService(&messages);
    FileReadSeek reader;
    ASSERT_TRUE(reader.open(dir.file("a.img")));
    EXPECT_FALSE(reader.open(dir.file("missing.img")));
    setMessageService(previous);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0], "Kelvara Data Recovery 1.0|invalid handle ...");
    EXPECT_EQ(deviceSectorCount.load(), 8u);
    // The earlier object stays readable.
    std::array<std::uint8_t, 512> s{};
    EXPECT_TRUE(readAt(reader, 512, s.data(), s.size()));
}

TEST(FileReadSeek, NeverChangesTheSource) {
    ScratchDir dir;
    test::writeFileBytes(dir.file("ro.img"), pattern(8192));
    const std::string before = test::sha256OfFile(dir.file("ro.img"));
    {
        FileReadSeek reader;
        ASSERT_TRUE(reader.open(dir.file("ro.img")));
        std::vector<std::uint8_t> b(8192);
        EXPECT_TRUE(readAt(reader, 0, b.data(), b.size()));
    }
    EXPECT_EQ(test::sha256OfFile(dir.file("ro.img")), before);
}

TEST(MemoryReadSeek, UnreadableRangesArriveAsZeros) {
    MemoryReadSeek reader(pattern(2048));
    reader.markUnreadable(512, 512);
    std::vector<std::uint8_t> b(2048);
    EXPECT_FALSE(readAt(reader, 0, b.data(), b.size()));
    EXPECT_EQ(b[511], pattern(2048)[511]);
    EXPECT_EQ(b[512], 0);
    EXPECT_EQ(b[1023], 0);
    EXPECT_EQ(b[1024], pattern(2048)[1024]);
}
