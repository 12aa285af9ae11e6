// Backup folders: identity, the browse tree (and hostile paths), copying
// files out plain and decrypted, the reduced manifest and the password job.
#include "itunestestutil.h"
#include "platform/osservices.h"

#include "base/apperror.h"
#include "base/recordingmonitor.h"
#include "itunes/iositunesbksetpasswordthread.h"

using namespace itest;

namespace {

const char* kUdid = "00008030-001A2B3C4D5E6F70";

// A plain backup in the Manifest.mbdb layout with the given records.
void makePlainBackup(const QString& folder, const QList<MBDBRecord>& records)
{
    writeManifestPlist(folder, kUdid, "Anna's iPhone");
    writeMbdb(folder, records);
}

QStringList childNames(const BackupNode* node)
{
    QStringList names;
    for (const auto& c : node->children)
        names << c->name;
    return names;
}

}  // namespace

TEST(BackupManifest, IdentityAndDisplayName)
{
    QTemporaryDir dir;
    for (const QString& name : {QString::fromLatin1(kUdid), QStringLiteral("Backup 1")}) {
        const QString folder = dir.filePath(name);
        QDir().mkpath(folder);
        makePlainBackup(folder, {});
        BackupManifest backup(folder);
        backup.openThrow();
        EXPECT_EQ(backup.udid, kUdid);
        EXPECT_EQ(backup.productType, "iPhone9,3");
        EXPECT_EQ(backup.productVersion, "14.3");
        EXPECT_FALSE(backup.isEncrypted);
        EXPECT_EQ(backup.displayName, name == kUdid ? QString("Anna's iPhone") : QString("Anna's iPhone-Backup 1"));
        EXPECT_EQ(backup.backupId(),
                  QCryptographicHash::hash(QDir(folder).absolutePath().toUtf8(), QCryptographicHash::Md5).toHex());
    }
    const QString folder = dir.filePath("Backup 1");
    writeFile(folder + "/Status.plist", "x");
    QFile status(folder + "/Status.plist");
    status.open(QIODevice::ReadWrite);
    const QDateTime when = QDateTime::fromSecsSinceEpoch(1500000000);
    status.setFileTime(when, QFileDevice::FileModificationTime);
    status.close();
    BackupManifest backup(folder);
    backup.openThrow();
    EXPECT_EQ(backup.date, when);

    BackupManifest missing(dir.filePath("nowhere"));
    try {
        missing.openThrow();
        ADD_FAILURE();
    } catch (const AppError& e) {
        EXPECT_TRUE(e.text().startsWith("Cannot find ")) << e.text().toStdString();
    }
    EXPECT_EQ(BackupManifest::versionNumbers("12.4.1"), (QList<int>{12, 4, 1}));
    EXPECT_EQ(BackupManifest::versionNumbers("iOS 9"), (QList<int>{9}));
}

TEST(BackupManifest, TreeOfVirtualPaths)
{
    QTemporaryDir dir;
    makePlainBackup(dir.path(),
                    {makeRecord("AppDomainGroup-group.net.whatsapp.WhatsApp.shared", "", 0x41C0),
                     makeRecord("AppDomainGroup-group.net.whatsapp.WhatsApp.shared", "Message", 0x41C0),
                     makeRecord("AppDomainGroup-group.net.whatsapp.WhatsApp.shared", "Message/Media", 0x41C0),
                     makeRecord("AppDomain-net.whatsapp.WhatsApp", "", 0x41C0),
                     makeRecord("AppDomain-net.whatsapp.WhatsApp", "Documents", 0x41C0),
                     makeRecord("HomeDomain", "Library", 0x41C0),
                     makeRecord("HomeDomain", "Library/Preferences", 0x41C0),
                     makeRecord("MediaDomain", "Library", 0x41C0),
                     makeRecord("HomeDomain", "", 0x41C0),
                     makeRecord("SysContainerDomain-x", "a", 0x41C0)});
    BackupManifest backup(dir.path());
    backup.openThrow();
    backup.loadThrow();
    EXPECT_EQ(childNames(&backup.root),
              (QStringList{"Applications", "AppDomainGroup", "Library", "SysContainerDomain-x"}));
    ASSERT_TRUE(backup.nodeAt("AppDomainGroup/group.net.whatsapp.WhatsApp.shared/Message/Media"));
    EXPECT_EQ(backup.nodeAt("AppDomainGroup/group.net.whatsapp.WhatsApp.shared/Message/Media")->path(),
              "AppDomainGroup/group.net.whatsapp.WhatsApp.shared/Message/Media");
    const BackupNode* docs = backup.nodeAt("Applications/net.whatsapp.WhatsApp/Documents");
    ASSERT_TRUE(docs);
    EXPECT_EQ(docs->parent, backup.nodeAt("Applications/net.whatsapp.WhatsApp"));
    EXPECT_EQ(docs->parent->parent, backup.nodeAt("Applications"));
    const BackupNode* library = backup.nodeAt("Library");
    ASSERT_TRUE(library);
    EXPECT_EQ(library->record.domain.text(), "HomeDomain");  // MediaDomain's Library is the second: skipped
    EXPECT_EQ(childNames(library), QStringList{"Preferences"});
    EXPECT_TRUE(backup.nodeAt("SysContainerDomain-x/a"));
    backup.loadThrow();
    EXPECT_EQ(backup.root.childCount(), 4);
    EXPECT_EQ(library->childCount(), 1);
}

