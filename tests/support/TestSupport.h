#pragma once
// Helpers the tests share: scratch folders, unpacked fixtures, running kelvara-cli.

#include <cstdint>
#include <string>
#include <vector>

namespace kelvara::test {

// A fresh folder under the system's temporary folder, removed when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Unpacks tests/fixtures/<name>.img.zst (once per test run) and returns the image path.
// The unpacked image is made read-only.
std::string fixtureImage(const std::string& name);
bool fixtureExists(const std::string& name);
// Path of a file in tests/fixtures.
std::string fixtureFile(const std::string& name);

struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};
// Runs kelvara-cli with the given arguments (no shell involved).
CommandResult runCli(const std::vector<std::string>& args);

std::vector<std::uint8_t> readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::string sha256OfFile(const std::string& path);

// Little-endian stores into a byte vector (for building images in a test).
void put16(std::vector<std::uint8_t>& b, std::size_t off, std::uint16_t v);
void put32(std::vector<std::uint8_t>& b, std::size_t off, std::uint32_t v);
void put64(std::vector<std::uint8_t>& b, std::size_t off, std::uint64_t v);
void putText(std::vector<std::uint8_t>& b, std::size_t off, const std::string& text);

}  // namespace kelvara::test
