// The file-name store of WhatsApp-only backups and the hook that keeps only
// the included apps' files: the store's statements and its periodic
// commits, the decision per file, the listing the phone sees, removals, and
// the reuse check and user texts of the backup job.
#include "device/fakebackup2toolhook.h"
#include "device/fakednamedb.h"
#include "device/iosmobilebackupthread.h"
#include "device/iosmobilerestorethread.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <gtest/gtest.h>

namespace {

const QString kUdid = QStringLiteral("00008030-001A2B3C4D5E6F70");
const QString kWaData = QStringLiteral("1A2B3C4D-0000-4000-8000-00000000000A");
const QString kWaGroup = QStringLiteral("5E6F7A8B-1111-4111-8111-11111111111B");
const QString kNotes = QStringLiteral("9C9C9C9C-2222-4222-8222-22222222222C");

QString dataPath(const QString& uuid, const QString& rest)
{
    return QStringLiteral("/private/var/mobile/Containers/Data/Application/") + uuid + QLatin1Char('/') + rest;
}
QString groupPath(const QString& uuid, const QString& rest)
{
    return QStringLiteral("/private/var/mobile/Containers/Shared/AppGroup/") + uuid + QLatin1Char('/') + rest;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Rows a second connection sees: only what the store has committed.
int committedRows(const QString& path)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    int n = -1;
    if (sqlite3_prepare_v2(db, "select count(*) from dname", -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
        n = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return n;
}

QString fileId(char first, char second)
{
    return QString(QLatin1Char(first)) + QLatin1Char(second) + QString(38, QLatin1Char('1'));
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("dname.sqlite"));
    }
    QTemporaryDir dir;
    QString path;
};

TEST_F(StoreTest, CreatesExactlyTheTableAndIndexAndAnswersWhileOpenOnly)
{
    FakeDNameDb store;
    EXPECT_TRUE(store.findDevicePath(QStringLiteral("x")).isEmpty());
    store.addFile(QStringLiteral("x"), QStringLiteral("/d"), true, 1);  // not open: nothing happens
    QString error;
    ASSERT_TRUE(store.openDb(path, error)) << error.toStdString();
    ASSERT_TRUE(store.openDb(path, error));  // already open
    // SQLite keeps the statements as written, its own keywords upper-cased.
    Sqlite3Cursor c = store.queryThrow("select sql from sqlite_master where sql is not null order by name");
    QStringList sql;
    while (c.moveNext())
        sql << c.getText(QStringLiteral("sql")).replace(QStringLiteral("CREATE TABLE"), QStringLiteral("create table"))
                   .replace(QStringLiteral("CREATE INDEX"), QStringLiteral("create index"));
    EXPECT_EQ(sql, (QStringList{"create table dname(f VARCHAR PRIMARY KEY, p VARCHAR, d VARCHAR, size INTEGER, lastm "
                                "INTEGER, incl INTEGER)",
                                "create index idx_dname on dname(p)"}));

    FakeDNameDb bad;
    EXPECT_FALSE(bad.openDb(dir.filePath(QStringLiteral("missing/dname.sqlite")), error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(StoreTest, RowsListingsAndRemovals)
{
    FakeDNameDb store;
    QString error;
    ASSERT_TRUE(store.openDb(path, error));
    // (file name, sub-folder expected, time)
    const QString a1 = fileId('0', 'a'), a2 = QStringLiteral("0a") + QString(38, QLatin1Char('2'));
    const QString f1 = fileId('f', 'f');
    store.addFile(a1, dataPath(kNotes, "x"), false, 100);
    store.addFile(a2, dataPath(kNotes, "y"), true, 300);
    store.addFile(f1, dataPath(kNotes, "z"), false, 200);
    store.addFile(QStringLiteral("Status.plist"), QStringLiteral("/private/var/.backup.i/Status.plist"), true, 50);
    store.setFileSizeTime(a1, 150, 4096);
    EXPECT_EQ(store.findDevicePath(a1), dataPath(kNotes, "x"));
    EXPECT_EQ(FakeDNameDb::subFolderOf(a1), QStringLiteral("0a"));
    EXPECT_EQ(FakeDNameDb::subFolderOf(QStringLiteral("Manifest.db")), QString());

    const QList<DLFileEntry> top = store.listEntries(QString());
    ASSERT_EQ(top.size(), 3);
    QMap<QString, qint64> folders;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(top[i].type, 2);
        folders[top[i].name] = top[i].modified.toSecsSinceEpoch();
    }
    EXPECT_EQ(folders, (QMap<QString, qint64>{{"0a", 300}, {"ff", 200}}));
    EXPECT_EQ(top[2].name, QStringLiteral("Status.plist"));
    EXPECT_EQ(top[2].type, 1);

    const QList<DLFileEntry> sub = store.listEntries(QStringLiteral("0a"));
    ASSERT_EQ(sub.size(), 2);
    for (const DLFileEntry& e : sub) {
        EXPECT_EQ(e.type, 1);
        if (e.name == a1) {
            EXPECT_EQ(e.size, 4096u);
            EXPECT_EQ(e.modified.toSecsSinceEpoch(), 150);
        }
    }
    store.removeFile(a1);
    EXPECT_TRUE(store.findDevicePath(a1).isEmpty());
    EXPECT_EQ(store.listEntries(QStringLiteral("0a")).size(), 1);
}

TEST_F(StoreTest, CommitsEveryTenThousandAddsAndAtTheEnd)
{
    {
        FakeDNameDb store;
        QString error;
        ASSERT_TRUE(store.openDb(path, error));
        for (int i = 0; i < 9999; ++i)
            store.addFile(QStringLiteral("%1").arg(i, 40, 10, QLatin1Char('0')), QStringLiteral("/d"), false, i);
        EXPECT_EQ(committedRows(path), 0);
        store.addFile(QStringLiteral("last-of-the-batch"), QStringLiteral("/d"), false, 1);
        EXPECT_EQ(committedRows(path), 10000);
        store.addFile(QStringLiteral("after"), QStringLiteral("/d"), false, 1);
        EXPECT_EQ(committedRows(path), 10000);
        EXPECT_EQ(store.addedFiles(), 10001u);
    }
    EXPECT_EQ(committedRows(path), 10001);
}

class HookTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        root = dir.path();
        folder = root + QLatin1Char('/') + kUdid;
        QDir().mkpath(folder);
        hook.setIncludedApps({QStringLiteral("net.whatsapp.WhatsApp")});
        hook.setAppContainers({{QStringLiteral("net.whatsapp.WhatsApp"), {kWaData, kWaGroup}},
                               {QStringLiteral("com.example.notes"), {kNotes}}});
    }
    QTemporaryDir dir;
    QString root;
    QString folder;
    FakeBackup2ToolHook hook;
};

TEST_F(HookTest, KeepsFixedNamesAndTheIncludedAppsContainersOnly)
{
    hook.init(root, kUdid);
    // (local path, device path, kept)
    const struct {
        QString local;
        QString device;
        bool kept;
    } table[] = {
        {kUdid + "/Snapshot/MANIFEST.DB", dataPath(kNotes, "Documents/x"), true},
        {kUdid + "/Snapshot/Status.plist", "/private/var/.backup.i/Status.plist", true},
        {kUdid + "/Snapshot/80/80fa782261261e54bb73c0253e5b6beefb6a2f39",
         "/private/var/mobile/Library/Preferences/com.apple.purplebuddy.plist", true},
        {kUdid + "/Snapshot/aa/" + fileId('a', 'a'), groupPath(kWaGroup.toLower(), "ChatStorage.sqlite"), true},
        {kUdid + "/Snapshot/bb/" + fileId('b', 'b'), dataPath(kWaData, "Documents/x"), true},
        {kUdid + "/Snapshot/cc/" + fileId('c', 'c'), dataPath(kNotes, "Documents/notes.txt"), false},
        {kUdid + "/Snapshot/dd/" + fileId('d', 'd'), "/private/var/mobile/Library/SMS/sms.db", false},
    };
    for (const auto& row : table) {
        EXPECT_EQ(hook.isIncluded(root, row.local, row.device), row.kept) << row.local.toStdString();
        hook.beforeReceiveFile(root, kUdid, row.local, row.device);
        QFile file;
        QString error;
        EXPECT_EQ(hook.openReceiveFile(root, row.local, file, error), 0);
        EXPECT_EQ(file.isOpen(), row.kept) << row.local.toStdString();
        if (file.isOpen())
            file.write("12345");
        file.close();
        hook.fileReceived(root, row.local, 5);
        EXPECT_EQ(QFile::exists(root + QLatin1Char('/') + row.local), row.kept) << row.local.toStdString();
    }
    EXPECT_EQ(hook.keptFiles(), 5u);
    EXPECT_EQ(hook.droppedFiles(), 2u);
    EXPECT_EQ(hook.droppedBytes(), 10u);
    // A dropped file's row: its size, not kept; later decisions come from the store.
    Sqlite3Cursor c = hook.store().queryThrow(
        Sqlite3Sql("select size, incl, d from dname where f=?").addTextParam(fileId('c', 'c')));
    ASSERT_TRUE(c.moveNext());
    EXPECT_EQ(c.getInt(QStringLiteral("size")), 5);
    EXPECT_EQ(c.getInt(QStringLiteral("incl")), 0);
    EXPECT_TRUE(hook.isIncluded(root, kUdid + "/aa/" + fileId('a', 'a'), QString()));
    EXPECT_FALSE(hook.isIncluded(root, kUdid + "/cc/" + fileId('c', 'c'), QString()));
    EXPECT_FALSE(hook.statusReceived());  // only the device folder's own Status.plist counts
}

TEST_F(HookTest, ListingShowsDroppedFilesFromTheStoreAndKeptFilesFromDisk)
{
    writeFile(folder + "/Manifest.db", "x");
    hook.init(root, kUdid);
    const QString kept = QStringLiteral("0a") + QString(38, QLatin1Char('1'));
    const QString keptGone = QStringLiteral("0a") + QString(38, QLatin1Char('2'));
    const QString dropped = QStringLiteral("0a") + QString(38, QLatin1Char('3'));
    for (const auto& [name, device] : {std::pair{kept, groupPath(kWaGroup, "a")}, std::pair{keptGone, groupPath(kWaGroup, "b")},
                                        std::pair{dropped, dataPath(kNotes, "c")}}) {
        hook.beforeReceiveFile(root, kUdid, kUdid + "/0a/" + name, device);
        hook.fileReceived(root, kUdid + "/0a/" + name, 777);
    }
    writeFile(folder + "/0a/" + kept, "on disk");
    writeFile(folder + "/Snapshot/real.txt", "snap");

    QMap<QString, quint64> sizes;
    for (const DLFileEntry& e : hook.listDir(root, kUdid + "/0a"))
        sizes[e.name] = e.size;
    EXPECT_EQ(sizes, (QMap<QString, quint64>{{kept, 7}, {dropped, 777}}));

    const QList<DLFileEntry> top = hook.listDir(root, kUdid);
    ASSERT_EQ(top.size(), 1);
    EXPECT_EQ(top[0].name, QStringLiteral("0a"));
    EXPECT_EQ(top[0].type, 2);

    const QList<DLFileEntry> snapshot = hook.listDir(root, kUdid + "/Snapshot");
    ASSERT_EQ(snapshot.size(), 1);
    EXPECT_EQ(snapshot[0].name, QStringLiteral("real.txt"));

    // Removals: anything under Snapshot leaves the store alone.
    QString error;
    hook.removeItem(root, kUdid + "/Snapshot/0a/" + dropped, error);
    EXPECT_FALSE(hook.store().findDevicePath(dropped).isEmpty());
    hook.removeItem(root, kUdid + "/0a/" + dropped, error);
    EXPECT_TRUE(hook.store().findDevicePath(dropped).isEmpty());
    hook.removeItem(root, kUdid + "/0a/" + kept, error);
    EXPECT_FALSE(QFile::exists(folder + "/0a/" + kept));
    EXPECT_EQ(hook.copyEntry(root, kUdid + "/0a", kUdid + "/0b", error), 0);
    EXPECT_FALSE(QFile::exists(folder + "/0b"));
    EXPECT_EQ(hook.makeDirectory(root, kUdid + "/0c", error), 0);
    EXPECT_FALSE(QFile::exists(folder + "/0c"));
}

TEST_F(HookTest, AStoreWithoutACompletedBackupIsDeletedAndAGoodOneReopened)
{
    {
        FakeDNameDb old;
        QString error;
        ASSERT_TRUE(old.openDb(folder + "/dname.sqlite", error));
        old.addFile(fileId('0', 'a'), dataPath(kNotes, "x"), false, 1);
    }
    hook.init(root, kUdid);  // no Manifest.db beside it
    EXPECT_FALSE(QFile::exists(folder + "/dname.sqlite"));
    EXPECT_FALSE(hook.store().isOpen());

    {
        FakeDNameDb old;
        QString error;
        ASSERT_TRUE(old.openDb(folder + "/dname.sqlite", error));
        old.addFile(fileId('0', 'a'), dataPath(kNotes, "x"), false, 1);
    }
    writeFile(folder + "/Manifest.db", "x");
    FakeBackup2ToolHook second;
    second.setAppContainers({});
    second.init(root, kUdid);
    EXPECT_TRUE(second.store().isOpen());
    EXPECT_EQ(second.store().findDevicePath(fileId('0', 'a')), dataPath(kNotes, "x"));

    // A store that cannot be opened ends the run with the documented text.
    writeFile(folder + "/dname.sqlite", QByteArray(4096, 'x'));
    FakeBackup2ToolHook third;
    third.setAppContainers({});
    try {
        third.init(root, kUdid);
        FAIL() << "a damaged store was opened";
    } catch (const std::exception& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).startsWith(QStringLiteral("open dname.sqlite failed. "))) << e.what();
    }
}

