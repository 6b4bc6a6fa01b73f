// Writing one file's unnamed $DATA stream into the output folder: resident bytes, plain
// and sparse runs, LZNT1 compression units, extents from the $ATTRIBUTE_LIST.

#include <algorithm>
#include <cstring>

#include "common/Messages.h"
#include "common/Text.h"
#include "fs/RecoveredFile.h"
#include "fs/ntfs/Lznt1.h"
#include "fs/ntfs/ntfs.h"

namespace kelvara {

using namespace ntfs_layout;

namespace {

std::string trimmed(std::string_view s) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return std::string(s);
}

// Output with a byte limit; what lies past the initialized size reads as zeros.
class StreamWriter {
public:
    StreamWriter(RecoveredFile& out, std::uint64_t limit, std::uint64_t initialized)
        : out_(out), limit_(limit), initialized_(std::min(initialized, limit)) {}

    bool full() const { return pos_ >= limit_ || failed_; }
    std::uint64_t position() const { return pos_; }
    bool failed() const { return failed_; }

    void write(const std::uint8_t* data, std::uint64_t n) {
        n = std::min(n, limit_ - std::min(pos_, limit_));
        if (n == 0 || failed_) return;
        const std::uint64_t real = pos_ < initialized_ ? std::min(n, initialized_ - pos_) : 0;
        if (real && !out_.write(data, static_cast<std::size_t>(real))) failed_ = true;
        if (!failed_ && n > real && !out_.writeZeros(n - real)) failed_ = true;
        pos_ += n;
    }
    void zeros(std::uint64_t n) {
        n = std::min(n, limit_ - std::min(pos_, limit_));
        if (n == 0 || failed_) return;
        if (!out_.writeZeros(n)) failed_ = true;
        pos_ += n;
    }

private:
    RecoveredFile& out_;
    std::uint64_t limit_, initialized_;
    std::uint64_t pos_ = 0;
    bool failed_ = false;
};

}  // namespace

