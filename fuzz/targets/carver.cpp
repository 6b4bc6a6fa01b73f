// The carver over any bytes as a volume, with the default signature list plus up to
// four records taken from the input's head (byte 0 says how many), then the saving of
// the first finds into a scratch folder.

#include <filesystem>
#include <optional>

#include "device/MemoryReadSeek.h"
#include "fuzz/FuzzTarget.h"
#include "platform/Output.h"
#include "raw/RawSave.h"
#include "raw/SignatureRecord.h"
#include "raw/myJpg.h"
#include "widgets/CXHtmlTree.h"

namespace {

// The default list as the command line loads it: beside the executable.
const std::vector<kelvara::SignatureRecord>& defaultSignatures() {
    static const std::vector<kelvara::SignatureRecord> records = [] {
        kelvara::myJpg engine;
        kelvara::loadSignatureFile(kelvara::platform::joinPath(kelvara::platform::executableDirectory(), "FileSetting.txt"),
                                   engine, true);
        std::vector<kelvara::SignatureRecord> out;
        for (const auto& s : engine.signatures()) out.push_back(s.record);
        return out;
    }();
    return records;
}

}  // namespace

KELVARA_FUZZ_TARGET(carver) {
    const std::size_t extra = size > 0 ? data[0] % 5 : 0;
    std::size_t pos = size > 0 ? 1 : 0;
    kelvara::myJpg engine;
    for (const auto& r : defaultSignatures()) engine.addSignature(r);
    for (std::size_t k = 0; k < extra && pos + kelvara::sigrec::kRecordSize <= size; ++k) {
        auto rec = kelvara::parseSignatureRecord({data + pos, kelvara::sigrec::kRecordSize});
        if (rec.sizeOffset <= 0) rec.sizeOffset = -1;
        engine.addSignature(rec);
        pos += kelvara::sigrec::kRecordSize;
    }
    kelvara::MemoryReadSeek reader(std::vector<std::uint8_t>(data + pos, data + size));
    kelvara::CXHtmlTree tree;
    tree.initialize(true, false);
    tree.setSmartCheckBoxes(true);
    engine.reader = &reader;
    engine.volumeSize = static_cast<std::int64_t>(size - pos);
    engine.tree = &tree;
    engine.scanVolume();
    static const std::optional<std::string> folder = kelvara::platform::createPrivateTemporaryDirectory("kelvara-fuzz-carve");
    if (folder) {
        for (std::size_t i = 0; i < engine.found().size() && i < 16; ++i) {
            const auto r = kelvara::saveFind(engine, i, *folder);
            if (r.created) std::filesystem::remove(r.path);
        }
    }
    return 0;
}
