#include "device/pretransfercopy.h"

#include "base/apperror.h"
#include "base/fileutil.h"
#include "base/jobmonitor.h"
#include "device/ioscachefolders.h"
#include "device/iosrestorewamessagesthread.h"
#include "itunes/backupfileentry.h"
#include "itunes/backupmanifest.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QtDebug>

#include <algorithm>

namespace {

constexpr char kPartial[] = ".partial";
// Written into a copy once its transfer reached the phone: the largest
// message key of the merged database.
constexpr char kTransferredMarker[] = "transferred";

bool isWhatsAppDomain(const QString& domain)
{
    return domain == IOSRestoreWAMessagesThread::kGroupDomain || domain == IOSRestoreWAMessagesThread::kAppDomain;
}

// The files of a complete copy, read back from its folder tree. Names that
// are not plain (a folder someone put there by hand) are left out.
QList<PreTransferFile> filesOf(const QString& folder)
{
    QList<PreTransferFile> files;
    const QDir root(folder);
    for (const QString& domain : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name)) {
        if (!isWhatsAppDomain(domain))
            continue;
        const QDir domainDir(root.filePath(domain));
        QDirIterator it(domainDir.path(), QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString relative = domainDir.relativeFilePath(path);
            if (isPlainBackupPath(relative) && isPreTransferFileName(QFileInfo(path).fileName()))
                files.append({domain, relative, path});
        }
    }
    std::sort(files.begin(), files.end(), [](const PreTransferFile& a, const PreTransferFile& b) {
        return std::tie(a.domain, a.relativePath) < std::tie(b.domain, b.relativePath);
    });
    return files;
}

PreTransferCopy copyAt(const QString& parent, const QString& id)
{
    bool ok = false;
    const qint64 ms = id.toLongLong(&ok);
    if (!ok || ms <= 0)
        return {};
    PreTransferCopy copy;
    copy.id = id;
    copy.folder = QDir(parent).filePath(id);
    copy.time = QDateTime::fromMSecsSinceEpoch(ms);
    copy.files = filesOf(copy.folder);
    copy.transferred = QFileInfo(QDir(copy.folder).filePath(QLatin1String(kTransferredMarker))).isFile();
    return copy;
}

}  // namespace

QString PreTransferCopy::chatDatabase() const
{
    for (const PreTransferFile& f : files)
        if (QFileInfo(f.relativePath).fileName() == QLatin1String("ChatStorage.sqlite"))
            return f.localPath;
    return {};
}

QString preTransferFolder(const IOSDeviceInfo& device)
{
    return QDir(iosStaticCacheFolder(device)).filePath(QStringLiteral("pre-transfer"));
}

bool isPreTransferFileName(const QString& name)
{
    for (const char* base : {"ChatStorage.sqlite", "ChatSearch.sqlite", "LID.sqlite"})
        for (const char* suffix : {"", "-wal", "-shm"})
            if (name == QLatin1String(base) + QLatin1String(suffix))
                return true;
    return false;
}

