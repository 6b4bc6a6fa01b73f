#include "support/TestSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>

extern char** environ;

namespace kelvara::test {
namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
    std::string tmpl = (fs::temp_directory_path() / "kelvara-test.XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    // Restore write bits so that read-only fixtures can be removed.
    for (auto it = fs::recursive_directory_iterator(path_, ec); it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string fixtureFile(const std::string& name) { return std::string(KELVARA_FIXTURE_DIR) + "/" + name; }

bool fixtureExists(const std::string& name) { return fs::exists(fixtureFile(name + ".img.zst")); }

namespace {

int runProcess(const std::vector<std::string>& argv, const std::string& outPath, const std::string& errPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

ScratchDir& sharedScratch() {
    static ScratchDir dir;
    return dir;
}

}  // namespace

std::string fixtureImage(const std::string& name) {
    static std::mutex mutex;
    static std::map<std::string, std::string> unpacked;
    std::lock_guard lock(mutex);
    if (auto it = unpacked.find(name); it != unpacked.end()) return it->second;
    const std::string packed = fixtureFile(name + ".img.zst");
    const std::string out = sharedScratch().file(name + ".img");
    const std::string log = sharedScratch().file(name + ".log");
    if (runProcess({"zstd", "-d", "-q", "-f", packed, "-o", out}, log, log) != 0)
        throw std::runtime_error("cannot unpack " + packed + ": " + slurp(log));
    ::chmod(out.c_str(), 0444);
    unpacked[name] = out;
    return out;
}

CommandResult runCli(const std::vector<std::string>& args) {
    ScratchDir dir;
    std::vector<std::string> argv{KELVARA_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    CommandResult r;
    r.exitCode = runProcess(argv, dir.file("out"), dir.file("err"));
    r.out = slurp(dir.file("out"));
    r.err = slurp(dir.file("err"));
    return r;
}

std::vector<std::uint8_t> readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string sha256OfFile(const std::string& path) {
    ScratchDir dir;
    if (runProcess({"sha256sum", path}, dir.file("out"), dir.file("err")) != 0) return {};
    std::string out = slurp(dir.file("out"));
    return out.substr(0, out.find(' '));
}

void put16(std::vector<std::uint8_t>& b, std::size_t off, std::uint16_t v) {
    b.at(off) = v & 0xFF;
    b.at(off + 1) = v >> 8;
}
void put32(std::vector<std::uint8_t>& b, std::size_t off, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(off + i) = (v >> (8 * i)) & 0xFF;
}
void put64(std::vector<std::uint8_t>& b, std::size_t off, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) b.at(off + i) = (v >> (8 * i)) & 0xFF;
}
void putText(std::vector<std::uint8_t>& b, std::size_t off, const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) b.at(off + i) = static_cast<std::uint8_t>(text[i]);
}

}  // namespace kelvara::test
