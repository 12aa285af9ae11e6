// quillometry-cli itunes-list and import, run as the real executable on
// backups written by the backup builder.
#include "itunestestutil.h"

#include "cli/exitcodes.h"
#include "tools/backupbuilder/itunesbackupbuilder.h"

using namespace itest;

#ifdef Q_CLI_PATH

namespace {

void makeListedBackup(const QString& folder, const QDateTime& date, const QString& name, const QString& password,
                      BackupLayout layout)
{
    BackupIdentity id;
    id.date = date;
    id.deviceName = name;
    id.udid = QFileInfo(folder).fileName();
    ItunesBackupBuilder b(folder, layout, password, 10, id);
    b.addFile("HomeDomain", "Library/a.txt", "a");
    b.commit();
}

}  // namespace

TEST(ImportCli, ItunesListNewestFirstAcrossTheRoots)
{
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    const QString data = dir.filePath("data");
    const QString winRoot = data + "/Apple Computer/MobileSync/Backup";
    const QString homeRoot = home + "/Apple/MobileSync/Backup";
    const QString macRoot = home + "/Library/Application Support/MobileSync/Backup";
    makeListedBackup(winRoot + "/a", QDateTime(QDate(2019, 1, 2), QTime(10, 0), Qt::UTC), "Old", {},
                     BackupLayout::ManifestMbdb);
    makeListedBackup(homeRoot + "/b", QDateTime(QDate(2021, 1, 2), QTime(10, 0), Qt::UTC), "Newest", "pw",
                     BackupLayout::ManifestDb);
    makeListedBackup(macRoot + "/c", QDateTime(QDate(2020, 1, 2), QTime(10, 0), Qt::UTC), "Middle", {},
                     BackupLayout::ManifestDb);
    writeFile(winRoot + "/mbdb-only/Manifest.mbdb", "mbdb\x05\x00");
    writeFile(macRoot + "/broken/Manifest.plist", "garbage");
    writeFile(macRoot + "/broken/Manifest.db", "");

    const QMap<QString, QString> env{{"HOME", home}, {"XDG_DATA_HOME", data}, {"TZ", "UTC"}};
    CliResult r = runCli({"itunes-list"}, env);
    EXPECT_EQ(r.exitCode, exitcode::kSuccess) << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
    EXPECT_EQ(lines[0].toStdString(), ("Newest\t2021-01-02 10:00\t" + homeRoot + "/b\tencrypted").toStdString());
    EXPECT_EQ(lines[1].toStdString(), ("Middle\t2020-01-02 10:00\t" + macRoot + "/c\tplain").toStdString());
    EXPECT_EQ(lines[2].toStdString(), ("Old\t2019-01-02 10:00\t" + winRoot + "/a\tplain").toStdString());
    EXPECT_TRUE(r.err.contains("load " + macRoot + "/broken error. ")) << r.err.toStdString();
    EXPECT_FALSE(r.out.contains("mbdb-only"));

    CliResult none = runCli({"itunes-list"}, {{"HOME", dir.filePath("nobody")}, {"XDG_DATA_HOME", dir.filePath("x")}});
    EXPECT_EQ(none.exitCode, exitcode::kSuccess);
    EXPECT_TRUE(none.out.isEmpty());
    EXPECT_TRUE(none.err.contains("No iTunes backup found")) << none.err.toStdString();
}

#endif
