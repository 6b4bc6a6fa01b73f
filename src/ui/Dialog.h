#pragma once
// The dialog base the pages are built on: controls kept by their numeric ids, each with
// text, enabled, visible and checked states, items with a selection (lists, combo
// boxes), a progress range and position, and colours. Pages change these from the UI
// thread and, through a PageSink, from their worker; the front end reads them to draw.
// Also the page chain of the wizard (owner, show, hide, destroy) and the shared
// behaviour of every page: the application title, the Enter/Escape filter, and message
// boxes through the page's services.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ui/UiServices.h"

namespace kelvara::ui {

constexpr int IDC_STATIC = -1;
constexpr int IDOK = 1;
constexpr std::uint32_t kNoColor = 0xFFFFFFFF;
constexpr int kKeyEnter = 13;
constexpr int kKeyEscape = 27;

struct ControlState {
    std::string text;
    bool enabled = true;
    bool visible = true;
    bool checked = false;
    std::vector<std::string> items;
    int selection = -1;
    std::int64_t rangeLow = 0, rangeHigh = 100, position = 0;
    std::uint32_t background = kNoColor, textColor = kNoColor;
};

class CDialog {
public:
    CDialog(int templateId, UiServices services, CDialog* owner = nullptr);
    virtual ~CDialog() = default;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    int templateId() const { return templateId_; }
    const UiServices& services() const { return services_; }

    // Controls. Unknown ids are created on first use.
    void addControl(int id, const std::string& text = {});
    bool hasControl(int id) const;
    ControlState control(int id) const;
    std::string text(int id) const;
    void setText(int id, const std::string& text);
    bool isEnabled(int id) const;
    void enable(int id, bool on = true);
    bool isVisible(int id) const;
    void show(int id, bool on = true);
    bool isChecked(int id) const;
    void setChecked(int id, bool on);
    std::vector<std::string> items(int id) const;
    void setItems(int id, std::vector<std::string> items, int selection = -1);
    int selection(int id) const;
    void setSelection(int id, int selection);
    // The selected item's text, empty when nothing is selected.
    std::string selectedText(int id) const;
    void setProgressRange(int id, std::int64_t low, std::int64_t high);
    void setProgressPos(int id, std::int64_t pos);
    void setColors(int id, std::uint32_t background, std::uint32_t text);

    std::string windowTitle() const;
    void setWindowTitle(const std::string& title);

    // Called after every control change (from whichever thread made it), so a front end
    // can redraw.
    void setChangeListener(std::function<void(int id)> listener);

    // Page chain.
    CDialog* owner() const { return owner_; }
    bool isShown() const { return shown_; }
    void showWindow(bool on);
    // Shows the owner again and marks this page destroyed.
    void goBack();
    void destroyWindow();
    bool isDestroyed() const { return destroyed_; }
    // EXIT and the close confirmation end the process; the front end acts on this.
    bool exitRequested() const { return exitRequested_; }
    int exitCode() const { return exitCode_; }

    // Key-downs of Enter and Escape are swallowed by every page: true when swallowed.
    static bool preTranslateKey(int key) { return key == kKeyEnter || key == kKeyEscape; }

    // A message box with the application title as caption.
    MessageAnswer messageBox(const std::string& text, MessageIcon icon = MessageIcon::Information,
                             MessageButtons buttons = MessageButtons::Ok) const;

protected:
    void requestExit(int code);

private:
    ControlState& at(int id);
    void changed(int id);

    int templateId_;
    UiServices services_;
    CDialog* owner_;
    mutable std::recursive_mutex mutex_;
    std::map<int, ControlState> controls_;
    std::string title_;
    std::function<void(int)> listener_;
    bool shown_ = true;
    bool destroyed_ = false;
    bool exitRequested_ = false;
    int exitCode_ = 0;
};

}  // namespace kelvara::ui
