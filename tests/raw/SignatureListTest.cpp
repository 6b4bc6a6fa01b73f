// Signature list records: the byte layout, the form's field conversions, appending
// records and loading lists into an engine.

#include <gtest/gtest.h>

#include <fstream>

#include "raw/SignatureRecord.h"
#include "raw/myJpg.h"
#include "support/TestSupport.h"
#include "raw/RawTestSupport.h"

using namespace kelvara;
using kelvara::test::RecordedMessages;
using kelvara::test::ScratchDir;

namespace {

std::vector<std::uint8_t> recordBytes(SignatureFields f, std::uint8_t index = 0) {
    SignatureRecord r = test::recordFrom(f);
    r.recordIndex = index;
    const auto b = serializeSignatureRecord(r);
    return {b.begin(), b.end()};
}

SignatureFields simple(const std::string& ext) {
    SignatureFields f;
    f.extension = ext;
    f.startSignature = "0x11,0x22";
    f.endSignature = "0x33,0x44";
    return f;
}

// A list of count records, numbered 0, 1, 2 ... modulo 256.
void writeList(const std::string& path, std::size_t count, SignatureFields f = simple("bin")) {
    std::vector<std::uint8_t> all;
    for (std::size_t k = 0; k < count; ++k) {
        auto b = recordBytes(f, static_cast<std::uint8_t>(k));
        all.insert(all.end(), b.begin(), b.end());
    }
    test::writeFileBytes(path, all);
}

bool save(std::fstream& list, const SignatureFields& f) { return writeSignatureRecord(&list, f); }

}  // namespace

TEST(SignatureList, RecordLayoutRoundTrips) {
    SignatureFields f;
    f.extension = "jpeg";
    f.startSignature = "0xFF,0xD8,0xFF";
    f.endSignature = "0xFF,0xD9";
    f.sizeOffset = "6";
    f.sizeByteCount = "4";
    f.sizeIncludesHeader = true;
    f.headerSize = "16";
    f.skipSize = "2048";
    f.approxFileSize = "1048576";
    f.category = "Images";
    f.endExtraBytes = "18";
    const SignatureRecord r = test::recordFrom(f);
    const SignatureRecordBytes b = serializeSignatureRecord(r);
    const std::vector<std::uint8_t> expectExt = {'j', 0, 'p', 0, 'e', 0, 'g', 0, 0, 0, 4};
    EXPECT_EQ(std::vector<std::uint8_t>(b.begin(), b.begin() + 11), expectExt);
    EXPECT_EQ(b[11], 0xFF);
    EXPECT_EQ(b[13], 0xFF);
    EXPECT_EQ(b[21], 0xFF);
    EXPECT_EQ(b[22], 0xD9);
    EXPECT_EQ(b[31], 3);
    EXPECT_EQ(b[32], 2);
    EXPECT_EQ(b[34], 6);
    EXPECT_EQ(b[38], 4);
    EXPECT_EQ(b[42], 16);
    EXPECT_EQ(b[46], 1);
    EXPECT_EQ(b[47], 18);
    EXPECT_EQ(b[51 + 2], 0x10);  // 1048576 = 0x100000
    EXPECT_EQ(b[59 + 1], 0x08);  // 2048
    EXPECT_EQ(b[67], 'I');
    EXPECT_EQ(b[68], 0);
    const SignatureRecord back = parseSignatureRecord(b);
    EXPECT_EQ(back.extensionText(), "jpeg");
    EXPECT_EQ(back.categoryText(), "Images");
    EXPECT_EQ(back.approxFileSize, 1048576);
    EXPECT_EQ(back.skipSize, 2048);
    EXPECT_EQ(back.endExtraBytes, 18u);
    EXPECT_EQ(serializeSignatureRecord(back), b);
}

