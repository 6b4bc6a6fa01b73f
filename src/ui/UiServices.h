#pragma once
// The services a front end gives to the pages: message boxes (the MessageService of
// common/Messages.h), the folder browser, the open/save file dialogs and opening a web
// address. Tests and the command line use the scripted versions: answers are queued in
// advance and every text shown is recorded.

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/Messages.h"

namespace kelvara::ui {

class FolderPicker {
public:
    virtual ~FolderPicker() = default;
    // The chosen folder, or nothing when the user cancels.
    virtual std::optional<std::string> browseForFolder(const std::string& title) = 0;
};

class FilePicker {
public:
    virtual ~FilePicker() = default;
    virtual std::optional<std::string> openFile(const std::string& title, const std::string& filter) = 0;
    virtual std::optional<std::string> saveFile(const std::string& title, const std::string& filter) = 0;
};

class ShellService {
public:
    virtual ~ShellService() = default;
    virtual void openUrl(const std::string& url) = 0;
};

// What a page is given. A null message service means the process's messageService().
struct UiServices {
    MessageService* messages = nullptr;
    FolderPicker* folders = nullptr;
    FilePicker* files = nullptr;
    ShellService* shell = nullptr;

    MessageService& messageBoxes() const { return messages ? *messages : messageService(); }
};

struct ShownMessage {
    std::string text, caption;
    MessageIcon icon = MessageIcon::Information;
    MessageButtons buttons = MessageButtons::Ok;
};

// Answers from a queue; an empty queue answers Ok, or defaultYesNo for questions.
// Optionally also passes every box on to another service (the command line prints them).
class ScriptedMessages final : public MessageService {
public:
    explicit ScriptedMessages(MessageService* echo = nullptr) : echo_(echo) {}
    void queueAnswer(MessageAnswer answer);
    void setDefaultYesNo(MessageAnswer answer);
    MessageAnswer show(const std::string& text, const std::string& caption, MessageIcon icon,
                       MessageButtons buttons) override;

    std::vector<ShownMessage> shown() const;
    std::vector<std::string> texts() const;
    bool wasShown(const std::string& text) const;
    std::size_t count(const std::string& text) const;
    void clear();

private:
    mutable std::mutex mutex_;
    MessageService* echo_;
    std::deque<MessageAnswer> answers_;
    MessageAnswer defaultYesNo_ = MessageAnswer::Yes;
    std::vector<ShownMessage> shown_;
};

// Folder answers from a queue; an empty queue cancels.
class ScriptedFolderPicker final : public FolderPicker {
public:
    void queueAnswer(std::optional<std::string> folder);
    // Every later question gets this answer once the queue is empty.
    void setStandingAnswer(std::optional<std::string> folder);
    std::optional<std::string> browseForFolder(const std::string& title) override;
    std::vector<std::string> titles() const;

private:
    mutable std::mutex mutex_;
    std::deque<std::optional<std::string>> answers_;
    std::optional<std::string> standing_;
    std::vector<std::string> titles_;
};

class ScriptedFilePicker final : public FilePicker {
public:
    void queueAnswer(std::optional<std::string> file);
    std::optional<std::string> openFile(const std::string& title, const std::string& filter) override;
    std::optional<std::string> saveFile(const std::string& title, const std::string& filter) override;
    std::vector<std::string> titles() const;

private:
    std::optional<std::string> next(const std::string& title);
    mutable std::mutex mutex_;
    std::deque<std::optional<std::string>> answers_;
    std::vector<std::string> titles_;
};

class RecordingShell final : public ShellService {
public:
    void openUrl(const std::string& url) override;
    std::vector<std::string> urls() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> urls_;
};

}  // namespace kelvara::ui
