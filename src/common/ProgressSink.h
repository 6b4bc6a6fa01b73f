#pragma once
// How workers report to the page that runs them: a progress range and position and a
// status text, delivered synchronously. The message numbers are the ones the pages and
// front ends dispatch on.

#include <cstdint>
#include <string>

namespace kelvara {

constexpr unsigned WM_USER = 0x400;
constexpr unsigned WM_SCAN_POS = WM_USER + 1;
constexpr unsigned WM_SCAN_RANGE = WM_USER + 2;
constexpr unsigned WM_TREE_LABEL_CLICK = WM_USER + 0x75;

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    // WM_SCAN_RANGE: low and high of the progress range.
    virtual void setRange(std::int64_t /*low*/, std::int64_t /*high*/) {}
    // WM_SCAN_POS: the position within the range.
    virtual void setPos(std::int64_t /*pos*/) {}
    // The page's status line.
    virtual void setStatus(const std::string& /*text*/) {}
};

// A sink that drops everything; the default for callers that do not listen.
class NullProgressSink final : public ProgressSink {};

NullProgressSink& nullProgressSink();

}  // namespace kelvara
