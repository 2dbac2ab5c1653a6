// One copy per user: a lock on a file in the user's runtime folder, which the system
// releases when the process ends, however it ends.
#pragma once

#include <QString>

namespace quorvel {

class SingleInstance {
public:
    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    enum class Result { Acquired, AlreadyRunning, Unavailable };
    Result acquire();
    // Lets another copy start before this process has quite ended.
    void release();
    static QString lockPath();

private:
    int fd_ = -1;
};

}  // namespace quorvel
