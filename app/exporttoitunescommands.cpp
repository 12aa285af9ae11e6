#include "app/exporttoitunescommands.h"

#include "app/loaditunesbackupdlg.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "app/passcodedlg.h"
#include "app/progressjob.h"
#include "base/fileutil.h"
#include "device/ioscachefolders.h"
#include "device/iosrestorewamessagesthread.h"
#include "itunes/backupfileentry.h"
#include "itunes/backupmanifest.h"
#include "itunes/iosloadwafromitunesthread.h"
#include "itunes/iosmergewafiles2itunesbkthread.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The virtual device's cache goes with the flow, whatever happened.
struct CacheGuard {
    QString path;
    ~CacheGuard()
    {
        if (!path.isEmpty())
            removeFolderTree(path);
    }
};

}  // namespace

ExportToItunesCommands::ExportToItunesCommands(MainWindow* window) : QObject(window), m_window(window) {}

QString ExportToItunesCommands::successText(qint64 messages)
{
    return QStringLiteral("Successfully transferred %1 messages to iTunes Backup.<br/><br/>").arg(messages);
}

void ExportToItunesCommands::exportToItunes(CommandScope scope)
{
    const PAbsWAMsgsSource source = m_window->scopeSource(scope);
    if (!source)
        return;
    PBackupManifest backup;
    {
        LoadItunesBackupDlg chooser(m_window);
        if (chooser.exec() != QDialog::Accepted)
            return;
        backup = chooser.chosenBackup();
    }
    if (!backup)
        return;
    if (backup->isEncrypted && backup->password.isEmpty()) {
        PasscodeDlg prompt(*backup, m_window);
        if (prompt.exec() != QDialog::Accepted)
            return;
    }
    exportToBackup(source, *backup);
}

bool ExportToItunesCommands::exportToBackup(const PAbsWAMsgsSource& source, BackupManifest& backup)
{
    auto device = std::make_shared<IOSDeviceInfo>();
    CacheGuard cache;
    try {
        backup.loadThrow();
        device->udid = virtualDeviceUdid(backup.backupId());
        device->name = backup.deviceName;
        device->productVersion = backup.productVersion;
        cache.path = iosCacheFolder(*device);
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
        return false;
    }

    IOSLoadWAFromiTunesThread load(backup, cache.path);
    if (!runProgressJob(m_window, QString(), load))
        return false;
    if (!QFileInfo(QDir(load.appFolder()).filePath(QStringLiteral("Documents/ChatStorage.sqlite"))).isFile()) {
        errorBox(IOSLoadWAFromiTunesThread::noWhatsAppDataText());
        return false;
    }

    IOSRestoreWAMessagesThread merge(device, source, load.appFolder());
    if (!runProgressJob(m_window, QString(), merge))
        return false;

    const QList<BackupFileEntry> entries = backupEntriesForMerge(
        backup.records, backup.productVersion,
        {merge.targetDatabasePath(), merge.targetSearchPath(), merge.mediaDomain(), merge.mediaFiles()});
    IOSMergeWAFiles2iTunesBKThread write(backup, entries);
    if (!runProgressJob(m_window, QString(), write))
        return false;
    informationBox(successText(merge.processed()));
    return true;
}
