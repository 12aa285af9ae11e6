// Writing files into iTunes backups all or nothing: the records of replaced,
// new, kept and empty files (size, class, key, digest) across both manifest
// generations, plain and encrypted; the stale -wal beside a replaced
// database; keys asked for only when needed; hostile paths; cancel, a
// failure midway, a second writer, and processes killed at random points.
#include "itunestestutil.h"

#include "base/apperror.h"
#include "base/recordingmonitor.h"
#include "itunes/backupwritetransaction.h"
#include "itunes/iosmergewafiles2itunesbkthread.h"
#include "tools/backupbuilder/itunesbackupbuilder.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>

#include <random>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace itest;

namespace {

const QString kGroup = QStringLiteral("AppDomainGroup-group.net.whatsapp.WhatsApp.shared");
const QString kPw = QStringLiteral("secret");

// Every file of a folder (hidden ones included) with its bytes.
QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::Dirs | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QString rel = QDir(folder).relativeFilePath(it.filePath());
        files.insert(rel, it.fileInfo().isDir() ? QByteArray("<dir>") : readFile(it.filePath()));
    }
    return files;
}

QStringList stagingTraces(const QString& folder)
{
    QStringList traces;
    for (const QString& name : snapshot(folder).keys())
        if (name.contains(QLatin1String(".qw-")) || name.contains(QLatin1String(".quillometry-write")))
            traces << name;
    return traces;
}

bool hasStagingTraces(const QString& folder) { return !stagingTraces(folder).isEmpty(); }

struct Fixture {
    QString folder;
    QString password;
    BackupLayout layout;
};

// A backup like a phone's: WhatsApp's database and its -wal in class 4,
// a picture in class 3, an orphan stored file without a record.
Fixture makeBackup(const QString& folder, BackupLayout layout, const QString& password)
{
    ItunesBackupBuilder b(folder, layout, password, 10);
    b.addFile("HomeDomain", "Library/Preferences/com.apple.purplebuddy.plist", "<plist/>");
    b.addFile(kGroup, "ChatStorage.sqlite", QByteArray(3000, 'o'), 4);
    b.addFile(kGroup, "ChatStorage.sqlite-wal", QByteArray(500, 'w'), 4);
    b.addFile(kGroup, "Message/Media/old.jpg", "old picture", 3);
    b.commit();
    return {folder, password, layout};
}

std::unique_ptr<BackupManifest> openBackup(const Fixture& f)
{
    auto backup = std::make_unique<BackupManifest>(f.folder);
    backup->openThrow();
    if (backup->isEncrypted)
        EXPECT_TRUE(backup->setPassword(f.password));
    backup->loadThrow();
    return backup;
}

// The plain bytes of a stored file, decrypted with its record's key.
QByteArray storedPlain(BackupManifest& backup, const QString& domain, const QString& path, const QString& scratch)
{
    MBDBParser table = MBDBParser::parseThrow(backup.manifestLocation());
    const MBDBRecord* r = table.find(MBDBParser::fileIdOf(domain, path));
    if (!r)
        return "<no record>";
    const QString out = scratch + "/plain-" + QString::number(QRandomGenerator::global()->generate());
    backup.copyRecordThrow(*r, out);
    return readFile(out);
}

class BackupWrite : public ::testing::TestWithParam<std::tuple<BackupLayout, bool>> {
protected:
    QTemporaryDir dir;
    QString local(const QString& name, const QByteArray& bytes)
    {
        const QString p = dir.filePath("local/" + name);
        writeFile(p, bytes);
        return p;
    }
};

