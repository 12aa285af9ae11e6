// "Export Messages to iTunes Backup" in the window: the messages of a chat
// database reach the chosen backup, the success box names their number, and
// the virtual device's cache is gone afterwards.
#include "app/exporttoitunescommands.h"
#include "app/mainwindow.h"
#include "base/datafolder.h"
#include "base/recordingmonitor.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/loadwhatsappdbthread.h"
#include "chatstore/wamsgsdatasource.h"
#include "device/ioscachefolders.h"
#include "itunes/backupmanifest.h"
#include "itunes/iosloadwafromitunesthread.h"
#include "tools/backupbuilder/itunesbackupbuilder.h"

#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

PChatDbView loadView(const std::shared_ptr<IOSWhatsAppDb>& db)
{
    LoadWhatsAppDbThread load(db);
    RecordingMonitor monitor;
    load.run(monitor);
    return load.takeResult(false);
}

qint64 messageCount(const QString& dbPath)
{
    Sqlite3DB db;
    db.openThrow(dbPath, 1);
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("select count(*) as n from ZWAMESSAGE"));
    return c.moveNext() ? c.getInt64(QStringLiteral("n")) : -1;
}

}  // namespace

TEST(ExportToItunes, MessagesReachTheBackupAndTheCacheIsRemoved)
{
    QTemporaryDir dir;
    const SampleChatDb a = buildSampleChatDb(dir.filePath("A"), ChatDbLayout::Modern, 30, false);
    const SampleChatDb b = buildSampleChatDb(dir.filePath("B"), ChatDbLayout::Modern, 2, false);
    const QString folder = dir.filePath("backup");
    {
        ItunesBackupBuilder builder(folder, BackupLayout::ManifestDb, QStringLiteral("pw"), 10);
        builder.addWhatsApp(b.folder);
        builder.commit();
    }
    BackupManifest backup(folder);
    backup.openThrow();
    ASSERT_TRUE(backup.setPassword(QStringLiteral("pw")));

    auto source = std::make_shared<WAMsgsDataSource>(
        loadView(std::make_shared<IOSWhatsAppDb>(a.folder.databasePath, QString(), a.folder.mediaFolder,
                                                 a.folder.profileFolder, false, false)),
        nullptr, true);

    MainWindow window;
    QStringList boxes;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); box && box->isVisible()) {
            boxes << box->text();
            box->done(0);
        }
    });
    closer.start(20);
    ASSERT_TRUE(window.exportToItunesCommands()->exportToBackup(source, backup));
    closer.stop();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes.first(), ExportToItunesCommands::successText(source->count()));

    IOSDeviceInfo device;
    device.udid = virtualDeviceUdid(backup.backupId());
    EXPECT_FALSE(QFileInfo::exists(QDir(dataFolder()).filePath("ios_cache/" + device.udid + "/net.whatsapp.WhatsApp")));

    // Loaded again, the backup holds more messages than B had.
    BackupManifest again(folder);
    again.openThrow();
    ASSERT_TRUE(again.setPassword(QStringLiteral("pw")));
    again.loadThrow();
    IOSLoadWAFromiTunesThread load(again, dir.filePath("check"));
    RecordingMonitor monitor;
    load.run(monitor);
    ASSERT_TRUE(monitor.succeeded());
    EXPECT_GT(messageCount(load.appFolder() + "/Documents/ChatStorage.sqlite"), messageCount(b.folder.databasePath));
}
