#pragma once
// Walking what a parser found, the way the results page shows it: from "ROOT"'s
// top-level items down through the parser's own child chains.

#include <cstddef>
#include <functional>
#include <string>

#include "fs/VolumeParser.h"
#include "widgets/CXHtmlTree.h"

namespace kelvara::cli {

// Folders nested deeper than this are listed but not entered: every row carries its
// whole path, so a chain of folders 100,000 deep would cost gigabytes of paths (and no
// file system path that long could be written back anyway).
constexpr std::size_t kMaxListedDepth = 1024;

// Calls visit(ref, path) for every entry in depth-first order, children in chain order;
// path is the names from "ROOT" joined by "/". Iterative; an entry reached twice (a
// looping chain) is visited once. visit returns false to stop. Returns how many folders
// with entries were not entered for lying kMaxListedDepth levels down.
std::size_t walkEntries(const VolumeParser& parser, const CXHtmlTree& tree,
                        const std::function<bool(EntryRef, const std::string&)>& visit);

// The entry at a path such as "ROOT/Documents/letter.txt" (the leading "ROOT/" or "/"
// may be left out). Among equal names a live entry wins over a deleted one.
EntryRef findEntryByPath(const VolumeParser& parser, const CXHtmlTree& tree, const std::string& path);

}  // namespace kelvara::cli
