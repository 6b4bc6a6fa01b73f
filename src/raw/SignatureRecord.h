#pragma once
// Signature lists: the 171-byte record one signature is stored in, the conversion of the
// signature form's texts into a record, appending a record to a list and loading a list
// into a carving engine.

#include <array>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <span>
#include <string>

namespace kelvara {

class myJpg;

// Layout of one record: little-endian, text UTF-16LE, no padding.
namespace sigrec {
constexpr std::size_t kExtension = 0;             // 10: 4 units + terminator
constexpr std::size_t kExtensionLength = 10;      // 1
constexpr std::size_t kStartSignature = 11;       // 10
constexpr std::size_t kEndSignature = 21;         // 10
constexpr std::size_t kStartSignatureLength = 31; // 1
constexpr std::size_t kEndSignatureLength = 32;   // 1
constexpr std::size_t kRecordIndex = 33;          // 1
constexpr std::size_t kSizeOffset = 34;           // 4, signed
constexpr std::size_t kSizeByteCount = 38;        // 4, signed
constexpr std::size_t kHeaderSize = 42;           // 4, signed
constexpr std::size_t kSizeIncludesHeader = 46;   // 1
constexpr std::size_t kEndExtraBytes = 47;        // 4 (reserved in lists written elsewhere: 0)
constexpr std::size_t kApproxFileSize = 51;       // 8, signed
constexpr std::size_t kSkipSize = 59;             // 8, signed
constexpr std::size_t kCategory = 67;             // 100: 49 units + terminator
constexpr std::size_t kReserved = 167;            // 4
constexpr std::size_t kRecordSize = 171;

constexpr std::size_t kExtensionUnits = 4;
constexpr std::size_t kPatternBytes = 10;
constexpr std::size_t kCategoryUnits = 49;
// The last record of a list must begin within the first MiB.
constexpr std::uint64_t kLastRecordLimit = 1048576;

static_assert(kExtensionLength == kExtension + 10);
static_assert(kStartSignature == kExtensionLength + 1);
static_assert(kEndSignature == kStartSignature + kPatternBytes);
static_assert(kStartSignatureLength == kEndSignature + kPatternBytes);
static_assert(kEndSignatureLength == kStartSignatureLength + 1);
static_assert(kRecordIndex == kEndSignatureLength + 1);
static_assert(kSizeOffset == kRecordIndex + 1);
static_assert(kSizeByteCount == kSizeOffset + 4);
static_assert(kHeaderSize == kSizeByteCount + 4);
static_assert(kSizeIncludesHeader == kHeaderSize + 4);
static_assert(kEndExtraBytes == kSizeIncludesHeader + 1);
static_assert(kApproxFileSize == kEndExtraBytes + 4);
static_assert(kSkipSize == kApproxFileSize + 8);
static_assert(kCategory == kSkipSize + 8);
static_assert(kReserved == kCategory + 100);
static_assert(kRecordSize == kReserved + 4);
static_assert((kCategoryUnits + 1) * 2 == 100);
}  // namespace sigrec

// One record as stored. Parsed and written field by field, never cast from bytes.
struct SignatureRecord {
    std::array<std::uint16_t, 5> extension{};
    std::uint8_t extensionLength = 0;
    std::array<std::uint8_t, sigrec::kPatternBytes> startSignature{};
    std::array<std::uint8_t, sigrec::kPatternBytes> endSignature{};
    std::uint8_t startSignatureLength = 0;
    std::uint8_t endSignatureLength = 0;
    std::uint8_t recordIndex = 0;
    std::int32_t sizeOffset = -1;
    std::int32_t sizeByteCount = 0;
    std::int32_t headerSize = 0;
    std::uint8_t sizeIncludesHeader = 0;
    // Bytes a file of this kind carries after its end signature (a ZIP's end record, a
    // PDF's last line end). Lists written by other tools keep 0 here.
    std::uint32_t endExtraBytes = 0;
    std::int64_t approxFileSize = 0;
    std::int64_t skipSize = 0;
    std::array<std::uint16_t, 50> category{};
    std::uint32_t reserved = 0;

    std::string extensionText() const;  // UTF-8
    std::string categoryText() const;   // UTF-8
};

using SignatureRecordBytes = std::array<std::uint8_t, sigrec::kRecordSize>;

// Reads a record from exactly 171 bytes (a shorter slice gives zeros for the rest).
SignatureRecord parseSignatureRecord(std::span<const std::uint8_t> bytes);
SignatureRecordBytes serializeSignatureRecord(const SignatureRecord& record);

// Field conversions of the signature form.
struct SignatureTokens {
    std::array<std::uint8_t, 64> bytes{};
    std::size_t count = 0;  // number of tokens (may exceed what bytes holds)
};
// "0x89,0x50,,4E" -> 89 50 4E: comma-separated hexadecimal tokens, empty tokens skipped.
SignatureTokens convertSignatureText(const std::string& text);
// Leading blanks, a sign, decimal digits up to the first other character; clamped to
// 32 bits; 0 when there is no digit.
std::int32_t convertNumberText(const std::string& text);

// What the user typed into the signature form (UTF-8 texts).
struct SignatureFields {
    std::string extension;
    std::string startSignature;
    std::string endSignature;
    std::string sizeOffset;      // "Offset to Size Byte"
    std::string sizeByteCount;   // "Number Of Bytes In Size"
    bool sizeIncludesHeader = false;
    std::string headerSize;
    std::string skipSize;        // "Size_to_skip_WhileParsing"
    std::string approxFileSize;
    std::string category;        // "Put Under Category"
    std::string endExtraBytes;   // bytes after the end signature (our addition)
};

// Builds the record the fields describe. False (with the form's message shown) when
// the extension or the start signature is empty, or a signature is longer than 10 bytes.
bool buildSignatureRecord(const SignatureFields& fields, SignatureRecord& record);

// Appends one record to the open target list: index = file length / 171. Nothing when
// target is null or not open. Messages as the signature form shows them.
bool writeSignatureRecord(std::fstream* target, const SignatureFields& fields);

// Reads every record of the list at path and adds one signature per record to the
// engine. A missing default list loads nothing and says nothing.
bool loadSignatureFile(const std::string& path, myJpg& engine, bool isDefaultList);

}  // namespace kelvara
