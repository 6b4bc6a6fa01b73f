// LZNT1 units built by hand; a real ntfs-3g unit is decoded in NtfsFixtureTest.

#include <gtest/gtest.h>

#include <string>

#include "fs/ntfs/Lznt1.h"

using kelvara::lznt1Decompress;

namespace {

std::string run(const std::vector<std::uint8_t>& in, std::size_t outSize, std::size_t* produced = nullptr) {
    std::vector<std::uint8_t> out(outSize, 0xEE);
    const std::size_t n = lznt1Decompress(in, out);
    if (produced) *produced = n;
    return std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
}

const std::vector<std::uint8_t> kAbc = {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20};  // "abc" then (3 back, 9 long)

}  // namespace

TEST(Lznt1, LiteralAndCompressedChunks) {
    // A literal chunk (bit 15 clear) is copied whatever its length.
    EXPECT_EQ(run({0x09, 0x30, '0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}, 4096), "0123456789");
    // Overlapping back reference near the chunk's start: 12 length bits.
    EXPECT_EQ(run(kAbc, 4096), "abcabcabcabc");
    // Twenty bytes in, the split is 5 offset bits and 11 length bits: (20 back, 5 long).
    std::vector<std::uint8_t> far = {0x18, 0xB0, 0x00};
    for (char c = 'A'; c <= 'H'; ++c) far.push_back(static_cast<std::uint8_t>(c));
    far.push_back(0x00);
    for (char c = 'I'; c <= 'P'; ++c) far.push_back(static_cast<std::uint8_t>(c));
    far.push_back(0x10);
    for (char c = 'Q'; c <= 'T'; ++c) far.push_back(static_cast<std::uint8_t>(c));
    far.push_back(0x02);
    far.push_back(0x98);
    EXPECT_EQ(run(far, 4096), "ABCDEFGHIJKLMNOPQRSTABCDE");
}

TEST(Lznt1, ChunksStandForFullBlocksAndBadInputStops) {
    // A chunk that makes less than 4096 bytes is followed by zeros up to its block.
    std::vector<std::uint8_t> two = kAbc;
    two.insert(two.end(), {0x01, 0x30, 'x', 'y'});
    std::size_t n = 0;
    const std::string out = run(two, 8192, &n);
    ASSERT_EQ(n, 4098u);
    EXPECT_EQ(out.substr(0, 12), "abcabcabcabc");
    EXPECT_EQ(out.substr(12, 4084), std::string(4084, '\0'));
    EXPECT_EQ(out.substr(4096), "xy");
    // A zero header ends the input.
    std::vector<std::uint8_t> ended = kAbc;
    ended.insert(ended.end(), {0x00, 0x00, 0x01, 0x30, 'x', 'y'});
    EXPECT_EQ(run(ended, 8192), "abcabcabcabc");
    // A reference before the chunk's start, or a chunk longer than the input, stops.
    EXPECT_EQ(run({0x03, 0xB0, 0x02, 'a', 0x00, 0x20}, 4096), "a");
    EXPECT_EQ(run({0x09, 0x30, 'a', 'b'}, 4096), "");
    // Output never runs past its buffer.
    EXPECT_EQ(run(kAbc, 5), "abcab");
}
