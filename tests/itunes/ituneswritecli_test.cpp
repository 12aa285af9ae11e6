// quillometry-cli itunes-write as a process, on backups written the way
// phones write them (databases in class 4, a live ChatStorage.sqlite-wal,
// WhatsApp in the group container or in its app container only): the
// written backup imports with B's chats plus A's without duplicates and A's
// media byte for byte; a second write adds nothing and changes no stored
// file but the databases.
#include "itunestestutil.h"

#include "base/recordingmonitor.h"
#include "chatstore/ioswaftsdb.h"
#include "cli/exitcodes.h"
#include "itunes/iosloadwafromitunesthread.h"
#include "tools/backupbuilder/itunesbackupbuilder.h"

#include <QDirIterator>
#include <QRegularExpression>

using namespace itest;

#ifdef Q_CLI_PATH

namespace {

const QString kPw = QStringLiteral("pw 1");

QSet<QString> stanzas(const QString& dbPath, const QString& where = QStringLiteral("1"))
{
    QSet<QString> set;
    Sqlite3DB db;
    db.openThrow(dbPath, 1);
    Sqlite3Cursor c = db.queryThrow(
        Sqlite3Sql(("select ZSTANZAID from ZWAMESSAGE where ZSTANZAID is not null and " + where).toUtf8().constData()));
    while (c.moveNext())
        set.insert(c.getText(QStringLiteral("ZSTANZAID")));
    return set;
}

QString scalar(const QString& dbPath, const char* sql)
{
    Sqlite3DB db;
    db.openThrow(dbPath, 1);
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(("select (" + QByteArray(sql) + ") as v").constData()));
    return c.moveNext() ? c.getText(QStringLiteral("v")) : QString();
}

// Plain media files of a chat folder below Library/Media (profile pictures
// aside), by path relative to Library.
QMap<QString, QByteArray> mediaOf(const QString& library)
{
    QMap<QString, QByteArray> files;
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._@/-]+$"));
    QDirIterator it(library + "/Media", QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QString rel = QDir(library).relativeFilePath(it.filePath());
        if (!rel.startsWith("Media/Profile") && plain.match(rel).hasMatch())
            files.insert(rel, readFile(it.filePath()));
    }
    return files;
}

struct Loaded {
    QString appFolder;
    std::unique_ptr<BackupManifest> backup;
};

Loaded loadBackup(const QString& folder, const QString& password, const QString& cache)
{
    Loaded l;
    l.backup = std::make_unique<BackupManifest>(folder);
    l.backup->openThrow();
    if (l.backup->isEncrypted)
        EXPECT_TRUE(l.backup->setPassword(password));
    l.backup->loadThrow();
    IOSLoadWAFromiTunesThread load(*l.backup, cache);
    RecordingMonitor m;
    load.run(m);
    EXPECT_TRUE(m.succeeded()) << m.errors().join("|").toStdString();
    l.appFolder = load.appFolder();
    return l;
}

class ItunesWriteCli : public ::testing::TestWithParam<std::tuple<BackupLayout, bool, bool>> {
protected:
    QTemporaryDir dir;
    QMap<QString, QString> env() const
    {
        return {{"HOME", dir.filePath("home")}, {"XDG_DATA_HOME", dir.filePath("data")}, {"TMPDIR", dir.path()}};
    }
};

