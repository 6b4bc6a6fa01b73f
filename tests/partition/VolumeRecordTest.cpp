// The listed size text every parser takes its volume size from.

#include <gtest/gtest.h>

#include "partition/VolumeRecord.h"

TEST(ListedSize, TextsToBytes) {
    const struct {
        const char* text;
        std::uint64_t bytes;
    } cases[] = {
        {"1024   MB", 1024ull << 20},
        {"  64  MB", 64ull << 20},
        {"+5", 5ull << 20},
        {"-5  MB", 0},
        {"MB", 0},
        {"", 0},
        {"99999999999999999999999  MB", 1ull << 60},  // saturates instead of wrapping
    };
    for (const auto& c : cases) EXPECT_EQ(kelvara::listedSizeBytes(c.text), c.bytes) << c.text;
}