// One run over a backup answers every record rule at once.
TEST_P(BackupWrite, RecordsOfReplacedNewKeptAndEmptyFiles)
{
    const auto [layout, encrypted] = GetParam();
    const Fixture f = makeBackup(dir.filePath("bk"), layout, encrypted ? kPw : QString());
    // A stored file the manifest does not list.
    const QString orphanId = MBDBParser::fileIdOf(kGroup, "Message/Media/orphan.jpg");
    writeFile(MBDBParser::backupFilePath(f.folder, orphanId, true), "junk");

    const QByteArray newDb(70000, 'n');
    QList<BackupFileEntry> entries{
        {kGroup, local("db", newDb), "ChatStorage.sqlite", true, false},
        {kGroup, local("new.jpg", "new picture"), "Message/Media/a/b/new.jpg", false, false},
        {kGroup, local("kept.jpg", "other bytes"), "Message/Media/old.jpg", false, false},
        {kGroup, local("orphan.jpg", "orphan now"), "Message/Media/orphan.jpg", false, false},
        {kGroup, local("empty", ""), "Message/Media/empty.txt", false, false},
    };
    auto backup = openBackup(f);
    const MBDBRecord oldDb = *MBDBParser::parseThrow(backup->manifestLocation())
                                  .find(MBDBParser::fileIdOf(kGroup, "ChatStorage.sqlite"));
    const MBDBRecord oldKept = *MBDBParser::parseThrow(backup->manifestLocation())
                                    .find(MBDBParser::fileIdOf(kGroup, "Message/Media/old.jpg"));
    const QByteArray keptStored =
        readFile(MBDBParser::backupFilePath(f.folder, MBDBParser::fileIdOf(kGroup, "Message/Media/old.jpg")));

    IOSMergeWAFiles2iTunesBKThread job(*backup, entries);
    RecordingMonitor monitor;
    job.run(monitor);
    ASSERT_TRUE(monitor.succeeded()) << monitor.errors().join("|").toStdString();
    EXPECT_FALSE(hasStagingTraces(f.folder));

    auto again = openBackup(f);
    MBDBParser table = MBDBParser::parseThrow(again->manifestLocation());
    auto rec = [&](const QString& p) { return table.find(MBDBParser::fileIdOf(kGroup, p)); };

    struct Case {
        const char* path;
        QByteArray plain;
        qint64 size;
    };
    const Case cases[] = {
        {"ChatStorage.sqlite", newDb, newDb.size()},                  // replaced
        {"ChatStorage.sqlite-wal", QByteArray(), 0},                  // stale log emptied
        {"Message/Media/a/b/new.jpg", "new picture", 11},             // new
        {"Message/Media/old.jpg", "old picture", oldKept.size},       // kept as it was
        {"Message/Media/orphan.jpg", "orphan now", 10},               // stored without record: written
        {"Message/Media/empty.txt", QByteArray(), 0},                 // empty: plain size 0
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const MBDBRecord* r = rec(c.path);
        ASSERT_TRUE(r);
        EXPECT_EQ(storedPlain(*again, kGroup, c.path, dir.path()), c.plain);
        EXPECT_EQ(r->size, c.size);
        if (encrypted) {
            ASSERT_TRUE(r->encryptionKey.hasBytes());
            EXPECT_EQ(qFromLittleEndian<quint32>(r->encryptionKey.bytes().constData()), r->protectionClass);
        }
    }
    // The database keeps class 4 and its own key; a stored file that was not
    // to be overwritten keeps file and record.
    EXPECT_EQ(rec("ChatStorage.sqlite")->protectionClass, 4);
    EXPECT_EQ(rec("ChatStorage.sqlite")->encryptionKey, oldDb.encryptionKey);
    EXPECT_EQ(rec("ChatStorage.sqlite-wal")->protectionClass, 4);
    EXPECT_EQ(rec("Message/Media/a/b/new.jpg")->protectionClass, 3);
    EXPECT_TRUE(rec("Message/Media/old.jpg")->sameContent(oldKept));
    EXPECT_EQ(readFile(MBDBParser::backupFilePath(f.folder, MBDBParser::fileIdOf(kGroup, "Message/Media/old.jpg"))),
              keptStored);
    // Missing parents became folders.
    ASSERT_TRUE(rec("Message/Media/a/b"));
    EXPECT_TRUE(rec("Message/Media/a/b")->isFolder());
    // The replaced database's digest is the stored file's.
    if (oldDb.digest.hasBytes())
        EXPECT_EQ(rec("ChatStorage.sqlite")->digest.bytes(),
                  MBDBParser::fileSha1(MBDBParser::backupFilePath(
                      f.folder, MBDBParser::fileIdOf(kGroup, "ChatStorage.sqlite"))));
}

INSTANTIATE_TEST_SUITE_P(Layouts, BackupWrite,
                         ::testing::Combine(::testing::Values(BackupLayout::ManifestDb, BackupLayout::ManifestMbdb),
                                            ::testing::Bool()));

class BackupWriteFailures : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QList<BackupFileEntry> entriesFor()
    {
        const QString a = dir.filePath("local/a");
        const QString b = dir.filePath("local/b");
        writeFile(a, QByteArray(200000, 'a'));
        writeFile(b, "bee");
        QList<BackupFileEntry> list{{kGroup, a, "ChatStorage.sqlite", true, false}};
        for (int i = 0; i < 30; ++i)
            list << BackupFileEntry{kGroup, b, QStringLiteral("Message/Media/f%1.jpg").arg(i), false, false};
        return list;
    }
};

