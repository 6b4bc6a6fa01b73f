#include "cli/CliSupport.h"

#include <unistd.h>

#include <array>
#include <cstdio>

#include "common/ByteReader.h"
#include "platform/Output.h"

namespace kelvara::cli {

MessageAnswer StderrMessages::show(const std::string& text, const std::string& caption,
                                   MessageIcon, MessageButtons buttons) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
}

StderrProgress::StderrProgress(bool quiet) : tty_(::isatty(2) != 0), quiet_(quiet) {}

StderrProgress::~StderrProgress() { clearBar(); }

void StderrProgress::clearBar() {
    if (barShown_) {
        std::fputs("\r\033[K", stderr);
        barShown_ = false;
    }
}

void StderrProgress::setRange(std::int64_t low, std::int64_t high) {
    low_ = low;
    high_ = high;
    lastPercent_ = -1;
}

void StderrProgress::setPos(std::int64_t pos) {
    if (!tty_ || quiet_ || high_ <= low_) return;
    int percent = static_cast<int>((pos - low_) * 100 / (high_ - low_));
    percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    constexpr int kWidth = 40;
    std::string bar(kWidth, ' ');
    for (int k = 0; k < percent * kWidth / 100; ++k) bar[k] = '#';
    std::fprintf(stderr, "\r[%s] %3d%%", bar.c_str(), percent);
    barShown_ = true;
}

void StderrProgress::setStatus(const std::string& text) {
    if (quiet_) return;
    clearBar();
    std::fprintf(stderr, "%s\n", text.c_str());
}

std::unique_ptr<FileReadSeek> openSource(const std::string& path) {
    if (!platform::pathExists(path)) throw UsageError("cannot open '" + path + "': no such file or device");
    if (platform::isDirectory(path)) throw UsageError("cannot open '" + path + "': it is a folder, not a disk or an image");
    auto reader = std::make_unique<FileReadSeek>();
    if (!reader->open(path)) throw UsageError("cannot open '" + path + "': " + reader->openError());
    return reader;
}

bool looksLikeGpt(readWriteInterface& reader) {
    std::array<std::uint8_t, 1024> s{};
    const std::int64_t base = reader.baseOffset;
    reader.baseOffset = 0;
    const bool ok = readAt(reader, 0, s.data(), s.size());
    reader.baseOffset = base;
    if (!ok) return false;
    ByteReader b(s.data(), s.size());
    bool protective = false;
    for (int k = 0; k < 4; ++k) protective = protective || b.u8(0x1BE + 16 * k + 4) == 0xEE;
    return protective && b.matches(512, "EFI PART");
}

}  // namespace kelvara::cli
