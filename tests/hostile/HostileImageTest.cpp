// kelvara-cli over images patched into the worst shapes a disk can take: chains and
// folders that loop or contain themselves, runs past the volume, attribute lengths of 0, a folder chain
// 100,000 deep, B-tree links that cycle, counts in the billions, wild signature lists.
// Each command must end within a bound, stay under a memory cap, exit with a code (never
// a signal), and still list and recover the files the damage leaves readable.
// The images come from tools/fixtures/make_hostile_fixtures.sh; hostile_<case>.expect
// lists the readable files (path below ROOT, sha256).

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "support/BoundedRun.h"
#include "support/TestSupport.h"

using namespace kelvara::test;
using namespace std::chrono_literals;

namespace {

// Hang and blow-up guards, not speed goals.
std::chrono::milliseconds bound(std::chrono::milliseconds normal) { return normal * buildSlowdown(); }
std::uint64_t memoryCap() { return (buildSlowdown() > 1 ? 1536ull : 512ull) << 20; }

std::vector<std::pair<std::string, std::string>> expectedFiles(const std::string& image) {
    std::ifstream in(fixtureFile(image + ".expect"));
    std::vector<std::pair<std::string, std::string>> files;
    std::string line;
    while (std::getline(in, line)) {
        const auto tab = line.find('\t');
        if (tab != std::string::npos) files.emplace_back(line.substr(0, tab), line.substr(tab + 1));
    }
    return files;
}

std::string lastLine(const std::string& text) {
    std::istringstream s(text);
    std::string line, last;
    while (std::getline(s, line))
        if (!line.empty()) last = line;
    return last;
}

// Ended on its own, under the cap, with one of the program's exit codes.
void expectBounded(const BoundedResult& r, const std::string& what) {
    SCOPED_TRACE(what);
    EXPECT_FALSE(r.timedOut) << "still running after " << r.seconds << " s";
    EXPECT_EQ(r.signal, 0) << r.err.substr(r.err.size() > 4000 ? r.err.size() - 4000 : 0);
    EXPECT_LT(r.peakRssBytes, memoryCap()) << (r.peakRssBytes >> 20) << " MiB";
    EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 1 || r.exitCode == 2) << r.exitCode;
    if (r.exitCode != 0) {
        EXPECT_FALSE(lastLine(r.err).empty()) << "failed without saying why";
    }
}

struct HostileCase {
    const char* image;
    std::vector<std::string> where;  // how the volume is found
    std::chrono::milliseconds wallBound = 5000ms;
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.image; }

class HostileImage : public ::testing::TestWithParam<HostileCase> {};

std::string caseName(const ::testing::TestParamInfo<HostileCase>& info) {
    std::string n = info.param.image;
    return n.substr(n.find('_') + 1);
}

// scan lists every readable file, recover writes each one with the right content.
TEST_P(HostileImage, ScanAndRecoverEndAndYieldTheReadableFiles) {
    const HostileCase& c = GetParam();
    const std::string img = fixtureImage(c.image);
    const auto expected = expectedFiles(c.image);

    std::vector<std::string> scan{"scan", img, "--json"};
    scan.insert(scan.end(), c.where.begin(), c.where.end());
    const BoundedResult s = runCliBounded(scan, bound(c.wallBound));
    expectBounded(s, "scan");
    std::set<std::string> listed;
    if (s.exitCode == 0 && !s.timedOut) {
        const auto rows = nlohmann::json::parse(s.out, nullptr, false);
        ASSERT_TRUE(rows.is_array()) << s.out.substr(0, 2000);
        for (const auto& row : rows) listed.insert(row["path"].get<std::string>());
    }
    for (const auto& [path, sha] : expected) EXPECT_TRUE(listed.count("ROOT/" + path)) << "not listed: " << path;
    // Where nothing is readable, the scan says so instead of showing a silent empty list.
    if (expected.empty()) {
        EXPECT_FALSE(lastLine(s.err).empty()) << "nothing listed and nothing said";
    }

    ScratchDir out;
    std::vector<std::string> recover{"recover", img, "--out", out.path()};
    recover.insert(recover.end(), c.where.begin(), c.where.end());
    const BoundedResult r = runCliBounded(recover, bound(c.wallBound));
    expectBounded(r, "recover");
    for (const auto& [path, sha] : expected) EXPECT_EQ(sha256OfFile(out.file(path)), sha) << "recovered: " << path;
}

const std::vector<std::string> kVolume = {"--volume"};
const std::vector<std::string> kHfsPartition = {"--start-sector", "208", "--fs", "HFS+"};

INSTANTIATE_TEST_SUITE_P(
    HostileImageFiles, HostileImage,
    ::testing::Values(HostileCase{"hostile_fat_chain_loop", kVolume}, HostileCase{"hostile_fat_chain_past", kVolume},
                      HostileCase{"hostile_fat_dir_self", kVolume}, HostileCase{"hostile_fat_deep", kVolume, 30000ms},
                      HostileCase{"hostile_ntfs_mft_past", kVolume}, HostileCase{"hostile_ntfs_mft_overlap", kVolume},
                      HostileCase{"hostile_ntfs_attr_len", kVolume}, HostileCase{"hostile_ext_extents", kVolume},
                      HostileCase{"hostile_ext_dir_self", kVolume},
                      HostileCase{"hostile_ext_blocks", kVolume}, HostileCase{"hostile_ext_inodes", kVolume},
                      HostileCase{"hostile_hfsp_loop", kHfsPartition},
                      HostileCase{"hostile_hfsp_header_loop", kHfsPartition}),
    caseName);