TEST_P(ItunesWriteCli, MergesIntoTheBackupOnceAndOnlyOnce)
{
    const auto [layout, encrypted, appOnly] = GetParam();
    const QString password = encrypted ? kPw : QString();
    // A and B share chats and the stanza ids of their first messages.
    const SampleChatDb a = buildSampleChatDb(dir.filePath("A"), ChatDbLayout::Modern, 40, false);
    const SampleChatDb b = buildSampleChatDb(dir.filePath("B"), ChatDbLayout::Modern, 5, false);
    // B's media are not in its backup: A's copies of them must arrive.
    QDir(b.folder.mediaFolder + "/Media").removeRecursively();
    leaveLiveWal(b.folder.databasePath,
                 {"update ZWAMESSAGE set ZTEXT = ZTEXT",
                  "update ZWACHATSESSION set ZPARTNERNAME = 'Logged name' where Z_PK = (select min(Z_PK) from "
                  "ZWACHATSESSION)"});
    ASSERT_GT(QFileInfo(b.folder.databasePath + "-wal").size(), 0);
    // Chats the reader lists: not removed, not broadcast lists.
    const QString listed = QStringLiteral("ZCHATSESSION in (select Z_PK from ZWACHATSESSION where "
                                          "coalesce(ZREMOVED, 0) = 0 and ZSESSIONTYPE != 2)");
    const QSet<QString> bStanzas = stanzas(b.folder.databasePath, listed);
    const QSet<QString> aTexts = stanzas(a.folder.databasePath, "ZMESSAGETYPE = 0 and " + listed);
    QSet<QString> aMediaPaths;
    {
        Sqlite3DB db;
        db.openThrow(a.folder.databasePath, 1);
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(
            ("select ZMEDIALOCALPATH as p from ZWAMEDIAITEM where Z_PK in (select ZMEDIAITEM from ZWAMESSAGE where "
             + listed + ")").toUtf8().constData()));
        while (c.moveNext()) {
            QString p = c.getText(QStringLiteral("p"));
            if (p.startsWith('/'))
                p.remove(0, 1);
            aMediaPaths.insert(p);
        }
    }

    // A phone that keeps a search index beside the database in its group container.
    if (!appOnly)
        ChatDbBuilder::writeSearchIndexFile(QFileInfo(b.folder.databasePath).absolutePath() + "/ChatSearch.sqlite",
                                            {QStringLiteral("kept as it was")});
    const QString folder = dir.filePath("backup");
    {
        ItunesBackupBuilder builder(folder, layout, password, 10);
        builder.addFile("HomeDomain", "Library/Preferences/com.apple.purplebuddy.plist", "<plist/>");
        WhatsAppLayout wa;
        wa.groupContainer = !appOnly;
        builder.addWhatsApp(b.folder, wa);
        builder.commit();
    }
    QStringList args{"itunes-write", a.folder.root, folder};
    if (encrypted)
        args << "--password" << kPw;
    const CliResult first = runCli(args, env());
    ASSERT_EQ(first.exitCode, exitcode::kSuccess) << first.err.toStdString();
    const QRegularExpression summary(QStringLiteral("^(\\d+) messages transferred to iTunes Backup, (\\d+) new\\n$"));
    const auto m1 = summary.match(first.out);
    ASSERT_TRUE(m1.hasMatch()) << first.out.toStdString();
    EXPECT_GT(m1.captured(2).toInt(), 0);
    EXPECT_FALSE(QDir(dir.filePath("data")).entryList({"*"}, QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());

    Loaded loaded = loadBackup(folder, password, dir.filePath("check1"));
    const QString merged = loaded.appFolder + "/Documents/ChatStorage.sqlite";
    EXPECT_EQ(scalar(merged, "select integrity_check from pragma_integrity_check"), "ok");
    const QSet<QString> mergedStanzas = stanzas(merged);
    ASSERT_FALSE(bStanzas.isEmpty());
    ASSERT_FALSE(aTexts.isEmpty());
    EXPECT_EQ(QStringList((bStanzas - mergedStanzas).values()).join(","), "");
    EXPECT_EQ(QStringList((aTexts - mergedStanzas).values()).join(","), "");
    EXPECT_EQ(scalar(merged, "select count(*) from (select 1 from ZWAMESSAGE where ZSTANZAID is not null "
                             "group by ZSTANZAID, ZCHATSESSION having count(*) > 1)"),
              "0");
    // What B's log held was applied before the merge and survived it.
    EXPECT_EQ(scalar(merged, "select count(*) from ZWACHATSESSION where ZPARTNERNAME = 'Logged name'"), "1");
    QMap<QString, QByteArray> aMedia = mediaOf(a.folder.mediaFolder);
    for (const QString& path : aMedia.keys())
        if (!aMediaPaths.contains(path))
            aMedia.remove(path);
    ASSERT_GE(aMedia.size(), 4);
    for (auto it = aMedia.constBegin(); it != aMedia.constEnd(); ++it)
        EXPECT_EQ(readFile(loaded.appFolder + "/Library/" + it.key()), it.value()) << it.key().toStdString();

    // The backup's search index, read back as stored: the document it held
    // and one per merged text, whose ZDOCID names it.
    if (!appOnly) {
        const QString index = dir.filePath("ChatSearch-read.sqlite");
        QStringList get{"itunes-get", folder, ItunesBackupBuilder::kGroupDomain, "ChatSearch.sqlite", "--out", index};
        if (encrypted)
            get << "--password" << kPw;
        const CliResult r = runCli(get, env());
        ASSERT_EQ(r.exitCode, exitcode::kSuccess) << r.err.toStdString();
        Sqlite3DB db;
        db.openThrow(merged, 1);
        ASSERT_TRUE(IOSWaFtsDb::registerTokenizer(db.db));
        ASSERT_EQ(db.exec(QStringLiteral("attach database '%1' as idx").arg(index)), 0);
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(
            "select (select count(*) from idx.docs) as docs, "
            "(select count(*) from ZWAMESSAGE where ZMESSAGETYPE = 0 and ZDOCID > 0) as indexed, "
            "(select count(*) from ZWAMESSAGE m join idx.docs d on d.rowid = m.ZDOCID join idx.metadata md on "
            "md.docID = m.ZDOCID where m.ZMESSAGETYPE = 0 and md.date = m.ZMESSAGEDATE) as matching, "
            "(select count(*) from idx.docs where docs match 'kept') as kept"));
        ASSERT_TRUE(c.moveNext());
        EXPECT_GT(c.getInt64("indexed"), 0);
        EXPECT_EQ(c.getInt64("docs"), c.getInt64("indexed") + 1);
        EXPECT_EQ(c.getInt64("matching"), c.getInt64("indexed"));
        EXPECT_EQ(c.getInt64("kept"), 1);
    }

    // The database record: plain size, a class matching its key.
    {
        MBDBParser table = MBDBParser::parseThrow(loaded.backup->manifestLocation());
        const QString domain = appOnly ? ItunesBackupBuilder::kAppDomain : ItunesBackupBuilder::kGroupDomain;
        const MBDBRecord* r =
            table.find(MBDBParser::fileIdOf(domain, appOnly ? "Documents/ChatStorage.sqlite" : "ChatStorage.sqlite"));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->size, QFileInfo(merged).size());
        EXPECT_EQ(r->protectionClass, 4);
        if (encrypted)
            EXPECT_EQ(qFromLittleEndian<quint32>(r->encryptionKey.bytes().constData()), 4u);
        // No second database where the phone never looks.
        if (appOnly)
            EXPECT_FALSE(table.find(MBDBParser::fileIdOf(ItunesBackupBuilder::kGroupDomain, "ChatStorage.sqlite")));
    }

    // Again: nothing new, only the databases (and the manifest) change.
    const QMap<QString, QByteArray> before = filesBelow(folder);
    const CliResult second = runCli(args, env());
    ASSERT_EQ(second.exitCode, exitcode::kSuccess) << second.err.toStdString();
    const auto m2 = summary.match(second.out);
    ASSERT_TRUE(m2.hasMatch()) << second.out.toStdString();
    EXPECT_EQ(m2.captured(2), "0");
    const QMap<QString, QByteArray> after = filesBelow(folder);
    QSet<QString> allowed{"Manifest.db", "Manifest.mbdb", "Manifest-decrypted.db"};
    for (const QString& path : {"ChatStorage.sqlite", "ChatStorage.sqlite-wal", "ChatStorage.sqlite-shm",
                                "ChatSearch.sqlite", "Documents/ChatStorage.sqlite", "Documents/ChatStorage.sqlite-wal",
                                "Documents/ChatStorage.sqlite-shm"}) {
        for (const QString& domain : {ItunesBackupBuilder::kAppDomain, ItunesBackupBuilder::kGroupDomain}) {
            const QString id = MBDBParser::fileIdOf(domain, path);
            allowed << id << id.left(2) + "/" + id;
        }
    }
    EXPECT_EQ(after.keys(), before.keys());
    for (auto it = after.constBegin(); it != after.constEnd(); ++it)
        if (!allowed.contains(it.key()))
            EXPECT_EQ(it.value(), before.value(it.key())) << it.key().toStdString();
    Loaded again = loadBackup(folder, password, dir.filePath("check2"));
    EXPECT_EQ(stanzas(again.appFolder + "/Documents/ChatStorage.sqlite").size(), mergedStanzas.size());
}