TEST(BackupManifest, PathsThatLeaveTheTreeAreSkipped)
{
    QTemporaryDir dir;
    makePlainBackup(dir.path(), {makeRecord("HomeDomain", "Library", 0x41C0),
                                 makeRecord("HomeDomain", "../../etc/passwd"),
                                 makeRecord("HomeDomain", "Library/../../x"),
                                 makeRecord("HomeDomain", "Library/./y"),
                                 makeRecord("HomeDomain", "Library//z"),
                                 makeRecord("HomeDomain", "/etc/shadow"),
                                 makeRecord("AppDomain-..", "a"),
                                 makeRecord("AppDomain-net.x", "../b"),
                                 makeRecord("..", "c"),
                                 makeRecord("..", "", 0x41C0),
                                 makeRecord("a/b", "", 0x41C0),
                                 makeRecord(".", ""),
                                 makeRecord("HomeDomain", "Library/ok")});
    BackupManifest backup(dir.path());
    backup.openThrow();
    backup.loadThrow();
    EXPECT_EQ(childNames(&backup.root), QStringList{"Library"});
    EXPECT_EQ(childNames(backup.nodeAt("Library")), QStringList{"ok"});
}

TEST(BackupManifest, CopyingPlainFilesOut)
{
    QTemporaryDir dir;
    MBDBRecord r = makeRecord("HomeDomain", "Library/a.txt");
    r.lastModified = 1400000000;
    makePlainBackup(dir.path(), {r});
    writeFile(dir.filePath(r.fileId()), QByteArray(20000, 'a'));
    BackupManifest backup(dir.path());
    backup.openThrow();
    backup.loadThrow();
    const BackupNode* node = backup.nodeAt("Library/a.txt");
    ASSERT_TRUE(node);
    QList<qint64> seen;
    const QString out = dir.filePath("out/deeper/a.txt");
    backup.copyItemThrow(node, out, 7, [&](qint64 total, qint64 done, const QVariant& arg) {
        EXPECT_EQ(total, 20000);
        EXPECT_EQ(arg.toInt(), 7);
        seen << done;
    });
    EXPECT_EQ(readFile(out), QByteArray(20000, 'a'));
    EXPECT_EQ(seen, (QList<qint64>{8192, 16384, 20000}));
    EXPECT_EQ(QFileInfo(out).lastModified().toSecsSinceEpoch(), 1400000000);

    backup.copyItem(nullptr, dir.filePath("never"));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("never")));

    // A destination that cannot be created fails the copy.
    writeFile(dir.filePath("blocker"), "file");
    EXPECT_THROW(backup.copyItemThrow(node, dir.filePath("blocker/a.txt")), AppError);

    QFile::remove(dir.filePath(r.fileId()));
    try {
        backup.copyItemThrow(node, dir.filePath("gone.txt"));
        ADD_FAILURE();
    } catch (const AppError& e) {
        EXPECT_TRUE(e.text().startsWith("can not open ")) << e.text().toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("gone.txt")));
}

