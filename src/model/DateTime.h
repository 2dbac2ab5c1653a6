// Date-time text ("ddddd" + blank + "t") and day numbers (days since 30 Dec 1899).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// The locale's formats, read once at start-up and then owned by the program.  Patterns use
// d, dd, m, mm, mmm, mmmm, yy, yyyy for dates and h, hh, n, nn, s, ss, ampm for times;
// "/" and ":" stand for the separators below.
struct FormatSettings {
    std::string shortDateFormat = "dd/mm/yyyy";
    char dateSeparator = '/';
    std::string shortTimeFormat = "hh:nn";
    char timeSeparator = ':';
    std::string timeAMString = "AM";
    std::string timePMString = "PM";
    char decimalSeparator = '.';  // program-wide; the file readers may switch it
    int twoDigitYearCenturyWindow = 0;
    std::array<std::string, 12> shortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> longMonthNames{"January", "February", "March",     "April",
                                               "May",     "June",     "July",      "August",
                                               "September", "October", "November", "December"};

    // Start-up rules: a "dd-MMM-yy" short date becomes "dd-mm-yy"; the year window is 50.
    void applyStartupRules();
    // The file readers' switch: "." becomes ",", anything else becomes ".".
    void switchDecimalSeparator() { decimalSeparator = decimalSeparator == '.' ? ',' : '.'; }
};

struct CivilDateTime {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, msec = 0;
};

double encodeDayNumber(const CivilDateTime& t);
CivilDateTime decodeDayNumber(double dayNumber);
bool isValidDate(int year, int month, int day);
// Whether a day number falls in the years 1 to 9999, the only ones whose date-time text
// reads back; false for anything not finite.
bool isCalendarDayNumber(double dayNumber);
// The floor of a day number, as the due rule takes it.
double dayPart(double dayNumber);

// Formats with a date or time pattern of the kinds above.
std::string formatDateTime(std::string_view pattern, double dayNumber, const FormatSettings& fs);
// Date-time text: short date, one blank, short time.
std::string dateTimeText(double dayNumber, const FormatSettings& fs);

// Parses a date in the short date format's order (day/month/year numbers separated by the
// date separator, the year optional) optionally followed by blanks and a time of day
// (hours, minutes, optional seconds, optional AM/PM), or a time alone.  `currentYear` is
// used for a missing year and for the two-digit-year window.
std::optional<double> parseDateTime(std::string_view text, const FormatSettings& fs,
                                    int currentYear);
// parseDateTime that raises ConvertError("'text' is not a valid date and time").
double toDateTime(std::string_view text, const FormatSettings& fs, int currentYear);

}  // namespace quorvel
