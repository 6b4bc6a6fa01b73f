#include "cli/TreeWalk.h"

#include <unordered_set>
#include <vector>

namespace kelvara::cli {

namespace {

TreeItem rootItemOf(const CXHtmlTree& tree) {
    for (TreeItem t = tree.getRootItem(); t != kNoItem; t = tree.getNextSiblingItem(t))
        if (tree.getItemText(t) == "ROOT") return t;
    return kNoItem;
}

std::vector<EntryRef> topLevel(const VolumeParser& parser, const CXHtmlTree& tree) {
    std::vector<EntryRef> refs;
    const TreeItem root = rootItemOf(tree);
    if (root == kNoItem) return refs;
    for (TreeItem c = tree.getChildItem(root); c != kNoItem; c = tree.getNextSiblingItem(c)) {
        const EntryRef ref = tree.getItemData(c);
        if (parser.isEntry(ref)) refs.push_back(ref);
    }
    return refs;
}

std::vector<EntryRef> childrenOf(const VolumeParser& parser, EntryRef dir, std::unordered_set<EntryRef>& chainSeen) {
    std::vector<EntryRef> kids;
    chainSeen.clear();
    for (EntryRef c = parser.firstChild(dir); c != kNoEntry && chainSeen.insert(c).second; c = parser.nextSibling(c))
        kids.push_back(c);
    return kids;
}

}  // namespace

std::size_t walkEntries(const VolumeParser& parser, const CXHtmlTree& tree,
                        const std::function<bool(EntryRef, const std::string&)>& visit) {
    struct Pending {
        EntryRef ref;
        std::string parentPath;
        std::size_t depth;
    };
    std::vector<Pending> stack;
    const auto top = topLevel(parser, tree);
    for (auto it = top.rbegin(); it != top.rend(); ++it) stack.push_back({*it, "ROOT", 1});
    std::unordered_set<EntryRef> seen, chainSeen;
    std::size_t notEntered = 0;
    while (!stack.empty()) {
        Pending p = std::move(stack.back());
        stack.pop_back();
        if (!seen.insert(p.ref).second) continue;
        std::string path = p.parentPath + "/" + parser.name(p.ref);
        if (!visit(p.ref, path)) return notEntered;
        if (!parser.isDirectory(p.ref)) continue;
        if (p.depth >= kMaxListedDepth) {
            if (parser.firstChild(p.ref) != kNoEntry) ++notEntered;
            continue;
        }
        const auto kids = childrenOf(parser, p.ref, chainSeen);
        for (auto it = kids.rbegin(); it != kids.rend(); ++it)
            if (!seen.count(*it)) stack.push_back({*it, path, p.depth + 1});
    }
    return notEntered;
}

EntryRef findEntryByPath(const VolumeParser& parser, const CXHtmlTree& tree, const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path + "/") {
        if (c == '/') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!parts.empty() && parts.front() == "ROOT") parts.erase(parts.begin());
    if (parts.empty()) return kNoEntry;
    std::vector<EntryRef> candidates = topLevel(parser, tree);
    std::unordered_set<EntryRef> chainSeen;
    EntryRef current = kNoEntry;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        EntryRef pick = kNoEntry;
        for (EntryRef c : candidates) {
            if (parser.name(c) != parts[i]) continue;
            if (i + 1 < parts.size() && !parser.isDirectory(c)) continue;
            if (pick == kNoEntry || (parser.isDeleted(pick) && !parser.isDeleted(c))) pick = c;
        }
        if (pick == kNoEntry) return kNoEntry;
        current = pick;
        if (i + 1 < parts.size()) candidates = childrenOf(parser, current, chainSeen);
    }
    return current;
}

}  // namespace kelvara::cli
