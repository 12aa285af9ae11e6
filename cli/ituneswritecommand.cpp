// itunes-write SOURCE BACKUP: what the window's "Export Messages to iTunes
// Backup" does. The backup's WhatsApp data is loaded into the private cache
// of the backup's virtual device, the messages of SOURCE (a local database,
// a chat-database folder, or another iTunes backup) are merged into it, and
// the merged databases and the new media files are written into the backup,
// all or nothing. The cache is removed afterwards in any case.
#include "base/apperror.h"
#include "base/datafolder.h"
#include "base/fileutil.h"
#include "chatstore/loadwhatsappdbthread.h"
#include "chatstore/wamsgsdatasource.h"
#include "cli/chatsource.h"
#include "cli/clicommand.h"
#include "cli/consolemonitor.h"
#include "cli/exitcodes.h"
#include "cli/itunesclisupport.h"
#include "device/ioscachefolders.h"
#include "device/iosrestorewamessagesthread.h"
#include "itunes/backupfileentry.h"
#include "itunes/backupmanifest.h"
#include "itunes/iosloadwafromitunesthread.h"
#include "itunes/iosmergewafiles2itunesbkthread.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kUsage = QStringLiteral(
    "usage: quillometry-cli itunes-write SOURCE BACKUP [--chat JID] [--password P | --password-env NAME]\n"
    "                                  [--source-password-env NAME]\n"
    "example: quillometry-cli itunes-write MyChats ~/Backups/00008030-001A2B3C4D5E6F70 --password-env BK_PW\n");

bool isBackupFolder(const QString& path) { return QFileInfo(QDir(path).filePath(QStringLiteral("Manifest.plist"))).isFile(); }

// Removes a folder tree when the object goes.
struct FolderGuard {
    QString path;
    ~FolderGuard()
    {
        if (!path.isEmpty())
            removeFolderTree(path);
    }
};

// The messages of another iTunes backup, copied (decrypted) into the
// private import cache; the cache folder is handed to the guard.
PChatDbView loadBackupSource(const QString& folder, const QString& passwordEnv, FolderGuard& guard, int* code)
{
    BackupManifest backup(folder);
    ItunesCliOptions options;
    options.passwordEnv = passwordEnv;
    *code = openAndLoadItunesBackup(backup, options);
    if (*code != exitcode::kSuccess)
        return nullptr;
    IOSLoadWAFromiTunesThread copy(backup, QString());
    {
        ConsoleMonitor monitor;
        *code = monitor.runJob(copy);
        guard.path = copy.cacheFolder();
        if (*code != exitcode::kSuccess)
            return nullptr;
    }
    LoadWhatsAppDbThread load(IOSLoadWAFromiTunesThread::openLoadedDb(copy.appFolder()));
    ConsoleMonitor monitor;
    *code = monitor.runJob(load);
    if (*code != exitcode::kSuccess)
        return nullptr;
    if (load.failed()) {
        cliErr(QStringLiteral("error: %1\n").arg(load.errorText()));
        *code = exitcode::kFailure;
        return nullptr;
    }
    return load.takeResult(false);
}

