#include "widgets/CXHtmlTree.h"

#include <algorithm>

#include "common/ProgressSink.h"

namespace kelvara {

using Lock = std::lock_guard<std::recursive_mutex>;

void CXHtmlTree::initialize(bool checkBoxes, bool) {
    Lock lock(mutex_);
    checkBoxes_ = checkBoxes;
    smartCheck_ = false;
}

CXHtmlTree::Node* CXHtmlTree::node(TreeItem item) {
    if (item <= 0 || static_cast<std::size_t>(item) >= nodes_.size() || !nodes_[item].live) return nullptr;
    return &nodes_[item];
}

const CXHtmlTree::Node* CXHtmlTree::node(TreeItem item) const {
    if (item <= 0 || static_cast<std::size_t>(item) >= nodes_.size() || !nodes_[item].live) return nullptr;
    return &nodes_[item];
}

bool CXHtmlTree::isValid(TreeItem item) const {
    Lock lock(mutex_);
    return node(item) != nullptr;
}

std::size_t CXHtmlTree::itemCount() const {
    Lock lock(mutex_);
    return nodes_.size() - 1 - free_.size();
}

void CXHtmlTree::notify(unsigned msg, TreeItem item, std::int64_t param) {
    if (owner_) owner_(msg, item, param);
}

TreeItem CXHtmlTree::insertItem(const std::string& text, int image, int selectedImage,
                                TreeItem parent, bool checked) {
    Lock lock(mutex_);
    if (parent != TVI_ROOT && !node(parent)) return kNoItem;
    TreeItem item;
    if (!free_.empty()) {
        item = free_.back();
        free_.pop_back();
        nodes_[item] = Node{};
    } else {
        item = static_cast<TreeItem>(nodes_.size());
        nodes_.emplace_back();
    }
    Node& n = nodes_[item];
    n.live = true;
    n.text = text;
    n.image = image;
    n.selectedImage = selectedImage;
    n.rec.checked = checked;
    n.parent = parent == TVI_ROOT ? kNoItem : parent;
    TreeItem& first = parent == TVI_ROOT ? firstTop_ : nodes_[parent].firstChild;
    TreeItem& last = parent == TVI_ROOT ? lastTop_ : nodes_[parent].lastChild;
    n.prev = last;
    if (last) nodes_[last].next = item;
    else first = item;
    last = item;

    if (smartCheck_) {
        for (TreeItem a = n.parent; a; a = nodes_[a].parent) {
            nodes_[a].rec.descendantCount += 1;
            if (checked) nodes_[a].rec.checkedCount += 1;
        }
        recomputeAncestorsAfterCountChange(n.parent);
    }
    return item;
}

// After a change of counts below them, ancestors re-derive their own check state.
void CXHtmlTree::recomputeAncestorsAfterCountChange(TreeItem parent) {
    for (TreeItem a = parent; a; a = nodes_[a].parent) {
        XHTMLTREEDATA& r = nodes_[a].rec;
        const int countable = r.descendantCount - r.separatorCount;
        if (countable > 0) r.checked = r.checkedCount == countable;
    }
}

void CXHtmlTree::deleteLeaf(TreeItem item) {
    Node& n = nodes_[item];
    if (smartCheck_) {
        for (TreeItem a = n.parent; a; a = nodes_[a].parent) {
            XHTMLTREEDATA& r = nodes_[a].rec;
            r.descendantCount = std::max(0, r.descendantCount - 1);
            if (n.rec.checked) r.checkedCount = std::max(0, r.checkedCount - 1);
            if (n.rec.separator) r.separatorCount = std::max(0, r.separatorCount - 1);
        }
        recomputeAncestorsAfterCountChange(n.parent);
    }
    TreeItem& first = n.parent ? nodes_[n.parent].firstChild : firstTop_;
    TreeItem& last = n.parent ? nodes_[n.parent].lastChild : lastTop_;
    if (n.prev) nodes_[n.prev].next = n.next;
    else first = n.next;
    if (n.next) nodes_[n.next].prev = n.prev;
    else last = n.prev;
    if (selected_ == item) selected_ = kNoItem;
    n = Node{};
    free_.push_back(item);
}

void CXHtmlTree::deleteItem(TreeItem item) {
    Lock lock(mutex_);
    if (!node(item)) return;
    // Children first, deepest first, without recursion.
    std::vector<TreeItem> stack{item};
    std::vector<TreeItem> order;
    while (!stack.empty()) {
        TreeItem t = stack.back();
        stack.pop_back();
        order.push_back(t);
        for (TreeItem c = nodes_[t].firstChild; c; c = nodes_[c].next) stack.push_back(c);
    }
    for (auto it = order.rbegin(); it != order.rend(); ++it) deleteLeaf(*it);
}

void CXHtmlTree::deleteAllItems() {
    Lock lock(mutex_);
    nodes_.assign(1, Node{});
    free_.clear();
    firstTop_ = lastTop_ = selected_ = kNoItem;
}

void CXHtmlTree::setCheck(TreeItem item, bool check) {
    Lock lock(mutex_);
    setCheckLocked(item, check);
}

void CXHtmlTree::setCheckLocked(TreeItem item, bool check) {
    Node* n = node(item);
    if (!checkBoxes_ || !n || !n->rec.enabled || n->rec.separator) return;
    const bool changed = n->rec.checked != check;
    const int before = n->rec.descendantCount - n->rec.checkedCount;
    const int beforeChecked = n->rec.checkedCount;
    n->rec.checked = check;
    if (smartCheck_ && changed) {
        // Everything below follows.
        std::vector<TreeItem> stack;
        for (TreeItem c = n->firstChild; c; c = nodes_[c].next) stack.push_back(c);
        while (!stack.empty()) {
            TreeItem t = stack.back();
            stack.pop_back();
            XHTMLTREEDATA& r = nodes_[t].rec;
            if (r.enabled && !r.separator) {
                r.checked = check;
                r.checkedCount = check ? r.descendantCount - r.separatorCount : 0;
            }
            for (TreeItem c = nodes_[t].firstChild; c; c = nodes_[c].next) stack.push_back(c);
        }
        n->rec.checkedCount = check ? n->rec.descendantCount - n->rec.separatorCount : 0;
        int delta = check ? before + 1 : -(beforeChecked + 1);
        for (TreeItem a = n->parent; a; a = nodes_[a].parent) {
            XHTMLTREEDATA& r = nodes_[a].rec;
            r.checkedCount = std::max(0, r.checkedCount + delta);
            const bool was = r.checked;
            r.checked = r.checkedCount == r.descendantCount - r.separatorCount;
            if (r.checked != was) delta += r.checked ? 1 : -1;
        }
    }
    notify(WM_XHTMLTREE_CHECKBOX_CLICKED, item, check ? 1 : 0);
}

bool CXHtmlTree::getCheck(TreeItem item) const {
    Lock lock(mutex_);
    const Node* n = node(item);
    if (!checkBoxes_ || !n) return false;
    const XHTMLTREEDATA& r = n->rec;
    if (!smartCheck_ || r.descendantCount == 0) return r.checked;
    return r.checkedCount != 0 && r.checkedCount == r.descendantCount - r.separatorCount;
}

int CXHtmlTree::getCheckedCount() const {
    Lock lock(mutex_);
    int count = 0;
    for (std::size_t i = 1; i < nodes_.size(); ++i)
        if (nodes_[i].live && getCheck(static_cast<TreeItem>(i))) ++count;
    return count;
}

int CXHtmlTree::stateImage(TreeItem item) const {
    Lock lock(mutex_);
    const Node* n = node(item);
    if (!n) return 0;
    const XHTMLTREEDATA& r = n->rec;
    int image;
    if (smartCheck_ && r.descendantCount > 0) {
        if (r.checkedCount == 0) image = 1;
        else if (r.checkedCount == r.descendantCount - r.separatorCount) image = 2;
        else image = 3;
    } else {
        image = r.checked ? 2 : 1;
    }
    if (!r.enabled) image += 4;
    if (n->hot) image += 8;
    return image;
}

const XHTMLTREEDATA* CXHtmlTree::record(TreeItem item) const {
    Lock lock(mutex_);
    const Node* n = node(item);
    return n ? &n->rec : nullptr;
}

void CXHtmlTree::setEnabled(TreeItem item, bool enabled) {
    Lock lock(mutex_);
    if (Node* n = node(item)) n->rec.enabled = enabled;
}

void CXHtmlTree::setSeparator(TreeItem item, bool separator) {
    Lock lock(mutex_);
    Node* n = node(item);
    if (!n || n->rec.separator == separator) return;
    n->rec.separator = separator;
    for (TreeItem a = n->parent; a; a = nodes_[a].parent)
        nodes_[a].rec.separatorCount = std::max(0, nodes_[a].rec.separatorCount + (separator ? 1 : -1));
}

bool CXHtmlTree::isExpanded(TreeItem item) const {
    Lock lock(mutex_);
    const Node* n = node(item);
    return n && n->rec.expanded;
}

void CXHtmlTree::expand(TreeItem item, ExpandCode code) {
    Lock lock(mutex_);
    Node* n = node(item);
    if (!n || !n->rec.enabled || !n->firstChild) return;
    const bool was = n->rec.expanded;
    bool now = code == ExpandCode::Collapse ? false : code == ExpandCode::Expand ? true : !was;
    n->rec.expanded = now;
    if (now) n->rec.hasBeenExpanded = true;
    if (now != was) notify(WM_XHTMLTREE_ITEM_EXPANDED, item, now ? 1 : 0);
}

std::string CXHtmlTree::getItemText(TreeItem item) const {
    Lock lock(mutex_);
    const Node* n = node(item);
    return n ? n->text : std::string();
}

void CXHtmlTree::setItemText(TreeItem item, const std::string& text) {
    Lock lock(mutex_);
    if (Node* n = node(item)) n->text = text;
}

int CXHtmlTree::getItemImage(TreeItem item) const {
    Lock lock(mutex_);
    const Node* n = node(item);
    return n ? n->image : -1;
}

int CXHtmlTree::getItemSelectedImage(TreeItem item) const {
    Lock lock(mutex_);
    const Node* n = node(item);
    return n ? n->selectedImage : -1;
}

void CXHtmlTree::setItemData(TreeItem item, std::int64_t data) {
    Lock lock(mutex_);
    if (Node* n = node(item)) n->data = data;
}

std::int64_t CXHtmlTree::getItemData(TreeItem item) const {
    Lock lock(mutex_);
    const Node* n = node(item);
    return n ? n->data : 0;
}

void CXHtmlTree::setItemColor(TreeItem item, std::uint32_t rgb) {
    Lock lock(mutex_);
    if (Node* n = node(item)) n->color = rgb;
}

std::uint32_t CXHtmlTree::getItemColor(TreeItem item) const {
    Lock lock(mutex_);
    const Node* n = node(item);
    return n ? n->color : kDefaultColor;
}

TreeItem CXHtmlTree::getRootItem() const {
    Lock lock(mutex_);
    return firstTop_;
}

TreeItem CXHtmlTree::getChildItem(TreeItem item) const {
    Lock lock(mutex_);
    if (item == TVI_ROOT) return firstTop_;
    const Node* n = node(item);
    return n ? n->firstChild : kNoItem;
}

TreeItem CXHtmlTree::getNextSiblingItem(TreeItem item) const {
    Lock lock(mutex_);
    const Node* n = node(item);
    return n ? n->next : kNoItem;
}

TreeItem CXHtmlTree::getParentItem(TreeItem item) const {
    Lock lock(mutex_);
    const Node* n = node(item);
    return n ? n->parent : kNoItem;
}

void CXHtmlTree::selectItem(TreeItem item) {
    Lock lock(mutex_);
    const Node* n = node(item);
    if (n && n->rec.enabled) selected_ = item;
}

void CXHtmlTree::clickLabel(TreeItem item) {
    {
        Lock lock(mutex_);
        if (!node(item)) return;
        selectItem(item);
    }
    notify(WM_TREE_LABEL_CLICK, item, kHitOnLabel);
}

void CXHtmlTree::clickCheckBox(TreeItem item) {
    Lock lock(mutex_);
    Node* n = node(item);
    if (!n || !n->rec.enabled || n->rec.separator) return;
    setCheckLocked(item, !n->rec.checked);
    selectItem(item);
    for (auto& other : nodes_) other.hot = false;
    if ((n = node(item))) n->hot = true;
}

void CXHtmlTree::pressSpace() {
    Lock lock(mutex_);
    Node* n = node(selected_);
    if (!checkBoxes_ || !n || n->rec.separator) return;
    setCheckLocked(selected_, !n->rec.checked);
}

}  // namespace kelvara
