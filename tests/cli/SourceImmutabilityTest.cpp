// Every command of kelvara-cli over a read-only image leaves it exactly as it was.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "support/TestSupport.h"

using kelvara::test::runCli;
namespace fs = std::filesystem;

namespace {

std::string demoImage() {
    // The demo disk: MBR with an NTFS volume (partition 0) and a FAT32 volume (partition 1).
    static const std::string path = [] {
        static kelvara::test::ScratchDir dir;
        const std::string img = dir.file("demo.img");
        EXPECT_EQ(std::system(("zstd -d -q -f " KELVARA_SOURCE_DIR "/demo/demo.img.zst -o " + img).c_str()), 0);
        ::chmod(img.c_str(), 0444);
        return img;
    }();
    return path;
}

}  // namespace

TEST(SourceImmutability, NoCommandWritesToTheSource) {
    const std::string img = demoImage();
    struct stat before {};
    ASSERT_EQ(::stat(img.c_str(), &before), 0);
    const std::string hash = kelvara::test::sha256OfFile(img);
    kelvara::test::ScratchDir out;
    const std::vector<std::vector<std::string>> commands = {
        {"partitions", img},
        {"partitions", img, "--search", "--no-skip"},
        {"scan", img, "--partition", "0", "--json"},
        {"scan", img, "--partition", "0", "--mode", "deep"},
        {"scan", img, "--partition", "0", "--mode", "advanced"},
        {"scan", img, "--partition", "1"},
        {"scan", img, "--partition", "1", "--mode", "advanced"},
        {"cat", img, "--partition", "0", "--path", "ROOT/Documents/report.txt"},
        {"recover", img, "--partition", "0", "--out", out.file("ntfs")},
        {"recover", img, "--partition", "1", "--out", out.file("fat")},
        {"list", img, "--partition", "0", "--path", "ROOT/Documents"},
        {"search", img, "--partition", "1", "--pattern", "txt"},
        {"dump", img, "--partition", "0", "--path", "ROOT/Documents/report.txt", "--out", out.path()},
        {"carve", img, "--partition", "1", "--out", out.file("carved")},
    };
    for (const auto& args : commands) {
        auto r = runCli(args);
        SCOPED_TRACE(args[0] + " " + (args.size() > 2 ? args[2] : ""));
        EXPECT_LT(r.exitCode, 128) << r.err;  // ended normally, whatever it found
        EXPECT_EQ(kelvara::test::sha256OfFile(img), hash);
    }
    struct stat after {};
    ASSERT_EQ(::stat(img.c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_size, before.st_size);
}

namespace {

struct StampedFile {
    std::string sha;
    struct stat st {};
};

StampedFile stamp(const std::string& path) {
    StampedFile f;
    EXPECT_EQ(::stat(path.c_str(), &f.st), 0);
    f.sha = kelvara::test::sha256OfFile(path);
    return f;
}

void expectUnchanged(const StampedFile& before, const std::string& path) {
    const StampedFile after = stamp(path);
    EXPECT_EQ(after.sha, before.sha);
    EXPECT_EQ(after.st.st_size, before.st.st_size);
    EXPECT_EQ(after.st.st_mtim.tv_sec, before.st.st_mtim.tv_sec);
    EXPECT_EQ(after.st.st_mtim.tv_nsec, before.st.st_mtim.tv_nsec);
    EXPECT_EQ(after.st.st_mode, before.st.st_mode);
}

struct VolumeFixture {
    const char* fixture;
    std::vector<std::string> where;  // how the commands find the volume
    const char* file;                // a file for cat and dump
};

}  // namespace

// Each parser kind the demo disk lacks, through every command that reads a volume, in
// every scan mode.
TEST(SourceImmutability, NoCommandWritesToAnyParsersSource) {
    const std::vector<VolumeFixture> fixtures = {
        {"fat12_tree", {"--volume"}, "ROOT/hello.txt"},
        {"fat16_reformatted", {"--volume"}, "ROOT/nothing.txt"},
        {"exfat_c512", {"--volume"}, "ROOT/root_file_number_0.txt"},
        {"ext2_1k", {"--volume"}, "ROOT/hello.txt"},
        {"ext4_kernel", {"--volume"}, "ROOT/hello.txt"},
        {"hfsp_basic", {"--start-sector", "208", "--fs", "HFS+"}, "ROOT/hello.txt"},
        {"hfsp_wiped", {"--volume"}, "ROOT/hello.txt"},
    };
    for (const auto& f : fixtures) {
        SCOPED_TRACE(f.fixture);
        if (!kelvara::test::fixtureExists(f.fixture)) continue;
        const std::string img = kelvara::test::fixtureImage(f.fixture);
        const StampedFile before = stamp(img);
        kelvara::test::ScratchDir out;
        auto with = [&](std::vector<std::string> args, std::vector<std::string> more = {}) {
            args.insert(args.begin() + 2, f.where.begin(), f.where.end());
            args.insert(args.end(), more.begin(), more.end());
            return args;
        };
        std::vector<std::vector<std::string>> commands = {
            {"partitions", img},
            {"partitions", img, "--search", "--no-skip"},
            {"carve", img, "--out", out.file("carved")},
        };
        for (const std::string mode : {"standard", "advanced", "deep"}) {
            commands.push_back(with({"scan", img}, {"--mode", mode, "--json"}));
            commands.push_back(with({"recover", img}, {"--mode", mode, "--out", out.file("recover-" + mode)}));
        }
        commands.push_back(with({"list", img}, {"--path", "ROOT"}));
        commands.push_back(with({"search", img}, {"--pattern", "txt|bin"}));
        commands.push_back(with({"cat", img}, {"--path", f.file}));
        commands.push_back(with({"dump", img}, {"--path", f.file, "--out", out.file("dump")}));
        for (const auto& args : commands) {
            SCOPED_TRACE(args[0] + " " + args.back());
            const auto r = runCli(args);
            EXPECT_LT(r.exitCode, 128) << r.err;  // ended normally, whatever it found
            expectUnchanged(before, img);
        }
        // Some scan gave files to recover (a wiped volume only to the deeper ones).
        EXPECT_TRUE(fs::exists(out.file("recover-standard")) || fs::exists(out.file("recover-advanced")) ||
                    fs::exists(out.file("recover-deep")));
    }
}
