#include "generalized_time.h"

#include <cstdio>
#include <ctime>

#include "kit/platform.h"

namespace sealform {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads `count` digits at `pos`; advances `pos`.
bool read_number(std::string_view s, size_t& pos, size_t count, int& value) {
    if (pos + count > s.size()) return false;
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        char c = s[pos + i];
        if (!is_digit(c)) return false;
        value = value * 10 + (c - '0');
    }
    pos += count;
    return true;
}

bool is_leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && is_leap(y) ? 29 : kDays[m - 1];
}

// Seconds since the epoch of a broken-down UTC time (no dependence on the TZ setting).
long long utc_seconds(int y, int mo, int d, int h, int mi, int s) {
    // Days from civil, proleptic Gregorian.
    y -= mo <= 2;
    long long era = (y >= 0 ? y : y - 399) / 400;
    long long yoe = y - era * 400;
    long long doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    long long days = era * 146097 + doe - 719468;
    return days * 86400 + h * 3600 + mi * 60 + s;
}

}  // namespace

std::optional<std::string> local_generalized_time(std::string_view s) {
    size_t pos = 0;
    int year, month, day, hour, minute = 0, second = 0;
    if (!read_number(s, pos, 4, year) || !read_number(s, pos, 2, month) ||
        !read_number(s, pos, 2, day) || !read_number(s, pos, 2, hour))
        return std::nullopt;
    std::string fraction;
    if (pos < s.size() && is_digit(s[pos])) {
        if (!read_number(s, pos, 2, minute)) return std::nullopt;
        if (pos < s.size() && is_digit(s[pos])) {
            if (!read_number(s, pos, 2, second)) return std::nullopt;
            if (pos < s.size() && (s[pos] == '.' || s[pos] == ',')) {
                ++pos;
                size_t start = pos;
                while (pos < s.size() && is_digit(s[pos])) ++pos;
                if (pos == start) return std::nullopt;
                fraction.assign(s.substr(start, pos - start));
            }
        }
    }
    if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return std::nullopt;

    bool has_zone = false;
    int offset_seconds = 0;
    if (pos < s.size()) {
        if (s[pos] == 'Z') {
            has_zone = true;
            ++pos;
        } else if (s[pos] == '+' || s[pos] == '-') {
            int sign = s[pos] == '-' ? -1 : 1;
            ++pos;
            int oh, om;
            if (!read_number(s, pos, 2, oh) || !read_number(s, pos, 2, om) || oh > 23 || om > 59)
                return std::nullopt;
            has_zone = true;
            offset_seconds = sign * (oh * 3600 + om * 60);
        }
    }
    if (pos != s.size()) return std::nullopt;

    struct tm local {};
    if (has_zone) {
        time_t instant = static_cast<time_t>(utc_seconds(year, month, day, hour, minute, second) -
                                             offset_seconds);
        if (!kit::local_time(instant, local)) return std::nullopt;
    } else {
        // Already local time: the digits stay as they are.
        local.tm_year = year - 1900;
        local.tm_mon = month - 1;
        local.tm_mday = day;
        local.tm_hour = hour;
        local.tm_min = minute;
        local.tm_sec = second;
    }

    // At most six fraction digits, trailing zeros dropped; a zero fraction is left out.
    if (fraction.size() > 6) fraction.resize(6);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();

    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::string out = buf;
    if (!fraction.empty()) out += "." + fraction;
    out += "Z";
    return out;
}

}  // namespace sealform
