// kelvara-cli scan and recover over the exFAT fixtures, standard and advanced.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/Time.h"
#include "support/TestSupport.h"

using namespace kelvara::test;
namespace fs = std::filesystem;

namespace {

struct Line {
    bool deleted = false, dir = false;
    std::uint64_t size = 0;
    std::string sha, path;
    std::int64_t mtime = 0;
};

std::vector<Line> manifest(const std::string& name) {
    std::ifstream in(fixtureFile(name + ".manifest"));
    std::vector<Line> out;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        std::string part;
        while (std::getline(ss, part, '\t')) f.push_back(part);
        if (f.size() == 7) out.push_back({f[0] == "deleted", f[1] == "d", std::stoull(f[2]), f[3], f[6], std::stoll(f[4])});
    }
    return out;
}

std::int64_t isoToUnix(const std::string& iso) {
    kelvara::DateTimeFields f;
    std::sscanf(iso.c_str(), "%d-%d-%dT%d:%d:%dZ", &f.year, &f.month, &f.day, &f.hour, &f.minute, &f.second);
    return kelvara::platform::utcFieldsToUnix(f);
}

std::map<std::string, nlohmann::json> scanRows(const std::vector<std::string>& args) {
    const auto r = runCli(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::map<std::string, nlohmann::json> rows;
    if (r.exitCode != 0) return rows;
    for (const auto& row : nlohmann::json::parse(r.out)) rows[row["path"].get<std::string>()] = row;
    return rows;
}

}  // namespace

TEST(ExfatCli, ScanListsEveryEntryWithItsState) {
    for (const char* image : {"exfat_c4k", "exfat_c32k"}) {
        SCOPED_TRACE(image);
        const std::string img = fixtureImage(image);
        // --volume finds the kind itself; --fs exFat names it.
        for (const auto& how : {std::vector<std::string>{"--volume"},
                                std::vector<std::string>{"--start-sector", "0", "--fs", "exFat"}}) {
            std::vector<std::string> args{"scan", img, "--json"};
            args.insert(args.end(), how.begin(), how.end());
            const auto rows = scanRows(args);
            for (const auto& m : manifest(image)) {
                SCOPED_TRACE(m.path);
                auto it = rows.find("ROOT/" + m.path);
                ASSERT_NE(it, rows.end());
                EXPECT_EQ(it->second["directory"].get<bool>(), m.dir);
                EXPECT_EQ(it->second["deleted"].get<bool>(), m.deleted);
                if (m.dir) continue;
                EXPECT_EQ(it->second["size"].get<std::uint64_t>(), m.size);
                EXPECT_EQ(isoToUnix(it->second["modified"].get<std::string>()), m.mtime);
            }
        }
    }
}

TEST(ExfatCli, RecoverWritesEveryFileByteIdenticalWithItsTimes) {
    const std::string img = fixtureImage("exfat_c4k");
    const std::string before = sha256OfFile(img);
    ScratchDir out;
    const auto r = runCli({"recover", img, "--volume", "--out", out.path()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const auto& m : manifest("exfat_c4k")) {
        SCOPED_TRACE(m.path);
        const std::string file = out.file(m.path);
        if (m.dir) {
            EXPECT_TRUE(fs::is_directory(file));
            continue;
        }
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, m.mtime);
        EXPECT_EQ(sha256OfFile(file), m.sha);
    }
    EXPECT_EQ(sha256OfFile(img), before);
}

TEST(ExfatCli, AdvancedScanOfAWipedBootSector) {
    const std::string img = fixtureImage("exfat_wiped");
    EXPECT_NE(runCli({"scan", img, "--start-sector", "0", "--fs", "exFat"}).err.find("Selected Drive is not in exFat Format"),
              std::string::npos);
    // Heap candidates 0 and 1 are the all-ones OEM parameter sectors of the two boot
    // regions; candidate 2 is the allocation bitmap at the start of the heap.
    const auto rows = scanRows({"scan", img, "--start-sector", "0", "--fs", "exFat", "--mode", "advanced",
                                "--cluster-shift", "0", "--heap-offset", "2", "--json"});
    int found = 0;
    for (const auto& m : manifest("exfat_wiped")) {
        SCOPED_TRACE(m.path);
        auto it = rows.find("ROOT/" + m.path);
        if (it == rows.end()) it = rows.find("ROOT/ORPHAN ENTRY/" + m.path);
        ASSERT_NE(it, rows.end());
        EXPECT_EQ(it->second["deleted"].get<bool>(), m.deleted);
        ++found;
    }
    EXPECT_GT(found, 0);
    ASSERT_TRUE(rows.count("ROOT/ORPHAN ENTRY"));
    EXPECT_FALSE(rows.at("ROOT/ORPHAN ENTRY")["deleted"].get<bool>());
}
