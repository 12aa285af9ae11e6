#include "device/iosdevicetransfer.h"

#include "base/apperror.h"
#include "base/fileutil.h"
#include "base/functionjob.h"
#include "chatstore/sqlite3db.h"
#include "device/ioscachefolders.h"
#include "device/iosmobilerestorethread.h"
#include "device/iosrestorewamessagesthread.h"
#include "itunes/backupmanifest.h"
#include "itunes/iositunesbksetpasswordthread.h"
#include "itunes/iosmergewafiles2itunesbkthread.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QtDebug>

#include <sqlite3.h>

namespace {

using Outcome = IOSDeviceTransfer::Outcome;

const QString kReducedManifest = QStringLiteral("Manifest-wa.db");

Outcome fromLoad(IOSDeviceLoad::Outcome o)
{
    switch (o) {
    case IOSDeviceLoad::Outcome::Loaded:
        return Outcome::Transferred;
    case IOSDeviceLoad::Outcome::Cancelled:
        return Outcome::Cancelled;
    case IOSDeviceLoad::Outcome::CloudBackupOn:
        return Outcome::CloudBackupOn;
    case IOSDeviceLoad::Outcome::PasswordRefused:
        return Outcome::PasswordRefused;
    case IOSDeviceLoad::Outcome::NoWhatsApp:
        return Outcome::NoWhatsApp;
    case IOSDeviceLoad::Outcome::Failed:
        break;
    }
    return Outcome::Failed;
}

Outcome stageFailure(const Job& job) { return job.wasCancelled() ? Outcome::Cancelled : Outcome::Failed; }

// The refreshed backup, opened, unlocked with the password the refresh
// verified, and loaded. Its errors go to the front end.
Outcome openBackup(IOSDeviceLoadFrontend& frontend, BackupManifest& backup, const IOSDeviceInfo& device)
{
    try {
        backup.openThrow();
        if (backup.isEncrypted) {
            IOSiTunesBKSetPasswordThread unlock(backup, device.backupPassword);
            if (!frontend.runStage(unlock))
                return stageFailure(unlock);
            if (!unlock.result()) {
                frontend.showError(QStringLiteral("Invalid password."));
                return Outcome::PasswordRefused;
            }
        }
        backup.loadThrow();
    } catch (const std::exception& e) {
        frontend.showError(errorText(e));
        return Outcome::Failed;
    }
    return Outcome::Transferred;
}

QByteArray sha1Of(const QString& path) { return MBDBParser::fileSha1(path); }

// Reads every database the entries replaced back out of the backup
// (decrypted) and compares it with the file that was written.
void verifyWrittenDatabasesThrow(BackupManifest& backup, const QList<BackupFileEntry>& entries, JobMonitor& monitor)
{
    QTemporaryDir scratch;
    if (!scratch.isValid())
        throw AppError(QStringLiteral("can not create a temporary folder to read the backup back."));
    int n = 0;
    for (const BackupFileEntry& e : entries) {
        throwIfCancelled(monitor);
        if (!e.overwrite || !QFileInfo(e.localPath).isFile() || !isPreTransferFileName(QFileInfo(e.relativePath).fileName()))
            continue;
        const MBDBRecord* record = backup.recordTable().find(MBDBParser::fileIdOf(e.domain, e.relativePath));
        if (!record)
            throw AppError(QStringLiteral("The backup does not list %1 after the write; nothing was sent to the "
                                          "iPhone.").arg(e.relativePath));
        const QString back = scratch.filePath(QString::number(++n));
        backup.copyRecordThrow(*record, back);
        if (sha1Of(back) != sha1Of(e.localPath))
            throw AppError(QStringLiteral("The backup's copy of %1 differs from the file written into it; nothing "
                                          "was sent to the iPhone.").arg(e.relativePath));
        QFile::remove(back);
    }
}

// Write, read back, reduced manifest, restore; the backup's replaced files
// stay aside until the phone has taken the restore and are put back after
// any failure. True when the phone took it.
bool writeAndRestore(IOSDeviceLoadFrontend& frontend, BackupManifest& backup, const PIOSDeviceInfo& target,
                     const QList<BackupFileEntry>& entries, bool systemMode, bool* cancelled)
{
    *cancelled = false;
    const QString folder = backup.folder.absolutePath();
    IOSMergeWAFiles2iTunesBKThread write(backup, entries, true);
    if (!frontend.runStage(write)) {
        *cancelled = write.wasCancelled();
        return false;
    }
    const QString reduced = QDir(folder).filePath(kReducedManifest);
    auto undo = [&] {
        QFile::remove(reduced);
        if (QFileInfo(folder).isDir())
            write.revert();
    };

    FunctionJob check(QStringLiteral("Checking the backup..."), [&](JobMonitor& monitor) {
        verifyWrittenDatabasesThrow(backup, entries, monitor);
        try {
            backup.filteredManifestThrow(false, {IOSRestoreWAMessagesThread::kAppDomain,
                                                 IOSRestoreWAMessagesThread::kGroupDomain},
                                         reduced);
        } catch (const std::exception& e) {
            throw AppError(QStringLiteral("RestoreMessages2IOS: %1").arg(errorText(e)));
        }
        return QString();
    });
    if (!frontend.runStage(check)) {
        *cancelled = check.wasCancelled();
        undo();
        return false;
    }

    IOSMobileRestoreThread restore(target, QFileInfo(folder).absolutePath(), systemMode);
    restore.setSystemFiles(!systemMode);
    if (backup.isEncrypted)
        restore.setPassword(backup.password.isEmpty() ? target->backupPassword : backup.password);
    restore.setManifestSubstitute(kReducedManifest);
    if (!frontend.runStage(restore)) {
        *cancelled = restore.wasCancelled();
        undo();
        return false;
    }
    write.finalize();
    return true;
}

// Copies the regular files of `from` (not below) into `to`.
void copyFilesThrow(const QString& from, const QString& to, const std::function<bool(const QString&)>& take)
{
    if (!QDir().mkpath(to))
        throw AppError(QStringLiteral("mkpath %1 failed.").arg(QDir::toNativeSeparators(to)));
    for (const QFileInfo& info : QDir(from).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
        if (!take(info.fileName()))
            continue;
        const QString target = QDir(to).filePath(info.fileName());
        const QString temp = target + QStringLiteral(".part");
        QFile::remove(temp);
        if (!QFile::copy(info.absoluteFilePath(), temp))
            throw AppError(QStringLiteral("copy to %1 failed.").arg(QDir::toNativeSeparators(target)));
        replaceFileThrow(temp, target);
    }
}

// The working copy of the cache's app folder: its databases and the app's
// preferences; media copied by the merge land in its Library/.
QString makeWorkingCopyThrow(const QString& cacheApp, const QString& work)
{
    if (QFileInfo::exists(work) || QFileInfo(work).isSymLink())
        removeFolderTree(work);
    const QString app = QDir(work).filePath(QStringLiteral("net.whatsapp.WhatsApp"));
    copyFilesThrow(QDir(cacheApp).filePath(QStringLiteral("Documents")), QDir(app).filePath(QStringLiteral("Documents")),
                   [](const QString&) { return true; });
    const QString prefs = QStringLiteral("Library/Preferences");
    if (QFileInfo(QDir(cacheApp).filePath(prefs)).isDir())
        copyFilesThrow(QDir(cacheApp).filePath(prefs), QDir(app).filePath(prefs), [](const QString&) { return true; });
    QDir().mkpath(QDir(app).filePath(QStringLiteral("Library/Media/Profile")));
    return app;
}

// After the phone took the restore: the merged databases replace the
// cache's, media the merge copied join the cache's media.
void adoptWorkingCopyThrow(const QString& workApp, const QString& cacheApp)
{
    const QString docs = QDir(workApp).filePath(QStringLiteral("Documents"));
    const QString cacheDocs = QDir(cacheApp).filePath(QStringLiteral("Documents"));
    for (const QFileInfo& info : QDir(docs).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks))
        replaceFileThrow(info.absoluteFilePath(), QDir(cacheDocs).filePath(info.fileName()));
    const QString library = QDir(workApp).filePath(QStringLiteral("Library"));
    QDirIterator it(library, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(library).relativeFilePath(path);
        if (relative.startsWith(QLatin1String("Preferences/")))
            continue;
        const QString target = QDir(cacheApp).filePath(QStringLiteral("Library/") + relative);
        const QFileInfo existing(target);
        if (existing.exists() || existing.isSymLink())
            continue;
        if (!QDir().mkpath(existing.absolutePath()) || !QFile::rename(path, target))
            throw AppError(QStringLiteral("can not move %1 into the cache.").arg(QDir::toNativeSeparators(relative)));
    }
}

