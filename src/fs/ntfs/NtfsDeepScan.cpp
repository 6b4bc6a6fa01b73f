// The deep scan: every MFT record anywhere on the volume, grouped by position.

#include <cstring>

#include "common/Text.h"
#include "fs/ntfs/ntfs.h"

namespace kelvara {

using namespace ntfs_layout;

void ntfs::deepScan() {
    bytesPerCluster = bootClusterSize();
    mftRunsReady = false;
    mftOffset = 0;
    entries.clear();
    deepRecordOffsets_.clear();
    deepMapBuilt_ = false;
    recordBuffer_.assign(recordSize, 0);
    const std::uint64_t chunks = volumeSize / kChunkSize;
    sink->setRange(0, static_cast<std::int64_t>(chunks));
    scanForRecords(
        true, 1,
        [&](std::uint64_t offset, const std::uint8_t* bytes) {
            MftEntry e;
            std::memcpy(e.signature.data(), bytes, 4);
            e.recordOffset = offset;
            e.selfIndex = entries.size();
            std::memcpy(recordBuffer_.data(), bytes, recordSize);
            applyFixup(recordBuffer_);
            storeParsed(e, parseRecordBytes(recordBuffer_));
            // Extension records are parts of another record, not files of their own.
            if (!e.hasName || e.baseRecord != 0) return true;  // records without a usable $FILE_NAME are dropped
            e.orphan = 1;
            entries.push_back(e);
            if ((entries.size() & 0x3FF) == 1)
                sink->setStatus(strprintf("MFT ENTRY %zu Found.Parsing it ..", entries.size()));
            return true;
        },
        [&](std::uint64_t) { return !stopRequested(); });
    sink->setPos(static_cast<std::int64_t>(chunks));
}

}  // namespace kelvara
