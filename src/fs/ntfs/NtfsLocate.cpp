// Boot sector, $MFT location (standard, fallback search, chosen copy) and the walk of
// the $MFT's runs that makes one entry per record slot.

#include <algorithm>
#include <cstring>
#include <new>

#include "common/Text.h"
#include "fs/ntfs/ntfs.h"

namespace kelvara {

using namespace ntfs_layout;

namespace {

bool isPowerOfTwo(std::uint64_t v) { return v && !(v & (v - 1)); }

std::string recordName(const ParsedRecord& p) {
    return p.name ? utf16leToUtf8(p.name, p.nameUnits) : std::string();
}

}  // namespace

bool ntfs::bootIntact() const {
    return bootSector.size() >= 512 && ByteReader(bootSector.data(), bootSector.size()).matches(kOemId, "NTFS");
}

std::uint64_t ntfs::bootClusterSize() const {
    if (!bootIntact()) return kDefaultClusterSize;
    const ByteReader b(bootSector.data(), bootSector.size());
    const std::uint64_t bytesPerSector = b.le16(kBytesPerSector);
    const std::uint8_t spc = b.u8(kSectorsPerCluster);
    // 0xE0 to 0xFF stand for 2^(256 - value) sectors (clusters above 64 KiB).
    const std::uint64_t sectors = spc >= 0xE0 ? (1ull << (256 - spc)) : spc;
    const std::uint64_t size = bytesPerSector * sectors;
    if (!isPowerOfTwo(size) || size < 256 || size > (2u << 20)) return kDefaultClusterSize;
    return size;
}

std::uint32_t ntfs::bootRecordSize() const {
    if (!bootIntact()) return kDefaultRecordSize;
    const ByteReader b(bootSector.data(), bootSector.size());
    const auto value = static_cast<std::int8_t>(b.u8(kClustersPerRecord));
    std::uint64_t size = 0;
    if (value > 0) size = static_cast<std::uint64_t>(value) * bootClusterSize();
    else if (value < 0 && value >= -20) size = 1ull << (-value);
    if (!isPowerOfTwo(size) || size < kFixupStride || size > 65536) return kDefaultRecordSize;
    return static_cast<std::uint32_t>(size);
}

// A size claimed by the boot sector or a text never goes past the end of the source.
std::uint64_t ntfs::capToDevice(std::uint64_t size) const {
    if (!reader || reader->byteSize() == 0) return size;
    return std::min(size, reader->bytesAfterBase());
}

bool ntfs::readBootSector() {
    bootSector.assign(512, 0);
    if (reader) readAt(*reader, 0, bootSector.data(), bootSector.size());
    if (bootIntact()) {
        const ByteReader b(bootSector.data(), bootSector.size());
        std::uint64_t bytesPerSector = b.le16(kBytesPerSector);
        if (!isPowerOfTwo(bytesPerSector) || bytesPerSector < 512 || bytesPerSector > 4096) bytesPerSector = 512;
        const std::uint64_t sectors = b.le64(kTotalSectors);
        volumeSize = sectors > UINT64_MAX / bytesPerSector ? UINT64_MAX : sectors * bytesPerSector;
        recordSize = bootRecordSize();
    } else {
        volumeSize = listedSizeBytes(volume.VOLUME_SIZE);
        recordSize = kDefaultRecordSize;
    }
    volumeSize = capToDevice(volumeSize);
    recordBuffer_.assign(recordSize, 0);
    return volumeSize != 0;
}

void ntfs::scanForRecords(bool checkHeader, std::uint64_t progressEvery,
                          const std::function<bool(std::uint64_t, const std::uint8_t*)>& visit,
                          const std::function<bool(std::uint64_t)>& keepGoing) {
    // A small volume needs no full-size window.
    const std::uint64_t window = std::min<std::uint64_t>(kChunkSize, (volumeSize + 511) / 512 * 512);
    std::vector<std::uint8_t> chunk;
    try {
        chunk.assign(window, 0);
    } catch (const std::bad_alloc&) {
        return;
    }
    std::vector<std::uint8_t> straddling(recordSize);
    std::uint64_t pos = 0;
    for (std::uint64_t n = 0; n * kChunkSize < volumeSize; ++n) {
        if (!keepGoing(n)) return;
        if (n % progressEvery == 0) sink->setPos(static_cast<std::int64_t>(n));
        const std::uint64_t start = n * kChunkSize;
        const std::uint64_t length = std::min<std::uint64_t>(kChunkSize, volumeSize - start);
        std::fill(chunk.begin(), chunk.end(), 0);
        if (!reader->seek(static_cast<std::int64_t>(start))) continue;
        reader->read(chunk.data(), length);
        if (pos < start) pos = start;
        while (pos < start + length) {
            if (stopRequested()) return;
            const std::size_t off = static_cast<std::size_t>(pos - start);
            const ByteReader unit(chunk.data() + off, static_cast<std::size_t>(length) - off);
            bool isRecord = unit.matches(0, "FILE");
            if (isRecord && checkHeader)
                isRecord = unit.le16(kUsaOffset) < 512 && unit.le16(kUsaCount) < 512 && unit.le16(kFirstAttribute) < 512;
            if (!isRecord) {
                pos += 512;
                continue;
            }
            const std::uint8_t* bytes = chunk.data() + off;
            if (length - off < recordSize) {  // the record runs into the next chunk
                std::fill(straddling.begin(), straddling.end(), 0);
                readAt(*reader, static_cast<std::int64_t>(pos), straddling.data(), straddling.size());
                bytes = straddling.data();
            }
            if (!visit(pos, bytes)) return;
            pos += recordSize;
        }
    }
}

bool ntfs::fallbackSearch() {
    bytesPerCluster = kDefaultClusterSize;
    sink->setStatus("boot sector corrupt.Scanning for first mft entry...");
    mftRunsReady = false;
    mftOffset = 0;
    sink->setRange(0, static_cast<std::int64_t>(volumeSize / kChunkSize));
    bool found = false;
    std::uint64_t seen = 0;
    scanForRecords(
        false, 100,
        [&](std::uint64_t offset, const std::uint8_t* bytes) {
            std::memcpy(recordBuffer_.data(), bytes, recordSize);
            applyFixup(recordBuffer_);
            const ParsedRecord p = parseRecordBytes(recordBuffer_);
            ++seen;
            if (recordName(p).rfind("$MF", 0) != 0) return true;
            sink->setStatus("found mft entry.getting its run ...");
            inferClusterSizeFromMft(offset);
            auto runs = mftRunsAt(offset);
            sink->setStatus("got run ...");
            if (runs.empty()) return true;
            mftRuns = std::move(runs);
            mftOffset = offset;
            mftRunsReady = true;
            needRunFromFirstEntry = false;
            found = true;
            return false;
        },
        [&](std::uint64_t) { return !stopRequested(); });
    entries.clear();
    return found;
}

bool ntfs::locateMft() {
    if (!bootIntact()) return fallbackSearch();
    bytesPerCluster = bootClusterSize();
    mftRunsReady = true;
    const std::uint64_t lcn = ByteReader(bootSector.data(), bootSector.size()).le64(kMftCluster);
    if (lcn > static_cast<std::uint64_t>(INT64_MAX) / bytesPerCluster) return false;
    mftOffset = lcn * bytesPerCluster;
    if (!reader->seek(static_cast<std::int64_t>(mftOffset))) return false;
    sink->setStatus("boot sector is fine.Getting run of mft entry...");
    mftRuns = mftRunsAt(mftOffset);
    sink->setStatus("Got run...");
    needRunFromFirstEntry = false;
    if (mftRuns.empty()) {
        // The boot sector is fine but its $MFT record is not: search for a copy instead
        // of showing an empty volume.
        const std::uint64_t keepCluster = bytesPerCluster;
        if (!fallbackSearch()) return false;
        if (bytesPerCluster == kDefaultClusterSize) bytesPerCluster = keepCluster;
    }
    return true;
}

// With no boot sector the cluster size is a guess; the $MFT record itself tells: its
// first run starts at the cluster that holds it (or the record there is the original).
void ntfs::inferClusterSizeFromMft(std::uint64_t recordOffset) {
    const std::uint64_t keep = bytesPerCluster;
    const auto runs = getRuns(recordOffset, kData);
    std::uint64_t lcn = 0;
    for (const auto& r : runs)
        if (!r.sparse) {
            lcn = r.start;
            break;
        }
    if (lcn == 0) return;
    std::vector<std::uint8_t> buf;
    for (std::uint64_t size : {4096ull, 512ull, 1024ull, 2048ull, 8192ull, 16384ull, 32768ull, 65536ull, 131072ull,
                               262144ull, 524288ull, 1048576ull, 2097152ull}) {
        if (lcn > volumeSize / size) continue;
        const std::uint64_t at = lcn * size;
        if (at == recordOffset || (readRecord(at, buf) && ByteReader(buf.data(), buf.size()).matches(0, "FILE") &&
                                   recordName(parseRecordBytes(buf)) == "$MFT")) {
            bytesPerCluster = size;
            return;
        }
    }
    bytesPerCluster = keep;
}

std::vector<DataRun> ntfs::mftRunsAt(std::uint64_t recordOffset) {
    auto runs = getRuns(recordOffset, kData);
    if (runs.empty()) return runs;
    std::vector<std::uint8_t> buf;
    if (!readRecord(recordOffset, buf) || !parseRecordBytes(buf).hasAttributeList) return runs;
    // A fragmented $MFT continues in extension records, found through the first extent.
    const auto keep = mftRuns;
    const int keepMode = scanMode;
    mftRuns = runs;
    scanMode = 1;
    DataStream s;
    std::uint64_t have = 0;
    for (const auto& r : runs) have += r.length;
    if (loadDataStream(recordOffset, s) && !s.resident && s.clusters > have) runs = s.runs;
    mftRuns = keep;
    scanMode = keepMode;
    return runs;
}

std::uint64_t ntfs::findMftCandidates(std::uint64_t wanted) {
    bytesPerCluster = bootClusterSize();
    mftRunsReady = false;
    mftOffset = 0;
    volumeSize = capToDevice(listedSizeBytes(volume.VOLUME_SIZE));
    if (volumeSize == 0) return mftCandidates.size();
    sink->setRange(0, static_cast<std::int64_t>(volumeSize / kChunkSize));
    // The names and offsets of the last eight records seen: $MFT is record 0 and $Boot
    // record 7 of a run of consecutive records.
    struct Seen {
        std::string name;
        std::uint64_t offset = 0;
    };
    std::array<Seen, 8> last{};
    std::uint64_t count = 0;
    bool found = false;
    std::string status;
    const std::uint64_t limit = volumeSize > recordSize ? volumeSize - recordSize : 0;
    const std::uint64_t keepSize = volumeSize;
    volumeSize = limit;
    scanForRecords(
        true, 1,
        [&](std::uint64_t offset, const std::uint8_t* bytes) {
            std::memcpy(recordBuffer_.data(), bytes, recordSize);
            applyFixup(recordBuffer_);
            last[count % 8] = {recordName(parseRecordBytes(recordBuffer_)), offset};
            ++count;
            if (count >= 8) {
                const Seen& boot = last[(count - 1) % 8];
                const Seen& mft = last[(count - 8) % 8];
                if (boot.name.rfind("$Boot", 0) == 0 && mft.name.rfind("$MFT", 0) == 0 &&
                    (mft.name.size() < 5 || mft.name[4] != 'M')) {
                    MftEntry candidate;
                    std::memcpy(candidate.signature.data(), "FILE", 4);
                    candidate.recordOffset = mft.offset;
                    candidate.selfIndex = mftCandidates.size();
                    mftCandidates.push_back(candidate);
                    found = true;
                    status = strprintf("MFT ENTRY %llu Found.Parsing it ...", static_cast<unsigned long long>(count));
                    sink->setStatus(status);
                }
            }
            return true;
        },
        [&](std::uint64_t) {
            if (found && mftCandidates.size() >= wanted) return false;
            if (stopRequested()) {
                stopFlag.store(0);
                return false;
            }
            return true;
        });
    volumeSize = keepSize;
    sink->setPos(static_cast<std::int64_t>(volumeSize / kChunkSize));
    return mftCandidates.size();
}

bool ntfs::useMftCandidate(std::size_t index) {
    mftRunsReady = false;
    if (index < mftCandidates.size()) mftRuns = mftRunsAt(mftCandidates[index].recordOffset);
    else mftRuns.clear();
    if (mftRuns.empty()) return false;
    mftRunsReady = true;
    needRunFromFirstEntry = false;
    return true;
}

bool ntfs::offsetOfRecordNumber(std::uint64_t number, std::uint64_t& offset) {
    if (scanMode != 3 && !mftRuns.empty()) {
        if (number > UINT64_MAX / recordSize) return false;
        std::uint64_t pos = number * recordSize;
        for (const auto& r : mftRuns) {
            const std::uint64_t bytes = r.length > UINT64_MAX / bytesPerCluster ? UINT64_MAX : r.length * bytesPerCluster;
            if (pos < bytes) {
                if (r.sparse || r.start > (static_cast<std::uint64_t>(INT64_MAX) - pos) / bytesPerCluster) return false;
                offset = r.start * bytesPerCluster + pos;
                return true;
            }
            pos -= bytes;
        }
        return false;
    }
    // Deep scan: entries are in disk order; the headers say which record each one is.
    if (!deepMapBuilt_) {
        for (const auto& e : entries)
            if (e.hasRecordNumber) deepRecordOffsets_.emplace(e.recordNumber, e.recordOffset);
        deepMapBuilt_ = true;
    }
    if (number > UINT32_MAX) return false;
    const auto it = deepRecordOffsets_.find(static_cast<std::uint32_t>(number));
    if (it == deepRecordOffsets_.end()) return false;
    offset = it->second;
    return true;
}

void ntfs::collectMftRecords() {
    if (!mftRunsReady || stopRequested()) return;
    if (bytesPerCluster == 0) bytesPerCluster = kDefaultClusterSize;
    if (needRunFromFirstEntry && !entries.empty()) {
        sink->setStatus("getting run of mft...");
        mftRuns = mftRunsAt(entries[0].recordOffset);
        sink->setStatus("got run...");
    }
    entries.clear();
    recordBuffer_.assign(recordSize, 0);
    // Never more slots than the volume can hold.
    const std::uint64_t maxRecords =
        std::min<std::uint64_t>(volumeSize ? volumeSize / recordSize : UINT32_MAX, UINT32_MAX);
    std::uint64_t planned = 0;  // slots the runs claim, saturating
    for (const auto& r : mftRuns)
        planned = r.length > (maxRecords - std::min(planned, maxRecords)) ? maxRecords : planned + r.length;
    planned = planned > UINT64_MAX / bytesPerCluster ? maxRecords : planned * bytesPerCluster / recordSize;
    // One more for ORPHAN_ENTRY, appended by the tree build.
    entries.reserve(static_cast<std::size_t>(std::min<std::uint64_t>({planned, maxRecords, 1u << 22})) + 1);

    constexpr std::size_t kWindow = 4u << 20;
    std::vector<std::uint8_t> window(kWindow);
    std::vector<std::uint8_t> pending(recordSize);
    std::size_t filled = 0;
    std::uint64_t pendingOffset = 0;

    // The window is ours: records are fixed up and parsed where they lie.
    auto addRecord = [&](std::uint8_t* bytes, std::uint64_t offset, bool hole) {
        MftEntry& e = entries.emplace_back();
        e.recordOffset = offset;
        e.selfIndex = entries.size() - 1;
        if (!hole) {
            std::memcpy(e.signature.data(), bytes, 4);
            const std::span<std::uint8_t> record(bytes, recordSize);
            applyFixup(record);
            storeParsed(e, parseRecordBytes(record));
        }
    };
    // Cuts the MFT's byte stream into record slots; a slot may span two runs.
    auto feed = [&](std::uint8_t* data, std::uint64_t offset, std::uint64_t n, bool hole) {
        while (n > 0 && entries.size() < maxRecords) {
            if (filled == 0 && n >= recordSize) {
                addRecord(data, offset, hole);
                if (!hole) data += recordSize;
                offset += recordSize;
                n -= recordSize;
                continue;
            }
            if (filled == 0) pendingOffset = offset;
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n, recordSize - filled));
            if (hole) std::memset(pending.data() + filled, 0, take);
            else std::memcpy(pending.data() + filled, data, take);
            filled += take;
            if (!hole) data += take;
            offset += take;
            n -= take;
            if (filled == recordSize) {
                addRecord(pending.data(), pendingOffset, false);
                filled = 0;
            }
        }
    };

    std::uint64_t windows = 0, windowsDone = 0;
    for (const auto& r : mftRuns)
        windows += r.length > UINT64_MAX / bytesPerCluster ? UINT64_MAX / kWindow : (r.length * bytesPerCluster + kWindow - 1) / kWindow;
    sink->setRange(0, static_cast<std::int64_t>(std::min<std::uint64_t>(windows, INT64_MAX)));
    for (const auto& run : mftRuns) {
        sink->setStatus(strprintf("parsing %lld cluster of MFT run.", static_cast<long long>(run.start)));
        if (stopRequested() || entries.size() >= maxRecords) break;
        const std::uint64_t runBytes = std::min<std::uint64_t>(
            run.length > UINT64_MAX / bytesPerCluster ? UINT64_MAX : run.length * bytesPerCluster,
            (maxRecords - entries.size()) * std::uint64_t(recordSize));
        if (run.sparse || run.start > static_cast<std::uint64_t>(INT64_MAX) / bytesPerCluster) {
            feed(nullptr, 0, runBytes, true);
            continue;
        }
        const std::uint64_t base = run.start * bytesPerCluster;
        for (std::uint64_t done = 0; done < runBytes && entries.size() < maxRecords;) {
            if (stopRequested()) break;
            const std::uint64_t n = std::min<std::uint64_t>(kWindow, runBytes - done);
            const bool placed = base + done <= static_cast<std::uint64_t>(INT64_MAX) &&
                                reader->seek(static_cast<std::int64_t>(base + done));
            if (!placed || !reader->read(window.data(), n)) {
                // Whatever could not be read is zeros, not the previous window's bytes.
                std::fill(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(n), 0);
                if (placed && reader->seek(static_cast<std::int64_t>(base + done))) reader->read(window.data(), n);
            }
            feed(window.data(), base + done, n, false);
            done += n;
            sink->setPos(static_cast<std::int64_t>(++windowsDone));
        }
    }
}

}  // namespace kelvara