qint64 largestMessageKey(const QString& database)
{
    Sqlite3DB db;
    db.openThrow(database, SQLITE_OPEN_READONLY);
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("select ifnull(max(Z_PK), 0) from ZWAMESSAGE"));
    return c.moveNext() ? c.getInt64(0) : 0;
}

}  // namespace

IOSDeviceTransfer::IOSDeviceTransfer(PIOSDeviceInfo target, PAbsWAMsgsSource source)
    : m_target(std::move(target)), m_source(std::move(source))
{
}

QString IOSDeviceTransfer::successText(qint64 processed)
{
    return QStringLiteral("Successfully transferred %1 messages to iPhone. Now please disconnect your iPhone from "
                          "computer.")
               .arg(processed)
           + QStringLiteral("<br><br/>Note:  If you get the following prompts on iPhone when iPhone rebooted, please "
                            "choose \"Don't Transfer App & Data\" option.<br/><br/><img "
                            "src=\":res/skip-transfer-app-data.jpg\"/>");
}

QString IOSDeviceTransfer::phoneUnchangedText(const PreTransferCopy& copy)
{
    QString text = QStringLiteral("The iPhone was not changed.");
    if (copy.isValid())
        text += QStringLiteral(" Its WhatsApp databases from before the transfer are saved as copy %1 in %2.")
                    .arg(copy.id, QDir::toNativeSeparators(copy.folder));
    return text;
}

