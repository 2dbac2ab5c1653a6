// The one way the program reads and writes whole files.  Writes go to a temporary file
// beside the target that replaces it only when every byte is on the disk, so a failed
// or interrupted save leaves the previous file whole.
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

// A file written in pieces that takes the target's place only at commit().  Every call
// raises InOutError on failure; a writer destroyed without commit() removes its
// temporary file and leaves the target as it was.
class AtomicFile {
public:
    explicit AtomicFile(const QString& target);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    void write(const char* data, std::size_t size);
    // Syncs the file, checks that the sync and the close succeeded, renames it over the
    // target and syncs the folder.  A failed sync means the bytes may never reach the disk.
    void commit();
    void discard();
    const QString& tempPath() const { return temp_; }

private:
    QString target_;
    QString temp_;
    int fd_ = -1;
};

// Removes the temporary files an interrupted save left in `folder` (the program is
// the folder's only writer while it runs); returns how many were removed.
int removeStaleSaveFiles(const QString& folder);
// Whether `fileName` is such a temporary file.
bool isSaveTempName(const QString& fileName);

}  // namespace quorvel
