// kelvara-cli scan: runs a file-system scan of one volume and lists every entry found,
// walking the whole tree from "ROOT" through the parser's child chains.

#include <cstdio>

#include <string_view>

#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "cli/ScanSession.h"
#include "cli/TreeWalk.h"
#include "common/Text.h"
#include "platform/Time.h"
#include "widgets/CXHtmlTree.h"

namespace kelvara::cli {
namespace {

// The --json rows are written directly: a listing can hold millions of entries.
void appendJsonString(std::string& out, std::string_view s) {
    bool ascii = true;
    for (const char ch : s) ascii = ascii && static_cast<unsigned char>(ch) < 0x80;
    const std::string clean = ascii ? std::string() : sanitizeUtf8(s);
    if (!ascii) s = clean;
    out += '"';
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            static const char* hex = "0123456789abcdef";
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    out += '"';
}

void appendIsoTime(std::string& out, const std::optional<platform::UtcTime>& t) {
    if (!t) {
        out += "null";
        return;
    }
    const DateTimeFields f = platform::toUtcFields(t->seconds);
    char buf[32];
    char* p = buf;
    auto digits = [&p](int v, int n) {
        for (int k = n - 1; k >= 0; --k) {
            p[k] = static_cast<char>('0' + v % 10);
            v /= 10;
        }
        p += n;
    };
    *p++ = '"';
    if (f.year < 0 || f.year > 9999) {
        out += strprintf("\"%d-%02d-%02dT%02d:%02d:%02dZ\"", f.year, f.month, f.day, f.hour, f.minute, f.second);
        return;
    }
    digits(f.year, 4), *p++ = '-', digits(f.month, 2), *p++ = '-', digits(f.day, 2), *p++ = 'T';
    digits(f.hour, 2), *p++ = ':', digits(f.minute, 2), *p++ = ':', digits(f.second, 2), *p++ = 'Z', *p++ = '"';
    out.append(buf, static_cast<std::size_t>(p - buf));
}

// Runs the scan the arguments ask for on a parser that has a tree. Shared with `cat`.
// A parser that ends its scans itself (HFS+) may stop part way and still have listed
// what it found: that sets partial and counts as run.
int runParserScan(VolumeParser& parser, const ScanArgs& args, int mode, bool& partial) {
    partial = false;
    if (mode == 2) {
        const auto candidates = parser.prepareAdvanced(args.advanced);
        for (const auto& c : candidates) std::fprintf(stderr, "%s\n", c.c_str());
        if (candidates.empty()) {
            std::fprintf(stderr, "kelvara-cli: the advanced finders found nothing on this volume\n");
            return kExitFailed;
        }
        if (args.advanced.entry < 0 || static_cast<std::size_t>(args.advanced.entry) >= candidates.size())
            throw UsageError(strprintf("there is no candidate %d (%zu found)", args.advanced.entry, candidates.size()));
    }
    if (!parser.runScan(mode)) {
        if (parser.hasOwnEndOfScan()) {
            // The parser has said "Work Aborted...." in its status line.
            std::fprintf(stderr, "kelvara-cli: the %s scan did not complete; what it found is listed\n", args.mode.c_str());
            partial = true;
            return kExitOk;
        }
        std::fprintf(stderr, "kelvara-cli: the %s parser has no %s scan\n", parser.kindName().c_str(), args.mode.c_str());
        return kExitFailed;
    }
    return kExitOk;
}

CommandRun setupScan(CLI::App& app) {
    auto* cmd = app.add_subcommand("scan", "Scan one volume's file system and list every entry found");
    auto args = std::make_shared<ScanArgs>();
    addScanArgs(*cmd, *args);
    return [args]() {
        StderrProgress progress;
        OpenedVolume volume = openVolume(*args, progress);
        auto parser = createWiredParser(volume, progress);
        CXHtmlTree tree;
        tree.initialize(true);
        parser->tree = &tree;
        bool partial = false;
        if (const int rc = runParserScan(*parser, *args, volume.mode, partial); rc != kExitOk) return rc;

        static char buffer[1 << 16];
        std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
        bool first = true;
        std::string row;
        if (args->json) std::fputs("[", stdout);
        const std::size_t notEntered = walkEntries(*parser, tree, [&](EntryRef ref, const std::string& path) {
            const bool dir = parser->isDirectory(ref);
            const std::uint64_t size = dir ? 0 : parser->size(ref);
            if (args->json) {
                const EntryTimesUtc utc = parser->times(ref);
                row.clear();
                row += first ? "\n{\"path\":" : ",\n{\"path\":";
                appendJsonString(row, path);
                row += ",\"name\":";
                appendJsonString(row, parser->name(ref));
                row += dir ? ",\"directory\":true" : ",\"directory\":false";
                row += parser->isDeleted(ref) ? ",\"deleted\":true,\"size\":" : ",\"deleted\":false,\"size\":";
                row += std::to_string(size);
                row += ",\"created\":";
                appendIsoTime(row, utc.created);
                row += ",\"modified\":";
                appendIsoTime(row, utc.modified);
                row += ",\"accessed\":";
                appendIsoTime(row, utc.accessed);
                row += ",\"attributes\":";
                appendJsonString(row, parser->formatAttributes(ref));
                row += '}';
                std::fwrite(row.data(), 1, row.size(), stdout);
            } else {
                const EntryTimeTexts t = parser->formatTimes(ref);
                std::printf("%s\t%s\t%s\t%llu\t%s\t%s\t%s\t%s\n", path.c_str(), dir ? "directory" : "file",
                            parser->isDeleted(ref) ? "deleted" : "live", static_cast<unsigned long long>(size),
                            t.created.c_str(), t.accessed.c_str(), t.modified.c_str(), t.attributes.c_str());
            }
            first = false;
            return true;
        });
        if (args->json) std::fputs(first ? "]\n" : "\n]\n", stdout);
        std::fflush(stdout);
        if (notEntered > 0)
            std::fprintf(stderr, "kelvara-cli: %zu folders lie more than %zu levels deep; what they hold is not listed\n",
                         notEntered, kMaxListedDepth);
        return partial ? kExitFailed : kExitOk;
    };
}

const CommandRegistration reg("scan", setupScan);

}  // namespace

int runScanForCommand(VolumeParser& parser, const ScanArgs& args, int mode) {
    bool partial = false;  // cat only needs its one file to have been found
    return runParserScan(parser, args, mode, partial);
}

}  // namespace kelvara::cli
