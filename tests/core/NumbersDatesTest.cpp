#include <gtest/gtest.h>

#include "model/DateTime.h"
#include "model/Errors.h"
#include "model/Numbers.h"

using namespace quorvel;

TEST(Numbers, IntegerSyntaxOfTheEditFields) {
    EXPECT_EQ(readInteger("$10").value, 16);
    EXPECT_TRUE(readInteger("$10").ok);
    EXPECT_EQ(readInteger("0x1f").value, 31);
    EXPECT_EQ(readInteger("  -42").value, -42);
    const IntegerRead partial = readInteger("12a");
    EXPECT_FALSE(partial.ok);
    EXPECT_EQ(partial.value, 12);
    EXPECT_FALSE(readInteger("").ok);
    EXPECT_EQ(readInteger("").value, 0);
    EXPECT_FALSE(readInteger("2147483648").ok);
    EXPECT_TRUE(readInteger("-2147483648").ok);
    EXPECT_EQ(readInteger("-2147483648").value, INT32_MIN);
    EXPECT_THROW(toInteger("x"), ConvertError);
    try {
        toInteger("4x");
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "'4x' is not a valid integer value");
    }
    EXPECT_EQ(leadingNumber("  12,5"), 12);
    EXPECT_EQ(leadingNumber("abc"), 0);
    EXPECT_EQ(leadingNumber(" -7x"), -7);
}

TEST(Numbers, DayNumberPatternAndFloatReading) {
    EXPECT_EQ(formatDayNumber(37000, '.'), "37000");
    EXPECT_EQ(formatDayNumber(37000.25, '.'), "37000.25");
    EXPECT_EQ(formatDayNumber(37000.58819, '.'), "37000.588");
    EXPECT_EQ(formatDayNumber(36526.604, ','), "36526,604");
    EXPECT_EQ(formatDayNumber(36525.9996, '.'), "36526");
    EXPECT_DOUBLE_EQ(toFloat("36526,604", ','), 36526.604);
    EXPECT_DOUBLE_EQ(toFloat(" 12 ", '.'), 12);
    EXPECT_THROW(toFloat("36526,604", '.'), ConvertError);
    EXPECT_THROW(toFloat("", '.'), ConvertError);
    try {
        toFloat("1.2.3", '.');
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "'1.2.3' is not a valid floating point value");
    }
}

TEST(DateTime, DayNumbersAndCalendar) {
    EXPECT_DOUBLE_EQ(encodeDayNumber({1899, 12, 30}), 0);
    EXPECT_DOUBLE_EQ(encodeDayNumber({2000, 1, 1, 14, 30}), 36526 + 14.5 / 24);
    const CivilDateTime t = decodeDayNumber(36526.604);
    EXPECT_EQ(t.year, 2000);
    EXPECT_EQ(t.month, 1);
    EXPECT_EQ(t.day, 1);
    EXPECT_EQ(t.hour, 14);
    EXPECT_EQ(t.minute, 29);  // 0.604 of a day is 14:29:45.6
    EXPECT_EQ(decodeDayNumber(encodeDayNumber({2024, 2, 29})).day, 29);
    EXPECT_DOUBLE_EQ(dayPart(37000.99), 37000);
    EXPECT_DOUBLE_EQ(dayPart(37000.0), 37000);
}

TEST(DateTime, TextRoundTripsUnderSeveralLocales) {
    FormatSettings us;
    us.shortDateFormat = "m/d/yyyy";
    us.shortTimeFormat = "h:nn AMPM";
    FormatSettings de;
    de.shortDateFormat = "dd/mm/yyyy";
    de.dateSeparator = '.';
    FormatSettings iso;
    iso.shortDateFormat = "yyyy/mm/dd";
    iso.dateSeparator = '-';
    const double v = encodeDayNumber({2001, 3, 5, 14, 7});
    EXPECT_EQ(dateTimeText(v, us), "3/5/2001 2:07 PM");
    EXPECT_EQ(dateTimeText(v, de), "05.03.2001 14:07");
    EXPECT_EQ(dateTimeText(v, iso), "2001-03-05 14:07");
    for (const FormatSettings* fs : {&us, &de, &iso}) {
        const auto back = parseDateTime(dateTimeText(v, *fs), *fs, 2026);
        ASSERT_TRUE(back.has_value());
        EXPECT_NEAR(*back, v, 1e-9);
    }
    EXPECT_FALSE(parseDateTime("31.02.2001 10:00", de, 2026));
    EXPECT_FALSE(parseDateTime("hello", de, 2026));
    EXPECT_FALSE(parseDateTime("05.03.2001 25:00", de, 2026));
    EXPECT_FALSE(parseDateTime("", de, 2026));
    EXPECT_TRUE(parseDateTime("05.03.2001", de, 2026));
    EXPECT_TRUE(parseDateTime("5.3.01 9:05:30", de, 2026));
}

TEST(DateTime, DayNumbersBeforeYearOneDecodeToRealDatesAndAreRefused) {
    // "Last1: -776503" in a file once ran the month past December (found by fuzzing).
    for (const double v : {-693594.0, -776503.0, -1000000.5, -2999999.0}) {
        SCOPED_TRACE(v);
        const CivilDateTime t = decodeDayNumber(v);
        EXPECT_LT(t.year, 1);
        EXPECT_TRUE(t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31);
        EXPECT_FALSE(isCalendarDayNumber(v));
    }
    EXPECT_EQ(decodeDayNumber(-693593).year, 1);  // 1 January of year 1
    EXPECT_EQ(decodeDayNumber(-693594).year, 0);  // the day before: 31 December of year 0
    EXPECT_EQ(decodeDayNumber(-693594).month, 12);
    EXPECT_EQ(decodeDayNumber(-693594).day, 31);
    EXPECT_TRUE(isCalendarDayNumber(-693593));
}

TEST(DateTime, StartupRulesAndTwoDigitYears) {
    FormatSettings fs;
    fs.shortDateFormat = "dd-MMM-yy";
    fs.applyStartupRules();
    EXPECT_EQ(fs.shortDateFormat, "dd-mm-yy");
    EXPECT_EQ(fs.twoDigitYearCenturyWindow, 50);
    FormatSettings other;
    other.shortDateFormat = "dd/mm/yyyy";
    other.applyStartupRules();
    EXPECT_EQ(other.shortDateFormat, "dd/mm/yyyy");
    other.shortDateFormat = "dd/mm/yy";
    EXPECT_EQ(decodeDayNumber(*parseDateTime("01/01/76", other, 2026)).year, 1976);
    EXPECT_EQ(decodeDayNumber(*parseDateTime("01/01/75", other, 2026)).year, 2075);
}

// Found by fuzzing: a whole part too large for an integer was undefined behaviour.
TEST(Numbers, DayNumberPatternOfHugeNumbersKeepsTheirDigits) {
    EXPECT_EQ(formatDayNumber(10000000000000.25, '.'), "10000000000000.25");
    EXPECT_EQ(formatDayNumber(-10000000000000.25, ','), "-10000000000000,25");
    EXPECT_EQ(formatDayNumber(1e16, '.'), "10000000000000000");
    for (const double v : {1.5e100, -1e300, 1.7e308})
        EXPECT_DOUBLE_EQ(toFloat(formatDayNumber(v, '.'), '.'), v);
}
