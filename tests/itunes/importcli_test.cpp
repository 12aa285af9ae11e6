// quillometry-cli itunes-list and import, run as the real executable on
// backups written by the backup builder.
#include "itunestestutil.h"

#include "base/datafolder.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/loadwhatsappdbthread.h"
#include "chatstore/wamsgsdatasource.h"
#include "base/recordingmonitor.h"
#include "cli/exitcodes.h"
#include "support/childsignal.h"
#include "tools/backupbuilder/itunesbackupbuilder.h"

#include <QRandomGenerator>
#include <QThread>

#include <QCoreApplication>
#include <QDirIterator>

#include <csignal>
#include <unistd.h>

using namespace itest;

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
    REQUIRE_CLI();
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
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
    EXPECT_EQ(lines[0].toStdString(), ("Newest\t2021-01-02 10:00\t" + homeRoot + "/b\tencrypted").toStdString());
    EXPECT_EQ(lines[1].toStdString(), ("Middle\t2020-01-02 10:00\t" + macRoot + "/c\tplain").toStdString());
    EXPECT_EQ(lines[2].toStdString(), ("Old\t2019-01-02 10:00\t" + winRoot + "/a\tplain").toStdString());
    EXPECT_TRUE(r.err.contains("load " + macRoot + "/broken error. ")) << r.err.toStdString();
    EXPECT_FALSE(r.out.contains("mbdb-only"));

    CliResult none = runCli({"itunes-list"}, {{"HOME", dir.filePath("nobody")}, {"XDG_DATA_HOME", dir.filePath("x")}});
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_TRUE(none.out.isEmpty());
    EXPECT_TRUE(none.err.contains("No iTunes backup found")) << none.err.toStdString();
}

namespace {

struct Snapshot {
    int chats = 0;
    QStringList messages;              // "jid|type|stanza|text", sorted
    QMap<QString, QByteArray> media;   // stanza -> bytes of the media file found
};

Snapshot snapshotOf(const std::shared_ptr<IOSWhatsAppDb>& db)
{
    Snapshot s;
    LoadWhatsAppDbThread load(db);
    RecordingMonitor monitor;
    load.run(monitor);
    EXPECT_FALSE(load.failed()) << load.errorText().toStdString();
    const PChatDbView view = load.takeResult(false);
    s.chats = int(view->index().sessions.size());
    WAMsgsDataSource all(view, nullptr, true);
    for (qint64 i = 0, n = all.count(); i < n; ++i) {
        const _Message m = all.at(i);
        s.messages << QStringLiteral("%1|%2|%3|%4")
                          .arg(m.session ? m.session->ZCONTACTJID : QString())
                          .arg(m.ZMESSAGETYPE)
                          .arg(m.ZSTANZAID, m.ZTEXT);
        if (m.media && QFileInfo(m.media->mediaFile).isFile())
            s.media.insert(m.ZSTANZAID, readFile(m.media->mediaFile));
    }
    s.messages.sort();
    db->closeDb();
    return s;
}

Snapshot snapshotOfLocalDb(const QString& folder)
{
    return snapshotOf(std::make_shared<IOSWhatsAppDb>(folder + "/ChatStorage.sqlite", QString(), folder + "/Library",
                                                      folder + "/Library/Media/Profile", true, false));
}

// A data folder, a home and a temporary folder of the test's own.
class ImportEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_CLI();
        ASSERT_TRUE(dir.isValid());
        QDir().mkpath(dir.filePath("tmp"));
        env = {{"HOME", dir.filePath("home")}, {"XDG_DATA_HOME", dir.filePath("data")}, {"TMPDIR", dir.filePath("tmp")}};
        localDbs = dataFolderFor(dir.filePath("data")) + "/local_databases";
        chat = buildSampleChatDb(dir.filePath("chat"), ChatDbLayout::Modern, 40, false);
        source = snapshotOf(std::make_shared<IOSWhatsAppDb>(chat.folder.databasePath, QString(), chat.folder.mediaFolder,
                                                            chat.folder.profileFolder, false, false));
    }

    QString makeBackup(const QString& name, BackupLayout layout, const QString& password,
                       const WhatsAppLayout& wa = {})
    {
        BackupIdentity id;
        id.deviceName = name;
        const QString folder = dir.filePath("backups/" + name);
        ItunesBackupBuilder b(folder, layout, password, 10, id);
        b.addFile("HomeDomain", "Library/Preferences/com.apple.purplebuddy.plist", "<plist/>");
        b.addWhatsApp(chat.folder, wa);
        b.commit();
        return folder;
    }

    QString cacheOf(const QString& backupFolder) const
    {
        const QString id = QCryptographicHash::hash(QDir(backupFolder).absolutePath().toUtf8(), QCryptographicHash::Md5).toHex();
        return dir.filePath(QString("tmp/quillometry-%1/quillometry-itunes_cache/%2").arg(::getuid()).arg(id));
    }

    QStringList localDbNames() const { return QDir(localDbs).entryList(QDir::Dirs | QDir::NoDotAndDotDot); }

    QTemporaryDir dir;
    QMap<QString, QString> env;
    QString localDbs;
    SampleChatDb chat;
    Snapshot source;
};

}  // namespace