QString IOSDeviceTransfer::workingFolder(const IOSDeviceInfo& device)
{
    return QDir::cleanPath(iosCacheFolder(device)) + QStringLiteral(".transfer");
}

void IOSDeviceTransfer::checkMergedDatabasesThrow(const QString& databasePath, const QString& searchPath)
{
    auto integrity = [](Sqlite3DB& db, const QString& path) {
        QStringList problems;
        try {
            Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("pragma integrity_check(20)"));
            while (c.moveNext())
                problems << c.value(0).toString();
        } catch (const Sqlite3Error& e) {
            // A page too broken for the check itself.
            problems = QStringList{QString::fromUtf8(e.what())};
        }
        if (problems != QStringList{QStringLiteral("ok")})
            throw AppError(QStringLiteral("The merged database %1 is damaged (%2); nothing was written to the iPhone.")
                               .arg(QFileInfo(path).fileName(), problems.join(QStringLiteral("; "))));
    };
    Sqlite3DB db;
    db.openThrow(databasePath, SQLITE_OPEN_READONLY);
    integrity(db, databasePath);
    {
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(
            "select ZCHATSESSION, count(*), min(ZSORT), max(ZSORT), count(distinct ZSORT) from ZWAMESSAGE "
            "where ZCHATSESSION > 0 group by ZCHATSESSION "
            "having min(ZSORT) is not 1 or max(ZSORT) is not count(*) or count(distinct ZSORT) is not count(*)"));
        if (c.moveNext())
            throw AppError(QStringLiteral("The merged database numbers the messages of chat %1 wrongly (%2 messages, "
                                          "ZSORT %3 to %4); nothing was written to the iPhone.")
                               .arg(c.getInt64(0))
                               .arg(c.getInt64(1))
                               .arg(c.value(2).toString(), c.value(3).toString()));
    }
    {
        const bool hasSuper = [&] {
            for (const _SqliteCol& col : db.tbCols(QStringLiteral("Z_PRIMARYKEY")))
                if (col.name.compare(QLatin1String("Z_SUPER"), Qt::CaseInsensitive) == 0)
                    return true;
            return false;
        }();
        QList<std::pair<QString, qint64>> counters;
        {
            Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(hasSuper ? "select Z_NAME, Z_MAX from Z_PRIMARYKEY where Z_SUPER = 0"
                                                                : "select Z_NAME, Z_MAX from Z_PRIMARYKEY"));
            while (c.moveNext())
                counters.append({c.getText(QStringLiteral("Z_NAME")), c.getInt64(QStringLiteral("Z_MAX"))});
        }
        for (const auto& [name, max] : counters) {
            const QString table = QStringLiteral("Z") + name.toUpper();
            bool hasKey = false;
            for (const _SqliteCol& col : db.tbCols(table))
                hasKey = hasKey || col.name == QLatin1String("Z_PK");
            if (!hasKey)
                continue;
            Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(QStringLiteral("select ifnull(max(Z_PK), 0) from \"%1\"").arg(table)));
            if (c.moveNext() && c.getInt64(0) > max)
                throw AppError(QStringLiteral("The merged database's key counter of %1 (%2) is below its largest key "
                                              "(%3); nothing was written to the iPhone.")
                                   .arg(name)
                                   .arg(max)
                                   .arg(c.getInt64(0)));
        }
    }
    db.close();
    if (!searchPath.isEmpty() && QFileInfo(searchPath).isFile() && QFileInfo(searchPath).size() > 0) {
        Sqlite3DB search;
        search.openThrow(searchPath, SQLITE_OPEN_READONLY);
        integrity(search, searchPath);
    }
}