INSTANTIATE_TEST_SUITE_P(Backups, ItunesWriteCli,
                         ::testing::Combine(::testing::Values(BackupLayout::ManifestDb, BackupLayout::ManifestMbdb),
                                            ::testing::Bool(), ::testing::Bool()));

TEST(ItunesWriteCliErrors, WrongPasswordNoWhatsAppAndTheSameBackupWriteNothing)
{
    QTemporaryDir dir;
    const QMap<QString, QString> env{{"HOME", dir.filePath("home")}, {"XDG_DATA_HOME", dir.filePath("data")},
                                     {"TMPDIR", dir.path()}};
    const SampleChatDb a = buildSampleChatDb(dir.filePath("A"), ChatDbLayout::Modern, 3, false);
    const QString withWa = dir.filePath("wa");
    {
        ItunesBackupBuilder builder(withWa, BackupLayout::ManifestDb, kPw, 10);
        builder.addWhatsApp(a.folder);
        builder.commit();
    }
    const QString without = dir.filePath("nowa");
    {
        ItunesBackupBuilder builder(without, BackupLayout::ManifestMbdb, QString(), 10);
        builder.addFile("HomeDomain", "Library/a.txt", "a");
        builder.commit();
    }
    const auto beforeWa = filesBelow(withWa);
    const auto beforeNoWa = filesBelow(without);

    CliResult r = runCli({"itunes-write", a.folder.root, withWa, "--password", "wrong"}, env);
    EXPECT_EQ(r.exitCode, exitcode::kPassword) << r.err.toStdString();
    r = runCli({"itunes-write", a.folder.root, without}, env);
    EXPECT_EQ(r.exitCode, exitcode::kFailure);
    EXPECT_TRUE(r.err.contains("Found no WhatsApp data in your iTunes Backup.")) << r.err.toStdString();
    r = runCli({"itunes-write", withWa, withWa, "--password", kPw}, env);
    EXPECT_EQ(r.exitCode, exitcode::kUsage);
    EXPECT_EQ(filesBelow(without), beforeNoWa);
    auto afterWa = filesBelow(withWa);
    afterWa.remove("Manifest-decrypted.db");  // unlocking writes the decrypted manifest copy
    auto expectedWa = beforeWa;
    expectedWa.remove("Manifest-decrypted.db");
    EXPECT_EQ(afterWa, expectedWa);

    r = runCli({"itunes-write", "--help"}, env);
    EXPECT_EQ(r.exitCode, exitcode::kSuccess);
    EXPECT_TRUE(r.out.contains("Examples:"));
}

}  // namespace

#endif
