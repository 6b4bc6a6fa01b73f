#include <gtest/gtest.h>

#include "common/ProgressSink.h"
#include "widgets/CUseShGetFileInfo.h"
#include "widgets/CXHtmlTree.h"

using namespace kelvara;

namespace {

struct TreeFixture : ::testing::Test {
    void SetUp() override {
        tree.initialize();
        tree.setSmartCheckBoxes(true);
        tree.setOwner([this](unsigned msg, TreeItem item, std::int64_t p) { sent.push_back({msg, item, p}); });
        root = tree.insertItem("ROOT", 3, 3);
        folder = tree.insertItem("Docs", 3, 3, root);
        for (int i = 0; i < 3; ++i) files[i] = tree.insertItem("f" + std::to_string(i), 2, 2, folder);
    }
    struct Sent {
        unsigned msg;
        TreeItem item;
        std::int64_t param;
    };
    CXHtmlTree tree;
    std::vector<Sent> sent;
    TreeItem root{}, folder{}, files[3]{};
};

}  // namespace

TEST_F(TreeFixture, CheckingAFolderChecksItsFilesAndUncheckingOneMakesItMixed) {
    tree.setCheck(folder, true);
    for (TreeItem f : files) EXPECT_TRUE(tree.getCheck(f));
    EXPECT_TRUE(tree.getCheck(folder));
    EXPECT_TRUE(tree.getCheck(root));
    EXPECT_EQ(tree.stateImage(folder), 2);

    tree.setCheck(files[1], false);
    EXPECT_FALSE(tree.getCheck(folder));
    EXPECT_EQ(tree.stateImage(folder), 3);
    EXPECT_EQ(tree.stateImage(root), 3);
    EXPECT_EQ(tree.getCheckedCount(), 2);

    // Checking the last unchecked file re-evaluates the folder and its parent at once.
    tree.setCheck(files[1], true);
    EXPECT_TRUE(tree.getCheck(folder));
    EXPECT_TRUE(tree.getCheck(root));
    EXPECT_EQ(tree.getCheckedCount(), 5);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().msg, WM_XHTMLTREE_CHECKBOX_CLICKED);
    EXPECT_EQ(sent.back().item, files[1]);
}

TEST_F(TreeFixture, InsertingAndDeletingChildrenReevaluatesTheFolder) {
    tree.setCheck(folder, true);
    TreeItem extra = tree.insertItem("new", 2, 2, folder);
    EXPECT_EQ(tree.stateImage(folder), 3);
    EXPECT_FALSE(tree.getCheck(folder));
    // Deleting the only unchecked child turns the folder checked again.
    tree.deleteItem(extra);
    EXPECT_TRUE(tree.getCheck(folder));
    EXPECT_EQ(tree.stateImage(folder), 2);
    EXPECT_EQ(tree.record(folder)->descendantCount, 3);
    EXPECT_EQ(tree.record(root)->descendantCount, 4);
    // Deleting a branch removes everything below it.
    tree.deleteItem(folder);
    EXPECT_EQ(tree.itemCount(), 1u);
    EXPECT_EQ(tree.record(root)->descendantCount, 0);
    EXPECT_FALSE(tree.itemHasChildren(root));
}

TEST_F(TreeFixture, UserActionsNotifyTheOwner) {
    sent.clear();
    tree.clickLabel(files[0]);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].msg, WM_TREE_LABEL_CLICK);
    EXPECT_EQ(sent[0].param, 4);
    EXPECT_EQ(tree.getSelectedItem(), files[0]);

    tree.pressSpace();
    EXPECT_TRUE(tree.getCheck(files[0]));
    EXPECT_EQ(sent.back().msg, WM_XHTMLTREE_CHECKBOX_CLICKED);
    EXPECT_EQ(sent.back().param, 1);

    tree.expand(folder, ExpandCode::Expand);
    EXPECT_EQ(sent.back().msg, WM_XHTMLTREE_ITEM_EXPANDED);
    EXPECT_TRUE(tree.record(folder)->hasBeenExpanded);
    const std::size_t n = sent.size();
    tree.expand(folder, ExpandCode::Expand);  // no change, no message
    EXPECT_EQ(sent.size(), n);
}

TEST(FileIcons, IndexesFollowTheExtension) {
    CUseShGetFileInfo icons;
    EXPECT_EQ(icons.getFileIconIndex("README"), CUseShGetFileInfo::kGenericFileIcon);
    EXPECT_EQ(icons.getFileIconIndex("a.JPG"), icons.getFileIconIndex("b.jpg"));
    EXPECT_NE(icons.getFileIconIndex("a.jpg"), icons.getFileIconIndex("a.pdf"));
    EXPECT_NE(icons.getFolderIconIndex(), 0);
    EXPECT_NE(icons.getFolderIconIndex(), icons.getFileIconIndex("x.unknownext"));
}
