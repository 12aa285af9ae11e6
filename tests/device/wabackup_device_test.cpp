// WhatsApp-only backups and restores end to end, against simulated phones of
// the test's own (phonesim on the loopback, seeded from a make-chatdb
// database with media): what lands in the device folder and what does not,
// incremental runs, restores with the reduced manifest, encrypted phones,
// the phone's faults and a cancel, and the import of the backup that the
// device load will do. The command line runs as its own process; the jobs
// also run in-process where the test needs their texts.
#include "base/recordingmonitor.h"
#include "device/fakednamedb.h"
#include "device/iosmobilebackupthread.h"
#include "device/iosmobilerestorethread.h"
#include "itunes/backupmanifest.h"
#include "itunes/mbdbparser.h"
#include "support/childsignal.h"
#include "support/phonesimserve.h"
#include "support/requiretool.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

namespace {

const QString kUdid = QStringLiteral("00008030-001A2B3C4D5E6F70");
const QString kWaBundle = QStringLiteral("net.whatsapp.WhatsApp");
const QString kWaGroup = QStringLiteral("group.net.whatsapp.WhatsApp.shared");
const QString kWaGroupDomain = QStringLiteral("AppDomainGroup-group.net.whatsapp.WhatsApp.shared");
const QString kWaAppDomain = QStringLiteral("AppDomain-net.whatsapp.WhatsApp");
const QString kPurpleBuddy = QStringLiteral("80fa782261261e54bb73c0253e5b6beefb6a2f39");

#ifdef Q_PHONESIM_PATH
const QString kPhonesim = QStringLiteral(Q_PHONESIM_PATH);
const QString kCli = QStringLiteral(Q_CLI_PATH);
const QString kMakeChatDb = QStringLiteral(Q_MAKE_CHATDB_PATH);
#else
const QString kPhonesim, kCli, kMakeChatDb;
#endif

bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QThread::msleep(50);
    }
    return true;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Files below a folder, relative path -> content.
QMap<QString, QByteArray> filesBelow(const QString& folder)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        out.insert(QDir(folder).relativeFilePath(path), readAll(path));
    }
    return out;
}

QString fileIdOf(const QString& domain, const QString& rel) { return MBDBParser::fileIdOf(domain, rel); }

struct CliResult {
    int code = -1;
    QString out;
};

class WaBackupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_TOOL(!kPhonesim.isEmpty() && QFileInfo(kPhonesim).isExecutable(), "phonesim");
        REQUIRE_TOOL(QFileInfo(kCli).isExecutable(), "quillometry-cli");
        REQUIRE_TOOL(QFileInfo(kMakeChatDb).isExecutable(), "make-chatdb");
        ASSERT_TRUE(dir.isValid());
        records = dir.filePath("records");
        root = dir.filePath("wa-backups");
        chat = dir.filePath("chat");
        QDir().mkpath(records);
        QDir().mkpath(dir.filePath("data"));
        QDir().mkpath(dir.filePath("tmp"));
        QProcess p;
        p.start(kMakeChatDb, {chat, "--layout", "modern", "--messages", "300"});
        ASSERT_TRUE(p.waitForFinished(60000) && p.exitCode() == 0) << p.readAllStandardError().toStdString();
        for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n'))
            if (line.startsWith("messages counted:"))
                expectedMessages = line.section(':', 1).trimmed();
        ASSERT_FALSE(expectedMessages.isEmpty());
    }
    void TearDown() override
    {
        if (sim && sim->state() != QProcess::NotRunning) {
            sim->terminate();
            if (!sim->waitForFinished(10000))
                sim->kill();
            sim->waitForFinished(5000);
        }
        qunsetenv("USBMUXD_SOCKET_ADDRESS");
    }

    void startPhone(const QStringList& extra = {})
    {
        phone = dir.filePath("phone");
        QProcess p;
        p.start(kPhonesim, QStringList{"seed", "--phone", phone, "--chat-folder", chat, "--udid", kUdid, "--name",
                                       "Alice's iPhone"} + extra);
        ASSERT_TRUE(p.waitForFinished(60000) && p.exitCode() == 0) << p.readAllStandardError().toStdString();
        sim = std::make_unique<QProcess>();
        sim->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim->start(kPhonesim, {"serve", "--port", "0", "--pair-records", records, "--phone", phone});
        ASSERT_TRUE(sim->waitForStarted(30000));
        QString mux;
        ASSERT_TRUE(readPhonesimAddresses(*sim, &mux, &control));
        qputenv("USBMUXD_SOCKET_ADDRESS", mux.toUtf8());
    }

    QProcessEnvironment cliEnv() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", dir.filePath("data"));
        env.insert("TMPDIR", dir.filePath("tmp"));
        return env;
    }
    CliResult cli(const QStringList& args, int ms = 120000)
    {
        QProcess p;
        p.setProcessEnvironment(cliEnv());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(kCli, args);
        CliResult r;
        if (!p.waitForFinished(ms)) {
            p.kill();
            p.waitForFinished();
            r.out = "did not finish: " + args.join(' ');
            return r;
        }
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAll());
        return r;
    }
    CliResult waBackup(const QStringList& extra = {}) { return cli(QStringList{"wa-backup", kUdid, "--root", root} + extra); }
    CliResult waRestore(const QStringList& extra = {}) { return cli(QStringList{"wa-restore", kUdid, "--root", root} + extra); }

    QString ctl(const QStringList& words)
    {
        QProcess p;
        p.start(kPhonesim, QStringList{"ctl", "--control", control} + words);
        EXPECT_TRUE(p.waitForFinished(30000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
        EXPECT_EQ(p.exitCode(), 0) << out.toStdString();
        return out;
    }
    QMap<QString, qint64> stats()
    {
        QMap<QString, qint64> m;
        for (const QString& w : ctl({"stats", kUdid}).split(' ').mid(1))
            m[w.section('=', 0, 0)] = w.section('=', 1).toLongLong();
        return m;
    }
    int deviceId()
    {
        for (const QString& e : ctl({"list"}).split(' ').mid(1))
            if (e.section(':', 0, 0) == kUdid)
                return e.section(':', 1, 1) == "attached" ? e.section(':', 2).toInt() : 0;
        return -1;
    }

    // The phone's container folder of a bundle or a group.
    QString container(const QString& bundle, const QString& group = {})
    {
        const PlistCFType apps = PlistCFType::parse(readAll(phone + "/Apps.plist"));
        for (int i = 0; i < apps.size(); ++i) {
            const PlistCFType a = apps.at(i);
            if (group.isEmpty() && a.value("CFBundleIdentifier").toText() == bundle)
                return phone + "/fs/private/var/mobile/Containers/Data/Application/" + a.value("Container").toText();
            const QString g = a.value("GroupContainers").value(group).toText();
            if (!group.isEmpty() && !g.isEmpty())
                return phone + "/fs/private/var/mobile/Containers/Shared/AppGroup/" + g;
        }
        ADD_FAILURE() << "no container " << bundle.toStdString() << group.toStdString();
        return QString();
    }
    QString deviceFolder() const { return root + "/" + kUdid; }
    QString stored(const QString& domain, const QString& rel) const
    {
        const QString id = fileIdOf(domain, rel);
        return deviceFolder() + "/" + id.left(2) + "/" + id;
    }
    QString phoneDb() { return container(QString(), kWaGroup) + "/ChatStorage.sqlite"; }

    // import of the device folder finds every message of the phone's database.
    void expectImportFindsEveryMessage(const QStringList& extra = {})
    {
        const CliResult r = cli(QStringList{"import", deviceFolder()} + extra);
        EXPECT_EQ(r.code, 0) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral("Imported %1 messages").arg(expectedMessages))) << r.out.toStdString();
    }

    // The reduced manifest beside the backup, as the transfer writes it.
    void writeReducedManifest(const QString& password = {})
    {
        BackupManifest backup(deviceFolder());
        backup.openThrow();
        if (!password.isEmpty())
            ASSERT_TRUE(backup.setPassword(password));
        backup.loadThrow();
        backup.filteredManifestThrow(false, {kWaAppDomain, kWaGroupDomain}, deviceFolder() + "/Manifest-wa.db");
    }

    QTemporaryDir dir;
    QString records, root, chat, phone, control, expectedMessages;
    std::unique_ptr<QProcess> sim;
};

