#include "raw/myJpg.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "common/ByteReader.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "widgets/CUseShGetFileInfo.h"

namespace kelvara {

bool myJpg::addSignature(const SignatureRecord& record) {
    if (signatures_.size() >= kMaxSignatures) return false;
    Signature s;
    s.record = record;
    s.record.startSignatureLength = std::min<std::uint8_t>(record.startSignatureLength, sigrec::kPatternBytes);
    s.record.endSignatureLength = std::min<std::uint8_t>(record.endSignatureLength, sigrec::kPatternBytes);
    s.extension = record.extensionText();
    s.category = record.categoryText();
    s.signatureId = static_cast<int>(signatures_.size());
    signatures_.push_back(std::move(s));
    return true;
}

void myJpg::buildPatternTable() {
    const std::size_t n = signatures_.size();
    table_.assign(2 * n, PatternEntry{});
    for (std::size_t i = 0; i < n; ++i) {
        const SignatureRecord& r = signatures_[i].record;
        PatternEntry& start = table_[i];
        start.length = r.startSignatureLength;
        start.signatureId = static_cast<std::uint8_t>(signatures_[i].signatureId);
        start.bytes = r.startSignature;
        PatternEntry& end = table_[n + i];
        end.length = r.endSignatureLength;
        end.signatureId = static_cast<std::uint8_t>(signatures_[i].signatureId);
        end.bytes = r.endSignature;
    }
    for (auto& list : byFirstByte_) list.clear();
    for (std::size_t idx = 0; idx < table_.size(); ++idx) {
        const PatternEntry& e = table_[idx];
        if (e.length < 2) continue;  // one-byte patterns never match
        if (e.bytes[0] == kWildcard) {
            for (auto& list : byFirstByte_) list.push_back(static_cast<std::uint16_t>(idx));
        } else {
            byFirstByte_[e.bytes[0]].push_back(static_cast<std::uint16_t>(idx));
        }
    }
}

std::optional<myJpg::Match> myJpg::matchAt(const std::uint8_t* window) const {
    for (std::uint16_t idx : byFirstByte_[window[0]]) {
        const PatternEntry& e = table_[idx];
        bool ok = true;
        for (std::size_t k = 1; k < e.length; ++k) {
            if (e.bytes[k] != kWildcard && e.bytes[k] != window[k]) {
                ok = false;
                break;
            }
        }
        if (ok) return Match{idx >= signatures_.size(), e.signatureId};
    }
    return std::nullopt;
}

std::int64_t myJpg::skipStep(const Signature& s) const {
    const std::int64_t skip = s.record.skipSize;
    return skip > kSectorStep ? skip / kSectorStep * kSectorStep : kSectorStep;
}

std::int64_t myJpg::reportFind(Signature& s, std::int64_t start, std::int64_t length,
                               std::int64_t nameOffset) {
    // A find never runs past the end of the volume, nor has a negative length.
    if (length < 0) length = 0;
    if (length > volumeSize - start) length = std::max<std::int64_t>(0, volumeSize - start);
    Found f;
    f.start = start;
    f.length = length;
    f.nameOffset = nameOffset;
    f.signatureId = s.signatureId;
    f.name = strprintf("%lld .", static_cast<long long>(nameOffset)) + s.extension;
    const std::uint64_t count = ++categoryCount_[s.category];
    if (tree != nullptr && s.categoryNode != kNoItem) {
        tree->setItemText(s.categoryNode, strprintf("%s (%lld)", s.category.c_str(), static_cast<long long>(count)));
        const CUseShGetFileInfo icons;
        const int icon = icons.getFileIconIndex(f.name);
        f.item = tree->insertItem(f.name, icon, icon, s.categoryNode);
        tree->setItemData(f.item, static_cast<std::int64_t>(found_.size()));
    }
    found_.push_back(std::move(f));
    return length;
}

myJpg::Step myJpg::actStart(Signature& s, const std::uint8_t* buffer, std::int64_t p, std::int64_t a) {
    const SignatureRecord& r = s.record;
    const std::size_t id = static_cast<std::size_t>(s.signatureId);
    if (r.endSignatureLength > 0) {
        pending_[id].push_back(a);
        allStarts_[id].push_back(a);
        return {};
    }
    if (r.sizeByteCount > 0) {
        // The length field lies in the sector at a, which the buffer holds.
        if (r.sizeOffset < 1 || r.sizeByteCount > 8 || r.sizeOffset + r.sizeByteCount > 512) return {};
        const ByteReader sector(buffer + p, kSectorStep);
        const std::uint64_t raw = sector.le(static_cast<std::size_t>(r.sizeOffset), static_cast<std::size_t>(r.sizeByteCount));
        std::int64_t stated = r.sizeByteCount == 4 ? std::int64_t(std::int32_t(std::uint32_t(raw)))
                                                   : static_cast<std::int64_t>(raw);
        if (stated <= 0) return {};
        std::int64_t length = stated;
        if (r.sizeIncludesHeader != 1 && r.headerSize != 0) {
            if (__builtin_add_overflow(length, std::int64_t(r.headerSize), &length)) return {};
        }
        if (length <= 0) return {};
        if (r.approxFileSize > 0) length = std::min(length, r.approxFileSize);
        length = reportFind(s, a, length, a);
        // Go on at the first sector behind the file, in whichever chunk that is.
        const std::int64_t sectors = std::max<std::int64_t>(1, (length + kSectorStep - 1) / kSectorStep);
        Step st;
        st.resume = a + sectors * kSectorStep;
        return st;
    }
    reportFind(s, a, r.approxFileSize, a);
    return {skipStep(s), -1};
}

myJpg::Step myJpg::actEnd(Signature& s, std::int64_t a) {
    auto& stack = pending_[static_cast<std::size_t>(s.signatureId)];
    if (stack.empty()) return {};
    const std::int64_t b = stack.back();
    // The file ends with the last byte of its end pattern.
    std::int64_t length = (a - b) + s.record.endSignatureLength;
    if (s.record.approxFileSize > 0 && length > s.record.approxFileSize) length = s.record.approxFileSize;
    reportFind(s, b, length, a);
    stack.pop_back();
    return {skipStep(s) + kSectorStep, -1};
}

std::int64_t myJpg::scanBuffer(const std::uint8_t* buffer, std::int64_t p, std::int64_t limit, std::int64_t base) {
    while (p < limit) {
        const std::optional<Match> m = matchAt(buffer + p);
        if (stopped()) return -1;
        if (!m) {
            p += kSectorStep;
            continue;
        }
        Signature& s = signatures_[static_cast<std::size_t>(m->signatureId)];
        const std::int64_t a = base + p;
        const Step st = m->isEnd ? actEnd(s, a) : actStart(s, buffer, p, a);
        if (st.resume >= 0) {
            if (st.resume - base < limit) {
                p = st.resume - base;
                continue;
            }
            return st.resume;
        }
        // A skip never carries over into the next buffer.
        if (st.advance >= limit - p) return -1;
        p += st.advance;
    }
    return -1;
}

void myJpg::readWindow(std::int64_t offset, std::uint8_t* buffer, std::int64_t count) {
    // A window the reader cannot read is tested as zeros, never as the previous bytes.
    if (reader->seek(offset, 0) && reader->read(buffer, static_cast<std::uint64_t>(count))) return;
    std::memset(buffer, 0, static_cast<std::size_t>(count));
    if (reader->seek(offset, 0)) reader->read(buffer, static_cast<std::uint64_t>(count));
}

void myJpg::waitWhilePaused() const {
    while (pauseFlag.load(std::memory_order_relaxed) != 0 && !stopped())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void myJpg::flushPending() {
    for (std::size_t j = 0; j < signatures_.size(); ++j) {
        Signature& s = signatures_[j];
        const std::int64_t approx = s.record.approxFileSize;
        const std::vector<std::int64_t> stack = pending_[j];
        if (approx <= 0) continue;  // only signatures with an approximate size
        for (std::size_t i = stack.size(); i-- > 0;) {
            // Each runs to the next pending start of its signature; the latest gets the
            // approximate size.
            std::int64_t length = i + 1 == stack.size() ? approx : stack[i + 1] - stack[i];
            length = std::min(length, approx);
            if (length > 0) reportFind(s, stack[i], length, stack[i]);
        }
        pending_[j].clear();
    }
}

namespace {

// First position in hay[0, positions) where the pattern matches (0x2A: any byte); the
// hay holds positions + length - 1 bytes.
std::optional<std::size_t> findPattern(const std::uint8_t* hay, std::size_t positions, const std::uint8_t* pattern,
                                       std::size_t length) {
    std::size_t anchor = 0;
    while (anchor < length && pattern[anchor] == myJpg::kWildcard) ++anchor;
    if (anchor == length) return positions > 0 ? std::optional<std::size_t>(0) : std::nullopt;
    std::size_t i = 0;
    while (i < positions) {
        const void* hit = std::memchr(hay + i + anchor, pattern[anchor], positions - i);
        if (hit == nullptr) return std::nullopt;
        const std::size_t cand = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - hay) - anchor;
        bool ok = true;
        for (std::size_t k = 0; k < length && ok; ++k)
            ok = pattern[k] == myJpg::kWildcard || pattern[k] == hay[cand + k];
        if (ok) return cand;
        i = cand + 1;
    }
    return std::nullopt;
}

}  // namespace

void myJpg::trimToEndPatterns() {
    std::vector<std::uint8_t> window;
    for (Found& f : found_) {
        if (stopped()) return;
        const Signature& s = signatures_[static_cast<std::size_t>(f.signatureId)];
        const std::size_t endLen = s.record.endSignatureLength;
        if (endLen < 2) continue;
        // A file ends before the next start of its own kind.
        std::int64_t limit = f.start + f.length;
        const auto& starts = allStarts_[static_cast<std::size_t>(f.signatureId)];
        const auto next = std::upper_bound(starts.begin(), starts.end(), f.start);
        if (next != starts.end()) limit = std::min(limit, *next);
        limit = std::min<std::int64_t>(limit, volumeSize - static_cast<std::int64_t>(endLen) + 1);
        std::int64_t pos = f.start + s.record.startSignatureLength;
        if (window.empty()) window.resize(static_cast<std::size_t>(kChunkSize) + sigrec::kPatternBytes);
        while (pos < limit) {
            const std::int64_t positions = std::min<std::int64_t>(kChunkSize, limit - pos);
            readWindow(pos, window.data(), positions + static_cast<std::int64_t>(endLen) - 1);
            const auto hit = findPattern(window.data(), static_cast<std::size_t>(positions),
                                         s.record.endSignature.data(), endLen);
            if (hit) {
                const std::int64_t end = pos + static_cast<std::int64_t>(*hit) + static_cast<std::int64_t>(endLen) +
                                         static_cast<std::int64_t>(s.record.endExtraBytes);
                f.length = std::min(end, volumeSize) - f.start;
                break;
            }
            pos += positions;
        }
    }
}

bool myJpg::scanVolume() {
    if (reader == nullptr) return false;
    ProgressSink& progress = sink != nullptr ? *sink : nullProgressSink();
    try {
        buildPatternTable();
        pending_.assign(signatures_.size(), {});
        allStarts_.assign(signatures_.size(), {});
    } catch (const std::bad_alloc&) {
        showMessage("not properly initialized");
        return false;
    }

    if (tree != nullptr) {
        const CUseShGetFileInfo icons;
        const int folder = icons.getFolderIconIndex();
        root_ = tree->insertItem("RAW RECOVERY ", folder, folder);
        std::map<std::string, TreeItem> nodes;
        for (Signature& s : signatures_) {
            categoryCount_[s.category] = 0;
            auto it = nodes.find(s.category);
            if (it == nodes.end()) it = nodes.emplace(s.category, tree->insertItem(s.category, folder, folder, root_)).first;
            s.categoryNode = it->second;
        }
        tree->expand(root_, ExpandCode::Expand);
    } else {
        for (const Signature& s : signatures_) categoryCount_[s.category] = 0;
    }
    progress.setRange(0, 1000);

    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(static_cast<std::size_t>(kChunkSize) + kSectorStep);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const std::int64_t size = std::max<std::int64_t>(0, volumeSize);
    const std::int64_t chunks = size / kChunkSize;
    const std::int64_t remainder = size % kChunkSize;
    progress.setRange(0, chunks);

    std::int64_t next = 0;  // absolute offset of the next test
    std::int64_t c = 0;
    while (c < chunks) {
        progress.setPos(c);
        if (stopped()) break;
        waitWhilePaused();
        if (stopped()) break;
        const std::int64_t base = c * kChunkSize;
        readWindow(base, buffer.data(), kChunkSize);
        const std::int64_t resume = scanBuffer(buffer.data(), std::max<std::int64_t>(0, next - base),
                                               kChunkSize - static_cast<std::int64_t>(kPatternWindow), base);
        if (resume >= base + kChunkSize) {
            next = resume;
            c = resume / kChunkSize;
        } else {
            ++c;
            next = c * kChunkSize;
        }
    }
    progress.setPos(chunks);

    if (remainder > 0 && !stopped()) {
        const std::int64_t base = chunks * kChunkSize;
        const std::int64_t first = std::max<std::int64_t>(0, next - base);
        if (first < remainder) {
            // The tail is tested like a chunk; bytes past the volume's end read as zeros.
            std::fill(buffer.begin(), buffer.end(), 0);
            readWindow(base, buffer.data(), remainder);
            scanBuffer(buffer.data(), first, remainder, base);
        }
    }

    flushPending();
    trimToEndPatterns();
    table_.clear();
    showMessage("Scanning processing done.Select save button to save the data..");
    return true;
}

const myJpg::Found* myJpg::findForItem(TreeItem item) const {
    if (tree == nullptr || item == kNoItem || !tree->isValid(item)) return nullptr;
    const std::int64_t index = tree->getItemData(item);
    if (index < 0 || static_cast<std::size_t>(index) >= found_.size()) return nullptr;
    const Found& f = found_[static_cast<std::size_t>(index)];
    return f.item == item ? &f : nullptr;
}

}  // namespace kelvara