TEST(BackupManifest, EncryptedBackupInTheMbdbLayout)
{
    QTemporaryDir dir;
    const TestKeybag kb = makeKeybag("1234", 5, false, {{1, 3}, {3, 3}, {4, 1}});
    writeManifestPlist(dir.path(), kUdid, "P", true, kb.bytes);
    const QByteArray fileKey = filled(32, 'K');
    MBDBRecord good = makeRecord("HomeDomain", "Library/secret.txt");
    good.encryptionKey = MBDBString::fromBytes(encryptionKeyValue(kb, 3, fileKey));
    MBDBRecord locked = makeRecord("HomeDomain", "Library/locked.bin");
    locked.protectionClass = 4;  // class 4 stays locked (WRAP 1)
    locked.encryptionKey = MBDBString::fromBytes(le32(4) + filled(40, 'z'));
    writeMbdb(dir.path(), {good, locked});
    const QString plain = dir.filePath("plain.txt");
    writeFile(plain, "top secret text");
    BackupManifest::encryptFileThrow(plain, dir.filePath(good.fileId()), fileKey);
    writeFile(dir.filePath(locked.fileId()), "stored bytes");

    BackupManifest backup(dir.path());
    backup.openThrow();
    ASSERT_TRUE(backup.isEncrypted);
    EXPECT_FALSE(backup.setPassword("4321"));
    EXPECT_TRUE(backup.password.isEmpty());
    ASSERT_TRUE(backup.setPassword("1234"));
    EXPECT_TRUE(backup.decryptedManifestPath.isEmpty());  // no DPIC/DPSL: the manifest is plain
    backup.loadThrow();
    backup.copyItemThrow(backup.nodeAt("Library/secret.txt"), dir.filePath("out/secret.txt"));
    EXPECT_EQ(readFile(dir.filePath("out/secret.txt")), "top secret text");
    // A file whose key does not unwrap is never handed out as if it were
    // decrypted: an error names it and nothing appears. Only a copy between
    // backups takes the stored bytes as they are.
    try {
        backup.copyItemThrow(backup.nodeAt("Library/locked.bin"), dir.filePath("out/locked.bin"));
        ADD_FAILURE() << "a locked file was copied out";
    } catch (const AppError& e) {
        EXPECT_TRUE(e.text().contains("HomeDomain/Library/locked.bin")) << e.text().toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("out/locked.bin")));
    backup.copyRecordThrow(backup.nodeAt("Library/locked.bin")->record, dir.filePath("out/stored.bin"), {}, {},
                           BackupManifest::LockedFile::CopyStored);
    EXPECT_EQ(readFile(dir.filePath("out/stored.bin")), "stored bytes");

    ClassKeyRecord c3, c4;
    EXPECT_THROW(backup.firstEncryptedItem(c3, c4), AppError);  // no class-4 key unwraps
    EXPECT_EQ(c3.fileKey, fileKey);
    EXPECT_EQ(c3.encryptionKey, good.encryptionKey);
}

