// kelvara-cli carve and signatures: the default list over the carving fixture, and
// lists written by `signatures add` used by `carve`.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "support/TestSupport.h"

using namespace kelvara::test;

namespace {

struct ManifestRow {
    std::int64_t offset;
    std::string ext;
    std::int64_t size;
    std::string sha256;
    std::string source;
};

std::vector<ManifestRow> manifest(const std::string& name) {
    std::ifstream in(fixtureFile(name + ".manifest"));
    std::vector<ManifestRow> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream s(line);
        ManifestRow r;
        s >> r.offset >> r.ext >> r.size >> r.sha256 >> r.source;
        rows.push_back(r);
    }
    return rows;
}

}  // namespace

TEST(CarveCli, DefaultListGivesBackEveryContiguousFile) {
    const auto rows = manifest("carve_mixed");
    ASSERT_GE(rows.size(), 10u);
    ScratchDir out;
    const auto r = runCli({"carve", fixtureImage("carve_mixed"), "--volume", "--out", out.path(), "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto finds = nlohmann::json::parse(r.out);
    std::map<std::int64_t, nlohmann::json> byOffset;
    for (const auto& f : finds) byOffset[f["offset"].get<std::int64_t>()] = f;
    EXPECT_EQ(byOffset.size(), rows.size()) << r.out;  // nothing but the known files
    for (const auto& row : rows) {
        SCOPED_TRACE(row.source);
        ASSERT_TRUE(byOffset.count(row.offset));
        const auto& f = byOffset[row.offset];
        EXPECT_EQ(f["name"], std::to_string(row.offset) + " ." + row.ext);
        EXPECT_EQ(f["length"], row.size);
        const std::string category = f["category"];
        EXPECT_EQ(category, row.ext == "pdf" ? "Documents" : row.ext == "zip" ? "Archives" : "Images");
        EXPECT_EQ(f["path"], out.file(f["name"]));
        EXPECT_EQ(sha256OfFile(f["path"]), row.sha256);
    }
}

TEST(CarveCli, ListsWrittenByAddAreCarved) {
    ScratchDir dir;
    const std::string list = dir.file("mine.sig");
    auto add = [&](std::vector<std::string> more) {
        std::vector<std::string> args = {"signatures", "add", list};
        args.insert(args.end(), more.begin(), more.end());
        return runCli(args);
    };
    auto r = add({"--ext", "kvr", "--start", "0x4B,0x56,0x52,0x31", "--end", "0x45,0x4E,0x44,0x21",
                  "--approx-size", "65536", "--category", "Mine"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("everything initialized well....."), std::string::npos);
    r = add({"--ext", "kln", "--start", "0x4B,0x4C,0x4E", "--size-offset", "4", "--size-bytes", "4",
             "--header-size", "8", "--approx-size", "100000", "--category", "Mine"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = add({"--ext", "", "--start", "0x01,0x02"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("extention length is zero.."), std::string::npos);
    EXPECT_EQ(readFileBytes(list).size(), 342u);

    r = runCli({"signatures", "list", list, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto listed = nlohmann::json::parse(r.out);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0]["extension"], "kvr");
    EXPECT_EQ(listed[0]["start"], "0x4B,0x56,0x52,0x31");
    EXPECT_EQ(listed[0]["end"], "0x45,0x4E,0x44,0x21");
    EXPECT_EQ(listed[1]["sizeOffset"], 4);
    EXPECT_EQ(listed[1]["headerSize"], 8);
    EXPECT_EQ(listed[1]["id"], 1);

    // A volume at sector 8 of an image: one file closed by its end, one sized by its header.
    std::vector<std::uint8_t> image(3 * 1048576, 0);
    const std::size_t base = 8 * 512;
    putText(image, base + 2048, "KVR1 payload of the first file END!");
    putText(image, base + 8192, "KLN");
    put32(image, base + 8192 + 4, 1000);
    for (int i = 0; i < 1000; ++i) image[base + 8192 + 8 + i] = static_cast<std::uint8_t>(i);
    const std::string img = dir.file("disk.img");
    writeFileBytes(img, image);
    ScratchDir out;
    r = runCli({"carve", img, "--start-sector", "8", "--fs", "raw", "--no-default", "--signatures", list, "--out",
                out.path(), "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto finds = nlohmann::json::parse(r.out);
    ASSERT_EQ(finds.size(), 2u) << r.out;
    EXPECT_EQ(finds[0]["name"], "8192 .kln");
    EXPECT_EQ(finds[0]["length"], 1008);
    EXPECT_EQ(finds[1]["name"], "2048 .kvr");
    EXPECT_EQ(finds[1]["length"], 35);
    EXPECT_EQ(finds[1]["category"], "Mine");
    const auto kvr = readFileBytes(out.file("2048 .kvr"));
    EXPECT_EQ(std::string(kvr.begin(), kvr.end()), "KVR1 payload of the first file END!");
    EXPECT_EQ(readFileBytes(out.file("8192 .kln")).size(), 1008u);
    EXPECT_EQ(readFileBytes(img), image);  // the source is untouched
}

TEST(CarveCli, RefusesWhatItCannotCarve) {
    ScratchDir dir;
    const std::string img = dir.file("disk.img");
    writeFileBytes(img, std::vector<std::uint8_t>(1048576, 0));
    writeFileBytes(dir.file("short.sig"), std::vector<std::uint8_t>(100, 0));
    struct Case {
        std::vector<std::string> args;
        int exit;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"carve", img, "--volume", "--no-default", "--out", dir.file("o1")}, 1, "enter the info file first.."},
        {{"carve", img, "--volume", "--signatures", dir.file("short.sig"), "--out", dir.file("o2")}, 1,
         "not a valid file.."},
        {{"carve", img, "--volume", "--signatures", dir.file("missing.sig"), "--out", dir.file("o3")}, 1,
         "can not open file"},
        {{"carve", img, "--start-sector", "4096", "--fs", "raw", "--out", dir.file("o4")}, 1, "zero size volume.."},
        {{"signatures", "list", dir.file("short.sig")}, 1, "not a valid file.."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        const auto r = runCli(c.args);
        EXPECT_EQ(r.exitCode, c.exit) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}