TEST(SignatureList, FormFieldConversions) {
    struct Case {
        const char* what;
        SignatureFields fields;
        std::function<void(const SignatureRecord&)> check;
    };
    auto with = [](auto change) {
        SignatureFields f = simple("bin");
        change(f);
        return f;
    };
    const std::vector<Case> cases = {
        {"five-letter extension", with([](auto& f) { f.extension = "abcde"; }),
         [](const SignatureRecord& r) {
             EXPECT_EQ(r.extensionText(), "abcd");
             EXPECT_EQ(r.extension[4], 0);
             EXPECT_EQ(r.extensionLength, 5);
         }},
        {"empty tokens skipped", with([](auto& f) { f.startSignature = ",0xFF,,0xD8,"; }),
         [](const SignatureRecord& r) {
             EXPECT_EQ(r.startSignatureLength, 2);
             EXPECT_EQ(r.startSignature[0], 0xFF);
             EXPECT_EQ(r.startSignature[1], 0xD8);
             EXPECT_EQ(r.startSignature[2], 0);
         }},
        {"token without digits is 0", with([](auto& f) { f.startSignature = "zz"; }),
         [](const SignatureRecord& r) {
             EXPECT_EQ(r.startSignatureLength, 1);
             EXPECT_EQ(r.startSignature[0], 0);
         }},
        {"blanks, prefixes, low 8 bits, sign", with([](auto& f) { f.startSignature = " 0X4e, 2A,0x1FF,-1,0xg"; }),
         [](const SignatureRecord& r) {
             ASSERT_EQ(r.startSignatureLength, 5);
             EXPECT_EQ(r.startSignature[0], 0x4E);
             EXPECT_EQ(r.startSignature[1], 0x2A);
             EXPECT_EQ(r.startSignature[2], 0xFF);
             EXPECT_EQ(r.startSignature[3], 0xFF);
             EXPECT_EQ(r.startSignature[4], 0x00);
         }},
        {"no end signature", with([](auto& f) { f.endSignature = ""; }),
         [](const SignatureRecord& r) { EXPECT_EQ(r.endSignatureLength, 0); }},
        {"empty offset means none", with([](auto& f) { f.sizeOffset = ""; }),
         [](const SignatureRecord& r) { EXPECT_EQ(r.sizeOffset, -1); }},
        {"offset 0 means none", with([](auto& f) { f.sizeOffset = "0"; }),
         [](const SignatureRecord& r) { EXPECT_EQ(r.sizeOffset, -1); }},
        {"negative offset kept", with([](auto& f) { f.sizeOffset = "-5"; }),
         [](const SignatureRecord& r) { EXPECT_EQ(r.sizeOffset, -5); }},
        {"numbers: leading digits, clamped, sign-extended",
         with([](auto& f) {
             f.sizeByteCount = "  4bytes";
             f.headerSize = "99999999999";
             f.approxFileSize = "-99999999999";
             f.skipSize = "x";
         }),
         [](const SignatureRecord& r) {
             EXPECT_EQ(r.sizeByteCount, 4);
             EXPECT_EQ(r.headerSize, 2147483647);
             EXPECT_EQ(r.approxFileSize, -2147483648LL);
             EXPECT_EQ(r.skipSize, 0);
         }},
        {"category cut to 49 units", with([](auto& f) { f.category = std::string(60, 'c'); }),
         [](const SignatureRecord& r) {
             EXPECT_EQ(r.categoryText(), std::string(49, 'c'));
             EXPECT_EQ(r.category[49], 0);
         }},
        {"check box", with([](auto& f) { f.sizeIncludesHeader = true; }),
         [](const SignatureRecord& r) { EXPECT_EQ(r.sizeIncludesHeader, 1); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SignatureRecord r;
        RecordedMessages messages;
        ASSERT_TRUE(buildSignatureRecord(c.fields, r));
        c.check(parseSignatureRecord(serializeSignatureRecord(r)));
    }
}

TEST(SignatureList, ThreeSavesThenLoad) {
    ScratchDir dir;
    const std::string path = dir.file("list.txt");
    { std::ofstream create(path); }
    std::fstream list(path, std::ios::in | std::ios::out | std::ios::binary);
    RecordedMessages messages;

    EXPECT_FALSE(writeSignatureRecord(nullptr, simple("x")));
    EXPECT_TRUE(messages.texts.empty());  // no target list: nothing at all

    EXPECT_FALSE(save(list, simple("")));
    SignatureFields noStart = simple("bin");
    noStart.startSignature = ",,";
    EXPECT_FALSE(save(list, noStart));
    SignatureFields tooLong = simple("bin");
    tooLong.startSignature = "1,2,3,4,5,6,7,8,9,10,11";
    EXPECT_FALSE(save(list, tooLong));
    ASSERT_EQ(messages.texts.size(), 3u);
    EXPECT_EQ(messages.texts[0], "extention length is zero..");
    EXPECT_EQ(messages.texts[1], "signature length is zero..");

    for (const char* ext : {"aaa", "bbb", "ccc"}) EXPECT_TRUE(save(list, simple(ext)));
    EXPECT_EQ(messages.texts.back(), "everything initialized well.....");
    list.close();
    const auto bytes = test::readFileBytes(path);
    ASSERT_EQ(bytes.size(), 513u);
    EXPECT_EQ(bytes[33], 0);
    EXPECT_EQ(bytes[171 + 33], 1);
    EXPECT_EQ(bytes[342 + 33], 2);

    myJpg engine;
    ASSERT_TRUE(loadSignatureFile(path, engine, false));
    ASSERT_EQ(engine.signatures().size(), 3u);
    EXPECT_EQ(engine.signatures()[0].extension, "aaa");
    EXPECT_EQ(engine.signatures()[2].extension, "ccc");
    EXPECT_EQ(engine.signatures()[2].signatureId, 2);
}

TEST(SignatureList, LoadingRules) {
    ScratchDir dir;
    RecordedMessages messages;
    struct Case {
        const char* what;
        std::function<void(const std::string&)> make;
        bool isDefault;
        bool loads;
        std::size_t signatures;  // in the engine afterwards
        std::string message;     // "" for none
    };
    auto bytes = [](std::size_t n) {
        return [n](const std::string& p) { test::writeFileBytes(p, std::vector<std::uint8_t>(n, 0)); };
    };
    SignatureFields wide = simple("wid");
    wide.sizeByteCount = "9";  // has end bytes, so no length field is read
    SignatureFields noField = simple("len");
    noField.endSignature = "";
    noField.sizeByteCount = "4";  // but no offset
    SignatureFields pastSector = noField;
    pastSector.sizeOffset = "510";
    SignatureFields lastInSector = noField;
    lastInSector.sizeOffset = "508";
    const std::vector<Case> cases = {
        {"missing default", [](const std::string&) {}, true, false, 0, ""},
        {"missing chosen", [](const std::string&) {}, false, false, 0, "can not open file"},
        {"empty default", bytes(0), true, false, 0, "not a valid file.."},
        {"170 bytes chosen", bytes(170), false, false, 0, "not a valid file.."},
        {"last record past 1 MiB", [](const std::string& p) { writeList(p, 1048576 / 171 + 2); }, false, false, 0,
         "not a valid file.."},
        {"size width 9 chosen", [&](const std::string& p) { writeList(p, 2, wide); }, false, false, 0, "not a valid file.."},
        {"size width 9 default", [&](const std::string& p) { writeList(p, 2, wide); }, true, true, 2, ""},
        {"300 records read 44", [](const std::string& p) { writeList(p, 300); }, false, true, 44, ""},
        {"index beyond the file", [](const std::string& p) {
             auto a = recordBytes(simple("one"), 0), b = recordBytes(simple("two"), 200);
             a.insert(a.end(), b.begin(), b.end());
             test::writeFileBytes(p, a);
         }, false, true, 2, ""},
        {"length field without offset", [&](const std::string& p) { writeList(p, 1, noField); }, false, false, 0,
         "signature 1 (len): its size field must lie within the first 512 bytes.."},
        {"length field past the sector", [&](const std::string& p) { writeList(p, 1, pastSector); }, true, false, 0,
         "signature 1 (len): its size field must lie within the first 512 bytes.."},
        {"length field at the sector's end", [&](const std::string& p) { writeList(p, 1, lastInSector); }, false, true,
         1, ""},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.file("case" + std::to_string(n++));
        c.make(path);
        messages.texts.clear();
        myJpg engine;
        EXPECT_EQ(loadSignatureFile(path, engine, c.isDefault), c.loads);
        EXPECT_EQ(engine.signatures().size(), c.signatures);
        if (c.message.empty()) EXPECT_TRUE(messages.texts.empty());
        else EXPECT_EQ(messages.texts, std::vector<std::string>{c.message});
    }
    myJpg engine;
    EXPECT_FALSE(loadSignatureFile("", engine, false));
}

TEST(SignatureList, IdentifiersFollowEarlierListsAndTheLimitHolds) {
    ScratchDir dir;
    RecordedMessages messages;
    writeList(dir.file("five"), 5);
    writeList(dir.file("three"), 3);
    writeList(dir.file("many"), 120);
    myJpg engine;
    ASSERT_TRUE(loadSignatureFile(dir.file("five"), engine, true));
    ASSERT_TRUE(loadSignatureFile(dir.file("three"), engine, false));
    ASSERT_EQ(engine.signatures().size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(engine.signatures()[i].signatureId, int(i));
    // 8 + 120 = 128 still fits; one list more does not, and loads nothing.
    ASSERT_TRUE(loadSignatureFile(dir.file("many"), engine, false));
    EXPECT_FALSE(loadSignatureFile(dir.file("three"), engine, false));
    EXPECT_EQ(engine.signatures().size(), 128u);
    ASSERT_FALSE(messages.texts.empty());
    EXPECT_NE(messages.texts.back().find("at most 128"), std::string::npos);
}
