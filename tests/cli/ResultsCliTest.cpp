// kelvara-cli recover, list, search and dump over the demo disk and the NTFS fixtures.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "fs/ParserFactory.h"
#include "support/NamePatch.h"
#include "support/TestSupport.h"

using kelvara::test::fixtureImage;
using kelvara::test::runCli;
namespace fs = std::filesystem;

namespace {

#define REQUIRE_NTFS()                                                                       \
    do {                                                                                     \
        if (!kelvara::createParser("ntfs")) GTEST_SKIP() << "no NTFS parser in this build"; \
    } while (0)

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

struct ManifestLine {
    std::string status, kind, path, sha;
    std::uint64_t size = 0;
};

std::vector<ManifestLine> manifest(const std::string& file, const std::string& kindFilter = {}) {
    std::ifstream in(file);
    std::vector<ManifestLine> out;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        ManifestLine m;
        std::string size;
        s >> m.status >> m.kind >> m.path >> size >> m.sha;
        if (!kindFilter.empty() && m.kind != kindFilter) continue;
        if (size != "-") m.size = std::stoull(size);
        out.push_back(m);
    }
    return out;
}

std::int64_t isoToUnix(const std::string& iso) {
    std::tm t{};
    std::istringstream s(iso);
    s >> std::get_time(&t, "%Y-%m-%dT%H:%M:%SZ");
    return static_cast<std::int64_t>(timegm(&t));
}

// Every regular file below folder, by its path relative to folder.
std::map<std::string, std::string> filesBelow(const std::string& folder) {
    std::map<std::string, std::string> out;
    for (auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) out[fs::relative(e.path(), folder).string()] = kelvara::test::sha256OfFile(e.path().string());
    return out;
}

}  // namespace

TEST(ResultsCli, RecoverWritesTheDemoVolumeByteIdenticalWithItsTimes) {
    REQUIRE_NTFS();
    const std::string img = demoImage();
    const std::string before = kelvara::test::sha256OfFile(img);
    kelvara::test::ScratchDir out;
    const auto r = runCli({"recover", img, "--partition", "0", "--out", out.path()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Scanning processing done.Select save button to save the data."), std::string::npos);
    EXPECT_NE(r.err.find("number of files found inside this folder = "), std::string::npos);
    EXPECT_NE(r.err.find("work done"), std::string::npos);
    EXPECT_NE(r.out.find(" files written, 0 failed\n"), std::string::npos) << r.out;

    const auto scan = runCli({"scan", img, "--partition", "0", "--json"});
    ASSERT_EQ(scan.exitCode, 0);
    std::map<std::string, nlohmann::json> rows;
    for (const auto& row : nlohmann::json::parse(scan.out)) rows[row["path"].get<std::string>()] = row;

    int checked = 0;
    for (const auto& m : manifest(KELVARA_SOURCE_DIR "/demo/demo.manifest", "ntfs")) {
        SCOPED_TRACE(m.path);
        const std::string file = out.file(m.path);
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);  // before reading it changes the access time
        const auto& row = rows.at("ROOT/" + m.path);
        EXPECT_EQ(st.st_mtim.tv_sec, isoToUnix(row["modified"].get<std::string>()));
        EXPECT_EQ(st.st_atim.tv_sec, isoToUnix(row["accessed"].get<std::string>()));
        EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), m.size);
        EXPECT_EQ(kelvara::test::sha256OfFile(file), m.sha);
        ++checked;
    }
    EXPECT_EQ(checked, 16);
    EXPECT_TRUE(fs::is_directory(out.file("ORPHAN_ENTRY")));
    EXPECT_FALSE(fs::exists(out.file("$BadClus")));  // counted, never written
    EXPECT_EQ(kelvara::test::sha256OfFile(img), before);

    // One folder, and the dry run that only counts.
    const auto dry = runCli({"recover", img, "--partition", "0", "--path", "ROOT/Documents", "--out",
                             out.file("dry"), "--dry-run"});
    ASSERT_EQ(dry.exitCode, 0) << dry.err;
    EXPECT_EQ(dry.out, "7 files\n");
    EXPECT_FALSE(fs::exists(out.file("dry")));
    const auto docs = runCli({"recover", img, "--partition", "0", "--path", "ROOT/Documents/Projects", "--out",
                              out.file("projects")});
    ASSERT_EQ(docs.exitCode, 0) << docs.err;
    EXPECT_EQ(docs.out, "2 files written, 0 failed\n");
    EXPECT_EQ(filesBelow(out.file("projects")).size(), 2u);
    EXPECT_TRUE(fs::exists(out.file("projects/2024/plan.txt")));

    EXPECT_EQ(runCli({"recover", img, "--partition", "0", "--path", "ROOT/nothing", "--out", out.path()}).exitCode, 2);
    EXPECT_EQ(runCli({"recover", img, "--partition", "0", "--path", "ROOT/Documents/letter.txt", "--out", out.path()})
                  .exitCode,
              1);
}

