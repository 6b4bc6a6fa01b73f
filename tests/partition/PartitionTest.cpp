#include <gtest/gtest.h>

#include <thread>

#include "device/MemoryReadSeek.h"
#include "partition/Partition.h"
#include "support/DiskBuilder.h"

using namespace kelvara;
using kelvara::test::DiskBuilder;

namespace {

class RecordingSink final : public ProgressSink {
public:
    void setRange(std::int64_t lo, std::int64_t hi) override { ranges.emplace_back(lo, hi); }
    void setPos(std::int64_t p) override { positions.push_back(p); }
    void setStatus(const std::string& t) override { statuses.push_back(t); }
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
    std::vector<std::int64_t> positions;
    std::vector<std::string> statuses;
};

struct Row {
    std::string fs, size;
    std::int64_t start;
    bool operator==(const Row&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Row& r) {
    return o << "{" << r.fs << ", '" << r.size << "', " << r.start << "}";
}

std::vector<Row> rows(const Partition& p) {
    std::vector<Row> out;
    for (std::size_t i = 0; i < p.records.size(); ++i) {
        EXPECT_EQ(p.records[i].VOLUME, std::to_string(i));
        out.push_back({p.records[i].FILE_SYSTEM, p.records[i].VOLUME_SIZE, p.records[i].START_SECTOR});
    }
    return out;
}

std::vector<Row> scanTables(DiskBuilder& d, bool gpt, RecordingSink* sink = nullptr) {
    MemoryReadSeek reader(d.bytes);
    RecordingSink local;
    Partition p(sink ? *sink : local);
    p.gptFormat = gpt;
    p.scanPartitionTables(reader);
    return rows(p);
}

}  // namespace

TEST(PartitionTables, MbrClassifiesByContentsThenByType) {
    DiskBuilder d(40000);
    d.mbrEntry(0, 0, 0x07, 100, 4096);   // NTFS boot sector
    d.ntfsBoot(100, 4095);
    d.mbrEntry(0, 1, 0x83, 5000, 6144);  // exFAT in a Linux-type partition
    d.exfatBoot(5000, 6144);
    d.mbrEntry(0, 2, 0x07, 12000, 8192);  // FAT32 in an NTFS-type partition
    d.fatBoot(12000, 8192 * 20, 0, 1024, 1, 0);
    d.mbrEntry(0, 3, 0x0B, 30000, 2048);  // nothing recognisable: the type decides
    RecordingSink sink;
    EXPECT_EQ(scanTables(d, false, &sink),
              (std::vector<Row>{{"NTFS", "2   MB", 100}, {"FAT64", "3   MB", 5000},
                                {"FAT32", "4   MB", 12000}, {"FAT32", "1   MB", 30000}}));
    EXPECT_EQ(sink.statuses, (std::vector<std::string>{"found NTFS 1...", "found FAT64...",
                                                        "found FAT 32...", "found FAT 32..."}));
}

TEST(PartitionTables, FatKindFollowsClusterCountNotOemOrFatSize) {
    struct Case {
        std::uint32_t total;
        std::uint16_t spf;
        std::uint8_t spc;
        const char* fs;
    } cases[] = {
        {2880, 9, 1, "FAT12"},      // a floppy
        {30000, 200, 1, "FAT16"},   // the classic case
        {65000, 64, 1, "FAT16"},    // sectors per FAT neither 200 nor 256
        {20000, 64, 8, "FAT12"},    // few clusters: FAT12 although the volume is larger
    };
    for (const auto& c : cases) {
        DiskBuilder d(200);
        d.mbrEntry(0, 0, 0x06, 64, c.total);
        d.fatBoot(64, c.total, c.spf, 0, c.spc, 512);
        EXPECT_EQ(scanTables(d, false).at(0).fs, c.fs) << c.total;
    }
}

TEST(PartitionTables, ExtendedChainStartsAreRelativeToTheExtendedPartition) {
    DiskBuilder d(20000);
    d.mbrEntry(0, 0, 0x06, 64, 2048);
    d.mbrEntry(0, 1, 0x05, 4096, 12000);
    // Table 1 at 4096: logical at +63, link to +4000.
    d.mbrEntry(4096, 0, 0x83, 63, 2048);
    d.mbrEntry(4096, 1, 0x05, 4000, 4000);
    // Table 2 at 8096: logical at table + 63, link to +8000.
    d.mbrEntry(8096, 0, 0x07, 63, 3000);
    d.mbrEntry(8096, 1, 0x05, 8000, 4000);
    // Table 3 at 12096: the last logical.
    d.mbrEntry(12096, 0, 0x0C, 63, 4096);
    RecordingSink sink;
    EXPECT_EQ(scanTables(d, false, &sink),
              (std::vector<Row>{{"FAT16", "1   MB", 64}, {"extX", "1   MB", 4159},
                                {"NTFS", "1   MB", 8159}, {"FAT32", "2   MB", 12159}}));
    EXPECT_EQ(sink.statuses, (std::vector<std::string>{"found FAT 16...", "found extx...",
                                                        "found NTFS...", "found FAT 32..."}));
}

TEST(PartitionTables, LoopingAndEndlessChainsEnd) {
    DiskBuilder loop(10000);
    loop.mbrEntry(0, 0, 0x0F, 2048, 8000);
    loop.mbrEntry(2048, 0, 0x83, 63, 100);
    loop.mbrEntry(2048, 1, 0x05, 1000, 1000);
    loop.mbrEntry(3048, 0, 0x83, 63, 100);
    loop.mbrEntry(3048, 1, 0x05, 0, 1000);  // back to the first table
    EXPECT_EQ(scanTables(loop, false).size(), 2u);

    // A chain of 60 tables is cut after the 50th.
    DiskBuilder longChain(70000);
    longChain.mbrEntry(0, 0, 0x05, 1000, 65000);
    for (int t = 0; t < 60; ++t) {
        longChain.mbrEntry(1000 + 1000 * t, 0, 0x83, 63, 100);
        longChain.mbrEntry(1000 + 1000 * t, 1, 0x05, 1000 * (t + 1), 1000);
    }
    EXPECT_EQ(scanTables(longChain, false).size(), 50u);
}

TEST(PartitionTables, EmptySlotsAndMiddleExtendedEntriesHideNothing) {
    DiskBuilder d(12000);
    d.mbrEntry(0, 1, 0x05, 2048, 4096);  // slot 0 empty, extended in slot 1
    d.mbrEntry(0, 2, 0x0C, 8192, 2048);  // a primary after the extended entry
    d.mbrEntry(2048, 0, 0x83, 63, 2048);
    EXPECT_EQ(scanTables(d, false),
              (std::vector<Row>{{"FAT32", "1   MB", 8192}, {"extX", "1   MB", 2111}}));
}

TEST(PartitionTables, GptSkipsReservedAndNamesWhatItCannotRecognise) {
    DiskBuilder d(60000);
    d.mbrEntry(0, 0, 0xEE, 1, 59999);
    d.gptHeader(2);
    d.gptEntry(2, 0, 0xC12A7328, 2048, 2048 + 4095, "EFI System Partition");
    d.fatBoot(2048, 4096 * 20, 0, 512, 1, 0);
    d.gptEntry(2, 1, 0xE3C9E316, 8192, 8192 + 2047, "Microsoft reserved partition");
    d.ntfsBoot(8192, 100000);  // would be NTFS if it were not the reserved partition
    d.gptEntry(2, 2, 0xEBD0A0A2, 12288, 12288 + 8191, "Basic data partition");
    d.ntfsBoot(12288, 8191);
    d.gptEntry(2, 3, 0x0FC63DAF, 24576, 24576 + 8191, "Linux filesystem");
    d.extSuperblock(24576, 1024);
    d.gptEntry(2, 4, 0xEBD0A0A2, 36864, 36864 + 4095, "Big sectors");
    d.ntfsBoot(36864, 4095, 4096);  // 4096 bytes per sector: not taken as NTFS
    d.gptEntry(2, 5, 0x48465300, 45056, 45056 + 4095, "Apple");
    d.hfsHeader(45056, 4096, 512);
    EXPECT_EQ(scanTables(d, true),
              (std::vector<Row>{{"FAT32", "40  MB", 2048}, {"NTFS", "3   MB", 12288},
                                {"extX", "4  MB", 24576}, {"Big sectors", "1", 36864},
                                {"HFS+", "1", 45056}}));
    // Without the GPT option only the protective entry shows.
    EXPECT_EQ(scanTables(d, false), (std::vector<Row>{{"Unknown", "29   MB", 1}}));
}

TEST(PartitionTables, GptEntryCollectionStopsAtTheFirstBadEntry) {
    DiskBuilder d(30000);
    d.gptHeader(2);
    d.gptEntry(2, 0, 0xEBD0A0A2, 2048, 4095, "one");
    d.gptEntry(2, 1, 0x30, 8192, 9000, "has a '0' byte");
    d.gptEntry(2, 2, 0xEBD0A0A2, 10000, 12000, "never reached");
    EXPECT_EQ(scanTables(d, true), (std::vector<Row>{{"one", "0", 2048}}));
}

namespace {

std::vector<Row> search(DiskBuilder& d, bool skip, std::int64_t start = 0, std::int64_t end = 0,
                        RecordingSink* sink = nullptr) {
    MemoryReadSeek reader(d.bytes);
    RecordingSink local;
    Partition p(sink ? *sink : local);
    p.skipVolumeSize = skip;
    p.startSector = start;
    p.endSector = end;
    p.searchPartitions(reader);
    return rows(p);
}

}  // namespace

TEST(PartitionSearch, SkipsFoundVolumesUnlessAskedNotTo) {
    DiskBuilder d(20000);
    d.ntfsBoot(100, 4095);  // volume 100..4195, backup boot at 4195
    d.ntfsBoot(4195, 4095);
    d.fatBoot(6000, 4096, 16, 0, 1, 512);
    d.fatBoot(6500, 4096, 16, 0, 1, 512);  // inside the FAT volume
    d.hfsHeader(11000, 4096, 512);
    d.extSuperblock(15200, 256);
    RecordingSink sink;
    EXPECT_EQ(search(d, true, 0, 0, &sink),
              (std::vector<Row>{{"NTFS", "1   MB", 100}, {"FAT12", "2  MB", 6000},
                                {"HFS+", "2  MB", 11000}, {"extX", "1  MB", 15200}}));
    EXPECT_EQ(sink.ranges, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 1000}}));
    EXPECT_EQ(sink.positions.back(), 1000);
    EXPECT_EQ(sink.statuses.front(), "Scanning partition.....");

    EXPECT_EQ(search(d, false),
              (std::vector<Row>{{"NTFS", "1   MB", 100}, {"NTFS", "1   MB", 4195},
                                {"FAT12", "2  MB", 6000}, {"FAT12", "2  MB", 6500},
                                {"HFS+", "2  MB", 11000}, {"extX", "1  MB", 15200}}));
}

