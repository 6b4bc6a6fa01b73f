#pragma once
// Pieces every command shares: opening a source with a clear error, the stderr status
// and progress display, and message boxes printed to stderr.

#include <memory>
#include <stdexcept>
#include <string>

#include "common/Messages.h"
#include "common/ProgressSink.h"
#include "device/FileReadSeek.h"

namespace kelvara::cli {

// A wrong option or a missing source: reported as one line, exit code 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Message boxes go to stderr; questions are answered yes.
class StderrMessages final : public MessageService {
public:
    MessageAnswer show(const std::string& text, const std::string& caption, MessageIcon icon,
                       MessageButtons buttons) override;
};

// Status texts as lines on stderr, and a progress bar there when stderr is a terminal.
class StderrProgress final : public ProgressSink {
public:
    explicit StderrProgress(bool quiet = false);
    ~StderrProgress() override;
    void setRange(std::int64_t low, std::int64_t high) override;
    void setPos(std::int64_t pos) override;
    void setStatus(const std::string& text) override;

private:
    void clearBar();
    bool tty_;
    bool quiet_;
    bool barShown_ = false;
    std::int64_t low_ = 0, high_ = 0;
    int lastPercent_ = -1;
};

// Opens SOURCE read-only; a missing or unreadable source throws UsageError with a
// clear reason.
std::unique_ptr<FileReadSeek> openSource(const std::string& path);

// True when the disk has a GPT: LBA 1 holds "EFI PART" and the MBR a type 0xEE entry.
bool looksLikeGpt(readWriteInterface& reader);

}  // namespace kelvara::cli