TEST_F(WaBackupTest, KeepsExactlyWhatsAppsFilesAndImportsEveryMessage)
{
    startPhone();
    const CliResult r = waBackup();
    ASSERT_EQ(r.code, 0) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Device folder: " + deviceFolder())) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Backup: full")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QRegularExpression("Dropped: [1-9][0-9]* files"))) << r.out.toStdString();
    EXPECT_EQ(QFileInfo(deviceFolder()).permissions() & 0x0077, 0) << "device folder not private";

    // What the phone holds in the two WhatsApp domains, by file id.
    QMap<QString, QByteArray> expected;
    for (const auto& [domain, folder] : {std::pair{kWaAppDomain, container(kWaBundle)},
                                         std::pair{kWaGroupDomain, container(QString(), kWaGroup)}}) {
        const QMap<QString, QByteArray> files = filesBelow(folder);
        for (auto it = files.begin(); it != files.end(); ++it) {
            const QString id = fileIdOf(domain, it.key());
            expected.insert(id.left(2) + "/" + id, it.value());
        }
    }
    ASSERT_GT(expected.size(), 5);
    expected.insert(kPurpleBuddy.left(2) + "/" + kPurpleBuddy,
                    readAll(phone + "/fs/private/var/mobile/Library/Preferences/com.apple.purplebuddy.plist"));
    QMap<QString, QByteArray> stored;
    QStringList top;
    const QMap<QString, QByteArray> all = filesBelow(deviceFolder());
    for (auto it = all.begin(); it != all.end(); ++it) {
        if (it.key().contains('/'))
            stored.insert(it.key(), it.value());
        else
            top << it.key();
    }
    EXPECT_EQ(stored.keys(), expected.keys());
    for (auto it = expected.begin(); it != expected.end(); ++it)
        EXPECT_TRUE(stored.value(it.key()) == it.value()) << it.key().toStdString();
    top.sort();
    EXPECT_EQ(top, (QStringList{"Manifest.db", "Manifest.plist", "Status.plist", "dname.sqlite"}));

    // The store lists the dropped files with their sizes.
    const QString notesId = fileIdOf("AppDomain-com.example.notes", "Documents/notes.txt");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2((deviceFolder() + "/dname.sqlite").toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "select size, incl, p from dname where f=?", -1, &st, nullptr);
    sqlite3_bind_text(st, 1, notesId.toUtf8().constData(), -1, SQLITE_TRANSIENT);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 20000);
    EXPECT_EQ(sqlite3_column_int(st, 1), 0);
    EXPECT_EQ(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 2))), notesId.left(2));
    sqlite3_finalize(st);
    sqlite3_close(db);

    // The road of the device load: the folder imports like an iTunes backup.
    expectImportFindsEveryMessage();
}

