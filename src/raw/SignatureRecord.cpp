#include "raw/SignatureRecord.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "common/ByteReader.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "raw/myJpg.h"

namespace kelvara {
namespace {

std::u16string utf8ToUtf16(const std::string& text) {
    std::u16string out;
    for (char32_t cp : utf8ToUtf32(text)) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

// Copies at most maxUnits units, never ending on the first half of a surrogate pair.
template <std::size_t N>
void storeUnits(std::array<std::uint16_t, N>& field, const std::u16string& text, std::size_t maxUnits) {
    std::size_t n = std::min(text.size(), maxUnits);
    if (n > 0 && n < text.size() && text[n - 1] >= 0xD800 && text[n - 1] < 0xDC00) --n;
    field.fill(0);
    for (std::size_t i = 0; i < n; ++i) field[i] = text[i];
}

template <std::size_t N>
std::string unitsText(const std::array<std::uint16_t, N>& field) {
    std::uint8_t le[N * 2];
    for (std::size_t i = 0; i < N; ++i) {
        le[2 * i] = static_cast<std::uint8_t>(field[i]);
        le[2 * i + 1] = static_cast<std::uint8_t>(field[i] >> 8);
    }
    return utf16leToUtf8(le, N, true);
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::uint8_t convertHexToken(const std::string& token) {
    std::size_t i = 0;
    while (i < token.size() && isSpace(token[i])) ++i;
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
    // A prefix counts only with a digit after it ("0xg" reads as 0, as strtol does).
    if (i + 2 < token.size() && token[i] == '0' && (token[i + 1] == 'x' || token[i + 1] == 'X') &&
        hexDigit(token[i + 2]) >= 0)
        i += 2;
    std::uint64_t value = 0;  // wraps; only the low 8 bits are kept
    for (; i < token.size() && hexDigit(token[i]) >= 0; ++i) value = value * 16 + std::uint64_t(hexDigit(token[i]));
    if (negative) value = ~value + 1;
    return static_cast<std::uint8_t>(value);
}

}  // namespace

std::string SignatureRecord::extensionText() const { return unitsText(extension); }
std::string SignatureRecord::categoryText() const { return unitsText(category); }

SignatureRecord parseSignatureRecord(std::span<const std::uint8_t> bytes) {
    using namespace sigrec;
    const ByteReader r(bytes.data(), bytes.size());
    SignatureRecord rec;
    for (std::size_t i = 0; i < rec.extension.size(); ++i) rec.extension[i] = r.le16(kExtension + 2 * i);
    rec.extensionLength = r.u8(kExtensionLength);
    for (std::size_t i = 0; i < kPatternBytes; ++i) {
        rec.startSignature[i] = r.u8(kStartSignature + i);
        rec.endSignature[i] = r.u8(kEndSignature + i);
    }
    rec.startSignatureLength = r.u8(kStartSignatureLength);
    rec.endSignatureLength = r.u8(kEndSignatureLength);
    rec.recordIndex = r.u8(kRecordIndex);
    rec.sizeOffset = static_cast<std::int32_t>(r.le32(kSizeOffset));
    rec.sizeByteCount = static_cast<std::int32_t>(r.le32(kSizeByteCount));
    rec.headerSize = static_cast<std::int32_t>(r.le32(kHeaderSize));
    rec.sizeIncludesHeader = r.u8(kSizeIncludesHeader);
    rec.endExtraBytes = r.le32(kEndExtraBytes);
    rec.approxFileSize = static_cast<std::int64_t>(r.le64(kApproxFileSize));
    rec.skipSize = static_cast<std::int64_t>(r.le64(kSkipSize));
    for (std::size_t i = 0; i < rec.category.size(); ++i) rec.category[i] = r.le16(kCategory + 2 * i);
    rec.reserved = r.le32(kReserved);
    return rec;
}

SignatureRecordBytes serializeSignatureRecord(const SignatureRecord& rec) {
    using namespace sigrec;
    SignatureRecordBytes b{};
    auto put = [&b](std::size_t off, std::uint64_t v, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i) b[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    // Bytes 8-9 stay zero: the extension is always terminated.
    for (std::size_t i = 0; i < kExtensionUnits; ++i) put(kExtension + 2 * i, rec.extension[i], 2);
    b[kExtensionLength] = rec.extensionLength;
    for (std::size_t i = 0; i < kPatternBytes; ++i) {
        b[kStartSignature + i] = rec.startSignature[i];
        b[kEndSignature + i] = rec.endSignature[i];
    }
    b[kStartSignatureLength] = rec.startSignatureLength;
    b[kEndSignatureLength] = rec.endSignatureLength;
    b[kRecordIndex] = rec.recordIndex;
    put(kSizeOffset, static_cast<std::uint32_t>(rec.sizeOffset), 4);
    put(kSizeByteCount, static_cast<std::uint32_t>(rec.sizeByteCount), 4);
    put(kHeaderSize, static_cast<std::uint32_t>(rec.headerSize), 4);
    b[kSizeIncludesHeader] = rec.sizeIncludesHeader;
    put(kEndExtraBytes, rec.endExtraBytes, 4);
    put(kApproxFileSize, static_cast<std::uint64_t>(rec.approxFileSize), 8);
    put(kSkipSize, static_cast<std::uint64_t>(rec.skipSize), 8);
    // The last unit of the category stays zero: the name is always terminated.
    for (std::size_t i = 0; i < kCategoryUnits; ++i) put(kCategory + 2 * i, rec.category[i], 2);
    put(kReserved, rec.reserved, 4);
    return b;
}

SignatureTokens convertSignatureText(const std::string& text) {
    SignatureTokens out;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t comma = text.find(',', pos);
        if (comma == std::string::npos) comma = text.size();
        if (comma > pos) {
            if (out.count < out.bytes.size()) out.bytes[out.count] = convertHexToken(text.substr(pos, comma - pos));
            ++out.count;
        }
        pos = comma + 1;
    }
    return out;
}

std::int32_t convertNumberText(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t value = 0;
    const std::int64_t limit = std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min(limit, value * 10 + (text[i] - '0'));
    if (negative) value = -value;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

bool buildSignatureRecord(const SignatureFields& f, SignatureRecord& rec) {
    const std::u16string ext = utf8ToUtf16(f.extension);
    if (ext.empty()) {
        showMessage("extention length is zero..");
        return false;
    }
    rec = SignatureRecord{};
    storeUnits(rec.extension, ext, sigrec::kExtensionUnits);
    rec.extensionLength = static_cast<std::uint8_t>(ext.size());

    const SignatureTokens start = convertSignatureText(f.startSignature);
    if (start.count == 0) {
        showMessage("signature length is zero..");
        return false;
    }
    const SignatureTokens end = convertSignatureText(f.endSignature);
    if (start.count > sigrec::kPatternBytes || end.count > sigrec::kPatternBytes) {
        showMessage("a signature holds at most 10 bytes..");
        return false;
    }
    std::copy_n(start.bytes.begin(), start.count, rec.startSignature.begin());
    rec.startSignatureLength = static_cast<std::uint8_t>(start.count);
    std::copy_n(end.bytes.begin(), end.count, rec.endSignature.begin());
    rec.endSignatureLength = static_cast<std::uint8_t>(end.count);

    const std::int32_t sizeOffset = convertNumberText(f.sizeOffset);
    if (sizeOffset != 0) rec.sizeOffset = sizeOffset;
    rec.sizeByteCount = convertNumberText(f.sizeByteCount);
    rec.headerSize = convertNumberText(f.headerSize);
    rec.skipSize = convertNumberText(f.skipSize);
    rec.approxFileSize = convertNumberText(f.approxFileSize);
    rec.sizeIncludesHeader = f.sizeIncludesHeader ? 1 : 0;
    rec.endExtraBytes = static_cast<std::uint32_t>(std::max<std::int32_t>(0, convertNumberText(f.endExtraBytes)));
    if (!f.category.empty()) storeUnits(rec.category, utf8ToUtf16(f.category), sigrec::kCategoryUnits);
    return true;
}

bool writeSignatureRecord(std::fstream* target, const SignatureFields& fields) {
    if (target == nullptr || !target->is_open()) return false;
    target->clear();
    target->seekp(0, std::ios::end);
    const std::streamoff length = target->tellp();
    if (length < 0) {
        showMessage("can not write file");
        return false;
    }
    SignatureRecord rec;
    if (!buildSignatureRecord(fields, rec)) return false;
    rec.recordIndex = static_cast<std::uint8_t>(std::uint64_t(length) / sigrec::kRecordSize);
    const SignatureRecordBytes bytes = serializeSignatureRecord(rec);
    target->write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    target->flush();
    if (!*target) {
        showMessage("can not write file");
        return false;
    }
    showMessage("everything initialized well.....");
    return true;
}

namespace {

// A signature whose size is read from the file's header needs that field inside the
// one sector the engine reads.
bool lengthFieldFits(const SignatureRecord& r) {
    if (r.endSignatureLength != 0 || r.sizeByteCount <= 0) return true;
    return r.sizeOffset >= 1 && r.sizeByteCount <= 8 && r.sizeOffset + r.sizeByteCount <= 512;
}

}  // namespace

bool loadSignatureFile(const std::string& path, myJpg& engine, bool isDefaultList) {
    if (path.empty()) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (!isDefaultList) showMessage("can not open file");
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < std::streamoff(sigrec::kRecordSize)) {
        showMessage("not a valid file..");
        return false;
    }
    const std::uint64_t lastPos = std::uint64_t(size) - sigrec::kRecordSize;
    if (lastPos > sigrec::kLastRecordLimit) {
        showMessage("not a valid file..");
        return false;
    }
    SignatureRecordBytes buf{};
    in.seekg(std::streamoff(lastPos));
    if (!in.read(reinterpret_cast<char*>(buf.data()), buf.size())) {
        showMessage("not a valid file..");
        return false;
    }
    const SignatureRecord last = parseSignatureRecord(buf);
    if (!isDefaultList && last.sizeByteCount > 8) {
        showMessage("not a valid file..");
        return false;
    }
    // The count comes from the last record's index, but never more records than the
    // file holds.
    const std::size_t count =
        std::min<std::size_t>(std::size_t(last.recordIndex) + 1, std::size_t(size) / sigrec::kRecordSize);
    if (engine.signatures().size() + count > myJpg::kMaxSignatures) {
        showMessage(strprintf("too many signatures: %zu loaded and %zu in this list, at most %zu can be used..",
                              engine.signatures().size(), count, myJpg::kMaxSignatures));
        return false;
    }
    std::vector<SignatureRecord> records;
    records.reserve(count);
    in.seekg(0);
    for (std::size_t k = 0; k < count; ++k) {
        if (!in.read(reinterpret_cast<char*>(buf.data()), buf.size())) {
            showMessage("not a valid file..");
            return false;
        }
        SignatureRecord rec = parseSignatureRecord(buf);
        if (rec.sizeOffset <= 0) rec.sizeOffset = -1;
        if (!lengthFieldFits(rec)) {
            showMessage(strprintf("signature %zu (%s): its size field must lie within the first 512 bytes..",
                                  k + 1, rec.extensionText().c_str()));
            return false;
        }
        records.push_back(rec);
    }
    for (const auto& rec : records) engine.addSignature(rec);
    return true;
}

}  // namespace kelvara
