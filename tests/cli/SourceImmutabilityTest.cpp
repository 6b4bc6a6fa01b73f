// Every command of kelvara-cli over a read-only image leaves it exactly as it was.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "support/TestSupport.h"

using kelvara::test::runCli;

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
