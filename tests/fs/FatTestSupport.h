#pragma once
// Shared by the FAT parser tests: opening a fixture volume with a parser, walking the
// parser's tree by path, and the fixtures' manifests.

#include <sys/stat.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "device/MemoryReadSeek.h"
#include "fs/ParserFactory.h"
#include "support/TestSupport.h"
#include "widgets/CXHtmlTree.h"

namespace kelvara::test {

struct ManifestLine {
    std::string kind, status, path;
    std::uint64_t size = 0;
    std::string sha256;
    std::int64_t mtime = 0;
};

inline std::vector<ManifestLine> readManifest(const std::string& name) {
    std::ifstream in(fixtureFile(name + ".manifest"));
    std::vector<ManifestLine> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        std::stringstream ss(line);
        std::string part;
        while (std::getline(ss, part, '\t')) f.push_back(part);
        if (f.size() < 6) continue;
        ManifestLine m;
        m.kind = f[0];
        m.status = f[1];
        m.path = f[2];
        if (m.kind == "f") {
            m.size = std::stoull(f[3]);
            m.sha256 = f[4];
            m.mtime = std::stoll(f[5]);
        }
        out.push_back(m);
    }
    return out;
}

// A fixture volume held in memory (so a test can patch it) with its parser.
struct FatVolume {
    std::unique_ptr<MemoryReadSeek> reader;
    std::unique_ptr<VolumeParser> parser;
    CXHtmlTree tree;

    FatVolume(const std::string& fixture, const std::string& kind,
              std::vector<std::uint8_t>* patched = nullptr) {
        auto bytes = patched ? *patched : readFileBytes(fixtureImage(fixture));
        const std::size_t mb = bytes.size() / 1048576;
        reader = std::make_unique<MemoryReadSeek>(std::move(bytes));
        parser = createParser(kind);
        parser->reader = reader.get();
        parser->tree = &tree;
        parser->volume.FILE_SYSTEM = kind;
        parser->volume.VOLUME = "0";
        parser->volume.VOLUME_SIZE = std::to_string(mb) + "  MB";
        parser->volume.START_SECTOR = 0;
    }

    // Every entry below the volume's root, by '/'-joined path.
    std::map<std::string, EntryRef> paths() const {
        std::map<std::string, EntryRef> out;
        std::vector<std::pair<EntryRef, std::string>> stack{{parser->volumeRoot(), ""}};
        while (!stack.empty()) {
            auto [dir, prefix] = stack.back();
            stack.pop_back();
            for (EntryRef c = parser->firstChild(dir); c != kNoEntry; c = parser->nextSibling(c)) {
                const std::string p = prefix.empty() ? parser->name(c) : prefix + "/" + parser->name(c);
                out.emplace(p, c);
                if (parser->isDirectory(c) && out.size() < 100000) stack.emplace_back(c, p);
            }
        }
        return out;
    }
};

inline std::int64_t fileMtime(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return st.st_mtime;
}

}  // namespace kelvara::test
