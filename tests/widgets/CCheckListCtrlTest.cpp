#include <gtest/gtest.h>

#include "widgets/CCheckListCtrl.h"

using namespace kelvara;

namespace {

struct ListFixture : ::testing::Test {
    void SetUp() override {
        list.insertColumn(0, "File(s) List", LVCFMT_LEFT, 80);
        list.insertColumn(1, "Size", LVCFMT_LEFT, 80);
        list.initHeaderCheckBox();
        for (int i = 0; i < 5; ++i) list.appendItem("row" + std::to_string(i));
    }
    int checkedRows() const {
        int n = 0;
        for (int r = 0; r < list.getItemCount(); ++r) n += list.getCheck(r) ? 1 : 0;
        return n;
    }
    CCheckListCtrl list;
};

}  // namespace

TEST_F(ListFixture, HeaderClickChecksAndUnchecksEveryRow) {
    EXPECT_EQ(list.headerImage(), 1);
    list.clickHeader(0);
    EXPECT_EQ(checkedRows(), 5);
    EXPECT_EQ(list.headerImage(), 2);
    list.clickHeader(0);
    EXPECT_EQ(checkedRows(), 0);
    EXPECT_EQ(list.headerImage(), 1);
    list.clickHeader(1);  // other columns change nothing
    EXPECT_EQ(checkedRows(), 0);
    EXPECT_EQ(list.headerImage(), 1);
}

TEST_F(ListFixture, HeaderFollowsTheRows) {
    list.clickHeader(0);
    list.clickCheckBox(2);
    EXPECT_FALSE(list.getCheck(2));
    EXPECT_EQ(list.headerImage(), 1);
    list.clickCheckBox(2);
    EXPECT_EQ(list.headerImage(), 2);
    list.appendItem("new");  // an unchecked row joins
    EXPECT_EQ(list.headerImage(), 1);
}

TEST_F(ListFixture, RowClickNotifiesBeforeTheToggleAndInitIsOnce) {
    std::vector<bool> seen;
    list.setOwner([&](unsigned code, int row, std::int64_t onBox) {
        EXPECT_EQ(code, NM_CLICK_LIST);
        EXPECT_EQ(onBox, 1);
        seen.push_back(list.getCheck(row));
    });
    list.clickCheckBox(0);
    list.clickCheckBox(0);
    EXPECT_EQ(seen, (std::vector<bool>{false, true}));
    list.clickHeader(0);
    EXPECT_TRUE(list.initHeaderCheckBox());
    EXPECT_EQ(list.headerImage(), 2);  // a second init leaves the header alone
}