QByteArray statusPlist(const char* state, bool binary)
{
    PlistCFType s = PlistCFType::newDictionary();
    s.setValue(QStringLiteral("SnapshotState"), PlistCFType(state));
    return s.serialize(binary ? PlistCFType::BinaryFormat : PlistCFType::XmlFormat);
}

QByteArray manifestPlist(const char* version)
{
    PlistCFType lockdown = PlistCFType::newDictionary();
    lockdown.setValue(QStringLiteral("ProductVersion"), PlistCFType(version));
    PlistCFType m = PlistCFType::newDictionary();
    m.setValue(QStringLiteral("Lockdown"), lockdown);
    return m.serialize();
}

TEST(BackupReuse, KeepsOnlyACompleteBackupOfTheSameVersion)
{
    // (what, state, binary status, manifest version, has Manifest.db, phone version, kept)
    const struct {
        const char* what;
        const char* state;
        bool binary;
        const char* manifestVersion;
        bool db;
        const char* phone;
        bool kept;
    } table[] = {
        {"complete, XML status", "finished", false, "14.2", true, "14.2", true},
        {"complete, binary status", "finished", true, "14.2", true, "14.2", true},
        {"phone updated", "finished", true, "14.2", true, "14.3", false},
        {"unfinished snapshot", "new", true, "14.2", true, "14.2", false},
        {"no Manifest.db", "finished", true, "14.2", false, "14.2", false},
    };
    for (const auto& row : table) {
        QTemporaryDir dir;
        const QString folder = dir.filePath(kUdid);
        writeFile(folder + "/Status.plist", statusPlist(row.state, row.binary));
        writeFile(folder + "/Manifest.plist", manifestPlist(row.manifestVersion));
        if (row.db)
            writeFile(folder + "/Manifest.db", "db");
        writeFile(folder + "/0a/kept", "k");
        EXPECT_EQ(IOSMobileBackupThread::keepEarlierBackup(folder, QString::fromLatin1(row.phone)), row.kept) << row.what;
        EXPECT_EQ(QFileInfo::exists(folder), row.kept) << row.what;
    }
}

