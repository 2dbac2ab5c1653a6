#include "model/Numbers.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "model/Errors.h"

namespace quorvel {

std::int32_t leadingNumber(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    std::int64_t v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        v = v * 10 + (s[i++] - '0');
        if (v > std::numeric_limits<std::int32_t>::max()) v = std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(negative ? -v : v);
}

IntegerRead readInteger(std::string_view s) {
    IntegerRead r;
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    int base = 10;
    if (i < s.size() && s[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    const std::size_t digitsStart = i;
    std::int64_t v = 0;
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    for (; i < s.size(); ++i) {
        int d;
        const char c = s[i];
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            break;
        const std::int64_t next = v * base + d;
        // Hexadecimal may fill all 32 bits, as the platform's reader allows.
        if (next > (base == 16 ? 0xFFFFFFFFLL : limit)) {
            r.value = static_cast<std::int32_t>(negative ? -v : v);
            return r;
        }
        v = next;
    }
    const std::int32_t value =
        base == 16 ? static_cast<std::int32_t>(static_cast<std::uint32_t>(v)) : static_cast<std::int32_t>(v);
    r.value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(value)) : value;
    r.ok = i == s.size() && i > digitsStart;
    return r;
}

std::int32_t toInteger(std::string_view s) {
    const IntegerRead r = readInteger(s);
    if (!r.ok) throw ConvertError::notInteger(std::string(s));
    return r.value;
}

double toFloat(std::string_view s, char decimalSeparator) {
    std::size_t i = 0, n = s.size();
    while (i < n && s[i] == ' ') ++i;
    while (n > i && s[n - 1] == ' ') --n;
    std::string c;
    std::size_t k = i;
    if (k < n && (s[k] == '+' || s[k] == '-')) c += s[k++];
    bool digits = false;
    while (k < n && s[k] >= '0' && s[k] <= '9') {
        c += s[k++];
        digits = true;
    }
    if (k < n && s[k] == decimalSeparator) {
        c += '.';
        ++k;
        while (k < n && s[k] >= '0' && s[k] <= '9') {
            c += s[k++];
            digits = true;
        }
    }
    if (digits && k < n && (s[k] == 'e' || s[k] == 'E')) {
        c += 'e';
        ++k;
        if (k < n && (s[k] == '+' || s[k] == '-')) c += s[k++];
        bool expDigits = false;
        while (k < n && s[k] >= '0' && s[k] <= '9') {
            c += s[k++];
            expDigits = true;
        }
        if (!expDigits) digits = false;
    }
    if (!digits || k != n) throw ConvertError::notFloat(std::string(s));
    const double v = std::strtod(c.c_str(), nullptr);
    if (!std::isfinite(v)) throw ConvertError::notFloat(std::string(s));
    return v;
}

std::string formatDayNumber(double value, char decimalSeparator) {
    // Round to thousandths first so that 0.9996 carries into the whole part.
    const double thousandths = std::round(std::fabs(value) * 1000.0);
    // From 2^53 thousandths on the sums below are no longer exact and the whole part may
    // not fit an integer: the C library writes such digits.
    if (!(thousandths < 9.0e15)) {
        char buf[330];
        std::snprintf(buf, sizeof buf, "%.3f", std::fabs(value));
        std::string digits(buf);
        const std::size_t point = digits.find('.');
        if (point != std::string::npos) {
            while (digits.back() == '0') digits.pop_back();
            if (digits.back() == '.') digits.pop_back();
            else digits[point] = decimalSeparator;
        }
        return value < 0 ? "-" + digits : digits;
    }
    const auto whole = static_cast<long long>(std::floor(thousandths / 1000.0));
    auto frac = static_cast<int>(thousandths - static_cast<double>(whole) * 1000.0);
    std::string out;
    if (value < 0 && thousandths != 0) out += '-';
    out += std::to_string(whole);
    if (frac != 0) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%03d", frac);
        std::string f(buf);
        while (!f.empty() && f.back() == '0') f.pop_back();
        out += decimalSeparator;
        out += f;
    }
    return out;
}

}  // namespace quorvel
