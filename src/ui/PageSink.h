#pragma once
// How a worker reports to its page: WM_SCAN_RANGE and WM_SCAN_POS go to the page's
// progress bar and status texts to its status line, synchronously, and on to the front
// end's own sink when it has one (the command line prints them).

#include "common/ProgressSink.h"
#include "ui/Dialog.h"

namespace kelvara::ui {

class PageSink final : public ProgressSink {
public:
    PageSink(CDialog& page, int progressId, int statusId, ProgressSink* forward = nullptr)
        : page_(page), progressId_(progressId), statusId_(statusId), forward_(forward) {}
    void setForward(ProgressSink* forward) { forward_ = forward; }

    void setRange(std::int64_t low, std::int64_t high) override;
    void setPos(std::int64_t pos) override;
    void setStatus(const std::string& text) override;

private:
    CDialog& page_;
    int progressId_, statusId_;
    ProgressSink* forward_;
};

}  // namespace kelvara::ui