TEST_F(ImportEndToEnd, EachBackupGivesALocalDatabaseEqualToTheFixture)
{
    ASSERT_GT(source.messages.size(), 40);
    ASSERT_GE(source.media.size(), 3);
    struct Case {
        const char* name;
        BackupLayout layout;
        const char* password;
    };
    const Case cases[] = {
        {"db plain", BackupLayout::ManifestDb, ""},
        {"db encrypted", BackupLayout::ManifestDb, "s3cret pw"},
        {"mbdb plain", BackupLayout::ManifestMbdb, ""},
        {"mbdb encrypted", BackupLayout::ManifestMbdb, "s3cret pw"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = makeBackup(c.name, c.layout, c.password);
        QStringList args{"import", folder};
        if (*c.password)
            args << "--password" << c.password;
        const CliResult r = runCli(args, env);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const QString name = QString(c.name) + "_Backup";
        EXPECT_TRUE(r.out.contains("into the local database \"" + name + "\"")) << r.out.toStdString();
        const Snapshot imported = snapshotOfLocalDb(localDbs + "/" + name);
        EXPECT_EQ(imported.chats, chat.expectedChats);
        EXPECT_EQ(imported.messages.size(), chat.expectedCount);
        EXPECT_EQ(imported.messages, source.messages);
        EXPECT_EQ(imported.media, source.media);
    }
}

TEST_F(ImportEndToEnd, NoWhatsAppAndWrongPasswordLeaveNothingBehind)
{
    const QString bare = makeBackup("bare", BackupLayout::ManifestDb, "", {false, true});
    CliResult r = runCli({"import", bare}, env);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Found no WhatsApp data in your iTunes Backup. Please check if you have installed and "
                               "logined WhatsApp Messenger on your iPhone."))
        << r.err.toStdString();
    EXPECT_FALSE(r.out.contains("Successfully"));

    const QString locked = makeBackup("locked", BackupLayout::ManifestDb, "right");
    r = runCli({"import", locked, "--password", "wrong"}, env);
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_TRUE(r.err.contains("Invalid password.")) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(cacheOf(locked)));
    EXPECT_FALSE(QFileInfo::exists(locked + "/Manifest-decrypted.db"));
    EXPECT_TRUE(localDbNames().isEmpty()) << localDbNames().join(", ").toStdString();
}