TEST_F(WaBackupTest, IncrementalRunsSendOnlyWhatChanged)
{
    startPhone();
    ASSERT_EQ(waBackup().code, 0);
    const auto first = stats();
    CliResult r = waBackup();
    ASSERT_EQ(r.code, 0) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Backup: incremental")) << r.out.toStdString();
    const auto second = stats();
    EXPECT_EQ(second["incremental"], 1);
    EXPECT_LT(second["bytes"] * 10, first["bytes"]);

    // A WhatsApp file and another app's file change (times set, not left to the clock).
    const QString waFile = container(QString(), kWaGroup) + "/Library/Preferences/" + kWaGroup + ".plist";
    const QString notes = container("com.example.notes") + "/Documents/notes.txt";
    writeAll(waFile, "<plist>changed</plist>");
    writeAll(notes, "changed notes");
    const QDateTime later = QDateTime::currentDateTimeUtc().addSecs(3600);
    for (const QString& f : {waFile, notes}) {
        QFile file(f);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(later, QFileDevice::FileModificationTime));
    }
    // A WhatsApp file deleted on the phone loses its row.
    const QString gone = container(kWaBundle) + "/Library/Preferences/net.whatsapp.WhatsApp.plist";
    const QString goneId = fileIdOf(kWaAppDomain, "Library/Preferences/net.whatsapp.WhatsApp.plist");
    ASSERT_TRUE(QFile::remove(gone));
    r = waBackup();
    ASSERT_EQ(r.code, 0) << r.out.toStdString();
    EXPECT_EQ(stats()["files"], 2);
    EXPECT_EQ(readAll(stored(kWaGroupDomain, "Library/Preferences/" + kWaGroup + ".plist")), QByteArray("<plist>changed</plist>"));
    EXPECT_FALSE(QFileInfo::exists(stored("AppDomain-com.example.notes", "Documents/notes.txt")));
    EXPECT_FALSE(QFileInfo::exists(deviceFolder() + "/" + goneId.left(2) + "/" + goneId));
    {
        FakeDNameDb store;
        QString error;
        ASSERT_TRUE(store.openDb(deviceFolder() + "/dname.sqlite", error));
        EXPECT_TRUE(store.findDevicePath(goneId).isEmpty());
        EXPECT_FALSE(store.findDevicePath(fileIdOf("AppDomain-com.example.notes", "Documents/notes.txt")).isEmpty());
    }
    EXPECT_EQ(readAll(stored(kWaGroupDomain, "ChatStorage.sqlite")), readAll(phoneDb()));

    // The phone updated: the next backup is full again.
    ctl({"set", kUdid, "ProductVersion", "14.8.1"});
    r = waBackup();
    ASSERT_EQ(r.code, 0) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Backup: full")) << r.out.toStdString();
    EXPECT_EQ(stats()["incremental"], 0);
}

TEST_F(WaBackupTest, RestoresOnlyWithTheReducedManifest)
{
    startPhone();
    ASSERT_EQ(waBackup().code, 0);
    // The full manifest names dropped files: the phone asks for them and refuses.
    CliResult r = waRestore();
    EXPECT_EQ(r.code, 1) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("(MBErrorDomain/205)")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Tip: You can follow this")) << r.out.toStdString();
    EXPECT_FALSE(QFileInfo::exists(deviceFolder()));
    ASSERT_TRUE(waitFor([&] { return deviceId() > 0; }, 60000));

    ASSERT_EQ(waBackup().code, 0);
    // A changed ChatStorage.sqlite goes into the backup with its record.
    QByteArray changed = readAll(phoneDb());
    ASSERT_FALSE(changed.isEmpty());
    changed += QByteArray(4096, '\0');  // a database one page longer still opens
    const QString storedDb = stored(kWaGroupDomain, "ChatStorage.sqlite");
    writeAll(storedDb, changed);
    {
        BackupManifest backup(deviceFolder());
        backup.openThrow();
        backup.loadThrow();
        MBDBRecord* record = backup.recordTable().find(fileIdOf(kWaGroupDomain, "ChatStorage.sqlite"));
        ASSERT_NE(record, nullptr);
        record->size = changed.size();
        record->digest = MBDBString::fromBytes(QCryptographicHash::hash(changed, QCryptographicHash::Sha1));
        MBDBParser::saveThrow(backup.recordTable().records(), backup);
    }
    writeReducedManifest();
    const QMap<QString, QByteArray> notesBefore = filesBelow(container("com.example.notes"));
    const QMap<QString, QByteArray> photosBefore = filesBelow(container("com.example.photos"));
    const int before = deviceId();
    r = waRestore({"--manifest-substitute", "Manifest-wa.db"});
    ASSERT_EQ(r.code, 0) << r.out.toStdString();
    EXPECT_TRUE(readAll(phoneDb()) == changed);
    EXPECT_EQ(filesBelow(container("com.example.notes")), notesBefore);
    EXPECT_EQ(filesBelow(container("com.example.photos")), photosBefore);
    // The phone reboots: it comes back under a new device id.
    EXPECT_TRUE(waitFor([&] { const int now = deviceId(); return now > 0 && now != before; }, 60000));
    EXPECT_TRUE(QFileInfo::exists(deviceFolder() + "/Manifest.db"));
}

