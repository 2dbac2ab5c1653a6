#include "model/DateTime.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "model/Errors.h"
#include "model/Text.h"

namespace quorvel {

namespace {

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

// Rounds towards minus infinity, so that years before year 1 count leap days too.
long long floorDiv(long long a, long long b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

// Days from 1 Jan of year 1 to the given date (proleptic Gregorian), 0 for 1 Jan 1.
// Years before 1 are reached by day numbers a file may hold; they must stay ordered.
long long ordinal(int y, int m, int d) {
    const long long yy = y - 1;
    long long n = yy * 365 + floorDiv(yy, 4) - floorDiv(yy, 100) + floorDiv(yy, 400);
    for (int k = 1; k < m; ++k) n += daysInMonth(y, k);
    return n + d - 1;
}

const long long kEpoch = ordinal(1899, 12, 30);

// Hand-made: formatting runs once per Item on every load and save.
std::string twoDigits(int v) {
    v %= 100;
    return {static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10)};
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

}  // namespace

void FormatSettings::applyStartupRules() {
    // Month names do not read back as dates, so the one common such format gets numbers.
    if (shortDateFormat == "dd-MMM-yy") shortDateFormat = "dd-mm-yy";
    if (shortDateFormat == "dd/mmm/yy" && dateSeparator == '-') shortDateFormat = "dd/mm/yy";
    twoDigitYearCenturyWindow = 50;
}

bool isValidDate(int year, int month, int day) {
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           day <= daysInMonth(year, month);
}

double encodeDayNumber(const CivilDateTime& t) {
    const double days = static_cast<double>(ordinal(t.year, t.month, t.day) - kEpoch);
    const double time = (t.hour * 3600000.0 + t.minute * 60000.0 + t.second * 1000.0 + t.msec) /
                        86400000.0;
    // Before the epoch the fraction still counts forward within the day, as stored files expect.
    return days >= 0 ? days + time : days - time;
}

CivilDateTime decodeDayNumber(double dayNumber) {
    // Work in whole milliseconds so that 0.5 is exactly noon.
    const long long ms = std::llround(std::fabs(dayNumber) * 86400000.0);
    long long days = ms / 86400000LL;
    long long msOfDay = ms % 86400000LL;
    if (dayNumber < 0) days = -days;
    long long n = days + kEpoch;  // ordinal of the date
    CivilDateTime t;
    // Find the year by estimate and correction.
    int y = static_cast<int>(floorDiv(n, 366)) + 1;
    while (ordinal(y + 1, 1, 1) <= n) ++y;
    while (ordinal(y, 1, 1) > n) --y;
    int m = 1;
    long long rest = n - ordinal(y, 1, 1);
    while (rest >= daysInMonth(y, m)) rest -= daysInMonth(y, m++);
    t.year = y;
    t.month = m;
    t.day = static_cast<int>(rest) + 1;
    t.hour = static_cast<int>(msOfDay / 3600000);
    t.minute = static_cast<int>(msOfDay / 60000 % 60);
    t.second = static_cast<int>(msOfDay / 1000 % 60);
    t.msec = static_cast<int>(msOfDay % 1000);
    return t;
}

bool isCalendarDayNumber(double dayNumber) {
    // Far outside, the day number would not even convert to whole milliseconds.
    if (!(std::fabs(dayNumber) < 3.0e6)) return false;
    const int year = decodeDayNumber(dayNumber).year;
    return year >= 1 && year <= 9999;
}

double dayPart(double dayNumber) {
    double d = std::round(dayNumber);
    if (d > dayNumber) d -= 1;
    return d;
}

std::string formatDateTime(std::string_view pattern, double dayNumber, const FormatSettings& fs) {
    const CivilDateTime t = decodeDayNumber(dayNumber);
    // Whether an am/pm marker appears decides between 12- and 24-hour clocks.
    const std::string lowerPattern = [&] {
        std::string s(pattern);
        for (char& c : s) c = lower(c);
        return s;
    }();
    const bool twelveHour = lowerPattern.find("ampm") != std::string::npos ||
                            lowerPattern.find("am/pm") != std::string::npos;
    std::string out;
    std::size_t i = 0;
    auto run = [&](char c) {
        std::size_t n = 0;
        while (i + n < pattern.size() && lower(pattern[i + n]) == c) ++n;
        return n;
    };
    while (i < pattern.size()) {
        const char c = lower(pattern[i]);
        if (pattern[i] == '"' || pattern[i] == '\'') {
            const char q = pattern[i++];
            while (i < pattern.size() && pattern[i] != q) out += pattern[i++];
            if (i < pattern.size()) ++i;
        } else if (lowerPattern.compare(i, 4, "ampm") == 0) {
            out += t.hour < 12 ? fs.timeAMString : fs.timePMString;
            i += 4;
        } else if (lowerPattern.compare(i, 5, "am/pm") == 0) {
            out += t.hour < 12 ? "am" : "pm";
            i += 5;
        } else if (c == 'd') {
            const std::size_t n = run('d');
            out += n >= 2 ? twoDigits(t.day) : std::to_string(t.day);
            i += n;
        } else if (c == 'm') {
            const std::size_t n = run('m');
            if (n >= 4)
                out += fs.longMonthNames[t.month - 1];
            else if (n == 3)
                out += fs.shortMonthNames[t.month - 1];
            else
                out += n == 2 ? twoDigits(t.month) : std::to_string(t.month);
            i += n;
        } else if (c == 'y') {
            const std::size_t n = run('y');
            if (n <= 2) {
                out += twoDigits(t.year % 100);
            } else {
                out += twoDigits(t.year / 100);
                out += twoDigits(t.year);
            }
            i += n;
        } else if (c == 'h') {
            const std::size_t n = run('h');
            int h = t.hour;
            if (twelveHour) {
                h %= 12;
                if (h == 0) h = 12;
            }
            out += n >= 2 ? twoDigits(h) : std::to_string(h);
            i += n;
        } else if (c == 'n') {
            const std::size_t n = run('n');
            out += n >= 2 ? twoDigits(t.minute) : std::to_string(t.minute);
            i += n;
        } else if (c == 's') {
            const std::size_t n = run('s');
            out += n >= 2 ? twoDigits(t.second) : std::to_string(t.second);
            i += n;
        } else if (pattern[i] == '/') {
            out += fs.dateSeparator;
            ++i;
        } else if (pattern[i] == ':') {
            out += fs.timeSeparator;
            ++i;
        } else {
            out += pattern[i++];
        }
    }
    return out;
}

std::string dateTimeText(double dayNumber, const FormatSettings& fs) {
    return formatDateTime(fs.shortDateFormat, dayNumber, fs) + " " +
           formatDateTime(fs.shortTimeFormat, dayNumber, fs);
}

namespace {

enum class Order { DMY, MDY, YMD };

Order dateOrder(const std::string& fmt) {
    for (char c : fmt) {
        const char l = lower(c);
        if (l == 'd') return Order::DMY;
        if (l == 'm') return Order::MDY;
        if (l == 'y') return Order::YMD;
    }
    return Order::MDY;
}

struct Scanner {
    std::string_view s;
    std::size_t i = 0;
    void blanks() {
        while (i < s.size() && s[i] == ' ') ++i;
    }
    bool number(int& v, int& digits) {
        blanks();
        digits = 0;
        long long n = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9' && digits < 9) {
            n = n * 10 + (s[i++] - '0');
            ++digits;
        }
        v = static_cast<int>(n);
        return digits > 0;
    }
    bool ch(char c) {
        blanks();
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
    bool word(const std::string& w) {
        blanks();
        if (w.empty() || i + w.size() > s.size()) return false;
        if (!equalsIgnoreAsciiCase(s.substr(i, w.size()), w)) return false;
        i += w.size();
        return true;
    }
    bool atEnd() {
        blanks();
        return i == s.size();
    }
};

int windowYear(int y, int digits, const FormatSettings& fs, int currentYear) {
    if (digits > 2) return y;
    if (fs.twoDigitYearCenturyWindow > 0) {
        const int pivot = currentYear - fs.twoDigitYearCenturyWindow;
        int year = pivot / 100 * 100 + y;
        if (year < pivot) year += 100;
        return year;
    }
    return currentYear / 100 * 100 + y;
}

bool scanDate(Scanner& sc, const FormatSettings& fs, int currentYear, double& out) {
    int n[3] = {0, 0, 0}, d[3] = {0, 0, 0};
    if (!sc.number(n[0], d[0])) return false;
    if (!sc.ch(fs.dateSeparator)) return false;
    if (!sc.number(n[1], d[1])) return false;
    int count = 2;
    const std::size_t save = sc.i;
    if (sc.ch(fs.dateSeparator)) {
        if (sc.number(n[2], d[2]))
            count = 3;
        else
            sc.i = save;
    }
    int y, m, day, yd;
    const Order order = dateOrder(fs.shortDateFormat);
    if (count == 2) {
        y = currentYear;
        yd = 4;
        if (order == Order::MDY) {
            m = n[0];
            day = n[1];
        } else if (order == Order::DMY) {
            day = n[0];
            m = n[1];
        } else {
            m = n[0];
            day = n[1];
        }
    } else if (order == Order::DMY) {
        day = n[0], m = n[1], y = n[2], yd = d[2];
    } else if (order == Order::MDY) {
        m = n[0], day = n[1], y = n[2], yd = d[2];
    } else {
        y = n[0], yd = d[0], m = n[1], day = n[2];
    }
    y = windowYear(y, yd, fs, currentYear);
    if (!isValidDate(y, m, day)) return false;
    out = encodeDayNumber({y, m, day, 0, 0, 0, 0});
    return true;
}

bool scanTime(Scanner& sc, const FormatSettings& fs, double& out) {
    int h = 0, mi = 0, se = 0, digits = 0;
    if (!sc.number(h, digits)) return false;
    if (!sc.ch(fs.timeSeparator)) {
        // A bare hour is allowed only with an AM/PM marker.
        const std::size_t save = sc.i;
        if (!(sc.word(fs.timeAMString) || sc.word(fs.timePMString) || sc.word("AM") ||
              sc.word("PM")))
            return false;
        sc.i = save;
    } else {
        if (!sc.number(mi, digits)) return false;
        if (sc.ch(fs.timeSeparator) && !sc.number(se, digits)) return false;
    }
    int ampm = 0;
    if (sc.word(fs.timeAMString) || sc.word("AM"))
        ampm = 1;
    else if (sc.word(fs.timePMString) || sc.word("PM"))
        ampm = 2;
    if (ampm) {
        if (h < 1 || h > 12) return false;
        if (h == 12) h = 0;
        if (ampm == 2) h += 12;
    }
    if (h > 23 || mi > 59 || se > 59) return false;
    out = (h * 3600.0 + mi * 60.0 + se) / 86400.0;
    return true;
}

}  // namespace

std::optional<double> parseDateTime(std::string_view text, const FormatSettings& fs,
                                    int currentYear) {
    Scanner sc{text};
    double date = 0, time = 0;
    const std::size_t start = sc.i;
    if (scanDate(sc, fs, currentYear, date)) {
        if (sc.atEnd()) return date;
        if (!scanTime(sc, fs, time) || !sc.atEnd()) return std::nullopt;
        return date >= 0 ? date + time : date - time;
    }
    sc.i = start;
    if (scanTime(sc, fs, time) && sc.atEnd()) return time;
    return std::nullopt;
}

double toDateTime(std::string_view text, const FormatSettings& fs, int currentYear) {
    const auto v = parseDateTime(text, fs, currentYear);
    if (!v) throw ConvertError::notDateTime(std::string(text));
    return *v;
}

}  // namespace quorvel
