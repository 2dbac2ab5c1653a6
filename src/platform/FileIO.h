// The one way the program reads and writes whole files.  Writes go to a temporary file
// that replaces the target only when everything was written, so a failed or interrupted
// save leaves the previous file whole.
#pragma once

#include <QString>
#include <string>

namespace quorvel {

// Raises InOutError (2 when the file is missing).
std::string readWholeFile(const QString& path);
// Raises InOutError with the system's error number.
void writeWholeFile(const QString& path, const std::string& bytes);
// Copies, replacing the target; false on failure.
bool copyFileReplacing(const QString& from, const QString& to);
bool fileExists(const QString& path);

}  // namespace quorvel
