// kelvara-cli scan, recover, search and dump over the HFS+ fixtures.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "support/TestSupport.h"

using kelvara::test::fixtureFile;
using kelvara::test::fixtureImage;
using kelvara::test::runCli;
namespace fs = std::filesystem;

namespace {

struct Line {
    std::uint64_t size = 0;
    std::string sha;
    std::int64_t modified = 0;
};

// path -> line of tests/fixtures/<name>.manifest
std::map<std::string, Line> manifest(const std::string& name) {
    std::map<std::string, Line> out;
    std::ifstream in(fixtureFile(name + ".manifest"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream s(line);
        std::string path, size, sha, created, modified;
        std::getline(s, path, '\t');
        std::getline(s, size, '\t');
        std::getline(s, sha, '\t');
        std::getline(s, created, '\t');
        std::getline(s, modified, '\t');
        out[path] = {std::stoull(size), sha, std::stoll(modified)};
    }
    return out;
}

// sha256 of every regular file below folder, by relative path (one sha256sum run).
std::map<std::string, std::string> hashesBelow(const std::string& folder) {
    std::map<std::string, std::string> out;
    const std::string cmd = "cd '" + folder + "' && find . -type f -print0 | xargs -0 -r sha256sum";
    FILE* f = ::popen(cmd.c_str(), "r");
    if (!f) return out;
    char buf[8192];
    while (std::fgets(buf, sizeof buf, f)) {
        std::string l(buf);
        if (!l.empty() && l.back() == '\n') l.pop_back();
        if (l.size() > 68) out[l.substr(68)] = l.substr(0, 64);  // "<hash>  ./<path>"
    }
    ::pclose(f);
    return out;
}

const std::vector<std::string> kBasic = {"--start-sector", "208", "--fs", "HFS+"};

std::vector<std::string> args(std::vector<std::string> a, const std::vector<std::string>& more) {
    a.insert(a.end(), more.begin(), more.end());
    return a;
}

}  // namespace

TEST(HfspCli, ScanListsEveryFileWithSizeAndTime) {
    const auto files = manifest("hfsp_basic");
    const auto r = runCli(args({"scan", fixtureImage("hfsp_basic"), "--json"}, kBasic));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::map<std::string, nlohmann::json> rows;
    for (const auto& row : nlohmann::json::parse(r.out)) rows[row["path"].get<std::string>()] = row;
    for (const auto& [path, line] : files) {
        SCOPED_TRACE(path);
        auto it = rows.find("ROOT/" + path);
        ASSERT_NE(it, rows.end());
        EXPECT_EQ(it->second["size"].get<std::uint64_t>(), line.size);
        EXPECT_FALSE(it->second["deleted"].get<bool>());
        const std::time_t t = line.modified;
        char iso[32];
        std::strftime(iso, sizeof iso, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&t));
        EXPECT_EQ(it->second["modified"].get<std::string>(), iso);
    }
    EXPECT_FALSE(rows.count("ROOT/KELVARA_HFS"));  // the root folder itself
}

TEST(HfspCli, RecoverWritesEveryFileByteIdenticalWithItsTimes) {
    for (const std::string image : {"hfsp_basic", "hfsp_fragmented"}) {
        SCOPED_TRACE(image);
        const auto files = manifest(image);
        kelvara::test::ScratchDir out;
        const std::vector<std::string> where =
            image == "hfsp_basic" ? kBasic : std::vector<std::string>{"--volume"};
        const auto r = runCli(args({"recover", fixtureImage(image), "--out", out.path()}, where));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto got = hashesBelow(out.path());
        EXPECT_EQ(got.size(), files.size());
        for (const auto& [path, line] : files) {
            SCOPED_TRACE(path);
            auto it = got.find(path);
            ASSERT_NE(it, got.end());
            EXPECT_EQ(it->second, line.sha);
            struct stat st {};
            ASSERT_EQ(::stat(out.file(path).c_str(), &st), 0);
            EXPECT_EQ(st.st_mtime, line.modified);
        }
    }
}

TEST(HfspCli, DeepAndAdvancedModesRecoverAWipedCatalogHeader) {
    const auto files = manifest("hfsp_wiped");
    std::map<std::string, std::string> byName;
    for (const auto& [path, line] : files) byName[fs::path(path).filename().string()] = line.sha;

    // The standard scan stops at the wiped header node: it says so, and fails.
    const auto standard = runCli({"scan", fixtureImage("hfsp_wiped"), "--volume"});
    EXPECT_EQ(standard.exitCode, 1);
    EXPECT_NE(standard.err.find("Work Aborted...."), std::string::npos) << standard.err;
    EXPECT_EQ(standard.err.find("has no"), std::string::npos) << standard.err;

    for (const std::string mode : {"advanced", "deep"}) {
        SCOPED_TRACE(mode);
        const auto scan = runCli({"scan", fixtureImage("hfsp_wiped"), "--volume", "--mode", mode});
        ASSERT_EQ(scan.exitCode, 0) << scan.err;
        EXPECT_NE(scan.out.find("ROOT/ORPHAN_ENTRY\tdirectory"), std::string::npos);
        kelvara::test::ScratchDir out;
        const auto r = runCli({"recover", fixtureImage("hfsp_wiped"), "--volume", "--mode", mode, "--out", out.path()});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::map<std::string, std::string> got;
        for (const auto& [path, sha] : hashesBelow(out.path())) got[fs::path(path).filename().string()] = sha;
        EXPECT_EQ(got, byName);
    }
}

TEST(HfspCli, SearchAndDump) {
    const std::string img = fixtureImage("hfsp_basic");
    const auto s = runCli(args({"search", img, "--pattern", "item-000[12]|deep"}, kBasic));
    ASSERT_EQ(s.exitCode, 0) << s.err;
    EXPECT_NE(s.out.find("item-0001.txt"), std::string::npos);
    EXPECT_NE(s.out.find("item-0002.txt"), std::string::npos);
    EXPECT_NE(s.out.find("deep.txt"), std::string::npos);
    EXPECT_EQ(s.out.find("item-0003.txt"), std::string::npos);

    kelvara::test::ScratchDir out;
    const auto d = runCli(args({"dump", img, "--path", "ROOT/Docs/Nested/Deeper/deep.txt", "--out", out.path()}, kBasic));
    ASSERT_EQ(d.exitCode, 0) << d.err;
    EXPECT_NE(d.err.find("file is dumped in path  :  "), std::string::npos);
    EXPECT_EQ(kelvara::test::sha256OfFile(out.file("deep.txt")), manifest("hfsp_basic").at("Docs/Nested/Deeper/deep.txt").sha);
}