TEST_F(BackupWriteFailures, CancelAtAnyPointLeavesTheFolderAsItWas)
{
    for (bool encrypted : {false, true}) {
        const Fixture f = makeBackup(dir.filePath(encrypted ? "enc" : "plain"), BackupLayout::ManifestDb,
                                     encrypted ? kPw : QString());
        auto backup = openBackup(f);
        const auto before = snapshot(f.folder);
        for (int after : {1, 2, 10, 31, 32}) {
            SCOPED_TRACE(after);
            IOSMergeWAFiles2iTunesBKThread job(*backup, entriesFor());
            RecordingMonitor monitor;
            monitor.cancelAfterReports(after);
            job.run(monitor);
            EXPECT_TRUE(job.wasCancelled());
            EXPECT_EQ(snapshot(f.folder), before);
        }
    }
}

TEST_F(BackupWriteFailures, AFailureMidwayLeavesTheFolderAsItWas)
{
    const Fixture f = makeBackup(dir.filePath("bk"), BackupLayout::ManifestDb, kPw);
    auto backup = openBackup(f);
    QList<BackupFileEntry> entries = entriesFor();
    // The sub-folder of a later file is a file: staging it fails.
    const QString id = MBDBParser::fileIdOf(kGroup, "Message/Media/f20.jpg");
    writeFile(f.folder + "/" + id.left(2), "in the way");
    const auto before = snapshot(f.folder);
    IOSMergeWAFiles2iTunesBKThread job(*backup, entries);
    RecordingMonitor monitor;
    job.run(monitor);
    ASSERT_EQ(monitor.errors().size(), 1);
    EXPECT_TRUE(monitor.errors().first().contains(id.left(2))) << monitor.errors().first().toStdString();
    EXPECT_EQ(snapshot(f.folder), before);
}

TEST_F(BackupWriteFailures, ASecondWriterIsRefused)
{
    const Fixture f = makeBackup(dir.filePath("bk"), BackupLayout::ManifestMbdb, QString());
    auto backup = openBackup(f);
    BackupWriteTransaction first(f.folder);
    first.beginThrow();
    IOSMergeWAFiles2iTunesBKThread job(*backup, entriesFor());
    RecordingMonitor monitor;
    job.run(monitor);
    ASSERT_EQ(monitor.errors().size(), 1);
    EXPECT_EQ(monitor.errors().first(), BackupWriteTransaction::busyText(QDir(f.folder).absolutePath(), getpid()));
    first.abort();
    // With the first writer gone the write goes through.
    RecordingMonitor second;
    IOSMergeWAFiles2iTunesBKThread job2(*backup, entriesFor());
    job2.run(second);
    EXPECT_TRUE(second.succeeded());
}

// Recovery follows only paths inside the backup folder, so nothing outside
// it may become part of a write: it is refused when staged, not discovered
// after a crash as a journal that recovery cannot read.
TEST_F(BackupWriteFailures, AWriteTakesInNothingOutsideTheFolder)
{
    const Fixture f = makeBackup(dir.filePath("bk"), BackupLayout::ManifestMbdb, QString());
    writeFile(dir.filePath("outside.db"), "plain");
    const auto before = snapshot(f.folder);
    {
        BackupWriteTransaction tx(f.folder);
        tx.beginThrow();
        EXPECT_THROW(tx.addReplacement(dir.filePath("outside.db"), f.folder + "/Manifest.mbdb"), AppError);
        EXPECT_THROW(tx.addReplacement(tx.stagedPathFor(f.folder + "/Manifest.mbdb"), dir.filePath("outside.db")),
                     AppError);
        EXPECT_THROW(tx.addRemoval(f.folder + "/../outside.db"), AppError);
        tx.abort();
    }
    EXPECT_EQ(snapshot(f.folder), before);
    EXPECT_EQ(readFile(dir.filePath("outside.db")), "plain");
}

// A writer killed at any instant leaves at most a lock file nobody holds,
// with its process id, part of it, or nothing written yet: the next writer
// takes the folder over instead of reporting it busy for ever.
TEST_F(BackupWriteFailures, ALockFileOfADeadWriterIsTakenOver)
{
    for (const char* content : {"", "12", "999999999\n", "not a pid"}) {
        SCOPED_TRACE(testing::Message() << "lock file \"" << content << "\"");
        const Fixture f = makeBackup(dir.filePath(QStringLiteral("bk%1").arg(qHash(QByteArray(content)))),
                                     BackupLayout::ManifestMbdb, QString());
        openBackup(f);
        writeFile(f.folder + "/" + BackupWriteTransaction::kLockName, content);
        auto backup = openBackup(f);
        EXPECT_FALSE(hasStagingTraces(f.folder));
        writeFile(f.folder + "/" + BackupWriteTransaction::kLockName, content);
        IOSMergeWAFiles2iTunesBKThread job(*backup, entriesFor());
        RecordingMonitor monitor;
        job.run(monitor);
        EXPECT_TRUE(monitor.succeeded()) << monitor.errors().join("|").toStdString();
        EXPECT_FALSE(hasStagingTraces(f.folder));
    }
}

