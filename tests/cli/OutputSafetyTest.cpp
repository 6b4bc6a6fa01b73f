// Hostile names on every file system that recovers named files: fixtures with entries
// renamed on disk to "..", paths, separators, empty names, NUL and control characters and
// clashing names are recovered with kelvara-cli recover, and everything lands inside the
// output folder, under plain names, with nothing lost and nothing overwritten.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "fs/ParserFactory.h"
#include "support/NamePatch.h"
#include "support/TestSupport.h"

using kelvara::test::runCli;
namespace fs = std::filesystem;

namespace {

using Patcher = std::function<int(std::vector<std::uint8_t>&, const std::string&, const std::u16string&)>;

struct Rename {
    std::string from;
    std::u16string to;
    bool dropped = false;  // the format has no such entry: it is skipped, the others stay
};

struct SafetyCase {
    std::string label;
    std::string fixture;
    std::string parserKind;
    std::vector<std::string> where;  // how kelvara-cli finds the volume
    Patcher patch;
    std::vector<Rename> renames;
    bool fromIsShownName = true;  // false where `from` is raw bytes (8.3 slots)
};

std::string narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

Patcher bytesPatcher(int (*f)(std::vector<std::uint8_t>&, const std::string&, const std::string&)) {
    return [f](std::vector<std::uint8_t>& img, const std::string& from, const std::u16string& to) {
        return f(img, from, narrow(to));
    };
}

const Patcher kNtfs = kelvara::test::patchNtfsName;
const Patcher kFatLong = kelvara::test::patchFatLongName;
const Patcher kFatShort = bytesPatcher(kelvara::test::patchFatShortName);
const Patcher kExfat = kelvara::test::patchExfatName;
const Patcher kExt = bytesPatcher(kelvara::test::patchExtName);
constexpr std::uint64_t kHfspVolume = 208 * 512;
const Patcher kHfsp = [](std::vector<std::uint8_t>& img, const std::string& from, const std::u16string& to) {
    return kelvara::test::patchHfsName(img, kHfspVolume, from, to);
};
const std::vector<std::string> kVolume = {"--volume"};
const std::vector<std::string> kHfspWhere = {"--start-sector", "208", "--fs", "HFS+"};

// The hostile names, as UTF-16 (NUL needs the explicit length).
const std::u16string kNul(u"x\0y", 3);
const std::u16string kControl = u"\x01\t\x1b\x7f";

// exFAT's longest name in the fixture: eleven name entries.
std::string fillerName() {
    std::string s;
    for (int i = 0; i < 22; ++i) s += "filler-";
    return s + "fi.bin";
}

// 150 three-byte characters: 450 bytes of UTF-8, more than a Linux name may hold.
std::u16string longWideName() { return std::u16string(150, u'\u65E5') + u".bin"; }

std::vector<SafetyCase> cases() {
    std::vector<SafetyCase> out = {
        {"ntfs_dots_and_separators", "ntfs_c512", "ntfs", kVolume, kNtfs,
         {{"a.txt", u".."}, {"b.bin", u"a/b"}, {"c.bin", u"a\\b"}, {"Deeper", u""}, {"d.txt", u"."}}},
        {"ntfs_paths_nul_control", "ntfs_c512", "ntfs", kVolume, kNtfs,
         {{"old.bin", u"../../x"}, {"a.txt", kNul}, {"b.bin", kControl}, {"Sub", u"."}}},
        {"ntfs_clashing_names", "ntfs_c512", "ntfs", kVolume, kNtfs,
         {{"a.txt", u"Sub"}, {"b.bin", u"Sub"}, {"old.bin", u"c.bin"}}},
        {"exfat_hostile_names", "exfat_c512", "exfat", kVolume, kExfat,
         {{"root_file_number_0.txt", u".."},
          {"root_file_number_1.txt", u"a/b"},
          {"root_file_number_2.txt", u"a\\b"},
          {"root_file_number_3.txt", u"."},
          {"root_file_number_4.txt", u"../../x"},
          {"root_file_number_5.txt", kNul},
          {"root_file_number_6.txt", kControl},
          {"b", u"/"},
          {"c", u"."}}},
        {"exfat_clashing_names", "exfat_c512", "exfat", kVolume, kExfat,
         {{"root_file_number_7.txt", u"directory_for_nesting"},
          {"root_file_number_8.txt", u"root_file_number_9.txt"},
          {fillerName(), longWideName()}}},
        {"ext_hostile_names", "ext3_4k", "extx", kVolume, kExt,
         {{"file_000.txt", u".."},
          {"file_001.txt", u"."},
          {"file_002.txt", u"a/b"},
          {"file_003.txt", u"a\\b"},
          {"file_004.txt", u"../../x"},
          {"file_005.txt", kNul},
          {"file_006.txt", kControl},
          {"file_007.txt", u"", true},  // a name length of 0 is a broken entry
          {"deep", u".."}}},
        {"ext_clashing_names", "ext3_4k", "extx", kVolume, kExt,
         {{"hello.txt", u"docs"}, {"file_008.txt", u"file_009.txt"}, {"five_k.bin", u"many"}}},
        {"hfsp_hostile_names", "hfsp_basic", "hfs+", kHfspWhere, kHfsp,
         {{"item-0001.txt", u".."},
          {"item-0002.txt", u"."},
          {"item-0003.txt", u"a/b"},
          {"item-0004.txt", u"a\\b"},
          {"item-0005.txt", u"../../x"},
          {"item-0006.txt", kNul},
          {"item-0007.txt", kControl},
          {"item-0008.txt", u""},
          {"Nested", u".."}}},
        {"hfsp_clashing_names", "hfsp_basic", "hfs+", kHfspWhere, kHfsp,
         {{"hello.txt", u"Docs"}, {"item-0009.txt", u"item-0010.txt"}, {"empty.txt", u"Many"}}},
    };
    for (const std::string fat : {"fat12_tree", "fat16_tree", "fat32_tree"}) {
        out.push_back({fat + "_long_names", fat, "fat", kVolume, kFatLong,
                       {{"A long file name with spaces.txt", u".."},
                        {"long file name number 001.txt", u"a/b"},
                        {"long file name number 002.txt", u"a\\b"},
                        {"long file name number 003.txt", u""},
                        {"long file name number 009.txt", u"."},
                        {"long file name number 005.txt", u"../../x"},
                        {"long file name number 006.txt", kControl},
                        {"deep file.txt", kNul},
                        {"Docs", u".."},
                        {"Deep", u"."}}});
        out.push_back({fat + "_short_names", fat, "fat", kVolume, kFatShort,
                       {{"HELLO   TXT", u".."},
                        {"PLAIN   TXT", u"."},
                        {"HIDDEN  TXT", u"A/B"},
                        {"SYSTEM  TXT", u"A\\B"},
                        {"GAP1    BIN", kControl},
                        {"GAP3    BIN", kNul},
                        {"README  TXT", u""},
                        {"READONLYTXT", u"../../X"}},
                       false});
        if (fat == "fat16_tree") {
            // The advanced scan finds the same slots by searching the volume.
            out.push_back({fat + "_short_names_advanced", fat, "fat", {"--volume", "--mode", "advanced"}, kFatShort,
                           {{"HELLO   TXT", u".."}, {"PLAIN   TXT", u"."}, {"HIDDEN  TXT", u"A/B"}},
                           false});
        }
        out.push_back({fat + "_clashing_names", fat, "fat", kVolume, kFatLong,
                       {{"A long file name with spaces.txt", u"Docs"},
                        {"long file name number 007.txt", u"long file name number 008.txt"},
                        {"HiddenDir", u"SystemDir"}}});
    }
    return out;
}

void PrintTo(const SafetyCase& c, std::ostream* os) { *os << c.label; }

std::string caseName(const testing::TestParamInfo<SafetyCase>& info) { return info.param.label; }

// Every regular file below folder, by its path relative to folder.
std::map<std::string, std::string> filesBelow(const std::string& folder) {
    std::map<std::string, std::string> out;
    for (auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) out[fs::relative(e.path(), folder).string()] = kelvara::test::sha256OfFile(e.path().string());
    return out;
}

std::multiset<std::string> hashes(const std::map<std::string, std::string>& files) {
    std::multiset<std::string> out;
    for (const auto& [path, sha] : files) out.insert(sha);
    return out;
}

// The sha256 of every file a fixture's manifest lists as present. The manifests differ
// in their columns; a file line is the one with a 64-digit hash, and the states other
// than live are named.
std::multiset<std::string> liveManifestHashes(const std::string& fixture) {
    static const std::set<std::string> kNotLive = {"deleted", "gone", "whole", "listed", "old"};
    std::multiset<std::string> out;
    std::ifstream in(kelvara::test::fixtureFile(fixture + ".manifest"));
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream s(line);
        std::string sha;
        bool live = true;
        for (std::string t; s >> t;) {
            if (kNotLive.count(t)) live = false;
            if (t.size() == 64 && t.find_first_not_of("0123456789abcdef") == std::string::npos && sha.empty()) sha = t;
        }
        if (live && !sha.empty()) out.insert(sha);
    }
    return out;
}

