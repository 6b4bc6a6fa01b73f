#include "fs/RecoveredFile.h"

#include <algorithm>
#include <vector>

#include "common/SafeName.h"

namespace kelvara {

bool RecoveredFile::create(const std::string& folder, const std::string& name) {
    written_ = 0;
    writeFailed_ = false;
    return file_.create(folder, makeSafeName(name));
}

bool RecoveredFile::write(const void* data, std::size_t count) {
    if (!file_.write(data, count)) {
        writeFailed_ = true;
        return false;
    }
    written_ += count;
    return true;
}

bool RecoveredFile::writeZeros(std::uint64_t count) {
    static const std::vector<std::uint8_t> zeros(1 << 16, 0);
    while (count > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, zeros.size()));
        if (!write(zeros.data(), n)) return false;
        count -= n;
    }
    return true;
}

bool RecoveredFile::skipZeros(std::uint64_t count) {
    if (count < (1 << 16)) return writeZeros(count);
    if (!file_.skip(count)) {
        if (!file_.isOpen()) return false;
        writeFailed_ = true;
        return false;
    }
    written_ += count;
    return true;
}

ExtractResult RecoveredFile::finish(const EntryTimesUtc& times, bool complete, const std::string& message) {
    ExtractResult r;
    r.path = file_.path();
    r.created = !r.path.empty();
    const bool closed = file_.close();
    r.bytesWritten = written_;
    r.complete = complete && closed && !writeFailed_;
    r.message = message;
    if (!closed || writeFailed_) r.message = "cannot write " + r.path + ": " + file_.error();
    if (r.created) platform::setFileTimes(r.path, times.created, times.accessed, times.modified);
    return r;
}

}  // namespace kelvara