PreTransferCopy savePreTransferCopyThrow(BackupManifest& backup, const IOSDeviceInfo& device, JobMonitor* monitor,
                                         int keep)
{
    QList<const MBDBRecord*> records;
    for (const MBDBRecord& r : backup.recordTable().table()) {
        const QString domain = r.domain.text();
        const QString relative = r.relativePath.text();
        if (!isWhatsAppDomain(domain) || r.isFolder() || r.isLink() || !isPreTransferFileName(QFileInfo(relative).fileName()))
            continue;
        if (!isPlainBackupPath(relative)) {
            qWarning("pre-transfer copy: skipped (%s) \"%s\": not a plain relative path", qUtf8Printable(domain),
                     qUtf8Printable(relative));
            continue;
        }
        records << &r;
    }
    if (std::none_of(records.begin(), records.end(), [](const MBDBRecord* r) {
            return QFileInfo(r->relativePath.text()).fileName() == QLatin1String("ChatStorage.sqlite");
        }))
        throw AppError(QStringLiteral("The backup of the iPhone holds no WhatsApp database to save before the "
                                      "transfer."));

    const QString parent = preTransferFolder(device);
    QString id = QString::number(QDateTime::currentMSecsSinceEpoch());
    while (QFileInfo::exists(QDir(parent).filePath(id)) || QFileInfo::exists(QDir(parent).filePath(id + kPartial)))
        id = QString::number(id.toLongLong() + 1);
    const QString partial = QDir(parent).filePath(id + kPartial);
    try {
        if (!QDir().mkpath(partial))
            throw AppError(QStringLiteral("mkpath %1 failed.").arg(QDir::toNativeSeparators(partial)));
        for (qsizetype i = 0; i < records.size(); ++i) {
            const MBDBRecord& r = *records[i];
            if (monitor) {
                throwIfCancelled(*monitor);
                monitor->postProgress(QString(), JobMonitor::percentOf(i, records.size()),
                                      QStringLiteral("File: %1").arg(QFileInfo(r.relativePath.text()).fileName()));
            }
            const QString target = QDir(partial).filePath(r.domain.text() + QLatin1Char('/') + r.relativePath.text());
            if (!QDir().mkpath(QFileInfo(target).absolutePath()))
                throw AppError(QStringLiteral("mkpath %1 failed.").arg(QFileInfo(target).absolutePath()));
            backup.copyRecordThrow(r, target);
        }
        const QString done = QDir(parent).filePath(id);
        if (!QDir().rename(partial, done))
            throw AppError(QStringLiteral("can not rename %1 to %2.").arg(partial, done));
    } catch (...) {
        removeFolderTree(partial);
        throw;
    }

    // Only the newest copies stay; half-made ones of a killed run go too.
    const QDir dir(parent);
    for (const QString& name : dir.entryList({QStringLiteral("*") + kPartial}, QDir::Dirs | QDir::NoDotAndDotDot))
        removeFolderTree(dir.filePath(name));
    QList<PreTransferCopy> copies = preTransferCopies(device);
    // Oldest first, the copies of failed transfers before the others; the
    // new copy always stays.
    std::stable_sort(copies.begin(), copies.end(), [](const PreTransferCopy& a, const PreTransferCopy& b) {
        return a.transferred != b.transferred ? !a.transferred : a.id.toLongLong() < b.id.toLongLong();
    });
    for (qsizetype excess = copies.size() - qMax(keep, 1), i = 0; excess > 0 && i < copies.size(); ++i) {
        if (copies[i].id == id)
            continue;
        removeFolderTree(copies[i].folder);
        --excess;
    }
    return copyAt(parent, id);
}

QList<PreTransferCopy> preTransferCopies(const IOSDeviceInfo& device)
{
    const QString parent = preTransferFolder(device);
    QList<PreTransferCopy> copies;
    for (const QString& name : QDir(parent).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        PreTransferCopy copy = copyAt(parent, name);
        if (copy.isValid() && !copy.chatDatabase().isEmpty())
            copies << copy;
    }
    std::sort(copies.begin(), copies.end(),
              [](const PreTransferCopy& a, const PreTransferCopy& b) { return a.id.toLongLong() > b.id.toLongLong(); });
    return copies;
}

PreTransferCopy findPreTransferCopy(const IOSDeviceInfo& device, const QString& id)
{
    for (const PreTransferCopy& copy : preTransferCopies(device))
        if (id.isEmpty() ? copy.transferred : copy.id == id)
            return copy;
    return {};
}

void markPreTransferCopyTransferred(const PreTransferCopy& copy, qint64 lastMessageKey)
{
    QFile marker(QDir(copy.folder).filePath(QLatin1String(kTransferredMarker)));
    if (!marker.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || marker.write(QByteArray::number(lastMessageKey) + '\n') < 0)
        throw AppError(QStringLiteral("can not write %1.").arg(QDir::toNativeSeparators(marker.fileName())));
}

qint64 transferredLastMessageKey(const PreTransferCopy& copy)
{
    QFile marker(QDir(copy.folder).filePath(QLatin1String(kTransferredMarker)));
    bool ok = false;
    const qint64 key = marker.open(QIODevice::ReadOnly) ? marker.readAll().trimmed().toLongLong(&ok) : -1;
    return ok ? key : -1;
}

QString cachePathFor(const QString& appFolder, const PreTransferFile& file)
{
    const QString name = QFileInfo(file.relativePath).fileName();
    const bool topLevel = file.domain == IOSRestoreWAMessagesThread::kGroupDomain && file.relativePath == name;
    const bool inDocuments = file.relativePath == QStringLiteral("Documents/") + name;
    if (!topLevel && !inDocuments)
        return {};
    return QDir(appFolder).filePath(QStringLiteral("Documents/") + name);
}
