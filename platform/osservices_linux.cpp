#include "platform/osservices.h"

#ifndef Q_OS_WIN

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>

#include <csignal>
#include <QUrl>

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace platform {

QString appDataRoot()
{
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    // The XDG rules ignore a relative value.
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return QDir::cleanPath(xdg);
    return QDir::homePath() + QStringLiteral("/.local/share");
}

namespace {

QString exeNameOf(const QByteArray& pidText)
{
    char buffer[4096];
    const QByteArray exe = "/proc/" + pidText + "/exe";
    const ssize_t n = ::readlink(exe.constData(), buffer, sizeof buffer - 1);
    if (n > 0) {
        QString target = QString::fromLocal8Bit(buffer, int(n));
        if (target.endsWith(QLatin1String(" (deleted)")))
            target.chop(10);
        return target.mid(target.lastIndexOf(QLatin1Char('/')) + 1);
    }
    // Processes of other users hide their executable; their command name
    // (at most 15 bytes) is all there is.
    QFile comm(QString::fromLatin1("/proc/" + pidText + "/comm"));
    if (comm.open(QIODevice::ReadOnly))
        return QString::fromLocal8Bit(comm.readAll()).trimmed();
    return {};
}

}  // namespace

QList<ProcessEntry> listProcesses(bool* ok)
{
    QList<ProcessEntry> list;
    DIR* dir = ::opendir("/proc");
    if (ok)
        *ok = dir != nullptr;
    if (!dir)
        return list;
    while (dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        bool numeric = false;
        const qint64 pid = name.toLongLong(&numeric);
        if (!numeric || pid <= 0)
            continue;
        const QString exe = exeNameOf(name);
        if (!exe.isEmpty())
            list.append({pid, exe});
    }
    ::closedir(dir);
    return list;
}

bool killProcess(qint64 pid)
{
    if (pid <= 0)
        return false;
    return ::kill(pid_t(pid), SIGKILL) == 0;
}

bool processExists(qint64 pid)
{
    if (pid <= 0)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

namespace {

QString asUrlText(const QString& target)
{
    const QUrl url(target, QUrl::StrictMode);
    if (url.isValid() && url.scheme().size() > 1)
        return url.toString(QUrl::FullyEncoded);
    // A path: always absolute and as a file URL, so nothing is taken for an
    // option of the opener.
    return QUrl::fromLocalFile(QFileInfo(target).absoluteFilePath()).toString(QUrl::FullyEncoded);
}

}  // namespace

bool openInFileManager(const QString& path)
{
    return QProcess::startDetached(QStringLiteral("xdg-open"), {asUrlText(path)});
}

bool openWithDesktop(const QString& target)
{
    return QProcess::startDetached(QStringLiteral("xdg-open"), {asUrlText(target)});
}

void ignoreBrokenPipe()
{
    ::signal(SIGPIPE, SIG_IGN);
}

void keepAwake()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    const QString who = QStringLiteral("Quillometry Chat Transfer");
    const QString why = QStringLiteral("Moving chat histories to and from a phone");

    // logind: the lock holds while the returned descriptor stays open, so
    // it is kept for the life of the process.
    QDBusConnection system = QDBusConnection::systemBus();
    if (system.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
        call << QStringLiteral("sleep:idle") << who << why << QStringLiteral("block");
        const QDBusMessage reply = system.call(call, QDBus::Block, 2000);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            static QDBusUnixFileDescriptor held;
            held = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().constFirst());
        }
    }
    // The desktop's screen saver: the inhibition lasts while this
    // connection to the session bus stays open.
    QDBusConnection session = QDBusConnection::sessionBus();
    if (session.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
            QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("Inhibit"));
        call << who << why;
        session.call(call, QDBus::Block, 2000);
    }
}

namespace {

// True when `path` is a real folder (not a link) of ours that nobody else
// may enter; a folder of ours with looser rights is tightened.
bool isPrivateFolder(const QByteArray& path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return false;
    if ((st.st_mode & 077) != 0 && ::chmod(path.constData(), 0700) != 0)
        return false;
    return true;
}

}  // namespace

QString privateTempFolder()
{
    static QMutex mutex;
    static QString fallback;
    QMutexLocker lock(&mutex);

    QString base = qEnvironmentVariable("TMPDIR");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QStringLiteral("/tmp");
    const QString path = QDir::cleanPath(base) + QStringLiteral("/quillometry-%1").arg(::getuid());
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) == 0 || errno == EEXIST) {
        if (isPrivateFolder(native))
            return path;
    }
    // The usual name is taken by someone else (or is a link): use a fresh
    // folder of unpredictable name instead, the same one for the rest of
    // the run.
    if (!fallback.isEmpty() && isPrivateFolder(QFile::encodeName(fallback)))
        return fallback;
    QByteArray pattern = QFile::encodeName(path) + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        return {};
    fallback = QFile::decodeName(pattern);
    return fallback;
}

bool createPrivateFolder(const QString& path)
{
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (QFileInfo(clean).isDir())
        return true;
    // Create the missing parents one by one so each new one is private.
    const QStringList parts = clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString current;
    for (const QString& part : parts) {
        current += QLatin1Char('/') + part;
        const QByteArray native = QFile::encodeName(current);
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return QFileInfo(clean).isDir();
}

bool hardLinkFile(const QString& source, const QString& destination)
{
    return ::link(QFile::encodeName(source).constData(), QFile::encodeName(destination).constData()) == 0;
}

bool cloneFileContents(int inFd, int outFd)
{
    if (inFd < 0 || outFd < 0)
        return false;
    if (::ioctl(outFd, FICLONE, inFd) == 0)
        return true;
    struct stat st;
    if (::fstat(inFd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    // Explicit offsets: the descriptors' own positions stay where they were.
    loff_t inOffset = 0;
    loff_t outOffset = 0;
    for (;;) {
        const ssize_t n = ::copy_file_range(inFd, &inOffset, outFd, &outOffset, 1 << 30, 0);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // Not supported here (or failed midway): the caller starts over
            // by copying, which writes every byte from the start again.
            [[maybe_unused]] const int emptied = ::ftruncate(outFd, 0);
            return false;
        }
    }
}

bool ownedByCurrentUser(const QString& path)
{
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    return ::stat(native.constData(), &st) == 0 && st.st_uid == ::getuid();
}

}  // namespace platform

#endif  // !Q_OS_WIN
