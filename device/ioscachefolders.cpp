#include "device/ioscachefolders.h"

#include "base/apperror.h"
#include "base/datafolder.h"
#include "base/fileutil.h"
#include "device/backuptempfolder.h"

#include <QDir>
#include <QDateTime>
#include <QFile>

#include <sqlite3.h>

#include <filesystem>

namespace {

// A UDID names a folder: anything that is not a plain name is refused.
QString plainUdid(const QString& udid)
{
    if (udid.isEmpty() || udid == QLatin1String(".") || udid == QLatin1String("..") || udid.contains(QLatin1Char('/'))
        || udid.contains(QLatin1Char('\\')))
        throw AppError(QStringLiteral("Invalid device id \"%1\".").arg(udid));
    return udid;
}

QString privateFolder(const QString& path)
{
    if (!QDir().mkpath(path))
        throw AppError(QStringLiteral("mkpath %1 failed.").arg(QDir::toNativeSeparators(path)));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

QString cacheIn(const QString& base, const QString& kind, const IOSDeviceInfo& device)
{
    privateFolder(QDir(base).filePath(kind));
    return privateFolder(QDir(base).filePath(kind + QLatin1Char('/') + plainUdid(device.udid)));
}

}  // namespace

QString iosCacheFolderIn(const QString& dataFolder, const IOSDeviceInfo& device)
{
    return cacheIn(dataFolder, QStringLiteral("ios_cache"), device);
}

QString iosCacheFolder(const IOSDeviceInfo& device) { return iosCacheFolderIn(dataFolder(), device); }

QString iosStaticCacheFolder(const IOSDeviceInfo& device)
{
    return cacheIn(dataFolder(), QStringLiteral("ios_static_cache"), device);
}

QString whatsAppCacheFolder(const IOSDeviceInfo& device)
{
    return privateFolder(QDir(iosCacheFolder(device)).filePath(QStringLiteral("net.whatsapp.WhatsApp")));
}

QString virtualDeviceUdid(const QString& backupId) { return QStringLiteral("virtual_") + backupId; }

namespace {

// Renames `from` to `to`, replacing a file there (never what a link there
// points to).
bool replaceFile(const QString& from, const QString& to)
{
    std::error_code ec;
    std::filesystem::rename(from.toStdString(), to.toStdString(), ec);
    return !ec;
}

// Copies one file under a temporary name and renames it over `to`.
bool copyFileReplacing(const QString& from, const QString& to, QString* error)
{
    const QString part = to + QStringLiteral(".qmpart");
    QFile::remove(part);
    if (!QFile::copy(from, part) || !replaceFile(part, to)) {
        QFile::remove(part);
        if (error)
            *error = QStringLiteral("copy to %1 failed.").arg(QDir::toNativeSeparators(to));
        return false;
    }
    return true;
}

}  // namespace

bool copyFolderTree(const QString& source, const QString& target, bool overwrite, QString* error, QStringList* written)
{
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (!QDir().mkpath(target))
        return fail(QStringLiteral("mkpath %1 failed.").arg(QDir::toNativeSeparators(target)));
    const QFileInfoList entries =
        QDir(source).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        const QString to = QDir(target).filePath(entry.fileName());
        if (entry.isDir() && !entry.isSymLink()) {
            if (QFileInfo(to).isSymLink())
                QFile::remove(to);
            if (!copyFolderTree(entry.absoluteFilePath(), to, overwrite, error, written))
                return false;
            continue;
        }
        const QFileInfo existing(to);
        if (!overwrite && existing.isFile() && !existing.isSymLink() && existing.size() > 0)
            continue;
        if (entry.isSymLink())
            return fail(QStringLiteral("copy to %1 failed.").arg(QDir::toNativeSeparators(to)));
        if (!copyFileReplacing(entry.absoluteFilePath(), to, error))
            return false;
        if (written)
            *written << to;
    }
    return true;
}

QString whatsAppSnapshotFolder(const IOSDeviceInfo& device)
{
    return privateFolder(QDir(iosStaticCacheFolder(device)).filePath(QStringLiteral("net.whatsapp.WhatsApp")));
}

