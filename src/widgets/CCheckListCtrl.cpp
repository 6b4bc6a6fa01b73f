#include "widgets/CCheckListCtrl.h"

namespace kelvara {

using Lock = std::lock_guard<std::recursive_mutex>;

void CCheckListCtrl::setOwner(OwnerNotify notify) {
    Lock lock(mutex_);
    owner_ = std::move(notify);
}

int CCheckListCtrl::insertColumn(int column, const std::string& text, int format, int width) {
    Lock lock(mutex_);
    if (column < 0 || static_cast<std::size_t>(column) > columns_.size()) column = static_cast<int>(columns_.size());
    columns_.insert(columns_.begin() + column, ListColumn{text, format, width});
    return column;
}

std::vector<ListColumn> CCheckListCtrl::columns() const {
    Lock lock(mutex_);
    return columns_;
}

void CCheckListCtrl::setExtendedStyle(std::uint32_t style) {
    Lock lock(mutex_);
    style_ = style;
}

std::uint32_t CCheckListCtrl::extendedStyle() const {
    Lock lock(mutex_);
    return style_;
}

bool CCheckListCtrl::initHeaderCheckBox() {
    Lock lock(mutex_);
    if (headerReady_) return true;
    headerImage_ = 1;
    headerReady_ = true;
    return true;
}

bool CCheckListCtrl::headerReady() const {
    Lock lock(mutex_);
    return headerReady_;
}

int CCheckListCtrl::headerImage() const {
    Lock lock(mutex_);
    return headerImage_;
}

ListRow* CCheckListCtrl::rowAt(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return nullptr;
    return &rows_[static_cast<std::size_t>(row)];
}

const ListRow* CCheckListCtrl::rowAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return nullptr;
    return &rows_[static_cast<std::size_t>(row)];
}

int CCheckListCtrl::insertItem(int row, const std::string& text) {
    Lock lock(mutex_);
    if (row < 0 || static_cast<std::size_t>(row) > rows_.size()) row = static_cast<int>(rows_.size());
    ListRow r;
    r.cells.assign(columns_.empty() ? 1 : columns_.size(), std::string());
    r.cells[0] = text;
    rows_.insert(rows_.begin() + row, std::move(r));
    itemStateChanged();
    return row;
}

void CCheckListCtrl::setItemText(int row, int column, const std::string& text) {
    Lock lock(mutex_);
    ListRow* r = rowAt(row);
    if (!r || column < 0) return;
    if (static_cast<std::size_t>(column) >= r->cells.size()) r->cells.resize(static_cast<std::size_t>(column) + 1);
    r->cells[static_cast<std::size_t>(column)] = text;
}

std::string CCheckListCtrl::getItemText(int row, int column) const {
    Lock lock(mutex_);
    const ListRow* r = rowAt(row);
    if (!r || column < 0 || static_cast<std::size_t>(column) >= r->cells.size()) return {};
    return r->cells[static_cast<std::size_t>(column)];
}

void CCheckListCtrl::setItemData(int row, std::int64_t data) {
    Lock lock(mutex_);
    if (ListRow* r = rowAt(row)) r->data = data;
}

std::int64_t CCheckListCtrl::getItemData(int row) const {
    Lock lock(mutex_);
    const ListRow* r = rowAt(row);
    return r ? r->data : 0;
}

void CCheckListCtrl::deleteAllItems() {
    Lock lock(mutex_);
    rows_.clear();
}

int CCheckListCtrl::getItemCount() const {
    Lock lock(mutex_);
    return static_cast<int>(rows_.size());
}

std::vector<ListRow> CCheckListCtrl::rows() const {
    Lock lock(mutex_);
    return rows_;
}

// The list's own item-changed handling: the header box shows checked exactly when no
// row is unchecked.
void CCheckListCtrl::itemStateChanged() {
    if (!headerReady_) return;
    bool anyUnchecked = false;
    for (const auto& r : rows_) anyUnchecked = anyUnchecked || r.stateImage == 1;
    headerImage_ = anyUnchecked ? 1 : 2;
}

void CCheckListCtrl::setCheck(int row, bool check) {
    Lock lock(mutex_);
    ListRow* r = rowAt(row);
    if (!r) return;
    r->stateImage = check ? 2 : 1;
    itemStateChanged();
}

bool CCheckListCtrl::getCheck(int row) const {
    Lock lock(mutex_);
    const ListRow* r = rowAt(row);
    return r && r->stateImage == 2;
}

void CCheckListCtrl::clickHeader(int column) {
    Lock lock(mutex_);
    if (column != 0 || !headerReady_) return;
    headerImage_ = headerImage_ == 1 ? 2 : 1;
    const int state = headerImage_ == 2 ? 2 : 1;
    for (auto& r : rows_) r.stateImage = state;
}

void CCheckListCtrl::clickCheckBox(int row) {
    OwnerNotify owner;
    {
        Lock lock(mutex_);
        if (!rowAt(row)) return;
        owner = owner_;
    }
    if (owner) owner(NM_CLICK_LIST, row, 1);
    Lock lock(mutex_);
    if (ListRow* r = rowAt(row)) {
        r->stateImage = r->stateImage == 2 ? 1 : 2;
        itemStateChanged();
    }
}

}  // namespace kelvara
