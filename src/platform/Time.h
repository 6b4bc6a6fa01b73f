#pragma once
// Time conversions: stored times are UTC; only display converts to local time.

#include <cstdint>

#include "common/Text.h"

namespace kelvara::platform {

// UTC seconds since 1970 to local calendar fields (the TZ of the process).
DateTimeFields toLocalFields(std::int64_t unixSeconds);
// UTC seconds since 1970 to UTC calendar fields.
DateTimeFields toUtcFields(std::int64_t unixSeconds);
// Local calendar fields (a FAT stamp, say) to UTC seconds since 1970.
std::int64_t localFieldsToUnix(const DateTimeFields& local);
// UTC calendar fields to seconds since 1970.
std::int64_t utcFieldsToUnix(const DateTimeFields& utc);

// FILETIME (100 ns ticks since 1601, UTC) to seconds and nanoseconds since 1970.
constexpr std::int64_t kFiletimeUnixEpoch = 116444736000000000LL;
inline std::int64_t filetimeToUnixSeconds(std::uint64_t ft) {
    const std::int64_t ticks = static_cast<std::int64_t>(ft) - kFiletimeUnixEpoch;
    std::int64_t seconds = ticks / 10000000LL;
    if (ticks % 10000000LL < 0) --seconds;  // floor, for times before 1970
    return seconds;
}

}  // namespace kelvara::platform