namespace {

const QStringList kDatabaseFiles = {QStringLiteral("ChatStorage.sqlite"), QStringLiteral("ChatStorage.sqlite-shm"),
                                    QStringLiteral("ChatStorage.sqlite-wal")};

// A consistent copy of a chat database through SQLite's online backup,
// checked before it is used.
void backupDatabaseThrow(const QString& from, const QString& to)
{
    sqlite3* src = nullptr;
    sqlite3* dst = nullptr;
    auto closeBoth = [&] {
        sqlite3_close(src);
        sqlite3_close(dst);
    };
    QString problem;
    if (sqlite3_open_v2(from.toUtf8().constData(), &src, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK
        || sqlite3_open_v2(to.toUtf8().constData(), &dst, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
            != SQLITE_OK) {
        problem = QString::fromUtf8(sqlite3_errmsg(src && sqlite3_errcode(src) != SQLITE_OK ? src : dst));
    } else {
        sqlite3_backup* b = sqlite3_backup_init(dst, "main", src, "main");
        int rc = b ? sqlite3_backup_step(b, -1) : sqlite3_errcode(dst);
        if (b)
            rc = sqlite3_backup_finish(b) == SQLITE_OK && rc == SQLITE_DONE ? SQLITE_OK : rc;
        if (rc != SQLITE_OK) {
            problem = QString::fromUtf8(sqlite3_errmsg(dst));
        } else {
            sqlite3_stmt* st = nullptr;
            QString result;
            if (sqlite3_prepare_v2(dst, "pragma quick_check", -1, &st, nullptr) == SQLITE_OK
                && sqlite3_step(st) == SQLITE_ROW)
                result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
            sqlite3_finalize(st);
            if (result != QLatin1String("ok"))
                problem = QStringLiteral("the copy does not pass the integrity check (%1)").arg(result);
        }
    }
    closeBoth();
    if (!problem.isEmpty())
        throw AppError(QStringLiteral("copy to %1 failed: %2").arg(QDir::toNativeSeparators(to), problem));
}

}  // namespace

namespace {

// After the new Documents took the place of the old ones (set aside in
// `retired`): the old database moves into "db_<ms>", the older db_ folders
// and anything else the new Documents lack move over; `retired` goes once
// it is empty. Whatever cannot move stays in `retired` for the next save.
void absorbRetiredDocuments(const QString& retired, const QString& documents)
{
    const QDir old(retired);
    if (QFileInfo(old.filePath(QStringLiteral("ChatStorage.sqlite"))).isFile()) {
        QString aside = QDir(documents).filePath(QStringLiteral("db_%1").arg(QDateTime::currentMSecsSinceEpoch()));
        while (QFileInfo::exists(aside))
            aside += QLatin1Char('0');
        QDir().mkpath(aside);
        for (const QString& name : kDatabaseFiles)
            if (QFileInfo::exists(old.filePath(name)))
                replaceFile(old.filePath(name), QDir(aside).filePath(name));
    }
    for (const QFileInfo& e : old.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString to = QDir(documents).filePath(e.fileName());
        if (!QFileInfo::exists(to) && !QFileInfo(to).isSymLink())
            replaceFile(e.absoluteFilePath(), to);
    }
    if (old.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty())
        old.rmdir(retired);
    else
        qWarning("Snapshot: %s could not be moved completely; kept for the next save", qUtf8Printable(retired));
}

}  // namespace

void saveDeviceSnapshot(const IOSDeviceInfo& device)
{
    const QString source = whatsAppCacheFolder(device);
    const QString sourceDb = QDir(source).filePath(QStringLiteral("Documents/ChatStorage.sqlite"));
    if (!QFileInfo(sourceDb).isFile())
        throw AppError(QStringLiteral("There are no loaded messages of %1 to save.")
                           .arg(device.name.isEmpty() ? device.udid : device.name));
    const QDir target(whatsAppSnapshotFolder(device));
    const QString documents = target.filePath(QStringLiteral("Documents"));
    const QString building = target.filePath(QStringLiteral(".Documents.saving"));
    const QString retired = target.filePath(QStringLiteral(".Documents.old"));
    // What an earlier save that died left: the previous Documents set aside
    // go back in place, or finish moving into the new ones.
    if (QFileInfo(retired).isDir()) {
        if (!QFileInfo::exists(documents))
            replaceFile(retired, documents);
        else
            absorbRetiredDocuments(retired, documents);
    }
    QDir(building).removeRecursively();

    QStringList addedMedia;
    try {
        QString error;
        // Media the snapshot lacks; what it has stays as it is.
        const QString library = QDir(source).filePath(QStringLiteral("Library"));
        if (QFileInfo(library).isDir()
            && !copyFolderTree(library, target.filePath(QStringLiteral("Library")), false, &error, &addedMedia))
            throw AppError(error);

        // The new Documents beside the old ones: everything but the
        // database by file copy, the database by online backup.
        if (!QDir().mkpath(building))
            throw AppError(QStringLiteral("mkpath %1 failed.").arg(QDir::toNativeSeparators(building)));
        const QFileInfoList entries = QDir(QDir(source).filePath(QStringLiteral("Documents")))
                                          .entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        for (const QFileInfo& e : entries) {
            if (kDatabaseFiles.contains(e.fileName()) || e.isSymLink())
                continue;
            const QString to = QDir(building).filePath(e.fileName());
            if (!(e.isDir() ? copyFolderTree(e.absoluteFilePath(), to, true, &error)
                            : copyFileReplacing(e.absoluteFilePath(), to, &error)))
                throw AppError(error);
        }
        backupDatabaseThrow(sourceDb, QDir(building).filePath(QStringLiteral("ChatStorage.sqlite")));

        // The swap: two renames; until the second one the old Documents can
        // be put back.
        const bool hadDocuments = QFileInfo(documents).isDir();
        if (hadDocuments && !replaceFile(documents, retired))
            throw AppError(QStringLiteral("remove old file %1 failed.").arg(QDir::toNativeSeparators(documents)));
        if (!replaceFile(building, documents)) {
            if (hadDocuments)
                replaceFile(retired, documents);
            throw AppError(QStringLiteral("copy to %1 failed.").arg(QDir::toNativeSeparators(documents)));
        }
    } catch (...) {
        for (const QString& f : addedMedia)
            QFile::remove(f);
        QDir(building).removeRecursively();
        throw;
    }
    if (QFileInfo(retired).isDir())
        absorbRetiredDocuments(retired, documents);
}

QString clearCacheRefusedText()
{
    return QStringLiteral("To delete and clear the cache files, please disconnect your phone first.");
}

QString clearCacheDoneText() { return QStringLiteral("Successfully cleared cache files."); }

void clearDeviceCaches()
{
    removeFolderTree(QDir(dataFolder()).filePath(QStringLiteral("ios_cache")));
    removeBackupTempFolder(QStringLiteral("wa"));
}
