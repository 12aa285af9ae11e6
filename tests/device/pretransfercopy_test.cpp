// The copies of a phone's own databases made before a transfer: which files
// of a backup they take (and which never), where they lie, which ones stay
// when there are too many, and which one an undo takes by default.
#include "base/fileutil.h"
#include "device/ioscachefolders.h"
#include "device/pretransfercopy.h"
#include "itunes/backupmanifest.h"
#include "itunes/itunestestutil.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kGroup = QStringLiteral("AppDomainGroup-group.net.whatsapp.WhatsApp.shared");

// A plain backup (Manifest.mbdb) holding these files.
QString makeBackup(const QTemporaryDir& dir, const QList<std::tuple<QString, QString, QByteArray>>& files)
{
    const QString folder = dir.filePath("backup");
    QDir().mkpath(folder);
    itest::writeManifestPlist(folder, "00008101-PRETRANSFER", "Test iPhone");
    QList<MBDBRecord> records;
    for (const auto& [domain, path, bytes] : files) {
        MBDBRecord r = itest::makeRecord(domain, path);
        r.size = bytes.size();
        records << r;
        itest::writeFile(QDir(folder).filePath(MBDBParser::fileIdOf(domain, path)), bytes);
    }
    itest::writeMbdb(folder, records);
    return folder;
}

TEST(PreTransferCopy, TakesThePhonesDatabasesKeepsTheNewestAndPrefersTransfers)
{
    QTemporaryDir dir;
    IOSDeviceInfo device;
    device.udid = QStringLiteral("00008101-PRETRANSFER");
    removeFolderTree(iosStaticCacheFolder(device));
    const QString folder = makeBackup(
        dir, {{kGroup, "ChatStorage.sqlite", "db"},
              {kGroup, "ChatStorage.sqlite-wal", "log"},
              {kGroup, "ChatSearch.sqlite", "index"},
              {"AppDomain-net.whatsapp.WhatsApp", "Documents/LID.sqlite", "lid"},
              {kGroup, "Message/Media/a/b/photo.jpg", "media"},
              {kGroup, "Library/Preferences/group.net.whatsapp.WhatsApp.shared.plist", "prefs"},
              {kGroup, "../escape/ChatStorage.sqlite", "hostile"},
              {"AppDomain-com.example.other", "ChatStorage.sqlite", "another app"}});
    BackupManifest backup(folder);
    backup.openThrow();
    backup.loadThrow();

    const PreTransferCopy first = savePreTransferCopyThrow(backup, device, nullptr, 3);
    ASSERT_TRUE(first.isValid());
    EXPECT_TRUE(first.folder.startsWith(preTransferFolder(device)));
    QStringList taken;
    for (const PreTransferFile& f : first.files) {
        taken << f.domain + " " + f.relativePath;
        EXPECT_TRUE(f.localPath.startsWith(first.folder + "/"));
    }
    EXPECT_EQ(taken, (QStringList{"AppDomain-net.whatsapp.WhatsApp Documents/LID.sqlite",
                                  kGroup + " ChatSearch.sqlite", kGroup + " ChatStorage.sqlite",
                                  kGroup + " ChatStorage.sqlite-wal"}));
    EXPECT_EQ(itest::readFile(first.chatDatabase()), QByteArray("db"));
    EXPECT_EQ(itest::readFile(first.chatDatabase() + "-wal"), QByteArray("log"));
    EXPECT_FALSE(QFileInfo::exists(first.folder + "/escape"));
    EXPECT_EQ(cachePathFor("/c/app", first.files[0]), "/c/app/Documents/LID.sqlite");
    EXPECT_EQ(cachePathFor("/c/app", first.files[2]), "/c/app/Documents/ChatStorage.sqlite");

    // No transfer reached the phone yet: an undo has nothing to take.
    EXPECT_FALSE(findPreTransferCopy(device).isValid());
    markPreTransferCopyTransferred(first, 4711);
    EXPECT_EQ(transferredLastMessageKey(findPreTransferCopy(device)), 4711);

    // Three failed transfers after it: the oldest failed one goes, the
    // copy of the transfer that reached the phone stays.
    QStringList failed;
    for (int i = 0; i < 3; ++i)
        failed << savePreTransferCopyThrow(backup, device, nullptr, 3).id;
    QStringList left;
    for (const PreTransferCopy& c : preTransferCopies(device))
        left << c.id;
    EXPECT_EQ(left, (QStringList{failed[2], failed[1], first.id}));
    EXPECT_EQ(findPreTransferCopy(device).id, first.id);
    EXPECT_EQ(findPreTransferCopy(device, failed[1]).id, failed[1]);
    EXPECT_EQ(transferredLastMessageKey(findPreTransferCopy(device, failed[1])), -1);
    removeFolderTree(iosStaticCacheFolder(device));
}

TEST(PreTransferCopy, ABackupWithoutWhatsAppsDatabaseLeavesNoCopy)
{
    QTemporaryDir dir;
    IOSDeviceInfo device;
    device.udid = QStringLiteral("00008101-PRETRANSFER2");
    removeFolderTree(iosStaticCacheFolder(device));
    const QString folder = makeBackup(dir, {{kGroup, "ChatSearch.sqlite", "index"}});
    BackupManifest backup(folder);
    backup.openThrow();
    backup.loadThrow();
    EXPECT_THROW(savePreTransferCopyThrow(backup, device, nullptr), std::exception);
    EXPECT_TRUE(QDir(preTransferFolder(device)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    removeFolderTree(iosStaticCacheFolder(device));
}

}  // namespace
