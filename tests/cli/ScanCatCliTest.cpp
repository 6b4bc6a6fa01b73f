// kelvara-cli scan and cat over the demo disk and the NTFS fixtures.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "support/TestSupport.h"

using kelvara::test::fixtureImage;
using kelvara::test::runCli;

namespace {

std::string demoImage() {
    static const std::string path = [] {
        static kelvara::test::ScratchDir dir;
        const std::string out = dir.file("demo.img");
        const std::string cmd = "zstd -d -q -f '" KELVARA_SOURCE_DIR "/demo/demo.img.zst' -o '" + out + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        return out;
    }();
    return path;
}

std::string sha256(const std::string& bytes) {
    kelvara::test::ScratchDir d;
    kelvara::test::writeFileBytes(d.file("x"), std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    return kelvara::test::sha256OfFile(d.file("x"));
}

}  // namespace

TEST(ScanCatCli, DemoNtfsPartitionListsAndStreamsEveryFile) {
    const std::string img = demoImage();
    const auto before = kelvara::test::sha256OfFile(img);
    const auto r = runCli({"scan", img, "--partition", "0", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::map<std::string, nlohmann::json> rows;
    const std::set<std::string> keys = {"path", "name", "directory", "deleted", "size",
                                        "created", "modified", "accessed", "attributes"};
    for (const auto& row : nlohmann::json::parse(r.out)) {
        std::set<std::string> have;
        for (const auto& [k, v] : row.items()) have.insert(k);
        EXPECT_EQ(have, keys);
        rows[row["path"].get<std::string>()] = row;
    }
    EXPECT_TRUE(rows.count("ROOT/ORPHAN_ENTRY"));
    EXPECT_TRUE(rows.at("ROOT/ORPHAN_ENTRY")["created"].is_null());
    EXPECT_TRUE(rows.at("ROOT/Temp")["deleted"].get<bool>());
    EXPECT_TRUE(rows.at("ROOT/Temp")["directory"].get<bool>());

    std::ifstream manifest(KELVARA_SOURCE_DIR "/demo/demo.manifest");
    std::string line;
    int checked = 0;
    while (std::getline(manifest, line)) {
        std::istringstream s(line);
        std::string status, fs, path, sha;
        std::uint64_t size = 0;
        s >> status >> fs >> path >> size >> sha;
        if (fs != "ntfs") continue;
        SCOPED_TRACE(path);
        const auto it = rows.find("ROOT/" + path);
        ASSERT_NE(it, rows.end());
        EXPECT_EQ(it->second["deleted"].get<bool>(), status == "deleted");
        EXPECT_FALSE(it->second["directory"].get<bool>());
        EXPECT_EQ(it->second["size"].get<std::uint64_t>(), size);
        EXPECT_EQ(it->second["modified"].get<std::string>(), "2024-03-05T10:20:30Z");
        const auto cat = runCli({"cat", img, "--partition", "0", "--path", "ROOT/" + path});
        ASSERT_EQ(cat.exitCode, 0) << cat.err;
        EXPECT_EQ(sha256(cat.out), sha);
        ++checked;
    }
    EXPECT_EQ(checked, 16);
    EXPECT_EQ(kelvara::test::sha256OfFile(img), before);  // read-only

    // The text form: one tab-separated line per entry.
    const auto text = runCli({"scan", img, "--partition", "0"});
    ASSERT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find("ROOT/Documents/letter.txt\tfile\tlive\t672\t"), std::string::npos);
    EXPECT_NE(text.out.find("ROOT/Temp/scratch.txt\tfile\tdeleted\t348\t"), std::string::npos);
    EXPECT_NE(text.out.find("03/05/2024  10:20 AM"), std::string::npos);
}

TEST(ScanCatCli, AdvancedAndDeepModesAndErrors) {
    const std::string img = fixtureImage("ntfs_noboot");
    const auto adv = runCli({"scan", img, "--start-sector", "0", "--fs", "ntfs", "--mode", "advanced",
                             "--sectors-per-cluster", "1"});
    ASSERT_EQ(adv.exitCode, 0) << adv.err;
    EXPECT_NE(adv.err.find("MFT_ENTRY:0"), std::string::npos);
    EXPECT_NE(adv.out.find("ROOT/Sub/Deeper/d.txt\tfile\tlive\t70000\t"), std::string::npos);
    EXPECT_EQ(runCli({"scan", img, "--start-sector", "0", "--fs", "ntfs", "--mode", "advanced", "--mft-candidate", "5"}).exitCode, 2);

    const auto deep = runCli({"scan", fixtureImage("ntfs_c64k"), "--volume", "--mode", "deep"});
    ASSERT_EQ(deep.exitCode, 0) << deep.err;
    EXPECT_NE(deep.out.find("ROOT/ORPHAN_ENTRY/Deeper/d.txt\tfile\tlive\t70000\t"), std::string::npos);

    EXPECT_EQ(runCli({"cat", img, "--start-sector", "0", "--fs", "ntfs", "--path", "ROOT/nothing"}).exitCode, 1);
    EXPECT_EQ(runCli({"cat", img, "--start-sector", "0", "--fs", "ntfs", "--path", "ROOT/Sub"}).exitCode, 1);
    const auto fromNoboot = runCli({"cat", img, "--start-sector", "0", "--fs", "ntfs", "--path", "Sub/c.bin"});
    EXPECT_EQ(fromNoboot.exitCode, 0);
    EXPECT_EQ(fromNoboot.out.size(), 5000u);
}