TEST(DeviceJobTexts, BackupRemediesAndRestoreTip)
{
    // (error, heading expected or empty)
    const struct {
        const char* error;
        const char* heading;
    } table[] = {
        {"error code:-1. <br/><br/>connection to device LOST", "Connection to device lost. Please try the following"},
        {"error code:9. <br/><br/>The operation cannot run until Setup is finished",
         "Failed to connect your iPhone. Please try the following"},
        {"error code:105. <br/><br/>Not enough space (MBErrorDomain/105)", nullptr},
    };
    for (const auto& row : table) {
        const QString text = IOSMobileBackupThread::failureText(QString::fromLatin1(row.error));
        EXPECT_TRUE(text.contains(QStringLiteral("<br/><br/>Note: You can follow this "))) << text.toStdString();
        EXPECT_TRUE(text.endsWith(QStringLiteral(" to try."))) << text.toStdString();
        if (row.heading) {
            EXPECT_TRUE(text.startsWith(QString::fromLatin1(row.heading))) << text.toStdString();
            EXPECT_TRUE(text.contains(QStringLiteral("A:<br/>Step 1) Restart your iPhone.")));
            EXPECT_TRUE(text.contains(QStringLiteral("B:<br/>Step 1) Delete the lockdown folder from your computer.(")));
            EXPECT_FALSE(text.contains(QString::fromLatin1(row.error)));  // replaced by the remedies
        } else {
            EXPECT_TRUE(text.startsWith(QString::fromLatin1(row.error))) << text.toStdString();
        }
    }
    const QString restore = IOSMobileRestoreThread::failureText(QStringLiteral("E"));
    EXPECT_TRUE(restore.startsWith(QStringLiteral("E<br/><br/>Tip: You can follow this ")));
}

