#pragma once
// Writing recovered data: files and folders inside an output folder, their times, and
// the few folders the program needs to know. Nothing here ever replaces an existing
// file: a taken name gets a numbered variant.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kelvara::platform {

// Joins a folder and a name with the platform's separator.
std::string joinPath(const std::string& folder, const std::string& name);

bool isDirectory(const std::string& path);
bool pathExists(const std::string& path);

// Creates folder (and its missing parents). True when it exists afterwards.
bool makeDirectories(const std::string& folder);

// "name.ext" -> "name (n).ext"; a name without extension (or starting with its only
// dot) gets " (n)" at its end.
std::string numberedVariant(const std::string& name, int n);

// Creates a new folder named safeName inside parent, or a numbered variant of it when
// the name is taken by anything. Returns the created path.
std::optional<std::string> createUniqueDirectory(const std::string& parent,
                                                 const std::string& safeName);

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates a new file named safeName inside folder (or a numbered variant when the
    // name is taken). Never follows a link and never opens an existing file.
    bool create(const std::string& folder, const std::string& safeName);
    bool write(const void* data, std::size_t count);
    // Moves count bytes on and extends the file to there, leaving a hole that reads as
    // zeros (sparse when the file system can).
    bool skip(std::uint64_t count);
    // Closes the file; false when a write or the close failed.
    bool close();
    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

private:
    int fd_ = -1;
    bool failed_ = false;
    std::string path_;
    std::string error_;
};

// A point in time as UTC seconds since 1970 plus nanoseconds.
struct UtcTime {
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
};

// Sets the access and modification times of path (true UTC). Linux keeps no settable
// creation time, so a creation time is accepted and not stored.
bool setFileTimes(const std::string& path, std::optional<UtcTime> created,
                  std::optional<UtcTime> accessed, std::optional<UtcTime> modified);

std::string temporaryDirectory();
// A new folder under the temporary folder that only this user can enter (mkdtemp).
std::optional<std::string> createPrivateTemporaryDirectory(const std::string& prefix);
// The folder that holds the running executable.
std::string executableDirectory();

}  // namespace kelvara::platform