TEST_F(WaBackupTest, EncryptedPhone)
{
    startPhone({"--password", "s3cret pw", "--rounds", "1000"});
    ASSERT_EQ(waBackup().code, 0);
    const QByteArray phoneBytes = readAll(phoneDb());
    const QByteArray storedBytes = readAll(stored(kWaGroupDomain, "ChatStorage.sqlite"));
    EXPECT_FALSE(storedBytes.isEmpty());
    EXPECT_NE(storedBytes, phoneBytes);
    const QString out = dir.filePath("got/ChatStorage.sqlite");
    CliResult r = cli({"itunes-get", deviceFolder(), kWaGroupDomain, "ChatStorage.sqlite", "--out", out, "--password",
                       "s3cret pw"});
    ASSERT_EQ(r.code, 0) << r.out.toStdString();
    EXPECT_TRUE(readAll(out) == phoneBytes);
    expectImportFindsEveryMessage({"--password", "s3cret pw"});

    writeReducedManifest("s3cret pw");
    writeAll(phoneDb(), "changed on the phone");
    // The command line refuses a wrong password before the phone is asked.
    r = waRestore({"--manifest-substitute", "Manifest-wa.db", "--password", "wrong"});
    EXPECT_EQ(r.code, 4) << r.out.toStdString();
    // The job shows the phone's own answer; nothing changes, the folder stays.
    auto device = std::make_shared<IOSDeviceInfo>();
    device->udid = kUdid;
    {
        IOSMobileRestoreThread job(device, root, false);
        job.setPassword("wrong");
        job.setManifestSubstitute("Manifest-wa.db");
        RecordingMonitor monitor;
        job.run(monitor);
        ASSERT_EQ(monitor.errors().size(), 1);
        EXPECT_TRUE(monitor.errors().first().contains("(MBErrorDomain/207)")) << monitor.errors().first().toStdString();
        EXPECT_EQ(readAll(phoneDb()), QByteArray("changed on the phone"));
        EXPECT_TRUE(QFileInfo::exists(deviceFolder() + "/Manifest.db"));
    }
    r = waRestore({"--manifest-substitute", "Manifest-wa.db", "--password", "s3cret pw"});
    ASSERT_EQ(r.code, 0) << r.out.toStdString();
    EXPECT_TRUE(readAll(phoneDb()) == phoneBytes);
}

