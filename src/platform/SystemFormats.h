// The locale's date, time and number formats, read once at start-up.
#pragma once

#include <string>

#include "model/DateTime.h"

namespace quorvel {

FormatSettings systemFormatSettings();
// Turns strftime-style formats (as nl_langinfo gives them) into the program's patterns.
std::string datePatternFromStrftime(const std::string& fmt, char* separator);
std::string timePatternFromStrftime(const std::string& fmt, char* separator);

}  // namespace quorvel
