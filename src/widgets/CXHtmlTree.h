#pragma once
// The results tree as a model: items with text, images, colour and a data word, one
// check box each with smart propagation (checking a folder checks everything below it;
// a partly checked folder shows the mixed state), and notifications to the owner. The
// front ends only draw it.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kelvara {

using TreeItem = std::int32_t;
constexpr TreeItem kNoItem = 0;
constexpr TreeItem TVI_ROOT = -0x10000;  // parent of the top-level items

// Registered message numbers of the tree's notifications.
constexpr unsigned WM_XHTMLTREE_CHECKBOX_CLICKED = 0xC100;
constexpr unsigned WM_XHTMLTREE_ITEM_EXPANDED = 0xC101;
constexpr std::int64_t kHitOnLabel = 4;  // TVHT_ONITEMLABEL

constexpr std::uint32_t kDefaultColor = 0xFFFFFFFF;
constexpr std::uint32_t kRed = 0x0000FF;  // RGB(255, 0, 0) as the platform packs it

enum class ExpandCode { Collapse = 1, Expand = 2, Toggle = 3 };

struct XHTMLTREEDATA {
    bool checked = false;
    bool enabled = true;
    bool separator = false;
    bool expanded = false;
    bool hasBeenExpanded = false;
    std::int32_t descendantCount = 0;
    std::int32_t checkedCount = 0;
    std::int32_t separatorCount = 0;
};

class CXHtmlTree {
public:
    // msg, item, parameter (the new state, or the hit flags for WM_TREE_LABEL_CLICK).
    using OwnerNotify = std::function<void(unsigned, TreeItem, std::int64_t)>;

    void initialize(bool checkBoxes = true, bool toolTips = true);
    void setSmartCheckBoxes(bool on) { smartCheck_ = on; }
    void setOwner(OwnerNotify notify) { owner_ = std::move(notify); }

    TreeItem insertItem(const std::string& text, int image, int selectedImage,
                        TreeItem parent = TVI_ROOT, bool checked = false);
    void deleteItem(TreeItem item);
    void deleteAllItems();

    void setCheck(TreeItem item, bool check);
    bool getCheck(TreeItem item) const;
    int getCheckedCount() const;
    void expand(TreeItem item, ExpandCode code);

    std::string getItemText(TreeItem item) const;
    void setItemText(TreeItem item, const std::string& text);
    int getItemImage(TreeItem item) const;
    int getItemSelectedImage(TreeItem item) const;
    void setItemData(TreeItem item, std::int64_t data);
    std::int64_t getItemData(TreeItem item) const;
    void setItemColor(TreeItem item, std::uint32_t rgb);
    std::uint32_t getItemColor(TreeItem item) const;

    TreeItem getRootItem() const;  // first top-level item
    TreeItem getChildItem(TreeItem item) const;  // TVI_ROOT gives the first top-level item
    TreeItem getNextSiblingItem(TreeItem item) const;
    TreeItem getParentItem(TreeItem item) const;  // kNoItem for top-level items
    bool itemHasChildren(TreeItem item) const { return getChildItem(item) != kNoItem; }
    bool isValid(TreeItem item) const;
    std::size_t itemCount() const;

    TreeItem getSelectedItem() const { return selected_; }
    void selectItem(TreeItem item);

    // The state image index: 1 unchecked, 2 checked, 3 mixed; +4 disabled; +8 hot.
    int stateImage(TreeItem item) const;
    const XHTMLTREEDATA* record(TreeItem item) const;
    void setEnabled(TreeItem item, bool enabled);
    void setSeparator(TreeItem item, bool separator);
    bool isExpanded(TreeItem item) const;

    // User actions as the front end reports them.
    void clickLabel(TreeItem item);     // selects, then WM_TREE_LABEL_CLICK with 4
    void clickCheckBox(TreeItem item);  // toggles an enabled item's check and selects it
    void pressSpace();                  // toggles the selected item's check

private:
    struct Node {
        std::string text;
        int image = 0, selectedImage = 0;
        std::int64_t data = 0;
        std::uint32_t color = kDefaultColor;
        TreeItem parent = kNoItem, firstChild = kNoItem, lastChild = kNoItem;
        TreeItem prev = kNoItem, next = kNoItem;
        bool live = false;
        bool hot = false;
        XHTMLTREEDATA rec;
    };
    Node* node(TreeItem item);
    const Node* node(TreeItem item) const;
    void notify(unsigned msg, TreeItem item, std::int64_t param);
    void deleteLeaf(TreeItem item);
    void setCheckLocked(TreeItem item, bool check);
    void recomputeAncestorsAfterCountChange(TreeItem parent);

    std::vector<Node> nodes_{1};  // index 0 is no item
    TreeItem firstTop_ = kNoItem, lastTop_ = kNoItem;
    std::vector<TreeItem> free_;
    TreeItem selected_ = kNoItem;
    bool checkBoxes_ = true;
    bool smartCheck_ = false;
    OwnerNotify owner_;
    mutable std::recursive_mutex mutex_;
};

}  // namespace kelvara
