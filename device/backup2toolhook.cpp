#include "device/backup2toolhook.h"

#include "chatstore/plistcftype.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

namespace {

// The system's error number of the failed call just made on `file` (what
// the phone understands: 2 = missing, 17 = exists), else 1.
int failureCode(int savedErrno)
{
    return savedErrno > 0 ? savedErrno : 1;
}

}  // namespace

Backup2ToolHook::~Backup2ToolHook() = default;

void Backup2ToolHook::init(const QString&, const QString&) {}

bool Backup2ToolHook::onMessage(const QString&, const QString&, const PlistCFType&, int&, QString&)
{
    return true;
}

QList<DLFileEntry> Backup2ToolHook::listDir(const QString& root, const QString& path)
{
    QList<DLFileEntry> entries;
    const QDir dir(root + QLatin1Char('/') + path);
    const QFileInfoList infos =
        dir.entryInfoList(QDir::Dirs | QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo& info : infos) {
        DLFileEntry e;
        e.name = info.fileName();
        e.type = info.isDir() && !info.isSymLink() ? 2 : 1;
        e.size = info.isSymLink() ? 0 : static_cast<quint64>(info.size());
        e.modified = info.lastModified();
        entries.append(e);
    }
    return entries;
}

void Backup2ToolHook::beforeReceiveFile(const QString&, const QString&, const QString&, const QString&) {}

int Backup2ToolHook::openReceiveFile(const QString& root, const QString& path, QFile& file, QString& error)
{
    const QString target = root + QLatin1Char('/') + path;
    QDir().mkpath(QFileInfo(target).absolutePath());
    file.setFileName(target);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        const int saved = errno;
        error = file.errorString();
        return failureCode(saved);
    }
    return 0;
}

void Backup2ToolHook::fileReceived(const QString&, const QString&, qint64) {}

int Backup2ToolHook::moveItem(const QString& root, const QString& source, const QString& target, QString& error)
{
    const QString from = root + QLatin1Char('/') + source;
    const QString to = root + QLatin1Char('/') + target;
    const QFileInfo fromInfo(from);
    if (!fromInfo.exists() && !fromInfo.isSymLink())
        return 0;
    removeRecursively(to);
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile file(from);
    errno = 0;
    if (!file.rename(to)) {
        const int saved = errno;
        error = file.errorString();
        return failureCode(saved);
    }
    return 0;
}

int Backup2ToolHook::removeItem(const QString& root, const QString& path, QString&)
{
    removeRecursively(root + QLatin1Char('/') + path);
    return 0;
}

int Backup2ToolHook::copyEntry(const QString& root, const QString& source, const QString& target, QString& error)
{
    return copyRecursively(root + QLatin1Char('/') + source, root + QLatin1Char('/') + target, error);
}

int Backup2ToolHook::makeDirectory(const QString& root, const QString& name, QString&)
{
    QDir().mkpath(root + QLatin1Char('/') + name);
    return 0;
}

QString Backup2ToolHook::resolveInside(const QString& root, const QString& path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('\\'))
        || path.contains(QLatin1Char('\\')) || path.contains(QChar(0)))
        return QString();
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return QString();
    QString current = root;
    for (const QString& part : parts) {
        if (part == QLatin1String(".") || part == QLatin1String(".."))
            return QString();
        current += QLatin1Char('/') + part;
        if (QFileInfo(current).isSymLink())
            return QString();
    }
    return current;
}

void Backup2ToolHook::removeRecursively(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink() || (info.exists() && !info.isDir())) {
        QFile::remove(path);
        return;
    }
    if (!info.isDir())
        return;
    const QFileInfoList entries = QDir(path).entryInfoList(
        QDir::Dirs | QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo& entry : entries)
        removeRecursively(entry.absoluteFilePath());
    QDir().rmdir(path);
}

int Backup2ToolHook::copyRecursively(const QString& source, const QString& target, QString& error)
{
    const QFileInfo from(source);
    const QFileInfo to(target);
    if (from.isSymLink() || !from.exists())
        return 0;
    if (from.isFile()) {
        if (to.isDir() && !to.isSymLink()) {
            error = QStringLiteral("Destination is a folder.");
            return 14;
        }
        if (to.exists() || to.isSymLink())
            QFile::remove(target);
        QDir().mkpath(to.absolutePath());
        QFile file(source);
        errno = 0;
        if (!file.copy(target)) {
            const int saved = errno;
            error = file.errorString();
            return failureCode(saved);
        }
        return 0;
    }
    if ((to.exists() && !to.isDir()) || to.isSymLink()) {
        error = QStringLiteral("Destination is a file.");
        return 14;
    }
    QDir().mkpath(target);
    const QFileInfoList entries = QDir(source).entryInfoList(
        QDir::Dirs | QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo& entry : entries) {
        const int code = copyRecursively(entry.absoluteFilePath(), target + QLatin1Char('/') + entry.fileName(), error);
        if (code != 0)
            return code;
    }
    return 0;
}
