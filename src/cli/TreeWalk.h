#pragma once
// Walking what a parser found, the way the results page shows it: from "ROOT"'s
// top-level items down through the parser's own child chains.

#include <functional>
#include <string>

#include "fs/VolumeParser.h"
#include "widgets/CXHtmlTree.h"

namespace kelvara::cli {

// Calls visit(ref, path) for every entry in depth-first order, children in chain order;
// path is the names from "ROOT" joined by "/". Iterative; an entry reached twice (a
// looping chain) is visited once. visit returns false to stop.
void walkEntries(const VolumeParser& parser, const CXHtmlTree& tree,
                 const std::function<bool(EntryRef, const std::string&)>& visit);

// The entry at a path such as "ROOT/Documents/letter.txt" (the leading "ROOT/" or "/"
// may be left out). Among equal names a live entry wins over a deleted one.
EntryRef findEntryByPath(const VolumeParser& parser, const CXHtmlTree& tree, const std::string& path);

}  // namespace kelvara::cli
