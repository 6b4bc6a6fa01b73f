#include "ui/Dialog.h"

namespace kelvara::ui {

using Lock = std::lock_guard<std::recursive_mutex>;

CDialog::CDialog(int templateId, UiServices services, CDialog* owner)
    : templateId_(templateId), services_(services), owner_(owner), title_(kApplicationTitle) {}

ControlState& CDialog::at(int id) { return controls_[id]; }

void CDialog::changed(int id) {
    std::function<void(int)> listener;
    {
        Lock lock(mutex_);
        listener = listener_;
    }
    if (listener) listener(id);
}

void CDialog::addControl(int id, const std::string& text) {
    {
        Lock lock(mutex_);
        at(id).text = text;
    }
    changed(id);
}

bool CDialog::hasControl(int id) const {
    Lock lock(mutex_);
    return controls_.count(id) != 0;
}

ControlState CDialog::control(int id) const {
    Lock lock(mutex_);
    auto it = controls_.find(id);
    return it == controls_.end() ? ControlState{} : it->second;
}

std::string CDialog::text(int id) const { return control(id).text; }
bool CDialog::isEnabled(int id) const { return control(id).enabled; }
bool CDialog::isVisible(int id) const { return control(id).visible; }
bool CDialog::isChecked(int id) const { return control(id).checked; }
std::vector<std::string> CDialog::items(int id) const { return control(id).items; }
int CDialog::selection(int id) const { return control(id).selection; }

std::string CDialog::selectedText(int id) const {
    const ControlState c = control(id);
    if (c.selection < 0 || static_cast<std::size_t>(c.selection) >= c.items.size()) return {};
    return c.items[static_cast<std::size_t>(c.selection)];
}

#define KELVARA_SET(id, statement) \
    do {                           \
        {                          \
            Lock lock(mutex_);     \
            ControlState& c = at(id); \
            statement;             \
        }                          \
        changed(id);               \
    } while (0)

void CDialog::setText(int id, const std::string& text) { KELVARA_SET(id, c.text = text); }
void CDialog::enable(int id, bool on) { KELVARA_SET(id, c.enabled = on); }
void CDialog::show(int id, bool on) { KELVARA_SET(id, c.visible = on); }
void CDialog::setChecked(int id, bool on) { KELVARA_SET(id, c.checked = on); }
void CDialog::setItems(int id, std::vector<std::string> items, int selection) {
    KELVARA_SET(id, c.items = std::move(items); c.selection = selection);
}
void CDialog::setSelection(int id, int selection) { KELVARA_SET(id, c.selection = selection); }
void CDialog::setProgressRange(int id, std::int64_t low, std::int64_t high) {
    KELVARA_SET(id, c.rangeLow = low; c.rangeHigh = high);
}
void CDialog::setProgressPos(int id, std::int64_t pos) { KELVARA_SET(id, c.position = pos); }
void CDialog::setColors(int id, std::uint32_t background, std::uint32_t text) {
    KELVARA_SET(id, c.background = background; c.textColor = text);
}

#undef KELVARA_SET

std::string CDialog::windowTitle() const {
    Lock lock(mutex_);
    return title_;
}

void CDialog::setWindowTitle(const std::string& title) {
    Lock lock(mutex_);
    title_ = title;
}

void CDialog::setChangeListener(std::function<void(int)> listener) {
    Lock lock(mutex_);
    listener_ = std::move(listener);
}

void CDialog::showWindow(bool on) { shown_ = on; }

void CDialog::goBack() {
    if (owner_) owner_->showWindow(true);
    destroyWindow();
}

void CDialog::destroyWindow() {
    shown_ = false;
    destroyed_ = true;
}

void CDialog::requestExit(int code) {
    exitRequested_ = true;
    exitCode_ = code;
}

MessageAnswer CDialog::messageBox(const std::string& text, MessageIcon icon, MessageButtons buttons) const {
    return services_.messageBoxes().show(text, kApplicationTitle, icon, buttons);
}

}  // namespace kelvara::ui
