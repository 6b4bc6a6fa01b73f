// kelvara-cli signatures: append a signature to a list file (the signature setting
// page's Save) and show the signatures a list holds.

#include <cstdio>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "raw/SignatureRecord.h"
#include "raw/myJpg.h"

namespace kelvara::cli {
namespace {

std::string patternText(const std::array<std::uint8_t, 10>& bytes, std::size_t length) {
    std::string out;
    for (std::size_t i = 0; i < length && i < bytes.size(); ++i) {
        if (i) out += ',';
        out += strprintf("0x%02X", bytes[i]);
    }
    return out;
}

struct AddArgs {
    std::string file;
    SignatureFields fields;
};

CommandRun setupSignatures(CLI::App& app) {
    auto* cmd = app.add_subcommand("signatures", "Write and read signature lists for carve");
    cmd->require_subcommand(1);
    auto add = std::make_shared<AddArgs>();
    auto* addCmd = cmd->add_subcommand("add", "Append one signature to a list file (created when missing)");
    addCmd->add_option("FILE", add->file, "The signature list")->required();
    auto& f = add->fields;
    addCmd->add_option("--ext", f.extension, "File extension without the dot (4 characters are kept)");
    addCmd->add_option("--start", f.startSignature, "Start signature: comma-separated hex bytes, 0x2A matches any byte");
    addCmd->add_option("--end", f.endSignature, "End signature (optional)");
    addCmd->add_option("--size-offset", f.sizeOffset, "Offset of a little-endian length field in the file's header");
    addCmd->add_option("--size-bytes", f.sizeByteCount, "Width of that length field in bytes");
    addCmd->add_flag("--size-includes-header", f.sizeIncludesHeader, "The length field counts the header too");
    addCmd->add_option("--header-size", f.headerSize, "Header size added to the length otherwise");
    addCmd->add_option("--skip", f.skipSize, "How far to jump after a find, in bytes");
    addCmd->add_option("--approx-size", f.approxFileSize, "Approximate (maximum) file size in bytes");
    addCmd->add_option("--bytes-after-end", f.endExtraBytes, "Bytes a file keeps after its end signature");
    addCmd->add_option("--category", f.category, "Category the finds are listed under");

    auto listFile = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    auto* listCmd = cmd->add_subcommand("list", "Show the signatures of a list file");
    listCmd->add_option("FILE", *listFile, "The signature list")->required();
    listCmd->add_flag("--json", *json, "Print JSON");

    return [=]() {
        if (addCmd->parsed()) {
            std::fstream target(add->file, std::ios::in | std::ios::out | std::ios::binary);
            if (!target.is_open()) {
                { std::ofstream create(add->file, std::ios::binary | std::ios::app); }
                target.open(add->file, std::ios::in | std::ios::out | std::ios::binary);
            }
            if (!target.is_open()) {
                showMessage("file can not be created");
                return kExitFailed;
            }
            return writeSignatureRecord(&target, add->fields) ? kExitOk : kExitFailed;
        }
        myJpg engine;
        if (!loadSignatureFile(*listFile, engine, false)) return kExitFailed;
        nlohmann::json out = nlohmann::json::array();
        for (const auto& s : engine.signatures()) {
            const SignatureRecord& r = s.record;
            nlohmann::json o = {{"id", s.signatureId},
                                {"extension", s.extension},
                                {"start", patternText(r.startSignature, r.startSignatureLength)},
                                {"end", patternText(r.endSignature, r.endSignatureLength)},
                                {"sizeOffset", r.sizeOffset},
                                {"sizeByteCount", r.sizeByteCount},
                                {"sizeIncludesHeader", r.sizeIncludesHeader == 1},
                                {"headerSize", r.headerSize},
                                {"skipSize", r.skipSize},
                                {"approxFileSize", r.approxFileSize},
                                {"bytesAfterEnd", r.endExtraBytes},
                                {"category", s.category}};
            if (*json) {
                out.push_back(std::move(o));
            } else {
                std::printf("%d\t%s\tstart %s\tend %s\tsize@%d/%d%s\theader %d\tskip %lld\tapprox %lld\tafter %u\t%s\n",
                            s.signatureId, s.extension.c_str(), o["start"].get<std::string>().c_str(),
                            r.endSignatureLength ? o["end"].get<std::string>().c_str() : "-", r.sizeOffset,
                            r.sizeByteCount, r.sizeIncludesHeader == 1 ? " incl" : "", r.headerSize,
                            static_cast<long long>(r.skipSize), static_cast<long long>(r.approxFileSize),
                            r.endExtraBytes, s.category.c_str());
            }
        }
        if (*json) std::printf("%s\n", out.dump(2).c_str());
        return kExitOk;
    };
}

const CommandRegistration reg("signatures", setupSignatures);

}  // namespace
}  // namespace kelvara::cli
