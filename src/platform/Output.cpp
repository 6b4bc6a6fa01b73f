#include "platform/Output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace kelvara::platform {

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

bool isDirectory(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool pathExists(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
}

bool makeDirectories(const std::string& folder) {
    if (folder.empty()) return false;
    if (isDirectory(folder)) return true;
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = folder.find('/', pos + 1);
        partial = folder.substr(0, pos);
        if (partial.empty() || isDirectory(partial)) continue;
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return isDirectory(folder);
}

std::string numberedVariant(const std::string& name, int n) {
    std::string suffix = " (" + std::to_string(n) + ")";
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

namespace {
constexpr int kMaxVariants = 100000;
}

std::optional<std::string> createUniqueDirectory(const std::string& parent,
                                                 const std::string& safeName) {
    for (int n = 1; n <= kMaxVariants; ++n) {
        std::string path = joinPath(parent, n == 1 ? safeName : numberedVariant(safeName, n));
        if (::mkdir(path.c_str(), 0755) == 0) return path;
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

OutputFile::~OutputFile() { close(); }

bool OutputFile::create(const std::string& folder, const std::string& safeName) {
    close();
    failed_ = false;
    error_.clear();
    for (int n = 1; n <= kMaxVariants; ++n) {
        std::string path = joinPath(folder, n == 1 ? safeName : numberedVariant(safeName, n));
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            fd_ = fd;
            path_ = path;
            return true;
        }
        if (errno != EEXIST) {
            error_ = std::strerror(errno);
            return false;
        }
    }
    error_ = "no free name";
    return false;
}

bool OutputFile::write(const void* data, std::size_t count) {
    if (fd_ < 0) return false;
    const auto* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
        ssize_t n = ::write(fd_, p, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = std::strerror(errno);
            failed_ = true;
            return false;
        }
        p += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

bool OutputFile::skip(std::uint64_t count) {
    if (fd_ < 0) return false;
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    if (at < 0 || count > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max() - at)) return false;
    const off_t to = at + static_cast<off_t>(count);
    if (::ftruncate(fd_, to) != 0 || ::lseek(fd_, to, SEEK_SET) != to) {
        error_ = std::strerror(errno);
        failed_ = true;
        return false;
    }
    return true;
}

bool OutputFile::close() {
    if (fd_ < 0) return !failed_;
    if (::close(fd_) != 0) {
        error_ = std::strerror(errno);
        failed_ = true;
    }
    fd_ = -1;
    return !failed_;
}

bool setFileTimes(const std::string& path, std::optional<UtcTime> /*created*/,
                  std::optional<UtcTime> accessed, std::optional<UtcTime> modified) {
    struct timespec ts[2];
    auto fill = [](struct timespec& t, const std::optional<UtcTime>& v) {
        if (v) {
            t.tv_sec = static_cast<time_t>(v->seconds);
            t.tv_nsec = v->nanoseconds;
        } else {
            t.tv_sec = 0;
            t.tv_nsec = UTIME_OMIT;
        }
    };
    fill(ts[0], accessed);
    fill(ts[1], modified);
    return ::utimensat(AT_FDCWD, path.c_str(), ts, AT_SYMLINK_NOFOLLOW) == 0;
}

std::string temporaryDirectory() {
    const char* t = std::getenv("TMPDIR");
    return (t && *t) ? std::string(t) : std::string("/tmp");
}

std::optional<std::string> createPrivateTemporaryDirectory(const std::string& prefix) {
    std::string pattern = joinPath(temporaryDirectory(), prefix + ".XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) return std::nullopt;
    return pattern;
}

std::string executableDirectory() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string path(buf, static_cast<std::size_t>(n));
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace kelvara::platform
