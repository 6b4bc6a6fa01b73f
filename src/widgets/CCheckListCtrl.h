#pragma once
// The file list as a model: report-style rows with check boxes (state image 1 unchecked,
// 2 checked), a data word per row, and a check box in the first column's header that
// checks or unchecks every row and shows whether all rows are checked. The front ends
// only draw it.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kelvara {

constexpr unsigned NM_CLICK_LIST = 0xFFFE;  // a click on a row (the platform's NM_CLICK)
constexpr int LVCFMT_LEFT = 0;
// Grid lines, check boxes, full-row select, info tips.
constexpr std::uint32_t kResultsListStyle = 0x425;

struct ListColumn {
    std::string text;
    int format = LVCFMT_LEFT;
    int width = 0;
};

struct ListRow {
    std::vector<std::string> cells;
    std::int64_t data = 0;
    int stateImage = 1;
};

class CCheckListCtrl {
public:
    // code, row, parameter. For NM_CLICK_LIST the parameter is 1 when the click hit the
    // row's check box; the notification comes before the check box toggles, as the
    // platform's does.
    using OwnerNotify = std::function<void(unsigned, int, std::int64_t)>;
    void setOwner(OwnerNotify notify);

    int insertColumn(int column, const std::string& text, int format, int width);
    std::vector<ListColumn> columns() const;
    void setExtendedStyle(std::uint32_t style);
    std::uint32_t extendedStyle() const;

    // Sets up the header check box once (image 1, unchecked). True.
    bool initHeaderCheckBox();
    bool headerReady() const;
    // The header image of column 0: 0 before initHeaderCheckBox, else 1 or 2.
    int headerImage() const;

    int insertItem(int row, const std::string& text);
    int appendItem(const std::string& text) { return insertItem(getItemCount(), text); }
    void setItemText(int row, int column, const std::string& text);
    std::string getItemText(int row, int column) const;
    void setItemData(int row, std::int64_t data);
    std::int64_t getItemData(int row) const;
    void deleteAllItems();
    int getItemCount() const;
    std::vector<ListRow> rows() const;

    void setCheck(int row, bool check);
    bool getCheck(int row) const;

    // User actions as the front end reports them.
    void clickHeader(int column);
    void clickCheckBox(int row);

private:
    ListRow* rowAt(int row);
    const ListRow* rowAt(int row) const;
    void itemStateChanged();

    mutable std::recursive_mutex mutex_;
    std::vector<ListColumn> columns_;
    std::vector<ListRow> rows_;
    std::uint32_t style_ = 0;
    bool headerReady_ = false;
    int headerImage_ = 0;
    OwnerNotify owner_;
};

}  // namespace kelvara