TEST(BackupManifest, EncryptedManifestDatabaseIsDecryptedAndWrittenBack)
{
    QTemporaryDir dir;
    const TestKeybag kb = makeKeybag("pw", 4, true, {{1, 3}, {3, 3}, {4, 3}});
    const QByteArray manifestKey = filled(32, 'M');
    const QString plainDb = dir.filePath("plain.db");
    createManifestDb(plainDb);
    {
        MBDBRecord r = makeRecord("AppDomain-net.whatsapp.WhatsApp", "Documents", 0x41C0);
        r.isNew = true;
        QTemporaryDir stage;
        QFile::copy(plainDb, stage.filePath("Manifest.db"));
        MBDBParser::saveThrow({r}, ManifestLocation{stage.path(), {}, {}, {}});
        QFile::remove(plainDb);
        QFile::copy(stage.filePath("Manifest.db"), plainDb);
    }
    const QString folder = dir.filePath("bk");
    QDir().mkpath(folder);
    writeManifestPlist(folder, kUdid, "P", true, kb.bytes, encryptionKeyValue(kb, 4, manifestKey));
    BackupManifest::encryptFileThrow(plainDb, folder + "/Manifest.db", manifestKey);

    BackupManifest backup(folder);
    backup.openThrow();
    RecordingMonitor wrong;
    EXPECT_FALSE(verifyPassword(backup, "nope", wrong));
    EXPECT_TRUE(wrong.succeeded());
    EXPECT_FALSE(QFileInfo::exists(folder + "/Manifest-decrypted.db"));

    RecordingMonitor right;
    ASSERT_TRUE(verifyPassword(backup, "pw", right));
    ASSERT_EQ(right.reports().size(), 1);
    EXPECT_EQ(right.reports().first().status, "Verifying. Please wait...");
    EXPECT_EQ(right.reports().first().value, 99);
    EXPECT_EQ(backup.manifestKey, manifestKey);
    // The plain manifest lives in the private temporary folder only.
    EXPECT_TRUE(backup.decryptedManifestPath.startsWith(platform::privateTempFolder() + "/"))
        << backup.decryptedManifestPath.toStdString();
    EXPECT_EQ(int(QFileInfo(backup.decryptedManifestPath).permissions() & 0x0077), 0);  // no group, no others
    EXPECT_FALSE(QFileInfo::exists(folder + "/Manifest-decrypted.db"));
    backup.loadThrow();
    ASSERT_TRUE(backup.nodeAt("Applications/net.whatsapp.WhatsApp/Documents"));

    // A new record goes into the copy and the encrypted manifest is replaced.
    MBDBRecord added = makeRecord("AppDomain-net.whatsapp.WhatsApp", "Documents/new.txt");
    added.isNew = true;
    MBDBParser::saveThrow({added}, backup);
    BackupManifest::decryptFileThrow(manifestKey, folder + "/Manifest.db", dir.filePath("check.db"));
    EXPECT_EQ(rowCount(dir.filePath("check.db"), "select count(*) from Files"), 2);
    EXPECT_FALSE(QFileInfo::exists(folder + "/Manifest.db.tmp"));

    // The reduced manifest of the encrypted backup is encrypted again.
    backup.filteredManifestThrow(false, {"AppDomain-net.whatsapp.WhatsApp"}, dir.filePath("reduced.db"));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("reduced.db-decrypt")));
    BackupManifest::decryptFileThrow(manifestKey, dir.filePath("reduced.db"), dir.filePath("reduced-check.db"));
    EXPECT_EQ(rowCount(dir.filePath("reduced-check.db"), "select count(*) from Files"), 1);  // the folder

    // A failure inside the job is reported with the job's prefix.
    BackupManifest broken(folder);
    broken.openThrow();
    QFile::remove(folder + "/Manifest.db");
    RecordingMonitor failing;
    EXPECT_FALSE(verifyPassword(broken, "pw", failing));
    ASSERT_EQ(failing.errors().size(), 1);
    EXPECT_TRUE(failing.errors().first().startsWith("IOSiTunesBKSetPasswordThread: can not open "))
        << failing.errors().first().toStdString();
}

TEST(BackupManifest, ReducedManifestKeepsFoldersAndStoredFilesOnly)
{
    QTemporaryDir dir;
    createManifestDb(dir.filePath("Manifest.db"));
    QList<MBDBRecord> records;
    auto add = [&](const char* domain, const char* path, quint16 mode, const char* target = nullptr) {
        MBDBRecord r = makeRecord(domain, path, mode);
        if (target)
            r.target = MBDBString::fromText(target);
        r.isNew = true;
        records.append(r);
        return r.fileId();
    };
    const QString wa = "AppDomain-net.whatsapp.WhatsApp";
    add("AppDomain-net.whatsapp.WhatsApp", "Documents", 0x41C0);
    const QString storedId = add("AppDomain-net.whatsapp.WhatsApp", "Documents/a", 0x81A4);
    add("AppDomain-net.whatsapp.WhatsApp", "Documents/missing", 0x81A4);
    add("AppDomain-net.whatsapp.WhatsApp", "Documents/link", 0xA1ED, "/x");
    add("HomeDomain", "Library/Preferences", 0x41C0);
    add("HomeDomain", "Library/other", 0x41C0);
    add("AppDomain-com.apple.mobilesafari", "Library", 0x41C0);
    add("AppDomain-com.example.game", "Library", 0x41C0);
    MBDBParser::saveThrow(records, ManifestLocation{dir.path(), {}, {}, {}});
    writeFile(dir.filePath(storedId.left(2) + "/" + storedId), "x");
    BackupManifest backup(dir.path());

    const QString out = dir.filePath("restore/Manifest.db");
    QDir().mkpath(dir.filePath("restore"));
    bool extraRan = false;
    backup.filteredManifestThrow(false, {wa}, out, [&](Sqlite3DB& db) {
        extraRan = db.isOpen();
    });
    EXPECT_TRUE(extraRan);
    EXPECT_FALSE(QFileInfo::exists(out + ".tmp"));
    // Documents, Documents/a, and HomeDomain Library/Preferences (an always-kept ID).
    EXPECT_EQ(rowCount(out, "select count(*) from Files"), 3);
    EXPECT_EQ(rowCount(out, QString("select count(*) from Files where fileID='%1'").arg(storedId)), 1);

    backup.filteredManifestThrow(true, {wa}, out);
    // System domains too: HomeDomain Library/other and the com.apple app; never the other app.
    EXPECT_EQ(rowCount(out, "select count(*) from Files"), 5);
    EXPECT_EQ(rowCount(out, "select count(*) from Files where domain='AppDomain-com.example.game'"), 0);
}

