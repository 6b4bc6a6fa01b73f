// The deep scan: every MFT record anywhere on the volume, grouped by position.

#include <cstring>
#include <unordered_map>

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
    // Slot 0 stays empty: index 0 can be nobody's child, and every record found should be.
    entries.emplace_back();
    const std::uint64_t chunks = volumeSize / kChunkSize;
    sink->setRange(0, static_cast<std::int64_t>(chunks));
    std::size_t named = 0;
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
            // Where each record number lies, for the $ATTRIBUTE_LIST of extraction.
            if (e.hasRecordNumber) deepRecordOffsets_.emplace(e.recordNumber, offset);
            // Records without a usable $FILE_NAME are dropped, except a base record whose
            // names may sit in its extension records (kept until they are matched below).
            if (!e.hasName && !(e.hasAttributeList && e.baseRecord == 0)) return true;
            e.orphan = 1;
            entries.push_back(e);
            if (e.hasName && e.baseRecord == 0 && (++named & 0x3FF) == 1)
                sink->setStatus(strprintf("MFT ENTRY %zu Found.Parsing it ..", entries.size()));
            return true;
        },
        [&](std::uint64_t) { return !stopRequested(); });
    sink->setPos(static_cast<std::int64_t>(chunks));
    deepMapBuilt_ = true;

    // Extension records are parts of their base record, never files of their own; a base
    // record left without a name takes one from them.
    std::unordered_map<std::uint32_t, std::size_t> nameless;
    for (std::size_t i = 1; i < entries.size(); ++i)
        if (!entries[i].hasName && entries[i].hasRecordNumber) nameless.emplace(entries[i].recordNumber, i);
    for (const auto& x : entries) {
        if (x.baseRecord == 0 || !x.hasName || x.baseRecord > UINT32_MAX) continue;
        const auto it = nameless.find(static_cast<std::uint32_t>(x.baseRecord));
        if (it == nameless.end()) continue;
        MftEntry& base = entries[it->second];
        if (base.hasName) continue;
        base.hasName = true;
        base.nameOffset = x.nameOffset;
        base.nameLength = x.nameLength;
        base.parentIndex = x.parentIndex;
        base.kind = x.kind;
        base.fileAttributes = x.fileAttributes;
        base.allocatedSize = x.allocatedSize;
    }
    std::size_t kept = 1;
    for (std::size_t i = 1; i < entries.size(); ++i) {
        if (!entries[i].hasName || entries[i].baseRecord != 0) continue;
        entries[kept] = entries[i];
        entries[kept].selfIndex = kept;
        ++kept;
    }
    entries.resize(kept);
}

}  // namespace kelvara
