#include "ui/PageSink.h"

namespace kelvara::ui {

void PageSink::setRange(std::int64_t low, std::int64_t high) {
    page_.setProgressRange(progressId_, low, high);
    if (forward_) forward_->setRange(low, high);
}

void PageSink::setPos(std::int64_t pos) {
    page_.setProgressPos(progressId_, pos);
    if (forward_) forward_->setPos(pos);
}

void PageSink::setStatus(const std::string& text) {
    page_.setText(statusId_, text);
    if (forward_) forward_->setStatus(text);
}

}  // namespace kelvara::ui
