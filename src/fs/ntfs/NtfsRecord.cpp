// MFT records: the fixup, the attribute walk, and what one record says.

#include <algorithm>
#include <cstring>

#include "common/Text.h"
#include "fs/ntfs/NtfsRunList.h"
#include "fs/ntfs/ntfs.h"

namespace kelvara {

using namespace ntfs_layout;

namespace {

// Calls visit(type, offset, attribute) for every attribute of a record in order;
// visit returns false to stop. The attribute slice ends at the record's end.
template <class Visit>
void forEachAttribute(const ByteReader& rec, Visit visit) {
    std::size_t off = rec.le16(kFirstAttribute);
    while (off + 8 <= rec.size()) {
        const std::uint32_t type = rec.le32(off + kAttrType);
        if (type == kEndOfAttributes) break;
        const std::uint32_t length = rec.le32(off + kAttrLength);
        if (length == 0) break;
        const ByteReader attr = rec.sub(off, std::min<std::size_t>(length, rec.size() - off));
        if (!visit(type, off, attr)) break;
        off += length;
    }
}

bool isUnnamed(const ByteReader& attr) { return attr.u8(kAttrNameLength) == 0; }

}  // namespace

void applyFixup(std::span<std::uint8_t> record) {
    ByteReader r(record.data(), record.size());
    const std::size_t usa = r.le16(kUsaOffset);
    const std::size_t count = r.le16(kUsaCount);
    if (usa >= record.size()) return;
    for (std::size_t i = 1; i < count; ++i) {
        const std::size_t target = i * kFixupStride;
        if (target > record.size() || !r.has(usa + 2 * i, 2)) break;
        record[target - 2] = record[usa + 2 * i];
        record[target - 1] = record[usa + 2 * i + 1];
    }
}

ParsedRecord parseRecordBytes(std::span<const std::uint8_t> record) {
    ParsedRecord p;
    const ByteReader rec(record.data(), record.size());
    p.recordFlags = rec.le16(kRecordFlags);
    p.baseRecord = rec.le64(kBaseRecord) & 0xFFFFFFFFFFFFull;
    if (rec.le16(kUsaOffset) >= 0x30) {
        p.hasRecordNumber = true;
        p.recordNumber = rec.le32(kRecordNumber);
    }
    bool firstName = true, nonResidentData = false;
    const std::uint8_t* longName = nullptr;
    const std::uint8_t* dosName = nullptr;
    std::size_t longUnits = 0, dosUnits = 0;
    forEachAttribute(rec, [&](std::uint32_t type, std::size_t off, const ByteReader& attr) {
        const bool resident = attr.u8(kAttrNonResident) == 0;
        if (type == kStandardInformation && resident) {
            const std::size_t v = off + attr.le16(kAttrValueOffset);
            if (rec.has(v, 0x20)) {
                p.hasTimes = true;
                p.created = rec.le64(v + kSiCreated);
                p.modified = rec.le64(v + kSiModified);
                p.accessed = rec.le64(v + kSiAccessed);
            }
        } else if (type == kAttributeList) {
            p.hasAttributeList = true;
        } else if (type == kFileName && resident) {
            const std::size_t v = off + attr.le16(kAttrValueOffset);
            if (!rec.has(v, kFnName)) return true;
            const std::uint32_t flags = rec.le32(v + kFnAttributes);
            if (flags & kFnDirectoryFlag) p.kind = kDirectoryKind;
            const std::size_t units = rec.u8(v + kFnNameLength);
            if (!rec.has(v + kFnName, units * 2)) return true;
            p.fileAttributes = static_cast<std::uint16_t>(flags & 0xFFFF);
            p.allocatedSize = rec.le64(v + kFnAllocatedSize);
            if (firstName) {
                // Low 48 bits of the reference, signed; the sequence number is not used.
                p.parentIndex = static_cast<std::int64_t>(rec.le64(v + kFnParent) << 16) >> 16;
                firstName = false;
            }
            const std::uint8_t* name = rec.bytes() + v + kFnName;
            if (rec.u8(v + kFnNamespace) == kDosNamespace) {
                dosName = name;
                dosUnits = units;
            } else {
                longName = name;
                longUnits = units;
            }
            p.hasFileName = true;
        } else if (type == kData && isUnnamed(attr)) {
            if (resident) {
                if (!nonResidentData) {
                    p.dataSize = attr.le32(kAttrValueLength);
                    p.dataSizeKnown = true;
                }
            } else if (!nonResidentData && attr.le64(kAttrFirstVcn) == 0) {
                p.dataSize = attr.le64(kAttrRealSize);
                p.dataSizeKnown = true;
                nonResidentData = true;
            }
        }
        return true;
    });
    // The long name wins; a DOS alias only when it is the only name.
    if (longName) {
        p.name = longName;
        p.nameUnits = longUnits;
    } else if (dosName) {
        p.name = dosName;
        p.nameUnits = dosUnits;
    }
    return p;
}

std::string attributeText(std::uint16_t a) {
    std::string t;
    if (a & 0x0001) t += "-R";
    if (a & 0x0002) t += "-H";
    if (a & 0x0200) t += "-S";
    if (a & 0x0020) t += "-A";
    if (a & 0x0800) t += "-C";
    if (a & 0x4000) t += "-E";
    return t;
}

bool ntfs::readRecord(std::uint64_t offset, std::vector<std::uint8_t>& buf) const {
    buf.assign(recordSize, 0);
    if (!reader || offset > static_cast<std::uint64_t>(INT64_MAX) || !reader->seek(static_cast<std::int64_t>(offset)))
        return false;
    reader->read(buf.data(), buf.size());  // a short read leaves zeros, which parse as nothing
    applyFixup(buf);
    return true;
}

std::uint32_t ntfs::commitName(const std::uint8_t* s, std::size_t units, std::uint64_t& offset) {
    offset = nameStore_.size();
    for (std::size_t i = 0; i < units; ++i) {
        char32_t c = static_cast<char32_t>(s[2 * i] | (s[2 * i + 1] << 8));
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
            const char32_t lo = static_cast<char32_t>(s[2 * i + 2] | (s[2 * i + 3] << 8));
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        appendUtf8(nameStore_, c);  // lone surrogates become U+FFFD
    }
    return static_cast<std::uint32_t>(nameStore_.size() - offset);
}

void ntfs::storeParsed(MftEntry& e, const ParsedRecord& p) {
    e.kind = p.kind;
    e.recordFlags = p.recordFlags;
    e.hasTimes = p.hasTimes;
    e.created = p.created;
    e.modified = p.modified;
    e.accessed = p.accessed;
    e.dataSizeKnown = p.dataSizeKnown;
    e.dataSize = p.dataSize;
    e.hasAttributeList = p.hasAttributeList;
    e.hasRecordNumber = p.hasRecordNumber;
    e.recordNumber = p.recordNumber;
    e.baseRecord = p.baseRecord;
    if (!p.hasFileName) return;
    e.parentIndex = p.parentIndex;
    e.allocatedSize = p.allocatedSize;
    e.fileAttributes = p.fileAttributes;
    if (p.name) {
        e.nameLength = commitName(p.name, p.nameUnits, e.nameOffset);
        e.hasName = true;
    }
}

bool ntfs::parseRecord(std::uint64_t offset, std::size_t index) {
    if (index >= entries.size()) return false;
    if (!readRecord(offset, recordBuffer_)) return false;
    storeParsed(entries[index], parseRecordBytes(recordBuffer_));
    if (entries[index].hasName && entries[index].baseRecord == 0 && scanMode != 3) linkEntry(index);
    return true;
}

std::vector<DataRun> ntfs::getRuns(std::uint64_t offset, std::uint32_t attributeType) {
    std::vector<DataRun> runs;
    std::vector<std::uint8_t> buf;
    if (!readRecord(offset, buf)) return runs;
    const ByteReader rec(buf.data(), buf.size());
    forEachAttribute(rec, [&](std::uint32_t type, std::size_t, const ByteReader& attr) {
        if (type != attributeType || attr.u8(kAttrNonResident) == 0) return true;
        if (type == kData && !isUnnamed(attr)) return true;  // a named stream is not the file
        const std::uint64_t first = attr.le64(kAttrFirstVcn), last = attr.le64(kAttrLastVcn);
        clusterCount = last >= first ? last - first + 1 : 0;
        const std::size_t listOffset = attr.le16(kAttrRunListOffset);
        const auto decoded = decodeRunList(attr.from(listOffset), clusterCount);
        runs.insert(runs.end(), decoded.runs.begin(), decoded.runs.end());
        return !decoded.ended;  // a list without its end byte goes on in the next attribute
    });
    return runs;
}

DataInfo ntfs::describeData(std::uint64_t recordOffset) {
    DataInfo info;
    std::vector<std::uint8_t> buf;
    if (!readRecord(recordOffset, buf)) return info;
    const ByteReader rec(buf.data(), buf.size());
    forEachAttribute(rec, [&](std::uint32_t type, std::size_t off, const ByteReader& attr) {
        if (type != kData || !isUnnamed(attr)) return true;
        const std::uint16_t flags = attr.le16(kAttrFlags);
        const bool resident = attr.u8(kAttrNonResident) == 0;
        info = DataInfo{};
        if (resident) {
            info.residency = 'R';
            info.dataOffset = static_cast<std::uint32_t>(off + attr.le16(kAttrValueOffset));
            info.dataLength = attr.le32(kAttrValueLength);
            info.kindText = flags == 0x0800 ? "Compressed" : flags == 0x4000 ? "Encrypted" : flags == 0 ? "Normal" : "";
            return true;
        }
        info.residency = 'N';
        info.dataOffset = attr.le16(kAttrRunListOffset);
        info.dataLength = static_cast<std::uint32_t>(attr.size() > info.dataOffset ? attr.size() - info.dataOffset : 0);
        info.compressionExponent = attr.le16(kAttrCompressionUnit);
        info.firstVcn = attr.le64(kAttrFirstVcn);
        info.lastVcn = attr.le64(kAttrLastVcn);
        info.allocatedSize = attr.le64(kAttrAllocatedSize);
        info.realSize = attr.le64(kAttrRealSize);
        info.kindText = flags == 0x0001 ? "Compressed" : flags == 0x4000 ? "Encrypted" : flags == 0 ? "Normal" : "";
        return false;  // the first non-resident $DATA wins
    });
    return info;
}

bool ntfs::loadDataStream(std::uint64_t recordOffset, DataStream& s) {
    s = DataStream{};
    std::vector<std::uint8_t> buf;
    if (!readRecord(recordOffset, buf) || !ByteReader(buf.data(), buf.size()).matches(0, "FILE")) return false;

    struct Extent {
        std::uint64_t firstVcn, lastVcn;
        std::vector<DataRun> runs;
    };
    std::vector<Extent> extents;
    std::vector<std::uint8_t> attributeList;
    bool haveList = false;

    // Takes the unnamed $DATA extents (and from the base record the list) of one record.
    auto takeRecord = [&](const std::vector<std::uint8_t>& bytes, bool base) {
        const ByteReader rec(bytes.data(), bytes.size());
        forEachAttribute(rec, [&](std::uint32_t type, std::size_t off, const ByteReader& attr) {
            const bool resident = attr.u8(kAttrNonResident) == 0;
            if (base && type == kAttributeList && !haveList) {
                haveList = true;
                if (resident) {
                    const std::size_t v = off + attr.le16(kAttrValueOffset);
                    const std::size_t n = attr.le32(kAttrValueLength);
                    if (rec.has(v, n)) attributeList.assign(rec.bytes() + v, rec.bytes() + v + n);
                } else {
                    const std::uint64_t first = attr.le64(kAttrFirstVcn), last = attr.le64(kAttrLastVcn);
                    const auto runs = decodeRunList(attr.from(attr.le16(kAttrRunListOffset)),
                                                    last >= first ? last - first + 1 : 0).runs;
                    // A list is a few entries per extent; 16 MiB is far beyond any real one.
                    const std::uint64_t size = std::min<std::uint64_t>(attr.le64(kAttrRealSize), 16u << 20);
                    attributeList.assign(size, 0);
                    std::uint64_t at = 0;
                    for (const auto& r : runs) {
                        if (at >= size) break;
                        const std::uint64_t bytesInRun =
                            r.length > (size - at) / std::max<std::uint64_t>(bytesPerCluster, 1) ? size - at : r.length * bytesPerCluster;
                        if (!r.sparse && r.start <= static_cast<std::uint64_t>(INT64_MAX) / bytesPerCluster)
                            readAt(*reader, static_cast<std::int64_t>(r.start * bytesPerCluster), attributeList.data() + at, bytesInRun);
                        at += bytesInRun;
                    }
                }
            } else if (type == kData && isUnnamed(attr)) {
                if (resident) {
                    if (base && extents.empty()) {
                        const std::size_t v = off + attr.le16(kAttrValueOffset);
                        const std::size_t n = attr.le32(kAttrValueLength);
                        s.resident = true;
                        s.found = true;
                        s.flags = attr.le16(kAttrFlags);
                        s.realSize = n;
                        if (rec.has(v, n)) s.residentBytes.assign(rec.bytes() + v, rec.bytes() + v + n);
                        else if (v < rec.size()) s.residentBytes.assign(rec.bytes() + v, rec.bytes() + rec.size());
                    }
                    return true;
                }
                Extent e{attr.le64(kAttrFirstVcn), attr.le64(kAttrLastVcn), {}};
                if (e.lastVcn < e.firstVcn) return true;
                e.runs = decodeRunList(attr.from(attr.le16(kAttrRunListOffset)), e.lastVcn - e.firstVcn + 1).runs;
                if (e.firstVcn == 0) {
                    s.realSize = attr.le64(kAttrRealSize);
                    s.allocatedSize = attr.le64(kAttrAllocatedSize);
                    s.initializedSize = attr.le64(kAttrInitializedSize);
                    s.flags = attr.le16(kAttrFlags);
                    s.compressionExponent = attr.u8(kAttrCompressionUnit);
                }
                extents.push_back(std::move(e));
            }
            return true;
        });
    };
    takeRecord(buf, true);

    if (haveList) {
        // The extension records that hold unnamed $DATA extents, each once.
        const ByteReader list(attributeList.data(), attributeList.size());
        std::vector<std::uint64_t> records;
        const std::uint64_t self = recordOffset;
        for (std::size_t pos = 0; pos + 0x1A <= list.size();) {
            const std::uint32_t type = list.le32(pos + kAlType);
            const std::uint16_t length = list.le16(pos + kAlLength);
            if (type == 0 || type == kEndOfAttributes || length == 0) break;
            if (type == kData && list.u8(pos + kAlNameLength) == 0) {
                const std::uint64_t number = list.le64(pos + kAlReference) & 0xFFFFFFFFFFFFull;
                if (std::find(records.begin(), records.end(), number) == records.end()) records.push_back(number);
            }
            pos += length;
        }
        constexpr std::size_t kMaxExtensionRecords = 1u << 16;
        if (records.size() > kMaxExtensionRecords) records.resize(kMaxExtensionRecords);
        std::vector<std::uint8_t> ext;
        for (std::uint64_t number : records) {
            std::uint64_t off = 0;
            if (!offsetOfRecordNumber(number, off)) {
                s.gaps = true;
                continue;
            }
            if (off == self) continue;  // the base record was taken already
            if (!readRecord(off, ext) || !ByteReader(ext.data(), ext.size()).matches(0, "FILE")) {
                s.gaps = true;
                continue;
            }
            takeRecord(ext, false);
        }
    }
    if (extents.empty()) return s.found;

    // One run list in VCN order; a missing extent becomes a hole.
    std::sort(extents.begin(), extents.end(), [](const Extent& a, const Extent& b) { return a.firstVcn < b.firstVcn; });
    if (extents.front().firstVcn != 0) s.gaps = true;
    s.found = true;
    s.resident = false;
    s.residentBytes.clear();
    std::uint64_t vcn = 0;
    for (const auto& e : extents) {
        if (e.firstVcn < vcn) continue;  // overlaps what we have
        if (e.firstVcn > vcn) {
            s.runs.push_back({0, e.firstVcn - vcn, true});
            s.gaps = true;
            vcn = e.firstVcn;
        }
        for (const auto& r : e.runs) {
            s.runs.push_back(r);
            vcn += r.length;
        }
    }
    s.clusters = vcn;
    return true;
}

}  // namespace kelvara