int run(const QStringList& args)
{
    QStringList rest;
    QString jid, sourcePasswordEnv;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            cliOut(kUsage);
            return exitcode::kSuccess;
        }
        if (a == QLatin1String("--chat") || a == QLatin1String("--source-password-env")) {
            if (i + 1 >= args.size()) {
                cliErr(kUsage + a + QStringLiteral(" needs a value\n"));
                return exitcode::kUsage;
            }
            (a == QLatin1String("--chat") ? jid : sourcePasswordEnv) = args[++i];
        } else {
            rest << a;
        }
    }
    ItunesCliOptions options;
    QString error;
    if (!parseItunesCliOptions(rest, false, &options, &error) || options.positional.size() != 2) {
        cliErr(kUsage + (error.isEmpty() ? QString() : error + QLatin1Char('\n')));
        return exitcode::kUsage;
    }
    const QString source = options.positional[0];
    const QString backupFolder = options.positional[1];
    if (!isBackupFolder(backupFolder)) {
        cliErr(QStringLiteral("error: %1 is not an iTunes backup folder (no Manifest.plist)\n")
                   .arg(QDir::toNativeSeparators(backupFolder)));
        return exitcode::kFailure;
    }
    const bool sourceIsBackup = QFileInfo(source).isDir() && isBackupFolder(source);
    if (sourceIsBackup
        && QFileInfo(source).canonicalFilePath() == QFileInfo(backupFolder).canonicalFilePath()) {
        cliErr(kUsage + QStringLiteral("error: SOURCE and BACKUP are the same backup\n"));
        return exitcode::kUsage;
    }

    // The target first: a wrong password ends the command before any work.
    BackupManifest backup(backupFolder);
    int code = openAndLoadItunesBackup(backup, options);
    if (code != exitcode::kSuccess)
        return code;

    FolderGuard sourceCache;
    PChatSession chat;
    PChatDbView view = sourceIsBackup ? loadBackupSource(source, sourcePasswordEnv, sourceCache, &code)
                                      : loadChatSource(source, jid, &chat, &code);
    if (!view)
        return code;
    if (sourceIsBackup && !jid.isEmpty()) {
        chat = view->index().sessionByJid(jid);
        if (!chat) {
            cliErr(QStringLiteral("error: the database has no chat %1\n").arg(jid));
            return exitcode::kFailure;
        }
    }
    const PAbsWAMsgsSource messages = std::make_shared<WAMsgsDataSource>(view, chat, true);

    auto device = std::make_shared<IOSDeviceInfo>();
    device->udid = virtualDeviceUdid(backup.backupId());
    device->name = backup.deviceName;
    device->productVersion = backup.productVersion;
    FolderGuard cache;
    try {
        cache.path = iosCacheFolder(*device);
    } catch (const std::exception& e) {
        cliErr(QStringLiteral("error: %1\n").arg(errorText(e)));
        return exitcode::kFailure;
    }
    IOSLoadWAFromiTunesThread load(backup, cache.path);
    {
        ConsoleMonitor monitor;
        code = monitor.runJob(load);
        if (code != exitcode::kSuccess)
            return code;
    }
    if (!QFileInfo(QDir(load.appFolder()).filePath(QStringLiteral("Documents/ChatStorage.sqlite"))).isFile()) {
        cliErr(QStringLiteral("error: %1\n").arg(IOSLoadWAFromiTunesThread::noWhatsAppDataText()));
        return exitcode::kFailure;
    }

    IOSRestoreWAMessagesThread merge(device, messages, load.appFolder());
    {
        ConsoleMonitor monitor;
        code = monitor.runJob(merge);
        if (code != exitcode::kSuccess)
            return code;
    }
    const QList<BackupFileEntry> entries = backupEntriesForMerge(
        backup.records, backup.productVersion,
        {merge.targetDatabasePath(), merge.targetSearchPath(), merge.mediaDomain(), merge.mediaFiles()});
    IOSMergeWAFiles2iTunesBKThread write(backup, entries);
    {
        ConsoleMonitor monitor;
        code = monitor.runJob(write);
        if (code != exitcode::kSuccess)
            return code;
    }
    cliOut(QStringLiteral("%1 messages transferred to iTunes Backup, %2 new\n").arg(merge.processed()).arg(merge.added()));
    return exitcode::kSuccess;
}

CliRegistrar reg({QStringLiteral("itunes-write"),
                  QStringLiteral("itunes-write SOURCE BACKUP [--chat JID] [--password P | --password-env NAME] "
                                 "[--source-password-env NAME]"),
                  QStringLiteral("merge the messages of SOURCE into the WhatsApp data of an iTunes backup and write "
                                 "them into it, all or nothing"),
                  run});

}  // namespace