TEST(BackupManifest, DecryptedManifestNeverGoesThroughALinkOrStaysBehind)
{
    QTemporaryDir dir;
    const TestKeybag kb = makeKeybag("pw", 4, true, {{1, 3}, {3, 3}, {4, 3}});
    const QByteArray manifestKey = filled(32, 'M');
    const QString plainDb = dir.filePath("plain.db");
    createManifestDb(plainDb);
    const QString folder = dir.filePath("bk");
    QDir().mkpath(folder);
    writeManifestPlist(folder, kUdid, "P", true, kb.bytes, encryptionKeyValue(kb, 4, manifestKey));
    BackupManifest::encryptFileThrow(plainDb, folder + "/Manifest.db", manifestKey);
    const QString victim = dir.filePath("victim.txt");
    writeFile(victim, "keep me");
    ASSERT_TRUE(QFile::link(victim, folder + "/Manifest-decrypted.db"));

    QString decrypted;
    {
        BackupManifest backup(folder);
        backup.openThrow();
        ASSERT_TRUE(backup.setPassword("pw"));
        decrypted = backup.decryptedManifestPath;
        EXPECT_TRUE(QFileInfo::exists(decrypted));
    }
    EXPECT_EQ(readFile(victim), "keep me");
    EXPECT_FALSE(QFileInfo::exists(decrypted));  // gone with the backup object
}

TEST(BackupManifest, KeybagWithoutPasswordKeysOrAManifestKeyThatDoesNotUnwrap)
{
    QTemporaryDir dir;
    const QString plainDb = dir.filePath("plain.db");
    createManifestDb(plainDb);
    struct Case {
        const char* name;
        QList<ClassEntry> classes;
        bool garbledManifestKey;
        bool throws;  // a damaged backup; else a wrong password
    } cases[] = {
        {"no password-wrapped class key", {{1, 1}, {3, 1}, {4, 1}}, false, true},
        {"manifest key that no class key unwraps", {{1, 3}, {3, 3}, {4, 3}}, true, false},
    };
    for (const Case& c : cases) {
        const QString folder = dir.filePath(c.name);
        QDir().mkpath(folder);
        const TestKeybag kb = makeKeybag("pw", 4, true, c.classes);
        const QByteArray manifestKey = filled(32, 'M');
        QByteArray wrapped = encryptionKeyValue(kb, 4, manifestKey);
        if (c.garbledManifestKey)
            wrapped = le32(4) + filled(40, 'z');
        writeManifestPlist(folder, kUdid, "P", true, kb.bytes, wrapped);
        BackupManifest::encryptFileThrow(plainDb, folder + "/Manifest.db", manifestKey);
        BackupManifest backup(folder);
        backup.openThrow();
        if (c.throws) {
            try {
                backup.setPassword("anything");
                ADD_FAILURE() << c.name << ": accepted";
            } catch (const AppError& e) {
                EXPECT_EQ(e.text(), "The backup's keybag holds no keys that a password unlocks.") << c.name;
            }
        } else {
            EXPECT_FALSE(backup.setPassword("pw")) << c.name;
            EXPECT_TRUE(backup.password.isEmpty()) << c.name;
        }
    }
}
