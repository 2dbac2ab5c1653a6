// The date-time parser and the number readers under several locales' settings.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "model/DateTime.h"
#include "model/Errors.h"
#include "model/Numbers.h"

using namespace quorvel;

namespace {

constexpr int kYear = 2026;

FormatSettings settings(const char* date, char dateSep, const char* time, char decimal) {
    FormatSettings fs;
    fs.shortDateFormat = date;
    fs.dateSeparator = dateSep;
    fs.shortTimeFormat = time;
    fs.decimalSeparator = decimal;
    fs.twoDigitYearCenturyWindow = 50;
    return fs;
}

const std::vector<FormatSettings>& allSettings() {
    static const std::vector<FormatSettings> all = {
        settings("dd/mm/yyyy", '/', "hh:nn", '.'),
        settings("dd/mm/yyyy", '.', "hh:nn:ss", ','),
        settings("d/m/yyyy", '-', "h:nn", ','),
        settings("m/d/yyyy", '/', "h:nn AMPM", '.'),
        settings("yyyy/mm/dd", '-', "hh:nn:ss", '.'),
    };
    return all;
}

void checkDateTime(const std::string& text, const FormatSettings& fs) {
    const auto v = parseDateTime(text, fs, kYear);
    bool threw = false;
    try {
        (void)toDateTime(text, fs, kYear);
    } catch (const ConvertError&) {
        threw = true;
    }
    FUZZ_CHECK(threw == !v.has_value());
    if (!v) return;
    const int year = decodeDayNumber(*v).year;
    FUZZ_CHECK(year >= 1 && year <= 9999);
    // Its own text reads back, to the precision that text shows.
    const std::string shown = dateTimeText(*v, fs);
    const auto back = parseDateTime(shown, fs, kYear);
    if (!back) fuzzcheck::fail("date-time text reads back", __FILE__, __LINE__, shown);
    const bool seconds = fs.shortTimeFormat.find('s') != std::string::npos;
    const double precision = (seconds ? 1.0 / 86400 : 1.0 / 1440) + 1e-9;
    if (!(std::fabs(*back - *v) < precision))
        fuzzcheck::fail("date-time text keeps its value", __FILE__, __LINE__,
                        "'" + text + "' shown as '" + shown + "'");
    // The stored day number too, to 1/1000 of a day.
    const std::string stored = formatDayNumber(*v, fs.decimalSeparator);
    FUZZ_CHECK(std::fabs(toFloat(stored, fs.decimalSeparator) - *v) <= 0.0005 + 1e-9);
}

void checkNumbers(const std::string& text, char decimal) {
    (void)leadingNumber(text);
    const IntegerRead r = readInteger(text);
    bool threw = false;
    try {
        FUZZ_CHECK(toInteger(text) == r.value);
    } catch (const ConvertError&) {
        threw = true;
    }
    FUZZ_CHECK(threw == !r.ok);
    if (r.ok) {
        const std::string again = std::to_string(r.value);
        FUZZ_CHECK(readInteger(again).ok && readInteger(again).value == r.value);
        FUZZ_CHECK(leadingNumber(again) == r.value || r.value == INT32_MIN);
    }
    double v = 0;
    try {
        v = toFloat(text, decimal);
    } catch (const ConvertError&) {
        return;
    }
    FUZZ_CHECK(std::isfinite(v));
    const std::string pattern = formatDayNumber(v, decimal);
    double back = 0;
    try {
        back = toFloat(pattern, decimal);
    } catch (const ConvertError&) {
        fuzzcheck::fail("a formatted number reads back", __FILE__, __LINE__, pattern);
    }
    FUZZ_CHECK(std::fabs(back - v) <= 0.0005 + std::fabs(v) * 1e-15);
    if (std::fabs(v) < 3.0e6) {
        const CivilDateTime t = decodeDayNumber(v);
        FUZZ_CHECK(t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31);
        FUZZ_CHECK(t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const FormatSettings& fs : allSettings()) checkDateTime(text, fs);
    checkNumbers(text, '.');
    checkNumbers(text, ',');
    return 0;
}
