#include "itunes/backupdiscovery.h"

#include "base/apperror.h"
#include "base/datafolder.h"
#include "itunes/backupmanifest.h"

#include <QDir>
#include <QFileInfo>
#include <QtDebug>

QStringList backupRootsFor(const QString& appDataRoot, const QString& homeFolder)
{
    const QDir data(appDataRoot);
    const QDir home(homeFolder);
    return {data.filePath(QStringLiteral("Apple Computer/MobileSync/Backup")),
            home.filePath(QStringLiteral("Apple/MobileSync/Backup")),
            home.filePath(QStringLiteral("Library/Application Support/MobileSync/Backup"))};
}

QStringList backupRoots()
{
    return backupRootsFor(appDataRoot(), QDir::homePath());
}

bool isBackupFolder(const QString& folder)
{
    const QDir dir(folder);
    if (!QFileInfo(dir.filePath(QStringLiteral("Manifest.plist"))).isFile())
        return false;
    return QFileInfo(dir.filePath(QStringLiteral("Manifest.mbdb"))).isFile()
        || QFileInfo(dir.filePath(QStringLiteral("Manifest.db"))).isFile();
}

QStringList backupSubFolders(const QString& root)
{
    const QDir dir(root);
    if (!dir.exists())
        return {};
    QStringList folders;
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Time | QDir::Reversed);
    for (const QFileInfo& info : entries)
        folders << info.absoluteFilePath();
    return folders;
}

QList<PBackupManifest> findBackups(const QStringList& roots, const BackupErrorCallback& onError)
{
    QList<PBackupManifest> found;
    for (const QString& root : roots) {
        for (const QString& folder : backupSubFolders(root)) {
            if (!isBackupFolder(folder))
                continue;
            auto backup = std::make_shared<BackupManifest>(folder);
            try {
                backup->openThrow();
            } catch (const std::exception& e) {
                qWarning("%s", qUtf8Printable(backupLoadErrorText(folder, errorText(e))));
                if (onError)
                    onError(folder, errorText(e));
                continue;
            }
            found << backup;
        }
    }
    return found;
}

int newestFirstRow(const QList<QDateTime>& datesInRowOrder, const QDateTime& date)
{
    for (int row = 0; row < datesInRowOrder.size(); ++row) {
        if (datesInRowOrder.at(row) < date)
            return row;
    }
    return int(datesInRowOrder.size());
}

QString backupLoadErrorText(const QString& folder, const QString& error)
{
    return QStringLiteral("load %1 error. %2").arg(QDir::toNativeSeparators(folder), error);
}
