#include "chatstore/localdblock.h"

#include "base/apperror.h"

#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr int kDefaultWaitMs = 20000;

int defaultWait()
{
    bool ok = false;
    const int fromEnv = qEnvironmentVariableIntValue("QUILLOMETRY_LOCK_WAIT_MS", &ok);
    return ok && fromEnv >= 0 ? fromEnv : kDefaultWaitMs;
}

int openLockFile(const QString& baseFolder, const QString& name)
{
    if (!QDir().mkpath(baseFolder))
        throw AppError(QStringLiteral("Cannot create the folder %1.").arg(QDir::toNativeSeparators(baseFolder)));
    const QString path = QDir(baseFolder).filePath(QLatin1Char('.') + name.toLower() + QStringLiteral(".lock"));
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        throw AppError(QStringLiteral("Cannot open the lock file %1 (%2).")
                           .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(errno))));
    return fd;
}

}  // namespace

LocalDbLock::~LocalDbLock()
{
    if (m_fd >= 0)
        ::close(m_fd);  // closing the last descriptor releases the flock
}

QString LocalDbLock::inUseText(const QString& name)
{
    return QStringLiteral("The local database %1 is in use by another job.").arg(name);
}

std::shared_ptr<LocalDbLock> LocalDbLock::acquire(const QString& baseFolder, const QString& name, int waitMs)
{
    const int fd = openLockFile(baseFolder, name);
    const int wait = waitMs < 0 ? defaultWait() : waitMs;
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return std::shared_ptr<LocalDbLock>(new LocalDbLock(fd));
        if (errno != EWOULDBLOCK && errno != EINTR) {
            const QString reason = QString::fromLocal8Bit(std::strerror(errno));
            ::close(fd);
            throw AppError(QStringLiteral("Cannot lock the local database %1 (%2).").arg(name, reason));
        }
        if (timer.elapsed() >= wait)
            break;
        QThread::msleep(50);
    }
    ::close(fd);
    throw AppError(inUseText(name));
}

std::shared_ptr<LocalDbLock> LocalDbLock::tryAcquire(const QString& baseFolder, const QString& name)
{
    try {
        return acquire(baseFolder, name, 0);
    } catch (const AppError&) {
        return nullptr;
    }
}
