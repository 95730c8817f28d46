#include <gtest/gtest.h>

#include "acerto/platform/datetime.h"
#include "acerto/platform/errors.h"
#include "acerto/platform/format.h"

using namespace acerto::platform;

namespace {
// Sets the separators for one test and puts the defaults back afterwards.
struct Separators {
    FormatSettings saved = format_settings();
    Separators(char dec, char thou) {
        format_settings().decimal_separator = dec;
        format_settings().thousand_separator = thou;
    }
    ~Separators() { format_settings() = saved; }
};
}  // namespace

TEST(Format, DisplayFormatsWithBothSeparators) {
    {
        Separators s(',', '.');
        EXPECT_EQ(format_float("#,##0.00", 1234567.891), "1.234.567,89");
        EXPECT_EQ(format_float("#,##0.00", 0), "0,00");
        EXPECT_EQ(format_float("#,##0.00", -3), "-3,00");
        EXPECT_EQ(format_float("0.00", 1234.5), "1234,50");
        EXPECT_EQ(format_float("#,##0.000", 999.9999), "1.000,000");
        EXPECT_EQ(format_float("0", 2.5), "3");
        EXPECT_EQ(format_float("#,##0.00;(#,##0.00)", -12.5), "(12,50)");
    }
    {
        Separators s('.', ',');
        EXPECT_EQ(format_float("#,##0.00", 1234567.891), "1,234,567.89");
        EXPECT_EQ(format_float("0.00", 8), "8.00");
    }
}

TEST(Format, RoundsHalfAwayFromZeroOnTheDecimalForm) {
    Separators s(',', '.');
    // 2.675 is 2.67499999... in binary; the decimal form rounds up, as the host does.
    EXPECT_EQ(format_float("0.00", 2.675), "2,68");
    EXPECT_EQ(format_float("0.00", -2.675), "-2,68");
    EXPECT_DOUBLE_EQ(round_decimal(8.126, 2), 8.13);
    EXPECT_DOUBLE_EQ(round_decimal(10.006, 2), 10.01);
    EXPECT_DOUBLE_EQ(round_decimal(1.005, 2), 1.01);
    EXPECT_DOUBLE_EQ(round_decimal(0.004, 2), 0.0);
    EXPECT_DOUBLE_EQ(round_decimal(99.995, 2), 100.0);
    EXPECT_DOUBLE_EQ(3 * round_decimal(8.126, 2), 24.39);
}

TEST(Format, GeneralNumberTextAndStrictReading) {
    Separators s(',', '.');
    EXPECT_EQ(float_to_str(355), "355");
    EXPECT_EQ(float_to_str(32.5), "32,5");
    EXPECT_EQ(float_to_str(20.012), "20,012");
    EXPECT_EQ(float_to_str(0.1 + 0.2), "0,3");
    EXPECT_DOUBLE_EQ(str_to_float("12,5"), 12.5);
    EXPECT_DOUBLE_EQ(str_to_float(" -3 "), -3);
    EXPECT_DOUBLE_EQ(str_to_float("1E3"), 1000);
    EXPECT_THROW(str_to_float("12.5"), ConversionError);  // not the host's separator
    EXPECT_THROW(str_to_float("1.234,5"), ConversionError);
    EXPECT_THROW(str_to_float(""), ConversionError);
    EXPECT_THROW(str_to_float("abc"), ConversionError);
    EXPECT_THROW(str_to_float("1,2,3"), ConversionError);
    double v;
    EXPECT_TRUE(try_str_to_float("999999999", v));
    EXPECT_EQ(v, 999999999);
}

TEST(DateTimeText, IsoRoundTripAndHostFormats) {
    DateTime t = DateTime::parse_iso("2026-12-07 14:05:09");
    EXPECT_EQ(t.iso(), "2026-12-07 14:05:09");
    EXPECT_EQ(date_to_str(t), "07/12/2026");
    EXPECT_EQ(time_to_str(t), "14:05:09");
    EXPECT_EQ(date_time_to_str(t), "07/12/2026 14:05:09");
    DateTime midnight = DateTime::parse_iso("2026-12-07");
    EXPECT_EQ(date_time_to_str(midnight), "07/12/2026");  // midnight: no time
    EXPECT_EQ(str_to_date_time("07/12/2026 14:05:09"), t);
    EXPECT_EQ(str_to_date_time("07/12/2026"), midnight);
    EXPECT_EQ(DateTime::from_date(1899, 12, 30).days(), 0.0);
    EXPECT_EQ(DateTime::from_date(1900, 1, 1).days(), 2.0);
    EXPECT_THROW(DateTime::parse_iso("2026-02-30"), ConversionError);
    EXPECT_THROW(str_to_date_time("32/01/2026"), ConversionError);
    // Many instants survive the text round trip to the millisecond.
    for (int ms = 0; ms < 86400000; ms += 7777777) {
        DateTime x(46000 + ms / 86400000.0);
        EXPECT_EQ(DateTime::parse_iso(x.iso()).iso(), x.iso());
    }
}