// What recover writes for the unpatched fixture (and how it ends), once per fixture.
struct Baseline {
    int exitCode = -1;
    std::map<std::string, std::string> files;
};

const Baseline& baseline(const SafetyCase& c) {
    static std::map<std::string, Baseline> cache;
    static kelvara::test::ScratchDir dir;
    std::string key = c.fixture;
    for (const auto& w : c.where) key += " " + w;
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    std::vector<std::string> args = {"recover", kelvara::test::fixtureImage(c.fixture)};
    args.insert(args.end(), c.where.begin(), c.where.end());
    const std::string folder = dir.file(std::to_string(cache.size()));
    args.insert(args.end(), {"--out", folder});
    Baseline b;
    b.exitCode = runCli(args).exitCode;
    b.files = filesBelow(folder);
    return cache[key] = std::move(b);
}

class OutputSafetyByParser : public testing::TestWithParam<SafetyCase> {};

TEST_P(OutputSafetyByParser, HostileNamesStayInsideAndNothingIsLostOrOverwritten) {
    const SafetyCase& c = GetParam();
    if (!kelvara::createParser(c.parserKind)) GTEST_SKIP() << "no " << c.parserKind << " parser in this build";
    if (!kelvara::test::fixtureExists(c.fixture)) GTEST_SKIP() << "no " << c.fixture << " fixture";
    const Baseline& base = baseline(c);
    const auto& before = base.files;
    ASSERT_FALSE(before.empty());

    auto img = kelvara::test::readFileBytes(kelvara::test::fixtureImage(c.fixture));
    for (const auto& r : c.renames) EXPECT_GT(c.patch(img, r.from, r.to), 0) << "no entry named " << r.from;
    kelvara::test::ScratchDir scratch;
    const std::string image = scratch.file("patched.img");
    kelvara::test::writeFileBytes(image, img);
    const std::string out = scratch.file("out/inner");

    // Files already in the output folder, under names recovered files will want.
    ASSERT_TRUE(fs::create_directories(out));
    const std::set<std::string> kept = {"_..", "_", before.begin()->first.substr(0, before.begin()->first.find('/'))};
    for (const auto& name : kept) {
        if (fs::exists(out + "/" + name)) continue;
        std::ofstream(out + "/" + name) << "kept " << name;
    }

    std::vector<std::string> args = {"recover", image};
    args.insert(args.end(), c.where.begin(), c.where.end());
    args.insert(args.end(), {"--out", out});
    const auto r = runCli(args);
    ASSERT_EQ(r.exitCode, base.exitCode) << r.err << r.out;  // a file the volume cannot give fails either way

    // Nothing beside the image and the output folder, and no links anywhere.
    std::set<std::string> outside;
    for (auto& e : fs::recursive_directory_iterator(scratch.path())) {
        const std::string p = e.path().string();
        EXPECT_FALSE(e.is_symlink()) << p;
        if (p != image && p != scratch.file("out") && p != out && p.rfind(out + "/", 0) != 0) outside.insert(p);
    }
    EXPECT_TRUE(outside.empty()) << *outside.begin();

    for (const auto& name : kept) {
        if (!fs::is_regular_file(out + "/" + name)) continue;  // a folder of the volume was there first
        std::ifstream in(out + "/" + name);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text, "kept " + name) << "overwritten: " << name;
    }

    auto after = filesBelow(out);
    for (const auto& name : kept) after.erase(name);
    for (const auto& [path, sha] : after) {
        for (const auto& part : fs::path(path)) {
            const std::string s = part.string();
            EXPECT_FALSE(s.empty() || s == "." || s == "..") << path;
            EXPECT_LE(s.size(), 255u) << path;
            for (unsigned char ch : s) EXPECT_FALSE(ch == '\\' || ch < 0x20 || ch == 0x7F) << path;
        }
    }
    // The parser took the new names: no old one is left in the output.
    if (c.fromIsShownName) {
        std::set<std::string> parts;
        for (auto& e : fs::recursive_directory_iterator(out))
            if (!(e.path().parent_path() == out && kept.count(e.path().filename().string())))
                parts.insert(e.path().filename().string());
        for (const auto& rn : c.renames) EXPECT_EQ(parts.count(rn.from), 0u) << rn.from;
    }
    // Every file the unpatched volume gives arrives, once each: none lost, none written
    // over another.
    auto expected = hashes(before);
    auto live = liveManifestHashes(c.fixture);
    for (const auto& rn : c.renames) {
        if (!rn.dropped) continue;
        for (const auto& [path, sha] : before) {
            if (fs::path(path).filename() != rn.from) continue;
            expected.erase(expected.find(sha));
            if (live.count(sha)) live.erase(live.find(sha));
        }
    }
    const auto got = hashes(after);
    EXPECT_EQ(got, expected);
    for (const auto& sha : live) EXPECT_GE(got.count(sha), 1u) << sha;
}

