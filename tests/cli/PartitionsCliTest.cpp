// kelvara-cli drives and partitions over real disk images made by the fixture scripts.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "support/TestSupport.h"

using kelvara::test::fixtureImage;
using kelvara::test::runCli;

namespace {

struct Listed {
    std::string fs;
    std::int64_t start;
    bool operator==(const Listed&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Listed& l) { return o << l.fs << "@" << l.start; }

std::vector<Listed> listed(const std::vector<std::string>& args) {
    auto r = runCli(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<Listed> out;
    for (const auto& row : nlohmann::json::parse(r.out)) {
        EXPECT_EQ(row.size(), 4u);
        EXPECT_TRUE(row["VOLUME"].is_string());
        EXPECT_TRUE(row["VOLUME_SIZE"].is_string());
        out.push_back({row["FILE_SYSTEM"].get<std::string>(), row["START_SECTOR"].get<std::int64_t>()});
    }
    return out;
}

}  // namespace

TEST(PartitionsCli, TablesOfRealDisks) {
    EXPECT_EQ(listed({"partitions", fixtureImage("mbr_extended"), "--json"}),
              (std::vector<Listed>{{"NTFS", 2048}, {"FAT16", 34816}, {"FAT32", 51200}, {"extX", 126976},
                                   {"FAT64", 145408}, {"FAT32", 163840}}));
    // The GPT is found without being asked for; the reserved partition is not listed.
    EXPECT_EQ(listed({"partitions", fixtureImage("gpt"), "--json"}),
              (std::vector<Listed>{{"FAT32", 2048}, {"NTFS", 108544}, {"extX", 141312}}));
    EXPECT_EQ(listed({"partitions", fixtureImage("gpt"), "--mbr", "--json"}),
              (std::vector<Listed>{{"Unknown", 1}}));
    EXPECT_EQ(listed({"partitions", fixtureImage("looping_chain"), "--json"}),
              (std::vector<Listed>{{"FAT16", 2048}, {"FAT16", 12288}, {"extX", 22528}}));
}

TEST(PartitionsCli, SearchFindsTheVolumesOfAWipedTable) {
    const std::string img = fixtureImage("wiped_table");
    EXPECT_TRUE(listed({"partitions", img, "--json"}).empty());
    EXPECT_EQ(listed({"partitions", img, "--search", "--json"}),
              (std::vector<Listed>{{"NTFS", 2048}, {"FAT32", 18432}, {"extX", 92160}, {"FAT64", 108544}}));
    // Bounded: only the windows that start before the end sector are tested.
    EXPECT_EQ(listed({"partitions", img, "--search", "--start", "18432", "--end", "20000", "--json"}),
              (std::vector<Listed>{{"FAT32", 18432}}));
    // Without skipping, the backup boot sectors inside the volumes are listed too.
    auto all = listed({"partitions", img, "--search", "--no-skip", "--json"});
    EXPECT_GT(all.size(), 4u);
    auto r = runCli({"partitions", img, "--search"});
    EXPECT_NE(r.err.find("Scanning partition....."), std::string::npos);
    EXPECT_NE(r.out.find("VOLUME  FILE_SYSTEM  VOLUME_SIZE  START_SECTOR"), std::string::npos);
}

TEST(PartitionsCli, ErrorsAreOneLineAndNonZero) {
    struct Case {
        std::vector<std::string> args;
        int code;
    } cases[] = {
        {{"partitions", "/nonexistent/disk.img"}, 2},
        {{"partitions", "/tmp"}, 2},
        {{"partitions", fixtureImage("gpt"), "--gpt", "--mbr"}, 2},
        {{"partitions", fixtureImage("gpt"), "--no-skip"}, 2},
        {{"partitions"}, 2},
        {{"frobnicate"}, 2},
    };
    for (const auto& c : cases) {
        auto r = runCli(c.args);
        EXPECT_EQ(r.exitCode, c.code) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

TEST(PartitionsCli, SourcesAreNeverWritten) {
    const std::string img = fixtureImage("mbr_extended");
    const std::string before = kelvara::test::sha256OfFile(img);
    runCli({"partitions", img});
    runCli({"partitions", img, "--search", "--no-skip"});
    EXPECT_EQ(kelvara::test::sha256OfFile(img), before);
}

TEST(DrivesCli, ListsDrivesAndVolumesAsJson) {
    auto r = runCli({"drives", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto j = nlohmann::json::parse(r.out);
    ASSERT_TRUE(j["physicalDrives"].is_array());
    ASSERT_TRUE(j["volumes"].is_array());
    for (const auto& v : j["volumes"]) {
        EXPECT_EQ(v["START_SECTOR"], 0);
        EXPECT_EQ(v["VOLUME"].get<std::string>().rfind("/dev/", 0), 0u);
        EXPECT_NE(v["VOLUME_SIZE"].get<std::string>().find("  MB"), std::string::npos);
    }
}
