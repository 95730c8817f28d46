#include "acerto/platform/datetime.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "acerto/platform/errors.h"

namespace acerto::platform {
namespace {

// Days from 1970-01-01 of a civil date (proleptic Gregorian).
long long days_from_civil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civil_from_days(long long z, int& y, int& m, int& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

const long long kEpochOffset = days_from_civil(1899, 12, 30);  // 1899-12-30 from 1970-01-01
constexpr long long kMsPerDay = 86400000LL;

bool valid_date(int y, int m, int d) {
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
    static const int len[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int days = len[m - 1];
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) days = 29;
    return d <= days;
}

}  // namespace

DateTime DateTime::from_parts(const DateParts& p) {
    if (!valid_date(p.year, p.month, p.day) || p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 ||
        p.second < 0 || p.second > 59 || p.millisecond < 0 || p.millisecond > 999)
        throw ConversionError("Data ou hora inválida.");
    long long day = days_from_civil(p.year, p.month, p.day) - kEpochOffset;
    long long ms = ((p.hour * 60LL + p.minute) * 60 + p.second) * 1000 + p.millisecond;
    return DateTime(static_cast<double>(day) + static_cast<double>(ms) / kMsPerDay);
}

DateTime DateTime::from_date(int year, int month, int day) {
    DateParts p;
    p.year = year;
    p.month = month;
    p.day = day;
    return from_parts(p);
}

bool DateTime::try_parse_iso(std::string_view text, DateTime& out) {
    DateParts p;
    char sep = 0;
    std::string s(text);
    int n = std::sscanf(s.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d.%3d", &p.year, &p.month, &p.day, &sep, &p.hour, &p.minute,
                        &p.second, &p.millisecond);
    if (n == 3 && s.size() == 10) {
        p.hour = p.minute = p.second = p.millisecond = 0;
    } else if (n >= 7 && (sep == ' ' || sep == 'T')) {
        if (n == 7) p.millisecond = 0;
    } else {
        return false;
    }
    try {
        out = from_parts(p);
    } catch (const ConversionError&) {
        return false;
    }
    return true;
}

DateTime DateTime::parse_iso(std::string_view text) {
    DateTime out;
    if (!try_parse_iso(text, out)) throw ConversionError("'" + std::string(text) + "' não é uma data válida.");
    return out;
}

DateTime DateTime::now_local() {
    std::time_t t = std::time(nullptr);
    std::tm lt{};
    localtime_r(&t, &lt);
    DateParts p;
    p.year = lt.tm_year + 1900;
    p.month = lt.tm_mon + 1;
    p.day = lt.tm_mday;
    p.hour = lt.tm_hour;
    p.minute = lt.tm_min;
    p.second = lt.tm_sec;
    return from_parts(p);
}

DateParts DateTime::parts() const {
    long long total_ms = std::llround(days_ * kMsPerDay);
    long long day = total_ms / kMsPerDay;
    long long ms = total_ms % kMsPerDay;
    if (ms < 0) {
        ms += kMsPerDay;
        --day;
    }
    DateParts p;
    civil_from_days(day + kEpochOffset, p.year, p.month, p.day);
    p.hour = static_cast<int>(ms / 3600000);
    p.minute = static_cast<int>(ms / 60000 % 60);
    p.second = static_cast<int>(ms / 1000 % 60);
    p.millisecond = static_cast<int>(ms % 1000);
    return p;
}

DateTime DateTime::date() const {
    DateParts p = parts();
    return from_date(p.year, p.month, p.day);
}

double DateTime::time_of_day() const {
    DateParts p = parts();
    return (((p.hour * 60.0 + p.minute) * 60 + p.second) * 1000 + p.millisecond) / kMsPerDay;
}

std::string DateTime::iso() const {
    DateParts p = parts();
    char buf[40];
    if (p.millisecond)
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day, p.hour, p.minute,
                      p.second, p.millisecond);
    else
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                      p.second);
    return buf;
}

}  // namespace acerto::platform
