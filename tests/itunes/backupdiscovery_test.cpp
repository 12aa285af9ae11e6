// Finding backups: the roots, which folders count as backups, folders that
// cannot be opened, and the newest-first order of the chooser.
#include "itunestestutil.h"

#include "itunes/backupdiscovery.h"
#include "tools/backupbuilder/itunesbackupbuilder.h"

#include <algorithm>

using namespace itest;

namespace {

void makeBackup(const QString& folder, BackupLayout layout, const QDateTime& date, const QString& name)
{
    BackupIdentity id;
    id.date = date;
    id.deviceName = name;
    id.udid = QFileInfo(folder).fileName();
    ItunesBackupBuilder b(folder, layout, QString(), 10, id);
    b.addFile("HomeDomain", "Library/a.txt", "a");
    b.commit();
}

// The rows a chooser shows after inserting backups in this order.
QStringList rowsAfterInserting(const QList<QPair<QString, QDateTime>>& found)
{
    QList<QDateTime> dates;
    QStringList names;
    for (const auto& [name, date] : found) {
        const int row = newestFirstRow(dates, date);
        dates.insert(row, date);
        names.insert(row, name);
    }
    return names;
}

}  // namespace

TEST(BackupDiscovery, RootsInTheirOrder)
{
    EXPECT_EQ(backupRootsFor("/data", "/home/u"),
              (QStringList{"/data/Apple Computer/MobileSync/Backup", "/home/u/Apple/MobileSync/Backup",
                           "/home/u/Library/Application Support/MobileSync/Backup"}));
    EXPECT_EQ(backupRoots().size(), 3);
}

TEST(BackupDiscovery, ListsOpenableBackupsAndReportsTheOthers)
{
    QTemporaryDir dir;
    const QString root1 = dir.filePath("root1");
    const QString root2 = dir.filePath("root2");
    makeBackup(root1 + "/old", BackupLayout::ManifestDb, QDateTime(QDate(2019, 3, 1), QTime(9, 0), Qt::UTC), "Old");
    makeBackup(root2 + "/new", BackupLayout::ManifestMbdb, QDateTime(QDate(2021, 3, 1), QTime(9, 0), Qt::UTC), "New");
    // Manifest.mbdb without Manifest.plist, Manifest.plist alone, a plain file.
    writeFile(root1 + "/noplist/Manifest.mbdb", "mbdb\x05\x00");
    writeManifestPlist(root1 + "/nomanifest", "x", "Lonely");
    writeFile(root1 + "/file.txt", "not a folder");
    // A backup whose Manifest.plist cannot be read.
    writeFile(root2 + "/broken/Manifest.plist", "this is no property list");
    writeFile(root2 + "/broken/Manifest.db", "");
    EXPECT_FALSE(isBackupFolder(root1 + "/noplist"));
    EXPECT_FALSE(isBackupFolder(root1 + "/nomanifest"));
    EXPECT_TRUE(isBackupFolder(root2 + "/broken"));

    QStringList errors;
    const QList<PBackupManifest> found =
        findBackups({root1, dir.filePath("missing"), root2},
                    [&](const QString& folder, const QString& error) { errors << backupLoadErrorText(folder, error); });
    QStringList names;
    for (const PBackupManifest& b : found)
        names << b->deviceName;
    EXPECT_EQ(names, (QStringList{"Old", "New"}));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors.first().startsWith("load " + root2 + "/broken error. ")) << errors.first().toStdString();

    // The date of a listed backup is the time of its Status.plist.
    EXPECT_EQ(found.first()->date, QDateTime(QDate(2019, 3, 1), QTime(9, 0), Qt::UTC));
}

TEST(BackupDiscovery, NewestFirstWhateverTheOrderFound)
{
    const QDateTime d2019(QDate(2019, 5, 1), QTime(8, 0), Qt::UTC);
    const QDateTime d2020(QDate(2020, 5, 1), QTime(8, 0), Qt::UTC);
    const QDateTime d2021(QDate(2021, 5, 1), QTime(8, 0), Qt::UTC);
    QList<QPair<QString, QDateTime>> found{{"a2019", d2019}, {"b2021", d2021}, {"c2020", d2020}};
    std::sort(found.begin(), found.end());
    do {
        EXPECT_EQ(rowsAfterInserting(found), (QStringList{"b2021", "c2020", "a2019"}));
    } while (std::next_permutation(found.begin(), found.end()));
    // Equal dates go after the rows already there.
    EXPECT_EQ(rowsAfterInserting({{"first", d2020}, {"second", d2020}, {"newer", d2021}}),
              (QStringList{"newer", "first", "second"}));
}
