#include "ui/UiServices.h"

#include <algorithm>

namespace kelvara::ui {

using Lock = std::lock_guard<std::mutex>;

void ScriptedMessages::queueAnswer(MessageAnswer answer) {
    Lock lock(mutex_);
    answers_.push_back(answer);
}

void ScriptedMessages::setDefaultYesNo(MessageAnswer answer) {
    Lock lock(mutex_);
    defaultYesNo_ = answer;
}

MessageAnswer ScriptedMessages::show(const std::string& text, const std::string& caption,
                                     MessageIcon icon, MessageButtons buttons) {
    MessageAnswer answer;
    {
        Lock lock(mutex_);
        shown_.push_back({text, caption, icon, buttons});
        if (!answers_.empty()) {
            answer = answers_.front();
            answers_.pop_front();
        } else {
            answer = buttons == MessageButtons::YesNo ? defaultYesNo_ : MessageAnswer::Ok;
        }
    }
    if (echo_) echo_->show(text, caption, icon, buttons);
    return answer;
}

std::vector<ShownMessage> ScriptedMessages::shown() const {
    Lock lock(mutex_);
    return shown_;
}

std::vector<std::string> ScriptedMessages::texts() const {
    Lock lock(mutex_);
    std::vector<std::string> out;
    for (const auto& m : shown_) out.push_back(m.text);
    return out;
}

bool ScriptedMessages::wasShown(const std::string& text) const { return count(text) > 0; }

std::size_t ScriptedMessages::count(const std::string& text) const {
    Lock lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(shown_.begin(), shown_.end(), [&](const ShownMessage& m) { return m.text == text; }));
}

void ScriptedMessages::clear() {
    Lock lock(mutex_);
    shown_.clear();
}

void ScriptedFolderPicker::queueAnswer(std::optional<std::string> folder) {
    Lock lock(mutex_);
    answers_.push_back(std::move(folder));
}

void ScriptedFolderPicker::setStandingAnswer(std::optional<std::string> folder) {
    Lock lock(mutex_);
    standing_ = std::move(folder);
}

std::optional<std::string> ScriptedFolderPicker::browseForFolder(const std::string& title) {
    Lock lock(mutex_);
    titles_.push_back(title);
    if (answers_.empty()) return standing_;
    auto answer = answers_.front();
    answers_.pop_front();
    return answer;
}

std::vector<std::string> ScriptedFolderPicker::titles() const {
    Lock lock(mutex_);
    return titles_;
}

void ScriptedFilePicker::queueAnswer(std::optional<std::string> file) {
    Lock lock(mutex_);
    answers_.push_back(std::move(file));
}

std::optional<std::string> ScriptedFilePicker::next(const std::string& title) {
    Lock lock(mutex_);
    titles_.push_back(title);
    if (answers_.empty()) return std::nullopt;
    auto answer = answers_.front();
    answers_.pop_front();
    return answer;
}

std::optional<std::string> ScriptedFilePicker::openFile(const std::string& title, const std::string&) {
    return next(title);
}

std::optional<std::string> ScriptedFilePicker::saveFile(const std::string& title, const std::string&) {
    return next(title);
}

std::vector<std::string> ScriptedFilePicker::titles() const {
    Lock lock(mutex_);
    return titles_;
}

void RecordingShell::openUrl(const std::string& url) {
    Lock lock(mutex_);
    urls_.push_back(url);
}

std::vector<std::string> RecordingShell::urls() const {
    Lock lock(mutex_);
    return urls_;
}

}  // namespace kelvara::ui
