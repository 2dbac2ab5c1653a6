// Number reading and writing with the rules the stored files and the edit fields use.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

// Loose field reading of the main data file: leading blanks, an optional sign, then
// decimal digits up to the first other character; no digits gives 0; never fails.
std::int32_t leadingNumber(std::string_view s);

// The integer syntax of the edit fields and of group data files: leading blanks, an
// optional sign, decimal digits or hexadecimal digits after "$" or "0x".  `ok` is false
// on any other character or on overflow; `value` is then what the digits before the
// error gave.
struct IntegerRead {
    bool ok = false;
    std::int32_t value = 0;
};
IntegerRead readInteger(std::string_view s);
// readInteger that raises ConvertError("'s' is not a valid integer value").
std::int32_t toInteger(std::string_view s);

// Floating-point text with the given decimal separator (blanks around it allowed,
// optional sign and exponent); raises ConvertError("'s' is not a valid floating point value").
double toFloat(std::string_view s, char decimalSeparator);

// The "##.###" pattern: whole digits, then the separator and at most three decimals,
// rounded, trailing zeros and a bare separator dropped.
std::string formatDayNumber(double value, char decimalSeparator);

}  // namespace quorvel