// ---- signature lists

constexpr std::size_t kRecordSize = 171;

struct WildRecord {
    const char* what;
    std::uint8_t startLength = 4, endLength = 0, extensionLength = 3, recordIndex = 0;
    std::int32_t sizeOffset = -1, sizeBytes = 0, headerSize = 0;
    std::int64_t approx = 1 << 20, skip = 0;
    std::uint32_t endExtra = 0;
};

// A record of the binary list format, with every field as the case claims it.
std::vector<std::uint8_t> listRecord(const WildRecord& w, const std::vector<std::uint8_t>& start,
                                     const std::vector<std::uint8_t>& end, const char* ext, std::uint8_t index) {
    std::vector<std::uint8_t> b(kRecordSize, 0);
    for (std::size_t i = 0; ext[i] && i < 4; ++i) b[2 * i] = static_cast<std::uint8_t>(ext[i]);
    b[10] = w.extensionLength;
    for (std::size_t i = 0; i < start.size() && i < 10; ++i) b[11 + i] = start[i];
    for (std::size_t i = 0; i < end.size() && i < 10; ++i) b[21 + i] = end[i];
    b[31] = w.startLength;
    b[32] = w.endLength;
    b[33] = index;
    put32(b, 34, static_cast<std::uint32_t>(w.sizeOffset));
    put32(b, 38, static_cast<std::uint32_t>(w.sizeBytes));
    put32(b, 42, static_cast<std::uint32_t>(w.headerSize));
    put32(b, 47, w.endExtra);
    put64(b, 51, static_cast<std::uint64_t>(w.approx));
    put64(b, 59, static_cast<std::uint64_t>(w.skip));
    putText(b, 67, "X");
    return b;
}

// Each wild record comes first in a list whose second record is a plain JPEG one: the
// carve must end, and the JPEG before every PNG in the image must still come back whole.
TEST(HostileImageSignatures, WildFieldValuesEndAndLeaveTheSaneRecordWorking) {
    const std::int64_t kHuge = std::int64_t(1) << 62;
    const std::vector<WildRecord> cases = {
        {"length field offset past the record", 4, 0, 3, 0, 0x7FFFFFF0, 4},
        {"length field of 4 GiB width", 4, 0, 3, 0, 8, -1},
        {"negative length field width", 4, 0, 3, 0, 16, -8},
        {"negative header size", 4, 0, 3, 0, 16, 4, -0x7FFFFFFF},
        {"huge header size", 4, 0, 3, 0, 16, 4, 0x7FFFFFFF},
        {"negative approximate size", 4, 0, 3, 0, -1, 0, 0, -5},
        {"huge approximate size", 4, 0, 3, 0, -1, 0, 0, kHuge},
        {"zero approximate size", 4, 0, 3, 0, -1, 0, 0, 0},
        {"negative skip", 4, 0, 3, 0, -1, 0, 0, 1 << 20, -512},
        {"huge skip", 4, 0, 3, 0, -1, 0, 0, 1 << 20, kHuge},
        {"minimum skip", 4, 0, 3, 0, -1, 0, 0, 1 << 20, std::numeric_limits<std::int64_t>::min()},
        {"start signature longer than 10", 200},
        {"end signature longer than 10", 4, 255},
        {"empty start signature", 0},
        {"extension longer than it holds", 4, 0, 255},
        {"record index past the list", 4, 0, 3, 250},
        {"huge bytes kept after the end", 4, 8, 3, 0, -1, 0, 0, 1 << 20, 0, 0xFFFFFFFF},
    };
    const std::string img = fixtureImage("carve_mixed");
    const std::vector<std::uint8_t> png = {0x89, 0x50, 0x4E, 0x47}, pngEnd = {0x49, 0x45, 0x4E, 0x44};
    WildRecord jpeg{"jpeg", 3, 2, 3};
    for (const WildRecord& w : cases) {
        SCOPED_TRACE(w.what);
        ScratchDir dir;
        auto list = listRecord(w, png, pngEnd, "wld", w.recordIndex);
        const auto sane = listRecord(jpeg, {0xFF, 0xD8, 0xFF}, {0xFF, 0xD9}, "jpg", 1);
        list.insert(list.end(), sane.begin(), sane.end());
        writeFileBytes(dir.file("wild.sig"), list);
        const BoundedResult r = runCliBounded({"carve", img, "--volume", "--no-default", "--signatures",
                                               dir.file("wild.sig"), "--out", dir.file("out"), "--json"},
                                              bound(10000ms));
        expectBounded(r, "carve");
        if (r.exitCode != 0) continue;  // the list was refused as a whole
        bool found = false;
        const auto finds = nlohmann::json::parse(r.out, nullptr, false);
        ASSERT_TRUE(finds.is_array()) << r.out.substr(0, 2000);
        for (const auto& f : finds) {
            if (f.value("offset", -1) != 65536 || !f.contains("path")) continue;
            found = true;
            EXPECT_EQ(sha256OfFile(f["path"].get<std::string>()),
                      "753a5ecb3e6d6050905b691118478ab2a37231625f289f78242f2b11285d7bcf");
        }
        EXPECT_TRUE(found) << r.out.substr(0, 2000) << r.err.substr(0, 2000);
    }
}

}  // namespace