TEST(DeviceJobTexts, RestoreOptionsFollowTheJobsFields)
{
    auto device = std::make_shared<IOSDeviceInfo>();
    device->udid = kUdid;
    IOSMobileRestoreThread job(device, QStringLiteral("/nowhere"), true);
    Backup2Options o = job.options();
    EXPECT_EQ(o.op, 1);
    EXPECT_TRUE(o.conditional && o.systemFiles && o.shouldReboot && o.dontCopyBackup && o.preserveSettings);
    EXPECT_FALSE(o.removeItemsNotRestored);
    EXPECT_TRUE(o.password.isEmpty());
    job.setSystemFiles(false);
    job.setPassword(QStringLiteral("pw"));
    o = job.options();
    EXPECT_FALSE(o.systemFiles);
    EXPECT_EQ(o.password, QStringLiteral("pw"));
}

}  // namespace

namespace {

TEST(HookContainers, AnUnreachablePhoneLeavesOnlyTheFixedNames)
{
    qputenv("USBMUXD_SOCKET_ADDRESS", "127.0.0.1:1");  // nothing listens there
    FakeBackup2ToolHook hook;
    hook.setIncludedApps({QStringLiteral("net.whatsapp.WhatsApp")});
    hook.loadContainers(kUdid);
    qunsetenv("USBMUXD_SOCKET_ADDRESS");
    EXPECT_TRUE(hook.appContainers().isEmpty());
    EXPECT_FALSE(hook.containerError().isEmpty());
    EXPECT_FALSE(hook.isIncluded(QString(), kUdid + "/aa/" + fileId('a', 'a'), groupPath(kWaGroup, "ChatStorage.sqlite")));
    EXPECT_TRUE(hook.isIncluded(QString(), kUdid + "/Manifest.db", groupPath(kWaGroup, "x")));
}

}  // namespace
