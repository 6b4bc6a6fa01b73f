// Build-time generator: turns the readable signature table into the binary signature
// list the program loads by default. Each row goes through the same conversion as the
// signature form's Save, so the table says exactly what a user would type.
//
//   make_signature_list TABLE.tsv OUTPUT

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/Messages.h"
#include "raw/SignatureRecord.h"

namespace {

class CollectMessages final : public kelvara::MessageService {
public:
    kelvara::MessageAnswer show(const std::string& text, const std::string&, kelvara::MessageIcon,
                                kelvara::MessageButtons) override {
        last = text;
        return kelvara::MessageAnswer::Ok;
    }
    std::string last;
};

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> cells;
    std::size_t pos = 0;
    while (true) {
        const std::size_t tab = line.find('\t', pos);
        cells.push_back(line.substr(pos, tab == std::string::npos ? std::string::npos : tab - pos));
        if (tab == std::string::npos) break;
        pos = tab + 1;
    }
    return cells;
}

std::string cell(const std::string& text) { return text == "-" ? std::string() : text; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_signature_list TABLE.tsv OUTPUT\n");
        return 2;
    }
    std::ifstream table(argv[1]);
    if (!table) {
        std::fprintf(stderr, "make_signature_list: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::string output = argv[2];
    const std::string temp = output + ".tmp";
    { std::ofstream create(temp, std::ios::binary | std::ios::trunc); }
    std::fstream list(temp, std::ios::in | std::ios::out | std::ios::binary);
    if (!list) {
        std::fprintf(stderr, "make_signature_list: cannot write %s\n", temp.c_str());
        return 1;
    }
    CollectMessages messages;
    kelvara::setMessageService(&messages);
    std::string line;
    int lineNo = 0, rows = 0;
    while (std::getline(table, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::vector<std::string> c = splitTabs(line);
        if (c.size() != 11) {
            std::fprintf(stderr, "%s:%d: expected 11 tab-separated columns, found %zu\n", argv[1], lineNo, c.size());
            return 1;
        }
        kelvara::SignatureFields f;
        f.extension = c[0];
        f.startSignature = cell(c[1]);
        f.endSignature = cell(c[2]);
        f.sizeOffset = cell(c[3]);
        f.sizeByteCount = cell(c[4]);
        f.sizeIncludesHeader = c[5] == "1";
        f.headerSize = cell(c[6]);
        f.skipSize = cell(c[7]);
        f.approxFileSize = cell(c[8]);
        f.endExtraBytes = cell(c[9]);
        f.category = cell(c[10]);
        if (!kelvara::writeSignatureRecord(&list, f)) {
            std::fprintf(stderr, "%s:%d: %s\n", argv[1], lineNo, messages.last.c_str());
            return 1;
        }
        ++rows;
    }
    kelvara::setMessageService(nullptr);
    list.close();
    if (rows == 0 || std::rename(temp.c_str(), output.c_str()) != 0) {
        std::fprintf(stderr, "make_signature_list: no rows, or cannot create %s\n", output.c_str());
        return 1;
    }
    return 0;
}