TEST_F(BackupWriteFailures, HostilePathsGetNoEntryAndKeysAreAskedOnlyWhenNeeded)
{
    // An encrypted backup without any class-3 file: replacing the class-4
    // database needs no class-3 key; a new file does, and is refused.
    const QString folder = dir.filePath("bk");
    {
        ItunesBackupBuilder b(folder, BackupLayout::ManifestDb, kPw, 10);
        b.addFile(kGroup, "ChatStorage.sqlite", "old", 4);
        b.commit();
    }
    const Fixture f{folder, kPw, BackupLayout::ManifestDb};
    auto backup = openBackup(f);
    const QString file = dir.filePath("local/x");
    writeFile(file, "new db");
    QList<BackupFileEntry> entries{{kGroup, file, "ChatStorage.sqlite", true, false}};
    for (const QString& bad : {QString("../escape"), QString("/abs"), QString("a/./b"), QString("a//b"), QString()})
        entries << BackupFileEntry{kGroup, file, bad, false, false};
    IOSMergeWAFiles2iTunesBKThread job(*backup, entries);
    RecordingMonitor monitor;
    job.run(monitor);
    ASSERT_TRUE(monitor.succeeded()) << monitor.errors().join("|").toStdString();
    EXPECT_EQ(job.writtenFiles(), 1);
    EXPECT_EQ(job.skippedEntries(), 5);
    EXPECT_EQ(storedPlain(*backup, kGroup, "ChatStorage.sqlite", dir.path()), "new db");

    const auto before = snapshot(folder);
    IOSMergeWAFiles2iTunesBKThread job2(*backup, {{kGroup, file, "Message/Media/new.jpg", false, false}});
    RecordingMonitor refused;
    job2.run(refused);
    ASSERT_EQ(refused.errors().size(), 1);
    EXPECT_EQ(refused.errors().first(), "BackupManifest::firstEncryptedItem, no valid keys");
    EXPECT_EQ(snapshot(folder), before);
}

TEST_F(BackupWriteFailures, RevertPutsTheOriginalsBack)
{
    const Fixture f = makeBackup(dir.filePath("bk"), BackupLayout::ManifestDb, kPw);
    auto backup = openBackup(f);
    const auto before = snapshot(f.folder);
    IOSMergeWAFiles2iTunesBKThread job(*backup, entriesFor(), true);
    RecordingMonitor monitor;
    job.run(monitor);
    ASSERT_TRUE(monitor.succeeded());
    EXPECT_NE(snapshot(f.folder), before);
    job.revert();
    EXPECT_EQ(snapshot(f.folder), before);
}

