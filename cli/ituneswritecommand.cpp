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

int run(const CliArgs& args)
{
    const QString source = args.arg(0);
    const QString backupFolder = args.arg(1);
    const QString jid = args.value(QStringLiteral("chat"));
    const QString sourcePasswordEnv = args.value(QStringLiteral("source-password-env"));
    const ItunesCliOptions options = itunesCliOptions(args);
    if (!isBackupFolder(backupFolder)) {
        cliErr(QStringLiteral("error: %1 is not an iTunes backup folder (no Manifest.plist)\n")
                   .arg(QDir::toNativeSeparators(backupFolder)));
        return exitcode::kFailure;
    }
    const bool sourceIsBackup = QFileInfo(source).isDir() && isBackupFolder(source);
    if (sourceIsBackup && QFileInfo(source).canonicalFilePath() == QFileInfo(backupFolder).canonicalFilePath()) {
        cliErr(QStringLiteral("error: SOURCE and BACKUP are the same backup; the messages are there already\n"));
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

const CliRegistrar reg({
    .name = QStringLiteral("itunes-write"),
    .summary = QStringLiteral("merge the messages of SOURCE into the WhatsApp data of an iTunes backup and write them "
                              "into it, all or nothing"),
    .arguments = {chatSourceArgument(QStringLiteral("the messages to write: a chat database, or another backup "
                                                    "folder")),
                  {QStringLiteral("BACKUP"), QStringLiteral("the backup folder to write into (see itunes-list)")}},
    .options = QList<CliOption>{{QStringLiteral("chat"), QStringLiteral("JID"), QStringLiteral("only this chat")},
                                {QStringLiteral("source-password-env"), QStringLiteral("NAME"),
                                 QStringLiteral("the environment variable holding the password of a SOURCE backup")}} +
               backupPasswordOptions(),
    .examples = {QStringLiteral("itunes-write Anna_Backup /tmp/demo-backup --password \"s3cret pw\""),
                 QStringLiteral("itunes-write ~/old-backup ~/new-backup --source-password-env OLDPW "
                                "--password-env NEWPW --chat 4915550001@s.whatsapp.net")},
    .json = false,
    .run = run,
});

}  // namespace