IOSDeviceTransfer::Outcome IOSDeviceTransfer::run(IOSDeviceLoadFrontend& frontend)
{
    m_processed = 0;
    m_added = 0;
    m_copy = {};
    Outcome outcome = [&] {
        if (!m_source) {
            frontend.showError(QStringLiteral("There are no messages to transfer."));
            return Outcome::Failed;
        }
        IOSDeviceLoad refresh(m_target);
        if (const Outcome o = fromLoad(refresh.run(frontend)); o != Outcome::Transferred)
            return o;
        BackupManifest backup(refresh.backupFolder());
        if (const Outcome o = openBackup(frontend, backup, *m_target); o != Outcome::Transferred)
            return o;

        FunctionJob save(QStringLiteral("Saving the iPhone's WhatsApp databases..."), [&](JobMonitor& monitor) {
            m_copy = savePreTransferCopyThrow(backup, *m_target, &monitor);
            return QString();
        });
        if (!frontend.runStage(save))
            return stageFailure(save);

        const QString work = workingFolder(*m_target);
        struct WorkGuard {
            QString path;
            ~WorkGuard() { removeFolderTree(path); }
        } guard{work};
        QString workApp;
        FunctionJob prepare(QStringLiteral("Preparing the transfer..."), [&](JobMonitor&) {
            workApp = makeWorkingCopyThrow(refresh.appFolder(), work);
            return QString();
        });
        if (!frontend.runStage(prepare))
            return stageFailure(prepare);

        IOSRestoreWAMessagesThread merge(m_target, m_source, workApp);
        if (!frontend.runStage(merge))
            return stageFailure(merge);

        FunctionJob check(QStringLiteral("Checking the merged chats..."), [&](JobMonitor&) {
            checkMergedDatabasesThrow(merge.targetDatabasePath(), merge.targetSearchPath());
            return QString();
        });
        if (!frontend.runStage(check))
            return stageFailure(check);

        const QList<BackupFileEntry> entries = backupEntriesForMerge(
            backup.recordTable(), backup.productVersion,
            {merge.targetDatabasePath(), merge.targetSearchPath(), merge.mediaDomain(), merge.mediaFiles(),
             merge.targetLidPath()});
        bool cancelled = false;
        if (!writeAndRestore(frontend, backup, m_target, entries, m_systemMode, &cancelled))
            return cancelled ? Outcome::Cancelled : Outcome::Failed;

        // The phone has the merged chats: from here on the transfer has happened.
        m_processed = merge.processed();
        m_added = merge.added();
        try {
            markPreTransferCopyTransferred(m_copy, largestMessageKey(merge.targetDatabasePath()));
            m_copy.transferred = true;
            adoptWorkingCopyThrow(workApp, refresh.appFolder());
        } catch (const std::exception& e) {
            frontend.showWarning(QStringLiteral("The messages were transferred, but the computer's copy of the "
                                                "iPhone's chats could not be updated (%1). Load the iPhone again to "
                                                "see them.")
                                     .arg(errorText(e)));
        }
        return Outcome::Transferred;
    }();
    if (outcome != Outcome::Transferred)
        frontend.showWarning(phoneUnchangedText(m_copy));
    return outcome;
}

IOSDeviceTransferUndo::IOSDeviceTransferUndo(PIOSDeviceInfo target, const QString& copyId)
    : m_target(std::move(target)), m_copyId(copyId)
{
}

