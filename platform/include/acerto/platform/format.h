#pragma once
// Number and date formatting and parsing with the host's separators, as the screen's platform
// does them: display formats such as "#,##0.00", general number text, short date and long time.
#include <string>
#include <string_view>

#include "acerto/platform/datetime.h"

namespace acerto::platform {

struct FormatSettings {
    char decimal_separator = ',';
    char thousand_separator = '.';
    char date_separator = '/';
    char time_separator = ':';
};

// The host's settings (one per process, set by the host at start; the screen only reads them).
FormatSettings& format_settings();

// Formats with a picture such as "#,##0.00", "0.00", "0" or "#,##0.000;-#,##0.000".
// Rounds half away from zero on the number's 15-significant-digit decimal form.
std::string format_float(std::string_view picture, double value);
// General format: up to 15 significant digits, no thousands separator.
std::string float_to_str(double value);
// Strict reading with the host's decimal separator; throws ConversionError.
double str_to_float(std::string_view text);
bool try_str_to_float(std::string_view text, double& out);
long long str_to_int(std::string_view text);
bool try_str_to_int(std::string_view text, long long& out);
// Rounds to `decimals` places, half away from zero on the decimal form (8.126 -> 8.13).
double round_decimal(double value, int decimals);

// dd/mm/yyyy, hh:nn:ss, and their pair (the time omitted when it is midnight).
std::string date_to_str(DateTime value);
std::string time_to_str(DateTime value);
std::string date_time_to_str(DateTime value);
// Reads "dd/mm/yyyy" or "dd/mm/yyyy hh:nn[:ss]"; throws ConversionError.
DateTime str_to_date_time(std::string_view text);

}  // namespace acerto::platform
