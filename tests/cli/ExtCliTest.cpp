// kelvara-cli scan, cat, recover, search and list over the ext fixtures, end to end.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>

#include <nlohmann/json.hpp>

#include "common/Text.h"
#include "support/TestSupport.h"

using kelvara::test::fixtureImage;
using kelvara::test::runCli;
namespace fs = std::filesystem;

namespace {

struct Row {
    std::string state, type, path, sha;
    std::uint64_t size = 0;
    std::int64_t mtime = 0;
};

std::vector<Row> manifest(const std::string& name) {
    std::ifstream in(kelvara::test::fixtureFile(name + ".manifest"), std::ios::binary);
    std::vector<Row> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        std::size_t start = 0;
        for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            f.push_back(line.substr(start, tab - start));
        f.push_back(line.substr(start));
        if (f.size() != 8) continue;
        Row r;
        r.state = f[0], r.type = f[1], r.path = kelvara::sanitizeUtf8(f[2]), r.sha = f[4];
        r.size = f[3] == "-" ? 0 : std::stoull(f[3]);
        r.mtime = std::stoll(f[6]);
        rows.push_back(r);
    }
    return rows;
}

std::map<std::string, nlohmann::json> scanRows(const std::vector<std::string>& args) {
    const auto r = runCli(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::map<std::string, nlohmann::json> rows;
    if (r.exitCode != 0) return rows;
    for (const auto& row : nlohmann::json::parse(r.out)) {
        const std::string key = row["path"].get<std::string>() + (row["deleted"].get<bool>() ? " (deleted)" : "");
        rows[key] = row;
    }
    return rows;
}

}  // namespace

TEST(ExtCli, ScanListsLiveAndDeletedEntriesWithTheirSizes) {
    for (const char* name : {"ext2_1k", "ext4_4k"}) {
        SCOPED_TRACE(name);
        const auto rows = scanRows({"scan", fixtureImage(name), "--volume", "--json"});
        for (const Row& m : manifest(name)) {
            if (m.state == "wiped" || m.type == "l") continue;  // links at the top get no tree item
            SCOPED_TRACE(m.path);
            const std::string key = "ROOT/" + m.path + (m.state == "live" ? "" : " (deleted)");
            ASSERT_TRUE(rows.count(key));
            const auto& row = rows.at(key);
            EXPECT_EQ(row["directory"].get<bool>(), m.type == "d");
            if (m.type == "f") {
                EXPECT_EQ(row["size"].get<std::uint64_t>(), m.state == "listed" ? 0 : m.size);
            }
        }
    }
}

TEST(ExtCli, CatRecoverAndSearch) {
    const std::string img = fixtureImage("ext2_1k");
    const std::string before = kelvara::test::sha256OfFile(img);
    std::map<std::string, Row> byPath;
    for (const Row& m : manifest("ext2_1k")) byPath[m.path] = m;

    kelvara::test::ScratchDir out;
    const auto cat = runCli({"cat", img, "--volume", "--path", "ROOT/indirect/double.bin"});
    ASSERT_EQ(cat.exitCode, 0) << cat.err;
    kelvara::test::writeFileBytes(out.file("cat.bin"), std::vector<std::uint8_t>(cat.out.begin(), cat.out.end()));
    EXPECT_EQ(kelvara::test::sha256OfFile(out.file("cat.bin")), byPath.at("indirect/double.bin").sha);

    const auto rec = runCli({"recover", img, "--volume", "--path", "ROOT/docs", "--out", out.file("docs")});
    ASSERT_EQ(rec.exitCode, 0) << rec.err;
    for (const char* p : {"readme.txt", "gone.txt", "deep/a/b/notes.txt"}) {
        SCOPED_TRACE(p);
        const std::string file = out.file(std::string("docs/") + p);
        ASSERT_TRUE(fs::exists(file));
        const Row& m = byPath.at(std::string("docs/") + p);
        EXPECT_EQ(kelvara::test::sha256OfFile(file), m.sha);
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mtime, m.mtime);
    }
    // The removed folder and its file come back too.
    const auto old = runCli({"recover", img, "--volume", "--path", "ROOT/olddir", "--out", out.file("old")});
    ASSERT_EQ(old.exitCode, 0) << old.err;
    EXPECT_EQ(kelvara::test::sha256OfFile(out.file("old/inner.txt")), byPath.at("olddir/inner.txt").sha);

    const auto found = runCli({"search", img, "--volume", "--pattern", "gone|inner"});
    ASSERT_EQ(found.exitCode, 0) << found.err;
    EXPECT_NE(found.out.find("gone.txt"), std::string::npos) << found.out;
    EXPECT_NE(found.out.find("inner.txt"), std::string::npos) << found.out;

    const auto list = runCli({"list", img, "--volume", "--path", "ROOT/indirect"});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    for (const char* n : {"single.bin", "double.bin", "triple_sparse.bin", "deleted_double.bin"})
        EXPECT_NE(list.out.find(n), std::string::npos) << n << "\n" << list.out;
    EXPECT_EQ(kelvara::test::sha256OfFile(img), before);  // never written to
}

TEST(ExtCli, PartitionOfADisk) {
    // The ext4 logical partition of the MBR fixture, found through the extended chain.
    const std::string img = fixtureImage("mbr_extended");
    const auto parts = runCli({"partitions", img, "--json"});
    ASSERT_EQ(parts.exitCode, 0) << parts.err;
    std::string volume;
    for (const auto& p : nlohmann::json::parse(parts.out))
        if (kelvara::asciiLower(p["FILE_SYSTEM"].get<std::string>()) == "extx") volume = p["VOLUME"].get<std::string>();
    ASSERT_FALSE(volume.empty()) << parts.out;
    const auto rows = scanRows({"scan", img, "--partition", volume, "--json"});
    EXPECT_TRUE(rows.count("ROOT/hello.txt"));
    EXPECT_TRUE(rows.count("ROOT/Docs/notes.txt"));
    const auto cat = runCli({"cat", img, "--partition", volume, "--path", "ROOT/hello.txt"});
    ASSERT_EQ(cat.exitCode, 0) << cat.err;
    EXPECT_EQ(cat.out.rfind("Kelvara fixture ", 0), 0u) << cat.out;
}