// A caller that may still need the old backup (a restore that can fail)
// keeps the originals aside: the backup is the new one, the folder stays
// locked, and finalize drops the originals; a caller that dies before
// deciding leaves the new backup once the folder is opened again.
TEST_F(BackupWriteFailures, KeptOriginalsStayAsideUntilFinalizeOrTheNextOpen)
{
    const Fixture f = makeBackup(dir.filePath("bk"), BackupLayout::ManifestDb, kPw);
    openBackup(f);  // unlocking writes the decrypted manifest copy
    const auto before = snapshot(f.folder);
    auto backup = openBackup(f);
    IOSMergeWAFiles2iTunesBKThread job(*backup, entriesFor(), true);
    RecordingMonitor monitor;
    job.run(monitor);
    ASSERT_TRUE(monitor.succeeded()) << monitor.errors().join("|").toStdString();
    EXPECT_EQ(storedPlain(*backup, kGroup, "ChatStorage.sqlite", dir.path()), QByteArray(200000, 'a'));
    // Every replaced file waits aside, byte for byte.
    const auto kept = snapshot(f.folder);
    int aside = 0;
    for (auto it = kept.constBegin(); it != kept.constEnd(); ++it) {
        const qsizetype mark = it.key().indexOf(".qw-");
        if (mark < 0 || !it.key().endsWith(".old"))
            continue;
        ++aside;
        EXPECT_EQ(it.value(), before.value(it.key().left(mark))) << it.key().toStdString();
    }
    EXPECT_GE(aside, 2);  // the stored database and the manifest at least
    // No other writer gets in while the caller has not decided.
    {
        auto other = openBackup(f);
        IOSMergeWAFiles2iTunesBKThread second(*other, entriesFor());
        RecordingMonitor refused;
        second.run(refused);
        ASSERT_EQ(refused.errors().size(), 1);
        EXPECT_TRUE(refused.errors().first().startsWith("Another program")) << refused.errors().first().toStdString();
    }
    job.finalize();
    const auto after = snapshot(f.folder);
    EXPECT_FALSE(hasStagingTraces(f.folder));
    for (auto it = kept.constBegin(); it != kept.constEnd(); ++it)
        if (!it.key().contains(".qw-") && !it.key().contains(".quillometry-write"))
            EXPECT_EQ(after.value(it.key()), it.value()) << it.key().toStdString();
    job.revert();  // too late: the originals are gone, nothing changes
    EXPECT_EQ(snapshot(f.folder), after);

    // A caller that dies while it keeps the originals: the commit stands.
    const Fixture g = makeBackup(dir.filePath("bk2"), BackupLayout::ManifestMbdb, QString());
    const pid_t pid = fork();
    if (pid == 0) {
        auto b = openBackup(g);
        IOSMergeWAFiles2iTunesBKThread child(*b, entriesFor(), true);
        RecordingMonitor m;
        child.run(m);
        _exit(m.succeeded() ? 0 : 1);  // neither finalize nor revert
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(hasStagingTraces(g.folder));
    auto reopened = openBackup(g);
    EXPECT_FALSE(hasStagingTraces(g.folder));
    EXPECT_EQ(storedPlain(*reopened, kGroup, "ChatStorage.sqlite", dir.path()), QByteArray(200000, 'a'));
}

// A child process writes; the parent kills it at a random moment. After the
// next open the backup is the old one or the new one, never a mix.
TEST_F(BackupWriteFailures, KilledWritersLeaveTheOldOrTheNewBackup)
{
    const Fixture f = makeBackup(dir.filePath("bk"), BackupLayout::ManifestDb, kPw);
    openBackup(f);  // unlocking writes the decrypted manifest copy
    const auto before = snapshot(f.folder);
    const QByteArray newDb(200000, 'a');
    auto runChild = [&]() -> pid_t {
        const pid_t pid = fork();
        if (pid == 0) {
            auto backup = openBackup(f);
            IOSMergeWAFiles2iTunesBKThread job(*backup, entriesFor());
            RecordingMonitor monitor;
            job.run(monitor);
            _exit(monitor.succeeded() ? 0 : 1);
        }
        return pid;
    };
    // How long a whole write takes here.
    QElapsedTimer timer;
    timer.start();
    const pid_t reference = runChild();
    int status = 0;
    waitpid(reference, &status, 0);
    const qint64 fullUs = qMax<qint64>(timer.nsecsElapsed() / 1000, 1000);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    std::mt19937 rng(18);
    int oldSeen = 0, newSeen = 0;
    for (int trial = 0; trial < 20; ++trial) {
        // Start every trial from the old backup.
        QDir(f.folder).removeRecursively();
        for (auto it = before.constBegin(); it != before.constEnd(); ++it)
            if (it.value() != "<dir>")
                writeFile(f.folder + "/" + it.key(), it.value());
        const qint64 delay = std::uniform_int_distribution<qint64>(0, fullUs)(rng);
        SCOPED_TRACE(testing::Message() << "trial " << trial << " delay " << delay << "us");
        const pid_t pid = runChild();
        QThread::usleep(quint64(delay));
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);

        auto backup = openBackup(f);  // recovers
        EXPECT_EQ(stagingTraces(f.folder), QStringList()) << stagingTraces(f.folder).join(' ').toStdString();
        const QByteArray db = storedPlain(*backup, kGroup, "ChatStorage.sqlite", dir.path());
        if (snapshot(f.folder) == before) {
            ++oldSeen;
            continue;
        }
        ++newSeen;
        EXPECT_EQ(db, newDb);
        EXPECT_EQ(storedPlain(*backup, kGroup, "Message/Media/f29.jpg", dir.path()), "bee");
        EXPECT_EQ(storedPlain(*backup, kGroup, "ChatStorage.sqlite-wal", dir.path()), QByteArray());
    }
    EXPECT_EQ(oldSeen + newSeen, 20);
}

}  // namespace