ExtractResult ntfs::extractEntry(EntryRef ref, const std::string& outputFolder) {
    ExtractResult result;
    const MftEntry* found = entry(ref);
    if (!found || !found->hasName || static_cast<std::int64_t>(ref) == orphanIndex) {
        result.message = "the entry has no name";
        return result;
    }
    const MftEntry e = *found;
    const std::string fileName = trimmed(nameView(e));
    RecoveredFile out;
    if (!out.create(trimmed(outputFolder), fileName)) {
        result.message = "cannot create " + fileName + ": " + out.error();
        return result;
    }
    const EntryTimesUtc fileTimes = times(ref);
    if (!reader) return out.finish(fileTimes, false, "no reader");
    if (bytesPerCluster == 0) bytesPerCluster = kDefaultClusterSize;

    std::vector<std::uint8_t> rec;
    if (!readRecord(e.recordOffset, rec) || !ByteReader(rec.data(), rec.size()).matches(0, "FILE")) {
        showMessage("not a valid entry...");
        return out.finish(fileTimes, false, "not a valid entry...");
    }
    if (e.kind == kDirectoryKind) {
        const std::string text = strprintf("This is  %s directory .Please specify file names ", fileName.c_str());
        showMessage(text);
        return out.finish(fileTimes, false, text);
    }
    DataStream s;
    if (!loadDataStream(e.recordOffset, s)) return out.finish(fileTimes, true, "the file has no data stream");

    if (s.resident) {
        const bool whole = s.residentBytes.size() == s.realSize;
        if (!out.write(s.residentBytes.data(), s.residentBytes.size())) {
            showMessage(strprintf("Exception :  %s   ", out.error().c_str()));
        }
        return out.finish(fileTimes, whole, whole ? std::string() : "resident data runs past its record");
    }

    bool complete = !s.gaps;
    std::string problem = s.gaps ? "some extents of the file were not found" : "";
    const std::uint64_t bpc = bytesPerCluster;
    const std::uint64_t covered = s.clusters > UINT64_MAX / bpc ? UINT64_MAX : s.clusters * bpc;
    std::uint64_t limit = s.realSize;
    if (limit > covered) {
        complete = false;
        problem = "the runs end before the file's size";
        // Missing clusters read as zeros, but a size beyond anything the volume could hold
        // is not believed.
        if (limit > std::max(covered, volumeSize)) limit = covered;
    }
    StreamWriter w(out, limit, s.initializedSize);

    // Reads bytes of the volume; what cannot be read stays zero.
    auto readVolume = [&](std::uint64_t lcn, std::uint8_t* dst, std::uint64_t n) {
        std::memset(dst, 0, static_cast<std::size_t>(n));
        if (lcn > static_cast<std::uint64_t>(INT64_MAX - static_cast<std::int64_t>(n)) / bpc ||
            !reader->seek(static_cast<std::int64_t>(lcn * bpc)) || !reader->read(dst, n)) {
            complete = false;
            problem = "some clusters could not be read";
        }
    };

    const bool compressed = (s.flags & 0x00FF) != 0;
    const std::uint64_t unitClusters = 1ull << std::min<unsigned>(s.compressionExponent, 63);
    const bool unitsFit = s.compressionExponent <= 8 && unitClusters * bpc <= (16u << 20);
    if (compressed && !unitsFit) {
        complete = false;
        problem = "unsupported compression unit";
    }

    if (!compressed || !unitsFit || s.compressionExponent == 0) {
        const std::uint64_t window = std::max<std::uint64_t>(bpc, (1u << 20) / bpc * bpc);
        std::vector<std::uint8_t> buf(static_cast<std::size_t>(window));
        for (const auto& run : s.runs) {
            if (w.full()) break;
            const std::uint64_t runBytes = run.length > UINT64_MAX / bpc ? UINT64_MAX : run.length * bpc;
            if (run.sparse) {
                w.zeros(runBytes);
                continue;
            }
            for (std::uint64_t done = 0; done < runBytes && !w.full();) {
                const std::uint64_t want = std::min({window, runBytes - done, limit - w.position()});
                const std::uint64_t clusters = (want + bpc - 1) / bpc;
                readVolume(run.start + done / bpc, buf.data(), clusters * bpc);
                w.write(buf.data(), want);
                done += clusters * bpc;
            }
        }
    } else {
        const std::size_t unitBytes = static_cast<std::size_t>(unitClusters * bpc);
        std::vector<std::uint8_t> stored(unitBytes), unit(unitBytes);
        std::vector<std::pair<std::uint64_t, bool>> map;  // (lcn, sparse) of each cluster of the unit
        std::size_t runIndex = 0;
        std::uint64_t inRun = 0;  // clusters of runs[runIndex] already mapped
        for (std::uint64_t vcn = 0; vcn < s.clusters && !w.full(); vcn += unitClusters) {
            const std::uint64_t count = std::min(unitClusters, s.clusters - vcn);
            map.clear();
            while (map.size() < count && runIndex < s.runs.size()) {
                const DataRun& r = s.runs[runIndex];
                const std::uint64_t take = std::min<std::uint64_t>(r.length - inRun, count - map.size());
                for (std::uint64_t k = 0; k < take; ++k) map.emplace_back(r.start + inRun + k, r.sparse);
                inRun += take;
                if (inRun == r.length) {
                    ++runIndex;
                    inRun = 0;
                }
            }
            const auto used = static_cast<std::uint64_t>(
                std::count_if(map.begin(), map.end(), [](const auto& m) { return !m.second; }));
            const std::uint64_t bytes = count * bpc;
            if (used == 0) {
                w.zeros(bytes);
            } else if (used == count) {
                // Stored as it is: the unit did not compress.
                for (std::uint64_t k = 0; k < count; ++k) readVolume(map[k].first, stored.data() + k * bpc, bpc);
                w.write(stored.data(), bytes);
            } else {
                std::uint64_t n = 0;
                for (const auto& m : map)
                    if (!m.second) readVolume(m.first, stored.data() + (n++) * bpc, bpc);
                std::fill(unit.begin(), unit.end(), 0);
                lznt1Decompress(std::span<const std::uint8_t>(stored.data(), static_cast<std::size_t>(n * bpc)),
                                std::span<std::uint8_t>(unit.data(), static_cast<std::size_t>(bytes)));
                // A unit stands for all its bytes; what it did not produce is zero.
                w.write(unit.data(), bytes);
            }
        }
    }
    if (!w.full() && w.position() < limit) w.zeros(limit - w.position());
    if (w.failed()) showMessage(strprintf("Exception :  %s   ", out.error().c_str()));
    return out.finish(fileTimes, complete, problem);
}

}  // namespace kelvara