TEST(PartitionSearch, StartAndEndBounds) {
    DiskBuilder d(16384);
    d.ntfsBoot(100, 2047);  // under 1 MB: found but not listed
    d.ntfsBoot(5000, 4095);
    d.ntfsBoot(10000, 4095);
    EXPECT_EQ(search(d, true, 200), (std::vector<Row>{{"NTFS", "1   MB", 5000}, {"NTFS", "1   MB", 10000}}));
    // An end sector inside a window lets that whole window be tested, and no later one.
    EXPECT_EQ(search(d, false, 0, 4100), (std::vector<Row>{{"NTFS", "1   MB", 5000}}));
    // A start at or past the end finds nothing.
    EXPECT_TRUE(search(d, true, 16384).empty());
}

TEST(PartitionSearch, TestsTheLastPartialWindow) {
    DiskBuilder d(2048 + 1000);
    d.ntfsBoot(2048 + 500, 4095);
    EXPECT_EQ(search(d, true), (std::vector<Row>{{"NTFS", "1   MB", 2548}}));
}

TEST(PartitionSearch, StopLeavesTheFoundRows) {
    DiskBuilder d(4096 * 16);
    d.ntfsBoot(10, 4095);
    MemoryReadSeek reader(d.bytes);
    RecordingSink sink;
    Partition p(sink);
    p.onRecord = [&](const VolumeRecord&) { p.stopRequested = 1; };
    p.searchPartitions(reader);
    EXPECT_EQ(p.records.size(), 1u);
    EXPECT_EQ(sink.statuses.back(), "Scanned Partitions");
}