TEST_F(ImportEndToEnd, SecondImportKeepsCachedMediaAndReplacesTheDatabase)
{
    const QString folder = makeBackup("twice", BackupLayout::ManifestMbdb, "pw");
    CliResult r = runCli({"import", folder, "--password", "pw"}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString app = cacheOf(folder) + "/net.whatsapp.WhatsApp";
    const QString cachedImage = app + "/Library/Media/4915550001@s.whatsapp.net/a/b/IMG_1.jpg";
    ASSERT_TRUE(QFileInfo(cachedImage).isFile());
    writeFile(cachedImage, "cached by the first import");
    writeFile(app + "/Documents/ChatStorage.sqlite", "damaged since");

    r = runCli({"import", folder, "--password", "pw"}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("(0 new)")) << r.out.toStdString();
    EXPECT_EQ(readFile(cachedImage), "cached by the first import");
    EXPECT_EQ(readFile(app + "/Documents/ChatStorage.sqlite"), readFile(chat.folder.databasePath));
    EXPECT_EQ(localDbNames(), QStringList{"twice_Backup"});
    EXPECT_EQ(snapshotOfLocalDb(localDbs + "/twice_Backup").messages, source.messages);
}

TEST_F(ImportEndToEnd, IntoAnExistingLocalDatabaseByName)
{
    const QString folder = makeBackup("into", BackupLayout::ManifestDb, "");
    CliResult r = runCli({"import", folder, "--to", "Family"}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(localDbs + "/Family/net.whatsapp.WhatsApp"));
    // Now it exists: the copy goes into its folder, as from its own entry.
    r = runCli({"import", folder, "--to", "family"}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo(localDbs + "/Family/net.whatsapp.WhatsApp/Documents/ChatStorage.sqlite").isFile());
    EXPECT_EQ(localDbNames(), QStringList{"Family"});
    EXPECT_EQ(snapshotOfLocalDb(localDbs + "/Family").messages, source.messages);

    for (const char* bad : {"..", "a/b", " "}) {
        r = runCli({"import", folder, "--to", bad}, env);
        EXPECT_EQ(r.exitCode, 2) << bad;
    }
    EXPECT_EQ(localDbNames(), QStringList{"Family"});
}

TEST_F(ImportEndToEnd, ADeviceNameWithASlashGivesAValidProposalAndNoPlainManifestStays)
{
    const QString folder = makeBackup("Work/Private iPhone", BackupLayout::ManifestDb, "pw");
    const CliResult r = runCli({"import", folder, "--password", "pw"}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(localDbNames(), QStringList{"Work_Private iPhone_Backup"});
    EXPECT_EQ(snapshotOfLocalDb(localDbs + "/Work_Private iPhone_Backup").messages, source.messages);
    // The decrypted manifest was a private temporary file, gone with the run.
    EXPECT_FALSE(QFileInfo::exists(folder + "/Manifest-decrypted.db"));
    const QString temp = dir.filePath(QString("tmp/quillometry-%1").arg(::getuid()));
    EXPECT_TRUE(QDir(temp).entryList({"Manifest-decrypted*"}, QDir::Files).isEmpty());
}

TEST_F(ImportEndToEnd, AStoredFileThatIsALinkIsNeverFollowed)
{
    const QString folder = makeBackup("linked", BackupLayout::ManifestDb, "");
    const QByteArray image = readFile(chat.folder.mediaFolder + "/Media/4915550001@s.whatsapp.net/a/b/IMG_1.jpg");
    ASSERT_FALSE(image.isEmpty());
    const QString secret = dir.filePath("outside.txt");
    writeFile(secret, "SECRET-OUTSIDE-THE-BACKUP");
    int replaced = 0;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString stored = it.next();
        if (readFile(stored) == image && QFile::remove(stored) && QFile::link(secret, stored))
            ++replaced;
    }
    ASSERT_EQ(replaced, 1);
    runCli({"import", folder}, env);
    // Whatever the outcome, the outside file's content landed nowhere.
    for (const QString& root : {localDbs, cacheOf(folder)}) {
        QDirIterator files(root, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString f = files.next();
            EXPECT_FALSE(readFile(f).contains("SECRET-OUTSIDE")) << f.toStdString();
        }
    }
}

TEST_F(ImportEndToEnd, WhatsAppBusinessByAppOptionOrAsTheOnlyApp)
{
    const SampleChatDb business = buildSampleChatDb(dir.filePath("smb"), ChatDbLayout::Today, 10, false);
    auto backupWith = [&](const QString& name, bool messenger, bool smb, const QString& password) {
        BackupIdentity id;
        id.deviceName = name;
        const QString folder = dir.filePath("backups/" + name);
        ItunesBackupBuilder b(folder, BackupLayout::ManifestDb, password, 10, id);
        if (messenger)
            b.addWhatsApp(chat.folder);
        else
            b.addEmptyGroupContainer(WhatsAppApp::messenger());
        if (smb)
            b.addWhatsApp(business.folder, {true, true, &WhatsAppApp::business()});
        else
            b.addEmptyGroupContainer(WhatsAppApp::business());
        b.commit();
        return folder;
    };
    struct Case {
        const char* name;
        bool messenger;
        bool business;
        const char* password;
        QStringList extra;
        int exitCode;
        const char* database;  // the local database filled, nullptr: none
        bool note;
        const char* apps;
    };
    const Case cases[] = {
        {"business", false, true, "", {}, exitcode::kSuccess, "business_Business_Backup", false, "WhatsApp Business"},
        {"business enc", false, true, "pw", {"--password", "pw"}, exitcode::kSuccess, "business enc_Business_Backup",
         false, "WhatsApp Business"},
        {"both", true, true, "", {}, exitcode::kSuccess, "both_Backup", true, "WhatsApp, WhatsApp Business"},
        {"both2", true, true, "", {"--app", "business"}, exitcode::kSuccess, "both2_Business_Backup", false,
         "WhatsApp, WhatsApp Business"},
        {"messenger", true, false, "", {"--app", "business"}, exitcode::kFailure, nullptr, false, "WhatsApp"},
        {"messenger2", true, false, "", {"--app", "whatsapp"}, exitcode::kSuccess, "messenger2_Backup", false,
         "WhatsApp"},
        {"neither", false, false, "", {}, exitcode::kFailure, nullptr, false, "none"},
        {"bad option", true, false, "", {"--app", "signal"}, exitcode::kUsage, nullptr, false, "WhatsApp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = backupWith(c.name, c.messenger, c.business, c.password);
        QStringList info{"itunes-info", folder};
        if (*c.password)
            info << "--password" << c.password;
        const CliResult shown = runCli(info, env);
        EXPECT_TRUE(shown.out.contains(QString("\nApps: %1\n").arg(c.apps))) << shown.out.toStdString();

        const CliResult r = runCli(QStringList{"import", folder} + c.extra, env);
        ASSERT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_EQ(r.err.contains("also holds WhatsApp Business; import it with --app business"), c.note)
            << r.err.toStdString();
        if (!c.database) {
            if (c.exitCode == exitcode::kFailure) {
                const char* text = c.messenger ? "Found no WhatsApp Business data" : "Found no WhatsApp data";
                EXPECT_TRUE(r.err.contains(text)) << r.err.toStdString();
            }
            continue;
        }
        EXPECT_TRUE(r.out.contains(QString("into the local database \"%1\"").arg(c.database))) << r.out.toStdString();
        const bool fromBusiness = QString(c.database).endsWith("_Business_Backup");
        const Snapshot imported = snapshotOfLocalDb(localDbs + "/" + c.database);
        EXPECT_EQ(imported.messages.size(), fromBusiness ? business.expectedCount : chat.expectedCount);
    }
    // The copy of a Business-only backup is a chat source of its own.
    const CliResult chats = runCli({"chats", cacheOf(dir.filePath("backups/business"))}, env);
    EXPECT_EQ(chats.exitCode, exitcode::kSuccess) << chats.err.toStdString();
    EXPECT_TRUE(chats.out.contains("4915550016")) << chats.out.toStdString();
}

// A Ctrl-C at a seeded random moment of each phase of an import: reading
// the manifest, deriving the password key (many rounds here), copying the
// app's files, saving into the local database. The command ends either
// cancelled with nothing written, or (when the Ctrl-C came after the
// commit) with everything; it never goes on to a later step, and it never
// dies of the signal itself.
TEST_F(ImportEndToEnd, ACtrlCAtAnyMomentOfAnImportEndsIt)
{
    const SampleChatDb big = buildSampleChatDb(dir.filePath("bigchat"), ChatDbLayout::Modern, 6000, false);
    const QString folder = dir.filePath("backups/slow");
    {
        BackupIdentity id;
        id.deviceName = "Slow";
        ItunesBackupBuilder b(folder, BackupLayout::ManifestDb, "pw", 400000, id);
        b.addWhatsApp(big.folder);
        b.commit();
    }
    bool fixed = false;
    const quint32 envSeed = quint32(qEnvironmentVariableIntValue("QM_TEST_SEED", &fixed));
    const quint32 seed = fixed ? envSeed : quint32(QRandomGenerator::system()->generate());
    QRandomGenerator random(seed);
    // The phase begins with the first status line that contains its marker.
    const QList<QByteArray> phases{QByteArray(), "Verifying", "Loading data from iTunes Backup", "Messages: "};
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (auto it = env.begin(); it != env.end(); ++it)
        e.insert(it.key(), it.value());
    for (int trial = 0; trial < 12; ++trial) {
        const QByteArray& marker = phases[trial % phases.size()];
        SCOPED_TRACE(QString("seed %1 (QM_TEST_SEED), trial %2, phase \"%3\"")
                         .arg(seed)
                         .arg(trial)
                         .arg(QString::fromLatin1(marker))
                         .toStdString());
        const QString name = QString("Stopped%1").arg(trial);
        QProcess p;
        ChildSignal child(p);
        p.setProcessEnvironment(e);
        p.start(cliPath(), {"import", folder, "--to", name, "--password", "pw"});
        ASSERT_TRUE(p.waitForStarted());
        QByteArray err;
        while (!marker.isEmpty() && !err.contains(marker) && p.state() != QProcess::NotRunning) {
            p.waitForReadyRead(20);
            err += p.readAllStandardError();
        }
        QThread::usleep(random.bounded(marker.isEmpty() ? 150000 : 400000));
        child.send(SIGINT);  // false when the import already ended
        ASSERT_TRUE(p.waitForFinished(120000));
        err += p.readAllStandardError();
        if (p.exitStatus() != QProcess::NormalExit) {
            // A Ctrl-C in the first milliseconds, before the command began
            // (the program still loading its libraries), ends the process
            // as any program's: it had written nothing yet.
            EXPECT_TRUE(marker.isEmpty()) << "the Ctrl-C ended the process itself: " << err.constData();
            EXPECT_FALSE(localDbNames().contains(name));
            continue;
        }
        const CliResult listed = runCli({"localdbs"}, env);
        const QStringList rows = listed.out.split('\n', Qt::SkipEmptyParts);
        if (p.exitCode() == exitcode::kCancelled) {
            EXPECT_TRUE(err.contains("cancelled")) << err.constData();
            EXPECT_FALSE(localDbNames().contains(name)) << listed.out.toStdString();
        } else {
            EXPECT_EQ(p.exitCode(), 0) << err.constData();
            EXPECT_TRUE(rows.contains(QString("%1\t%2").arg(name).arg(big.expectedCount))) << listed.out.toStdString();
        }
        // Neither road leaves the plain manifest behind.
        EXPECT_TRUE(QDir(dir.filePath(QString("tmp/quillometry-%1").arg(::getuid())))
                        .entryList({"Manifest-decrypted*"}, QDir::Files)
                        .isEmpty());
    }
}

// An import and a backup that make one new local database at the same
// moment: each either succeeds or is refused with the in-use text, and the
// database holds what the successful runs brought, never less.
TEST_F(ImportEndToEnd, AnImportAndABackupIntoOneNewNameKeepTheUnion)
{
    const QString folder = makeBackup("pair", BackupLayout::ManifestDb, "");
    const SampleChatDb other = buildSampleChatDb(dir.filePath("otherchat"), ChatDbLayout::Local, 60, false);
    // The counts each road gives on its own, and both in either order.
    auto countOf = [&](const QString& name) -> qint64 {
        const CliResult listed = runCli({"localdbs"}, env);
        for (const QString& row : listed.out.split('\n', Qt::SkipEmptyParts)) {
            const QStringList cols = row.split('\t');
            if (cols.size() == 2 && cols[0].compare(name, Qt::CaseInsensitive) == 0)
                return cols[1].toLongLong();
        }
        return -1;
    };
    ASSERT_EQ(runCli({"import", folder, "--to", "RefImport"}, env).exitCode, 0);
    ASSERT_EQ(runCli({"backup", other.folder.root, "--to", "RefBackup"}, env).exitCode, 0);
    ASSERT_EQ(runCli({"import", folder, "--to", "RefIB"}, env).exitCode, 0);
    ASSERT_EQ(runCli({"backup", other.folder.root, "--to", "RefIB"}, env).exitCode, 0);
    ASSERT_EQ(runCli({"backup", other.folder.root, "--to", "RefBI"}, env).exitCode, 0);
    ASSERT_EQ(runCli({"import", folder, "--to", "RefBI"}, env).exitCode, 0);
    const qint64 importOnly = countOf("RefImport");
    const qint64 backupOnly = countOf("RefBackup");
    const QList<qint64> both{countOf("RefIB"), countOf("RefBI")};
    ASSERT_GT(importOnly, 0);
    ASSERT_GT(backupOnly, 0);

    bool fixed = false;
    const quint32 envSeed = quint32(qEnvironmentVariableIntValue("QM_TEST_SEED", &fixed));
    const quint32 seed = fixed ? envSeed : quint32(QRandomGenerator::system()->generate());
    QRandomGenerator random(seed);
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (auto it = env.begin(); it != env.end(); ++it)
        e.insert(it.key(), it.value());
    const QString inUse = QStringLiteral("The local database %1 is in use by another job.");
    for (int trial = 0; trial < 16; ++trial) {
        SCOPED_TRACE(QString("seed %1 (QM_TEST_SEED), trial %2").arg(seed).arg(trial).toStdString());
        const QString name = QString("Pair%1").arg(trial);
        QProcess importing;
        QProcess backingUp;
        importing.setProcessEnvironment(e);
        backingUp.setProcessEnvironment(e);
        // Either may start first.
        QProcess& firstOne = trial % 2 ? backingUp : importing;
        QProcess& secondOne = trial % 2 ? importing : backingUp;
        auto start = [&](QProcess& p) {
            if (&p == &importing)
                p.start(cliPath(), {"import", folder, "--to", name});
            else
                p.start(cliPath(), {"backup", other.folder.root, "--to", name});
        };
        start(firstOne);
        QThread::usleep(random.bounded(300000));
        start(secondOne);
        ASSERT_TRUE(importing.waitForFinished(120000));
        ASSERT_TRUE(backingUp.waitForFinished(120000));
        const QString importErr = QString::fromUtf8(importing.readAllStandardError());
        const QString backupErr = QString::fromUtf8(backingUp.readAllStandardError());
        if (importing.exitCode() != 0)
            EXPECT_TRUE(importing.exitCode() == 1 && importErr.contains(inUse.arg(name))) << importErr.toStdString();
        if (backingUp.exitCode() != 0)
            EXPECT_TRUE(backingUp.exitCode() == 1 && backupErr.contains(inUse.arg(name))) << backupErr.toStdString();
        const qint64 count = countOf(name);
        if (importing.exitCode() == 0 && backingUp.exitCode() == 0)
            EXPECT_TRUE(both.contains(count)) << count << " is neither of " << both[0] << ", " << both[1];
        else if (importing.exitCode() == 0)
            EXPECT_EQ(count, importOnly);
        else if (backingUp.exitCode() == 0)
            EXPECT_EQ(count, backupOnly);
        else
            EXPECT_EQ(count, -1);
    }
}

// A run that was killed could not remove its plain manifest copy; the next
// start-up of either program removes it, but never the copy of a run that
// is still going.
TEST_F(ImportEndToEnd, StalePlainManifestsGoAtStartUp)
{
    const QString temp = dir.filePath(QString("tmp/quillometry-%1").arg(::getuid()));
    ASSERT_TRUE(QDir().mkpath(temp));
    QFile::setPermissions(temp, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcess ended;
    ended.start("true", {});
    ASSERT_TRUE(ended.waitForStarted());
    const qint64 deadPid = ended.processId();
    ASSERT_TRUE(ended.waitForFinished());
    const QString stale = QString("Manifest-decrypted-%1-0123abcd.db").arg(deadPid);
    const QString live = QString("Manifest-decrypted-%1-4567abcd.db").arg(QCoreApplication::applicationPid());
    for (const QString& name : {stale, stale + "-journal", live, QString("Manifest-decrypted-notes.txt")})
        writeFile(temp + "/" + name, "plain");
    const CliResult r = runCli({"localdbs"}, env);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(QDir(temp).entryList({"Manifest-decrypted*"}, QDir::Files, QDir::Name),
              (QStringList{live, "Manifest-decrypted-notes.txt"}));
}

// An encrypted backup on media that cannot be written (a read-only bind
// mount) imports: nothing is ever written into the backup's folder.
TEST_F(ImportEndToEnd, AnEncryptedBackupOnReadOnlyMediaImports)
{
    const QString folder = makeBackup("Sealed", BackupLayout::ManifestDb, "pw");
    const QString mounted = dir.filePath("readonly");
    ASSERT_TRUE(QDir().mkpath(mounted));
    auto mount = [](const QStringList& args) {
        QProcess p;
        p.start("mount", args);
        return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    };
    if (!mount({"--bind", folder, mounted}))
        GTEST_SKIP() << "bind mounts are refused here";
    struct Unmount {
        QString path;
        ~Unmount() { QProcess::execute("umount", {path}); }
    } unmount{mounted};
    if (!mount({"-o", "remount,ro,bind", mounted}))
        GTEST_SKIP() << "remounting read-only is refused here";
    ASSERT_FALSE(QFileInfo(mounted).isWritable() && QFile(mounted + "/probe").open(QIODevice::WriteOnly));

    const CliResult r = runCli({"import", mounted, "--to", "FromSealed", "--password", "pw"}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(snapshotOfLocalDb(localDbs + "/FromSealed").messages, source.messages);
    EXPECT_FALSE(QFileInfo::exists(folder + "/Manifest-decrypted.db"));
}
