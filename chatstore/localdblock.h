// The exclusive claim of one job on one local database: an flock on a lock
// file beside the database's folder (".<name in lower case>.lock" in
// local_databases), held from before the database is found or made until the
// job has ended. A second job on the same name (in any spelling of case)
// waits a bounded time, then gives up with the "in use" text. The lock file
// is never removed, so every process always locks the same file.
#pragma once

#include <QString>

#include <memory>

class LocalDbLock {
public:
    ~LocalDbLock();
    LocalDbLock(const LocalDbLock&) = delete;
    LocalDbLock& operator=(const LocalDbLock&) = delete;

    // Takes the lock of `name` in `baseFolder` (made when missing), waiting
    // up to waitMs milliseconds (-1: the default wait, 20 seconds, or the
    // milliseconds in QUILLOMETRY_LOCK_WAIT_MS). Throws AppError with
    // inUseText(name) when another job keeps it, or when the lock file
    // cannot be opened (a link in its place is refused).
    static std::shared_ptr<LocalDbLock> acquire(const QString& baseFolder, const QString& name, int waitMs = -1);

    // The same without waiting: null when another job holds it.
    static std::shared_ptr<LocalDbLock> tryAcquire(const QString& baseFolder, const QString& name);

    static QString inUseText(const QString& name);

private:
    explicit LocalDbLock(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

using PLocalDbLock = std::shared_ptr<LocalDbLock>;