TEST_F(WaBackupTest, FaultsShowTheirTextsAndLeaveWhatTheyShould)
{
    startPhone();
    const QString notes = container("com.example.notes") + "/Documents/notes.txt";
    const QString waPrefs = container(QString(), kWaGroup) + "/Library/Preferences/" + kWaGroup + ".plist";
    int changes = 0;
    // An incremental backup streams only changed files: change one, so that a
    // fault inside a streamed file has a file to happen in.
    auto changeWaFile = [&] {
        writeAll(waPrefs, QByteArray("<plist>") + QByteArray::number(++changes) + "</plist>");
        QFile f(waPrefs);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.setFileTime(QDateTime::currentDateTimeUtc().addSecs(100 * changes), QFileDevice::FileModificationTime);
    };
    // (what, fault words, texts)
    const struct {
        const char* what;
        QStringList fault;
        QStringList texts;
    } backupFaults[] = {
        {"connection lost", {"backup-error", "-1", "Connection to device lost"},
         {"Connection to device lost. Please try the following solutions:", "Step 1) Restart your iPhone.",
          "Step 1) Delete the lockdown folder from your computer.", "Note: You can follow this"}},
        {"setup unfinished", {"backup-error", "9", "The operation cannot run until Setup is finished"},
         {"Failed to connect your iPhone. Please try the following solutions:", "Note: You can follow this"}},
        {"purge disk space", {"purge-disk-space"}, {"error code:-36.", "Note: You can follow this"}},
        {"disconnect in a file", {"disconnect-upload"}, {"Error attaching to device.", "Note: You can follow this"}},
        {"remote error", {"remote-error", "Simulated disk failure"}, {"remote error. Simulated disk failure"}},
        {"disconnect before the end", {"early-disconnect"}, {"ended the backup before it was complete"}},
    };
    for (const auto& row : backupFaults) {
        ASSERT_EQ(waBackup().code, 0) << row.what;
        changeWaFile();
        ctl(QStringList{"fail", kUdid} + row.fault);
        const CliResult r = waBackup();
        EXPECT_EQ(r.code, 1) << row.what << "\n" << r.out.toStdString();
        for (const QString& t : row.texts)
            EXPECT_TRUE(r.out.contains(t)) << row.what << ": want " << t.toStdString() << " in\n" << r.out.toStdString();
        EXPECT_FALSE(r.out.contains("<br/>")) << row.what;
        EXPECT_FALSE(QFileInfo::exists(deviceFolder())) << row.what;
        const CliResult next = waBackup();
        EXPECT_EQ(next.code, 0) << row.what << next.out.toStdString();
        EXPECT_EQ(stats()["incremental"], 0) << row.what;
    }

    // Restores: (what, arm, texts, folder kept)
    writeReducedManifest();
    const QStringList restore{"--manifest-substitute", "Manifest-wa.db", "--no-system-files"};
    const struct {
        const char* what;
        std::function<void()> arm;
        QStringList texts;
        int code;
        bool kept;
    } restoreFaults[] = {
        {"find my iphone", [&] { ctl({"set", kUdid, "FindMyiPhone", "true"}); }, {"error code:-37."}, 1, true},
        {"invalid password", [&] { ctl({"set", kUdid, "FindMyiPhone", "false"});
                                   ctl({"fail", kUdid, "restore-error", "207",
                                        "Invalid password when restoring encrypted backup (MBErrorDomain/207)"}); },
         {"(MBErrorDomain/207)"}, 4, true},
        {"not rebooted", [&] { ctl({"fail", kUdid, "restore-error", "102",
                                    "Failed to move the incomplete restore directory into place at path /x "
                                    "(MBErrorDomain/102)"}); },
         {"Please restart your iPhone first."}, 1, true},
        {"file missing", [&] { QFile::remove(stored(kWaGroupDomain, "ChatStorage.sqlite")); },
         {"(MBErrorDomain/205)"}, 1, false},
    };
    for (const auto& row : restoreFaults) {
        row.arm();
        const CliResult r = waRestore(restore);
        EXPECT_EQ(r.code, row.code) << row.what << "\n" << r.out.toStdString();
        for (const QString& t : row.texts)
            EXPECT_TRUE(r.out.contains(t)) << row.what << ": want " << t.toStdString() << " in\n" << r.out.toStdString();
        EXPECT_TRUE(r.out.contains("Tip: You can follow this")) << row.what;
        EXPECT_EQ(QFileInfo::exists(deviceFolder() + "/Manifest.db"), row.kept) << row.what;
    }
    (void)notes;
}

TEST_F(WaBackupTest, ACancelMidBackupIsACancel)
{
    startPhone();
    ctl({"fail", kUdid, "stall-upload"});
    const int stalls = ctl({"stalls", kUdid}).section(' ', 1).toInt();
    QProcess p;
    p.setProcessEnvironment(cliEnv());
    p.setProcessChannelMode(QProcess::MergedChannels);
    ChildSignal signal(p);
    p.start(kCli, {"wa-backup", kUdid, "--root", root});
    ASSERT_TRUE(p.waitForStarted(30000));
    ASSERT_TRUE(waitFor([&] { return ctl({"stalls", kUdid}).section(' ', 1).toInt() > stalls; }, 60000));
    ASSERT_TRUE(signal.send(SIGINT));
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 3) << p.readAll().toStdString();
    // The next run's reuse check decides: an unfinished folder goes, the backup is full.
    ctl({"detach", kUdid});
    ctl({"attach", kUdid});
    ASSERT_TRUE(waitFor([&] { return deviceId() > 0; }, 60000));
    const CliResult r = waBackup();
    EXPECT_EQ(r.code, 0) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Backup: full")) << r.out.toStdString();
}

}  // namespace