INSTANTIATE_TEST_SUITE_P(OutputSafety, OutputSafetyByParser, testing::ValuesIn(cases()), caseName);

}  // namespace

// A driver that gives a file a shorter long name leaves the run's spare slots deleted in
// front of the new one; the file stays live under its new name.
TEST(OutputSafetyFat, AShortenedLongNameLeavesItsFileLive) {
    if (!kelvara::createParser("fat") || !kelvara::test::fixtureExists("fat16_tree")) GTEST_SKIP();
    auto img = kelvara::test::readFileBytes(kelvara::test::fixtureImage("fat16_tree"));
    ASSERT_EQ(kelvara::test::patchFatLongName(img, "long file name number 001.txt", u"short.txt"), 1);
    kelvara::test::ScratchDir dir;
    kelvara::test::writeFileBytes(dir.file("fat.img"), img);
    const auto r = runCli({"list", dir.file("fat.img"), "--volume", "--path", "ROOT/Big", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    int found = 0;
    for (const auto& row : nlohmann::json::parse(r.out)) {
        if (row["name"] != "short.txt") continue;
        ++found;
        EXPECT_FALSE(row["deleted"].get<bool>());
    }
    EXPECT_EQ(found, 1) << r.out.substr(0, 400);
}

// A carved find is named by its offset and its signature's extension: nothing on the disk
// shapes it, but a signature list handed over by someone else can. Carving twice into one
// folder, over a file that already has the find's name, keeps all three.
TEST(OutputSafetyCarve, ExtensionsFromAListStayInsideAndNothingIsOverwritten) {
    kelvara::test::ScratchDir dir;
    const std::string list = dir.file("hostile.sig");
    const auto add = runCli({"signatures", "add", list, "--ext", "/../", "--start", "0x4B,0x56,0x52,0x31", "--end",
                             "0x45,0x4E,0x44,0x21", "--approx-size", "65536", "--category", "../.."});
    ASSERT_EQ(add.exitCode, 0) << add.err;
    std::vector<std::uint8_t> image(1048576, 0);
    kelvara::test::putText(image, 2048, "KVR1 payload of the carved file END!");
    const std::string img = dir.file("disk.img");
    kelvara::test::writeFileBytes(img, image);

    const std::string out = dir.file("out/inner");
    ASSERT_TRUE(fs::create_directories(out));
    const std::string taken = out + "/2048 ._.._";  // the find's name, made safe
    std::ofstream(taken) << "kept";
    for (int run = 0; run < 2; ++run) {
        const auto r = runCli({"carve", img, "--start-sector", "0", "--fs", "raw", "--no-default", "--signatures", list,
                               "--out", out});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    std::set<std::string> outside;
    for (auto& e : fs::recursive_directory_iterator(dir.path())) {
        const std::string p = e.path().string();
        if (p != list && p != img && p != dir.file("out") && p != out && p.rfind(out + "/", 0) != 0) outside.insert(p);
    }
    EXPECT_TRUE(outside.empty()) << *outside.begin();
    const auto files = filesBelow(out);
    ASSERT_EQ(files.size(), 3u);
    std::ifstream in(taken);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), "kept");
    std::set<std::string> finds;
    for (const auto& [path, sha] : files) {
        EXPECT_EQ(path.find('/'), std::string::npos) << path;  // flat, in the folder itself
        if (path == "2048 ._.._") continue;
        finds.insert(sha);
        EXPECT_EQ(fs::file_size(out + "/" + path), 36u) << path;
    }
    EXPECT_EQ(finds.size(), 1u);  // the same find twice, under two names
}
