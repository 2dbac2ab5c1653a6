#include "platform/SystemFormats.h"

#include <langinfo.h>

#include <clocale>

namespace quorvel {

std::string datePatternFromStrftime(const std::string& fmt, char* separator) {
    std::string out;
    for (std::size_t i = 0; i < fmt.size(); ++i) {
        if (fmt[i] != '%' || i + 1 >= fmt.size()) {
            const char c = fmt[i];
            if (c == '.' || c == '-' || c == '/' || c == ' ') {
                if (separator && !out.empty() && *separator == 0) *separator = c;
                out += '/';
            } else {
                out += c;
            }
            continue;
        }
        char c = fmt[++i];
        if (c == 'E' || c == 'O') c = i + 1 < fmt.size() ? fmt[++i] : c;
        switch (c) {
            case 'd': out += "dd"; break;
            case 'e': out += "d"; break;
            case 'm': out += "mm"; break;
            case 'b':
            case 'h': out += "mmm"; break;
            case 'B': out += "mmmm"; break;
            case 'y': out += "yy"; break;
            case 'Y': out += "yyyy"; break;
            case 'D': out += "mm/dd/yy"; if (separator && !*separator) *separator = '/'; break;
            case 'F': out += "yyyy/mm/dd"; if (separator && !*separator) *separator = '-'; break;
            default: break;
        }
    }
    // A trailing separator (as in "%Y. %m. %d.") would never parse back.
    while (!out.empty() && (out.back() == '/' || out.back() == ' ')) out.pop_back();
    return out;
}

std::string timePatternFromStrftime(const std::string& fmt, char* separator) {
    // Short time: hours and minutes only, with the locale's clock and separator.
    bool twelve = fmt.find("%I") != std::string::npos || fmt.find("%l") != std::string::npos ||
                  fmt.find("%r") != std::string::npos;
    char sep = ':';
    for (std::size_t i = 0; i + 1 < fmt.size(); ++i)
        if (fmt[i] == '%' && (fmt[i + 1] == 'H' || fmt[i + 1] == 'I') && i + 2 < fmt.size() &&
            fmt[i + 2] != '%') {
            sep = fmt[i + 2];
            break;
        }
    if (separator) *separator = sep;
    return twelve ? "h:nn AMPM" : "hh:nn";
}

FormatSettings systemFormatSettings() {
    FormatSettings fs;
    std::setlocale(LC_ALL, "");
    char dateSep = 0;
    const std::string df = nl_langinfo(D_FMT);
    std::string pattern = datePatternFromStrftime(df, &dateSep);
    if (!pattern.empty()) {
        fs.shortDateFormat = pattern;
        fs.dateSeparator = dateSep ? dateSep : '/';
    }
    const std::string tf = nl_langinfo(T_FMT);
    fs.shortTimeFormat = timePatternFromStrftime(tf, &fs.timeSeparator);
    const std::string am = nl_langinfo(AM_STR), pm = nl_langinfo(PM_STR);
    if (!am.empty()) fs.timeAMString = am;
    if (!pm.empty()) fs.timePMString = pm;
    const std::string radix = nl_langinfo(RADIXCHAR);
    fs.decimalSeparator = radix.size() == 1 ? radix[0] : '.';
    for (int m = 0; m < 12; ++m) {
        fs.shortMonthNames[m] = nl_langinfo(static_cast<nl_item>(ABMON_1 + m));
        fs.longMonthNames[m] = nl_langinfo(static_cast<nl_item>(MON_1 + m));
    }
    // Qt's own number formatting must not follow the locale behind our back.
    std::setlocale(LC_NUMERIC, "C");
    return fs;
}

}  // namespace quorvel