qint64 IOSDeviceTransferUndo::messagesSince(const PreTransferCopy& copy, const QString& current)
{
    // Both databases are read through scratch copies: opening the phone's
    // copy would touch its index file, and it must stay as the phone had it.
    QTemporaryDir scratch;
    auto scratchCopy = [&](const QString& from, const QString& name) {
        const QString database = scratch.filePath(name);
        for (const char* suffix : {"", "-wal"}) {
            const QString file = from + QLatin1String(suffix);
            if (QFileInfo(file).isFile() && !QFile::copy(file, database + QLatin1String(suffix)))
                throw AppError(QStringLiteral("copy to %1 failed.").arg(database + QLatin1String(suffix)));
        }
        return database;
    };
    if (!scratch.isValid())
        throw AppError(QStringLiteral("can not create a temporary folder."));
    Sqlite3DB db;
    db.openThrow(scratchCopy(current, QStringLiteral("current.sqlite")), SQLITE_OPEN_READWRITE);
    const qint64 last = transferredLastMessageKey(copy);
    if (last >= 0) {
        Sqlite3Sql sql("select count(*) from ZWAMESSAGE where Z_PK > ?");
        sql.addInt64Param(last);
        Sqlite3Cursor c = db.queryThrow(sql);
        return c.moveNext() ? c.getInt64(0) : 0;
    }
    Sqlite3Sql attach("attach database ? as copy");
    attach.addTextParam(scratchCopy(copy.chatDatabase(), QStringLiteral("copy.sqlite")));
    db.executeThrow(attach);
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(
        "select count(*) from main.ZWAMESSAGE where ZSTANZAID is not null and ZSTANZAID not in "
        "(select ZSTANZAID from copy.ZWAMESSAGE where ZSTANZAID is not null)"));
    return c.moveNext() ? c.getInt64(0) : 0;
}

IOSDeviceTransferUndo::Outcome IOSDeviceTransferUndo::run(IOSDeviceLoadFrontend& frontend,
                                                          const std::function<bool(qint64)>& confirm)
{
    m_dropped = 0;
    m_copy = findPreTransferCopy(*m_target, m_copyId);
    if (!m_copy.isValid()) {
        frontend.showError(m_copyId.isEmpty()
                               ? QStringLiteral("There is no copy from before a transfer to this iPhone.")
                               : QStringLiteral("There is no copy %1 from before a transfer to this iPhone.").arg(m_copyId));
        return Outcome::Failed;
    }
    IOSDeviceLoad refresh(m_target);
    if (const Outcome o = fromLoad(refresh.run(frontend)); o != Outcome::Transferred)
        return o;
    try {
        m_dropped = messagesSince(m_copy, refresh.databasePath());
    } catch (const std::exception& e) {
        frontend.showError(errorText(e));
        return Outcome::Failed;
    }
    if (!confirm(m_dropped))
        return Outcome::Cancelled;

    BackupManifest backup(refresh.backupFolder());
    if (const Outcome o = openBackup(frontend, backup, *m_target); o != Outcome::Transferred)
        return o;
    QList<BackupFileEntry> entries;
    for (const PreTransferFile& f : m_copy.files)
        entries.append({f.domain, f.localPath, f.relativePath, true, false});
    bool cancelled = false;
    if (!writeAndRestore(frontend, backup, m_target, entries, m_systemMode, &cancelled)) {
        frontend.showWarning(IOSDeviceTransfer::phoneUnchangedText({}));
        return cancelled ? Outcome::Cancelled : Outcome::Failed;
    }
    // The cache shows what the phone holds now.
    try {
        QSet<QString> placed;
        for (const PreTransferFile& f : m_copy.files) {
            const QString target = cachePathFor(refresh.appFolder(), f);
            if (target.isEmpty())
                continue;
            copyFilesThrow(QFileInfo(f.localPath).absolutePath(), QFileInfo(target).absolutePath(),
                           [&](const QString& name) { return name == QFileInfo(f.localPath).fileName(); });
            placed << QFileInfo(target).fileName();
        }
        const QString docs = QDir(refresh.appFolder()).filePath(QStringLiteral("Documents"));
        for (const QString& name : QDir(docs).entryList(QDir::Files | QDir::Hidden)) {
            if (isPreTransferFileName(name) && !placed.contains(name)
                && (name.endsWith(QLatin1String("-wal")) || name.endsWith(QLatin1String("-shm")))) {
                QFile f(QDir(docs).filePath(name));
                f.open(QIODevice::WriteOnly | QIODevice::Truncate);
            }
        }
    } catch (const std::exception& e) {
        frontend.showWarning(QStringLiteral("The iPhone has its databases back, but the computer's copy of its chats "
                                            "could not be updated (%1). Load the iPhone again to see them.")
                                 .arg(errorText(e)));
    }
    return Outcome::Transferred;
}
