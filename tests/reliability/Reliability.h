// Shared by the crash, full-disk and failing-I/O tests.
#pragma once

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

namespace quorvel::test {

// Why no file system can be mounted here; empty when one can.
extern std::string mountUnavailable;

// A save_worker run to its end: its exit and every line it printed.
struct WorkerRun {
    int exitCode = -1;
    std::vector<std::string> lines;
    bool printed(const std::string& line) const;
    // The "box ..." lines.
    std::vector<std::string> boxes() const;
};

// Runs the worker with `args`; `env` entries ("NAME=value") are added to the
// environment, `preload` puts the I/O fault library in front.
WorkerRun runWorker(const QStringList& args, const QStringList& env = {}, bool preload = false);

QStringList filesIn(const QString& folder);  // hidden ones too, sorted
std::string readBytes(const QString& path);  // empty when missing
void writeBytes(const QString& path, const std::string& bytes);

// A data file of `count` Items with names "Item k".
std::string dataFileOf(int count, const std::string& comment = "a comment");

}  // namespace quorvel::test
