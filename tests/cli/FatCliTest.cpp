// kelvara-cli scan, recover, search and dump over the FAT fixtures, standard and advanced.

#include <gtest/gtest.h>

#include <map>

#include <nlohmann/json.hpp>

#include "fs/FatTestSupport.h"
#include "support/TestSupport.h"

using namespace kelvara::test;

namespace {

std::map<std::string, nlohmann::json> scanRows(const std::vector<std::string>& args) {
    const auto r = runCli(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::map<std::string, nlohmann::json> rows;
    if (r.exitCode != 0) return rows;
    for (const auto& row : nlohmann::json::parse(r.out)) rows[row["path"].get<std::string>()] = row;
    return rows;
}

TEST(FatCli, ScanListsLiveAndDeletedEntriesOfEachKind) {
    for (const char* fixture : {"fat12_tree", "fat16_tree", "fat32_tree"}) {
        SCOPED_TRACE(fixture);
        const auto rows = scanRows({"scan", fixtureImage(fixture), "--volume", "--json"});
        for (const ManifestLine& m : readManifest(fixture)) {
            if (m.status == "gone") continue;
            auto it = rows.find("ROOT/" + m.path);
            ASSERT_NE(it, rows.end()) << m.path;
            EXPECT_EQ(it->second["deleted"].get<bool>(), m.status != "live") << m.path;
            EXPECT_EQ(it->second["directory"].get<bool>(), m.kind == "d") << m.path;
        }
    }
}

TEST(FatCli, RecoverWritesTheWholeVolume) {
    ScratchDir out;
    const auto r = runCli({"recover", fixtureImage("fat16_tree"), "--volume", "--out", out.path()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const ManifestLine& m : readManifest("fat16_tree")) {
        if (m.kind != "f" || m.status == "gone") continue;
        SCOPED_TRACE(m.path);
        EXPECT_EQ(sha256OfFile(out.file(m.path)), m.sha256);
        const std::int64_t t = fileMtime(out.file(m.path));
        EXPECT_TRUE(t == m.mtime || t == m.mtime - 1);
    }
}

TEST(FatCli, SearchAndDump) {
    const std::string img = fixtureImage("fat32_tree");
    const auto s = runCli({"search", img, "--volume", "--pattern", "number 00[12]\\.txt|readme", "--json"});
    ASSERT_EQ(s.exitCode, 0) << s.err;
    EXPECT_EQ(nlohmann::json::parse(s.out).size(), 3u) << s.out;
    ScratchDir out;
    const auto d = runCli({"dump", img, "--volume", "--path", "ROOT/Docs/notes.txt", "--out", out.path()});
    ASSERT_EQ(d.exitCode, 0) << d.err;
    EXPECT_TRUE(fileMtime(out.file("notes.txt")) > 0);
}

// --mode advanced: the finder's entry and the cluster size by option; --formatted.
TEST(FatCli, AdvancedScanOfWipedAndReformattedVolumes) {
    ScratchDir dir;
    auto bytes = readFileBytes(fixtureImage("fat16_tree"));
    std::fill(bytes.begin(), bytes.begin() + 512, 0);
    writeFileBytes(dir.file("wiped.img"), bytes);
    const auto rows = scanRows({"scan", dir.file("wiped.img"), "--start-sector", "0", "--fs", "fat16", "--mode",
                                "advanced", "--fat-entry", "1", "--sectors-per-cluster", "1", "--json"});
    EXPECT_TRUE(rows.count("ROOT/Docs/Deep/L1/L2/L3/L4/L5/L6/deep file.txt"));
    EXPECT_TRUE(rows.count("ROOT/ORPHAN ENTRY"));

    ScratchDir out;
    const auto r = runCli({"recover", fixtureImage("fat16_reformatted"), "--volume", "--mode", "advanced",
                           "--formatted", "--out", out.path()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const ManifestLine& m : readManifest("fat16_reformatted")) {
        SCOPED_TRACE(m.path);
        EXPECT_EQ(sha256OfFile(out.file(m.path)), m.sha256);
    }
}

}  // namespace