TEST(ResultsCli, ListSearchAndDump) {
    REQUIRE_NTFS();
    const std::string img = demoImage();
    const auto list = runCli({"list", img, "--partition", "0", "--path", "ROOT/Documents", "--json"});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    std::map<std::string, nlohmann::json> rows;
    for (const auto& row : nlohmann::json::parse(list.out)) rows[row["name"].get<std::string>()] = row;
    EXPECT_EQ(rows.size(), 5u);  // files only: Projects is a folder
    ASSERT_TRUE(rows.count("draft.txt"));
    EXPECT_TRUE(rows["draft.txt"]["deleted"].get<bool>());
    EXPECT_EQ(rows["letter.txt"]["size"], "672 Bytes");
    EXPECT_EQ(rows["letter.txt"]["bytes"], 672);
    EXPECT_EQ(rows["letter.txt"]["modified"], "03/05/2024  10:20 AM");
    const auto text = runCli({"list", img, "--partition", "0", "--path", "Documents/letter.txt"});
    ASSERT_EQ(text.exitCode, 0);
    EXPECT_EQ(text.out.substr(0, 11), "letter.txt\t");

    const auto search = runCli({"search", img, "--partition", "0", "--pattern", "PNG|jpg", "--json"});
    ASSERT_EQ(search.exitCode, 0) << search.err;
    std::set<std::string> paths;
    for (const auto& row : nlohmann::json::parse(search.out)) paths.insert(row["path"].get<std::string>());
    EXPECT_EQ(paths, (std::set<std::string>{"ROOT\\Pictures\\holiday\\beach.jpg", "ROOT\\Pictures\\holiday\\rejected.jpg",
                                            "ROOT\\Pictures\\sunset.png", "ROOT\\Pictures\\discarded.png"}));
    EXPECT_NE(search.err.find("Searching Finished"), std::string::npos);
    const auto bad = runCli({"search", img, "--partition", "0", "--pattern", "*.txt"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find("such characters are not allowed for search.Try again with different pattern."),
              std::string::npos);

    kelvara::test::ScratchDir out;
    const auto dump = runCli({"dump", img, "--partition", "0", "--path", "ROOT/Temp/scratch.txt", "--out", out.path()});
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_EQ(dump.out, out.file("scratch.txt") + "\n");
    EXPECT_EQ(kelvara::test::sha256OfFile(out.file("scratch.txt")),
              "8abc43778327614ffed5a6f4670fd37819c5c11132e3257e81d12299f39b65b8");
    const auto folder = runCli({"dump", img, "--partition", "0", "--path", "ROOT/Pictures", "--out", out.path()});
    ASSERT_EQ(folder.exitCode, 0) << folder.err;
    std::multiset<std::string> names;  // in the tree's order, which is the records' order
    std::istringstream lines(folder.out);
    for (std::string l; std::getline(lines, l);) names.insert(l);
    EXPECT_EQ(names, (std::multiset<std::string>{"logo.bmp", "sunset.png", "discarded.png"}));
}

using kelvara::test::patchNtfsName;

TEST(ResultsCli, NamesThatTryToEscapeStayInsideTheOutputFolder) {
    REQUIRE_NTFS();
    if (!kelvara::test::fixtureExists("ntfs_c512")) GTEST_SKIP() << "no ntfs_c512 fixture";
    auto img = kelvara::test::readFileBytes(fixtureImage("ntfs_c512"));
    EXPECT_GT(patchNtfsName(img, "a.txt", u".."), 0);
    EXPECT_GT(patchNtfsName(img, "b.bin", u"../bb"), 0);
    EXPECT_GT(patchNtfsName(img, "c.bin", u"x\x01\n.."), 0);
    EXPECT_GT(patchNtfsName(img, "Sub", u".."), 0);
    EXPECT_GT(patchNtfsName(img, "Deeper", u"..\\..\\"), 0);
    EXPECT_GT(patchNtfsName(img, "d.txt", u"/tmp/"), 0);
    kelvara::test::ScratchDir scratch;
    kelvara::test::writeFileBytes(scratch.file("patched.img"), img);
    const std::string out = scratch.file("out/inner");

    const auto r = runCli({"recover", scratch.file("patched.img"), "--volume", "--out", out});
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
    // Nothing beside the image and the output folder.
    std::set<std::string> outside;
    for (auto& e : fs::recursive_directory_iterator(scratch.path())) {
        const std::string p = e.path().string();
        if (p != scratch.file("patched.img") && p != scratch.file("out") && p.rfind(out, 0) != 0) outside.insert(p);
    }
    EXPECT_TRUE(outside.empty()) << *outside.begin();

    std::map<std::string, std::string> bySha;
    for (const auto& [path, sha] : filesBelow(out)) bySha[sha] = path;
    for (const auto& m : manifest(kelvara::test::fixtureFile("ntfs_c512.manifest"))) {
        if (m.kind != "file") continue;
        SCOPED_TRACE(m.path);
        ASSERT_TRUE(bySha.count(m.sha));
        const std::string& path = bySha[m.sha];
        for (char c : path) EXPECT_FALSE(c == '\\' || static_cast<unsigned char>(c) < 0x20) << path;
        for (const auto& part : fs::path(path)) EXPECT_NE(part.string(), "..") << path;
    }
}
