// The signature-list loader over any bytes as a list file, as a user list and as the
// default list; what loads is then built into the pattern table and run over the same
// bytes taken as a volume.

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "device/MemoryReadSeek.h"
#include "fuzz/FuzzTarget.h"
#include "platform/Output.h"
#include "raw/SignatureRecord.h"
#include "raw/myJpg.h"
#include "widgets/CXHtmlTree.h"

KELVARA_FUZZ_TARGET(signature_list) {
    static const std::string path = [] {
        const auto dir = std::filesystem::temp_directory_path() / ("kelvara-fuzz-siglist-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        return (dir / "list.kel").string();
    }();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    for (bool asDefault : {false, true}) {
        kelvara::myJpg engine;
        if (!kelvara::loadSignatureFile(path, engine, asDefault)) continue;
        for (const auto& s : engine.signatures()) {
            (void)s.record.extensionText();
            (void)s.record.categoryText();
        }
        kelvara::MemoryReadSeek reader(std::vector<std::uint8_t>(data, data + size));
        kelvara::CXHtmlTree tree;
        tree.initialize(true, false);
        engine.reader = &reader;
        engine.volumeSize = static_cast<std::int64_t>(size);
        engine.tree = &tree;
        engine.scanVolume();
    }
    return 0;
}
