#pragma once
// Names from disk are untrusted: before one becomes a file or folder name in the output
// folder it loses everything that could make it leave that folder or be unusable.

#include <string>
#include <string_view>

namespace kelvara {

// Separators ('/' and '\'), NUL and control characters become '_'; "", "." and ".."
// become "_", "_." and "_.."; names longer than 255 bytes are shortened at a character
// boundary, keeping a short extension. The result is never empty and never a path.
std::string makeSafeName(std::string_view name);

}  // namespace kelvara
