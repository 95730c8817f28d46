#pragma once
// Date-time as the screen's platform keeps it: days since 1899-12-30 with the time of day as
// the fraction, so "zero" means "no date" exactly as the screen expects.
#include <compare>
#include <string>
#include <string_view>

namespace acerto::platform {

struct DateParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

class DateTime {
  public:
    constexpr DateTime() = default;
    constexpr explicit DateTime(double days) : days_(days) {}

    static DateTime from_parts(const DateParts& p);
    static DateTime from_date(int year, int month, int day);
    // "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS" or "YYYY-MM-DD HH:MM:SS.mmm"; throws ConversionError.
    static DateTime parse_iso(std::string_view text);
    static bool try_parse_iso(std::string_view text, DateTime& out);
    // The machine's local time, to the second.
    static DateTime now_local();

    double days() const { return days_; }
    DateParts parts() const;
    DateTime date() const;       // midnight of the same day
    double time_of_day() const;  // fraction of the day
    bool is_zero() const { return days_ == 0.0; }
    // "YYYY-MM-DD HH:MM:SS" (".mmm" added when the milliseconds are not zero).
    std::string iso() const;

    auto operator<=>(const DateTime&) const = default;

  private:
    double days_ = 0.0;
};

}  // namespace acerto::platform
