#include "platform/Time.h"

#include <ctime>

namespace kelvara::platform {
namespace {

DateTimeFields fromTm(const std::tm& t) {
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

std::tm toTm(const DateTimeFields& f) {
    std::tm t{};
    t.tm_year = f.year - 1900;
    t.tm_mon = f.month - 1;
    t.tm_mday = f.day;
    t.tm_hour = f.hour;
    t.tm_min = f.minute;
    t.tm_sec = f.second;
    t.tm_isdst = -1;
    return t;
}

}  // namespace

DateTimeFields toLocalFields(std::int64_t unixSeconds) {
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm out{};
    if (!::localtime_r(&t, &out)) return {};
    return fromTm(out);
}

DateTimeFields toUtcFields(std::int64_t unixSeconds) {
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm out{};
    if (!::gmtime_r(&t, &out)) return {};
    return fromTm(out);
}

std::int64_t localFieldsToUnix(const DateTimeFields& local) {
    std::tm t = toTm(local);
    return static_cast<std::int64_t>(std::mktime(&t));
}

std::int64_t utcFieldsToUnix(const DateTimeFields& utc) {
    std::tm t = toTm(utc);
    t.tm_isdst = 0;
    return static_cast<std::int64_t>(::timegm(&t));
}

}  // namespace kelvara::platform
