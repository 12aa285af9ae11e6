// Loading WhatsApp out of iTunes backups into the cache layout: both manifest
// generations, plain and encrypted, the group container missing, no WhatsApp
// at all, repeated loads, encoded and hostile names, cancel and errors.
#include "itunestestutil.h"

#include "base/apperror.h"
#include "base/fileutil.h"
#include "base/recordingmonitor.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/loadwhatsappdbthread.h"
#include "chatstore/wamsgsdatasource.h"
#include "itunes/iosloadwafromitunesthread.h"
#include "platform/osservices.h"
#include "tools/backupbuilder/itunesbackupbuilder.h"

#include <QDirIterator>

using namespace itest;

namespace {

const QString kPassword = QStringLiteral("pass word");

// Each case gets its own private temporary folder (the default cache).
class LoadFromItunes : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", dir.filePath("tmp").toUtf8());
        QDir().mkpath(dir.filePath("tmp"));
    }
    void TearDown() override { qputenv("TMPDIR", oldTmp); }

    SampleChatDb makeChat(qint64 bulk = 20)
    {
        return buildSampleChatDb(dir.filePath("chat"), ChatDbLayout::Modern, bulk, false);
    }

    // Writes the backup, then opens, unlocks and loads it.
    std::unique_ptr<BackupManifest> backupOf(const SampleChatDb& chat, BackupLayout layout, const QString& password,
                                             const WhatsAppLayout& wa = {}, const QString& name = "backup",
                                             const std::function<void(ItunesBackupBuilder&)>& extra = {})
    {
        const QString folder = dir.filePath(name);
        {
            ItunesBackupBuilder b(folder, layout, password, 10);
            b.addFile("HomeDomain", "Library/Preferences/com.apple.purplebuddy.plist", "<plist/>");
            b.addWhatsApp(chat.folder, wa);
            if (extra)
                extra(b);
            b.commit();
        }
        return openBackup(folder, password);
    }

    std::unique_ptr<BackupManifest> openBackup(const QString& folder, const QString& password)
    {
        auto backup = std::make_unique<BackupManifest>(folder);
        backup->openThrow();
        if (backup->isEncrypted) {
            EXPECT_TRUE(backup->setPassword(password));
        }
        backup->loadThrow();
        return backup;
    }

    QTemporaryDir dir;
    QByteArray oldTmp;
};

struct LayoutCase {
    BackupLayout layout;
    bool encrypted;
    const char* name;
};

class LoadEachBackup : public LoadFromItunes, public ::testing::WithParamInterface<LayoutCase> {};

}  // namespace

TEST_P(LoadEachBackup, CacheHoldsTheChatDatabaseAndItsMedia)
{
    const SampleChatDb chat = makeChat();
    auto backup = backupOf(chat, GetParam().layout, GetParam().encrypted ? kPassword : QString());
    EXPECT_EQ(backup->isEncrypted, GetParam().encrypted);
    EXPECT_EQ(backup->isDbLayout(), GetParam().layout == BackupLayout::ManifestDb);

    IOSLoadWAFromiTunesThread job(*backup, QString());
    RecordingMonitor monitor;
    job.run(monitor);
    ASSERT_TRUE(monitor.succeeded()) << monitor.errors().join("; ").toStdString();
    EXPECT_EQ(monitor.reports().first().status, "Loading data from iTunes Backup...");
    EXPECT_EQ(monitor.reports().first().value, 99);
    EXPECT_TRUE(monitor.reports().at(1).text.startsWith("Loading ")) << monitor.reports().at(1).text.toStdString();

    // The default cache: inside the private temporary folder, named after the backup.
    const QString cache = job.cacheFolder();
    EXPECT_EQ(cache, QDir(platform::privateTempFolder()).filePath("quillometry-itunes_cache/" + backup->backupId()));
    EXPECT_TRUE(cache.startsWith(dir.filePath("tmp/"))) << cache.toStdString();
    EXPECT_EQ(QFileInfo(QFileInfo(cache).absolutePath()).permissions() & (QFile::ReadOther | QFile::ExeOther), 0);

    const QString app = cache + "/net.whatsapp.WhatsApp";
    EXPECT_EQ(readFile(app + "/Documents/ChatStorage.sqlite"), readFile(chat.folder.databasePath));
    EXPECT_TRUE(QFileInfo(app + "/Library/Preferences/net.whatsapp.WhatsApp.plist").isFile());
    EXPECT_TRUE(QFileInfo(app + "/Library/Preferences/group.net.whatsapp.WhatsApp.shared.plist").isFile());
    const auto source = filesBelow(chat.folder.mediaFolder + "/Media");
    const auto cached = filesBelow(app + "/Library/Media");
    ASSERT_FALSE(source.isEmpty());
    EXPECT_EQ(cached, source);

    // The chat store reads the cache like a phone's folder.
    auto db = std::make_shared<IOSWhatsAppDb>(app + "/Documents/ChatStorage.sqlite", QString(), app + "/Library",
                                              app + "/Library/Media/Profile", false, false);
    LoadWhatsAppDbThread load(db);
    RecordingMonitor loadMonitor;
    load.run(loadMonitor);
    ASSERT_FALSE(load.failed()) << load.errorText().toStdString();
    const PChatDbView view = load.takeResult(false);
    EXPECT_EQ(int(view->index().sessions.size()), chat.expectedChats);
    WAMsgsDataSource all(view, nullptr, true);
    EXPECT_EQ(all.count(), chat.expectedCount);
    const _Message image = [&] {
        for (qint64 i = 0; i < all.count(); ++i) {
            const _Message m = all.at(i);
            if (m.Z_PK == chat.ids.value("msg.image"))
                return m;
        }
        return _Message();
    }();
    ASSERT_TRUE(image.media);
    EXPECT_TRUE(QFileInfo(image.media->mediaFile).isFile()) << image.media->mediaFile.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Layouts, LoadEachBackup,
                         ::testing::Values(LayoutCase{BackupLayout::ManifestDb, false, "db_plain"},
                                           LayoutCase{BackupLayout::ManifestDb, true, "db_encrypted"},
                                           LayoutCase{BackupLayout::ManifestMbdb, false, "mbdb_plain"},
                                           LayoutCase{BackupLayout::ManifestMbdb, true, "mbdb_encrypted"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoadFromItunes, NoWhatsAppDataIsAnErrorNotAnEmptySuccess)
{
    const SampleChatDb chat = makeChat(0);
    // (what the backup holds, does the cache folder exist afterwards)
    struct Case {
        const char* name;
        WhatsAppLayout layout;
        bool withDatabase;
        bool cacheAfter;
    };
    const Case cases[] = {
        {"group container without the app", {false, true}, true, false},
        {"app without any database", {false, false}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<BackupManifest> backup;
        if (c.withDatabase) {
            backup = backupOf(chat, BackupLayout::ManifestDb, QString(), c.layout, c.name);
        } else {
            backup = backupOf(chat, BackupLayout::ManifestDb, QString(), c.layout, c.name, [&](ItunesBackupBuilder& b) {
                b.addFile(ItunesBackupBuilder::kAppDomain, "Library/Preferences/net.whatsapp.WhatsApp.plist", "x");
                b.addFile(ItunesBackupBuilder::kGroupDomain, "Library/Preferences/x.plist", "x");
            });
        }
        IOSLoadWAFromiTunesThread job(*backup, QString());
        RecordingMonitor monitor;
        job.run(monitor);
        EXPECT_TRUE(monitor.successes().isEmpty());
        EXPECT_EQ(monitor.errors(), QStringList{IOSLoadWAFromiTunesThread::noWhatsAppDataText()});
        EXPECT_EQ(IOSLoadWAFromiTunesThread::noWhatsAppDataText(),
                  "Found no WhatsApp data in your iTunes Backup. Please check if you have installed and logined "
                  "WhatsApp Messenger on your iPhone.");
        EXPECT_EQ(QFileInfo::exists(job.cacheFolder()), c.cacheAfter);
    }
}

TEST_F(LoadFromItunes, AppContainerAloneIsEnoughWithoutTheGroupContainer)
{
    const SampleChatDb chat = makeChat(5);
    auto backup = backupOf(chat, BackupLayout::ManifestMbdb, kPassword, {true, false});
    ASSERT_EQ(backup->nodeAt("AppDomainGroup"), nullptr);
    IOSLoadWAFromiTunesThread job(*backup, QString());
    RecordingMonitor monitor;
    job.run(monitor);
    ASSERT_TRUE(monitor.succeeded()) << monitor.errors().join("; ").toStdString();
    const QString app = job.appFolder();
    EXPECT_EQ(readFile(app + "/Documents/ChatStorage.sqlite"), readFile(chat.folder.databasePath));
    EXPECT_EQ(filesBelow(app + "/Library/Media"), filesBelow(chat.folder.mediaFolder + "/Media"));
}

TEST_F(LoadFromItunes, SecondLoadKeepsCachedMediaAndReplacesTheDatabases)
{
    const SampleChatDb chat = makeChat(0);
    auto backup = backupOf(chat, BackupLayout::ManifestDb, kPassword);
    {
        IOSLoadWAFromiTunesThread first(*backup, QString());
        RecordingMonitor monitor;
        first.run(monitor);
        ASSERT_TRUE(monitor.succeeded());
    }
    IOSLoadWAFromiTunesThread job(*backup, QString());
    const QString app = job.appFolder();
    const auto media = filesBelow(app + "/Library/Media");
    ASSERT_GE(media.size(), 3);
    const QStringList names = media.keys();
    // A cached media file stays as it is; an empty one is copied again; the
    // databases, the app container and the group's Library are copied anew.
    writeFile(app + "/Library/Media/" + names[0], "kept from the first load");
    writeFile(app + "/Library/Media/" + names[1], "");
    QFile::remove(app + "/Library/Media/" + names[2]);
    writeFile(app + "/Documents/ChatStorage.sqlite", "stale");
    writeFile(app + "/Documents/ChatStorage.sqlite-wal", "stale wal of the earlier load");
    writeFile(app + "/Library/Preferences/group.net.whatsapp.WhatsApp.shared.plist", "stale");

    RecordingMonitor monitor;
    job.run(monitor);
    ASSERT_TRUE(monitor.succeeded());
    EXPECT_EQ(readFile(app + "/Library/Media/" + names[0]), "kept from the first load");
    EXPECT_EQ(readFile(app + "/Library/Media/" + names[1]), media.value(names[1]));
    EXPECT_EQ(readFile(app + "/Library/Media/" + names[2]), media.value(names[2]));
    EXPECT_EQ(readFile(app + "/Documents/ChatStorage.sqlite"), readFile(chat.folder.databasePath));
    EXPECT_FALSE(QFileInfo::exists(app + "/Documents/ChatStorage.sqlite-wal"));
    EXPECT_NE(readFile(app + "/Library/Preferences/group.net.whatsapp.WhatsApp.shared.plist"), "stale");
    EXPECT_GE(job.keptFiles(), int(media.size()) - 2);
}

TEST_F(LoadFromItunes, MediaNamesArePercentEncodedAndStillFoundByTheReader)
{
    SampleChatDb chat = makeChat(0);
    const QString jid = "4915550001@s.whatsapp.net";
    const QString name = QString::fromUtf8("Fotó 100%.jpg");
    const QString rel = "Media/" + jid + "/c/d/" + name;
    Sqlite3DB db;
    db.openThrow(chat.folder.databasePath, 2);
    db.executeThrow(Sqlite3Sql(QString("update ZWAMEDIAITEM set ZMEDIALOCALPATH=? where Z_PK=%1")
                                   .arg(chat.ids.value("media.image")))
                        .addTextParam(rel));
    db.close();
    writeFile(chat.folder.mediaFolder + "/" + rel, "encoded photo");

    auto backup = backupOf(chat, BackupLayout::ManifestMbdb, QString());
    IOSLoadWAFromiTunesThread job(*backup, QString());
    RecordingMonitor monitor;
    job.run(monitor);
    ASSERT_TRUE(monitor.succeeded()) << monitor.errors().join("; ").toStdString();
    const QString folder = job.appFolder() + "/Library/Media/" + jid + "/c/d/";
    const QString encoded = percentEncodedFileName(decomposedText(name));
    EXPECT_EQ(encoded, "Foto%CC%81 100%25.jpg");
    EXPECT_EQ(readFile(folder + encoded), "encoded photo");
    EXPECT_FALSE(QFileInfo::exists(folder + name));

    IOSWhatsAppDb cacheDb(job.appFolder() + "/Documents/ChatStorage.sqlite", QString(), job.appFolder() + "/Library",
                          job.appFolder() + "/Library/Media/Profile", false, false);
    EXPECT_EQ(cacheDb.resolveMediaPath(rel), folder + encoded);
}

namespace {

// Does something when the job reaches the node of that name.
class AtNode : public RecordingMonitor {
public:
    AtNode(QString name, std::function<void()> action) : m_text("Loading " + name + "..."), m_action(action) {}
    void postProgress(const QString& status, int value, const QString& text) override
    {
        RecordingMonitor::postProgress(status, value, text);
        if (text == m_text)
            m_action();
    }

private:
    QString m_text;
    std::function<void()> m_action;
};

class CancelAtNode : public AtNode {
public:
    explicit CancelAtNode(QString name) : AtNode(name, [this] { requestCancel(); }) {}
};

}  // namespace

TEST_F(LoadFromItunes, CancelAndErrorsRemoveOnlyWhatTheJobCreated)
{
    const SampleChatDb chat = makeChat(0);
    auto backup = backupOf(chat, BackupLayout::ManifestDb, kPassword);
    const QString storedDb = MBDBParser::backupFilePath(
        backup->folder.path(), MBDBParser::fileIdOf(ItunesBackupBuilder::kGroupDomain, "ChatStorage.sqlite"), false);
    const QByteArray storedBytes = readFile(storedDb);

    enum Target { DefaultCache, LocalDatabase, LocalDatabaseWithEarlierImport, NewFolder };
    enum Failure { Cancel, UnwritableFile };
    struct Case {
        Target target;
        Failure failure;
        const char* name;
    };
    const Case cases[] = {
        {DefaultCache, Cancel, "default cache, cancel"},
        {DefaultCache, UnwritableFile, "default cache, error"},
        {LocalDatabase, Cancel, "local database, cancel"},
        {LocalDatabase, UnwritableFile, "local database, error"},
        {LocalDatabaseWithEarlierImport, Cancel, "local database with an earlier import, cancel"},
        {NewFolder, UnwritableFile, "folder that did not exist, error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString localDb = dir.filePath(QString("localdb-%1").arg(int(&c - cases)));
        QString target;
        if (c.target != DefaultCache) {
            target = localDb;
            if (c.target != NewFolder) {
                writeFile(localDb + "/ChatStorage.sqlite", "the local database");
                writeFile(localDb + "/Library/Media/Profile/p.thumb", "picture");
            }
            if (c.target == LocalDatabaseWithEarlierImport)
                writeFile(localDb + "/net.whatsapp.WhatsApp/Library/Media/old.jpg", "cached earlier");
        }
        IOSLoadWAFromiTunesThread job(*backup, target);
        // The error: a folder appears where a media file is to be written.
        const QString blocked = job.appFolder() + "/Library/Media/4915550001@s.whatsapp.net/a/b/IMG_1.jpg";
        std::unique_ptr<RecordingMonitor> monitor;
        if (c.failure == Cancel)
            monitor = std::make_unique<CancelAtNode>("ChatStorage.sqlite");
        else
            monitor = std::make_unique<AtNode>("IMG_1.jpg", [&] { QDir().mkpath(blocked); });
        job.run(*monitor);
        EXPECT_TRUE(monitor->successes().isEmpty());
        if (c.failure == Cancel) {
            EXPECT_TRUE(job.wasCancelled());
            EXPECT_TRUE(monitor->errors().isEmpty());
        } else {
            ASSERT_EQ(monitor->errors().size(), 1);
            EXPECT_TRUE(monitor->errors().first().contains(blocked)) << monitor->errors().first().toStdString();
        }
        switch (c.target) {
        case DefaultCache:
            EXPECT_FALSE(QFileInfo::exists(job.cacheFolder()));
            EXPECT_TRUE(QFileInfo(QFileInfo(job.cacheFolder()).absolutePath()).isDir());
            break;
        case LocalDatabase:
            EXPECT_FALSE(QFileInfo::exists(localDb + "/net.whatsapp.WhatsApp"));
            EXPECT_EQ(readFile(localDb + "/ChatStorage.sqlite"), "the local database");
            EXPECT_EQ(readFile(localDb + "/Library/Media/Profile/p.thumb"), "picture");
            break;
        case LocalDatabaseWithEarlierImport:
            // Not created by this run: stays (its Documents were already replaced).
            EXPECT_EQ(readFile(localDb + "/net.whatsapp.WhatsApp/Library/Media/old.jpg"), "cached earlier");
            EXPECT_EQ(readFile(localDb + "/ChatStorage.sqlite"), "the local database");
            break;
        case NewFolder:
            EXPECT_FALSE(QFileInfo::exists(localDb));
            break;
        }
    }
    // The backup itself is never changed.
    EXPECT_EQ(readFile(storedDb), storedBytes);
}

TEST_F(LoadFromItunes, NodeNamesNeverLeadOutOfTheCache)
{
    const SampleChatDb chat = makeChat(0);
    auto backup = backupOf(chat, BackupLayout::ManifestMbdb, QString());
    const BackupNode* real = backup->nodeAt("AppDomainGroup/group.net.whatsapp.WhatsApp.shared/ChatStorage.sqlite");
    ASSERT_TRUE(real);
    MBDBRecord folderRecord = real->record;
    folderRecord.mode = 0x41ED;

    // A hand-made tree with the names a hostile manifest could carry.
    BackupNode top("net.whatsapp.WhatsApp", folderRecord);
    for (const QString& name : {QString(".."), QString("."), QString(), QString("../escape.txt"), QString("a\\b")})
        top.addChild(std::make_unique<BackupNode>(name, real->record));
    BackupNode* up = top.addChild(std::make_unique<BackupNode>("..", folderRecord));
    up->addChild(std::make_unique<BackupNode>("escape.txt", real->record));
    top.addChild(std::make_unique<BackupNode>("fine.sqlite", real->record));

    const QString dest = dir.filePath("nest/dest");
    QDir().mkpath(dest);
    IOSLoadWAFromiTunesThread job(*backup, dest);
    job.cacheNode(&top, dest, true);
    EXPECT_EQ(filesBelow(dir.filePath("nest")).keys(), QStringList{"dest/net.whatsapp.WhatsApp/fine.sqlite"});

    // A symbolic link planted in the cache is not written through.
    const QString outside = dir.filePath("outside");
    QDir().mkpath(outside);
    RecordingMonitor first;
    IOSLoadWAFromiTunesThread load(*backup, QString());
    load.run(first);
    ASSERT_TRUE(first.succeeded());
    const QString jidFolder = load.appFolder() + "/Library/Media/4915550001@s.whatsapp.net";
    ASSERT_TRUE(QFileInfo(jidFolder).isDir());
    removeFolderTree(jidFolder);
    ASSERT_TRUE(QFile::link(outside, jidFolder));
    RecordingMonitor second;
    load.run(second);
    EXPECT_TRUE(second.succeeded());
    EXPECT_TRUE(filesBelow(outside).isEmpty());
}

namespace {

// A backup holding the sample in the apps named: one sample per app, each
// laid out under that app's domains.
struct AppsCase {
    bool messenger;
    bool business;
    bool emptyBusinessGroup;  // a phone without WhatsApp Business: its group domain, empty
    bool encrypted;
    const char* name;
};

}  // namespace

TEST_F(LoadFromItunes, WhatsAppBusinessIsFoundAndLoadedIntoItsOwnFolder)
{
    const SampleChatDb chat = buildSampleChatDb(dir.filePath("wa"), ChatDbLayout::Modern, 0, false);
    const SampleChatDb business = buildSampleChatDb(dir.filePath("smb"), ChatDbLayout::Today, 0, false);
    const AppsCase cases[] = {
        {false, true, false, false, "Business only"},
        {false, true, false, true, "Business only, encrypted"},
        {true, true, false, false, "both"},
        {true, false, true, false, "WhatsApp only, empty Business group domain"},
        {true, false, false, true, "WhatsApp only, encrypted"},
    };
    for (const AppsCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = dir.filePath(QString("apps-%1").arg(int(&c - cases)));
        const QString password = c.encrypted ? kPassword : QString();
        {
            ItunesBackupBuilder b(folder, BackupLayout::ManifestDb, password, 10);
            b.addFile("HomeDomain", "Library/Preferences/com.apple.purplebuddy.plist", "<plist/>");
            if (c.messenger)
                b.addWhatsApp(chat.folder);
            if (c.business)
                b.addWhatsApp(business.folder, {true, true, &WhatsAppApp::business()});
            if (c.emptyBusinessGroup)
                b.addEmptyGroupContainer(WhatsAppApp::business());
            b.commit();
        }
        auto backup = openBackup(folder, password);
        QList<const WhatsAppApp*> expected;
        if (c.messenger)
            expected << &WhatsAppApp::messenger();
        if (c.business)
            expected << &WhatsAppApp::business();
        EXPECT_EQ(IOSLoadWAFromiTunesThread::appsInBackup(*backup), expected);

        IOSLoadWAFromiTunesThread job(*backup, QString(), WhatsAppApp::business());
        RecordingMonitor monitor;
        job.run(monitor);
        if (!c.business) {
            EXPECT_FALSE(monitor.succeeded());
            EXPECT_EQ(monitor.errors(), QStringList{IOSLoadWAFromiTunesThread::noWhatsAppDataText(WhatsAppApp::business())});
            EXPECT_TRUE(monitor.errors().first().startsWith("Found no WhatsApp Business data"));
            continue;
        }
        ASSERT_TRUE(monitor.succeeded()) << monitor.errors().join("; ").toStdString();
        EXPECT_EQ(job.appFolder(), job.cacheFolder() + "/net.whatsapp.WhatsAppSMB");
        EXPECT_FALSE(QFileInfo::exists(job.cacheFolder() + "/net.whatsapp.WhatsApp"));
        EXPECT_EQ(readFile(job.appFolder() + "/Documents/ChatStorage.sqlite"), readFile(business.folder.databasePath));
        // LID.sqlite and ContactsV2 come along, and the reader finds them.
        EXPECT_TRUE(QFileInfo(job.appFolder() + "/Documents/LID.sqlite").isFile());
        EXPECT_TRUE(QFileInfo(job.appFolder() + "/Documents/ContactsV2.sqlite").isFile());
        auto db = IOSLoadWAFromiTunesThread::openLoadedDb(job.appFolder());
        ChatIndex index;
        db->listSessions(index);
        EXPECT_EQ(int(index.sessions.size()), business.expectedChats);
        EXPECT_EQ(db->countMessages(nullptr), business.expectedCount);
        EXPECT_EQ(db->jidDirectory().phoneOf("100000000000001@lid"), "4915550011");
        EXPECT_EQ(IOSLoadWAFromiTunesThread::proposedDatabaseName(*backup, QString(), WhatsAppApp::business()),
                  backup->deviceName + "_Business_Backup");
    }
}

TEST_F(LoadFromItunes, CancellingBusinessRemovesOnlyTheBusinessFolder)
{
    const SampleChatDb chat = buildSampleChatDb(dir.filePath("wa"), ChatDbLayout::Modern, 0, false);
    const SampleChatDb business = buildSampleChatDb(dir.filePath("smb"), ChatDbLayout::Today, 0, false);
    const QString folder = dir.filePath("both");
    {
        ItunesBackupBuilder b(folder, BackupLayout::ManifestDb, QString(), 10);
        b.addWhatsApp(chat.folder);
        b.addWhatsApp(business.folder, {true, true, &WhatsAppApp::business()});
        b.commit();
    }
    auto backup = openBackup(folder, QString());
    IOSLoadWAFromiTunesThread messenger(*backup, QString());
    RecordingMonitor first;
    messenger.run(first);
    ASSERT_TRUE(first.succeeded());
    const QMap<QString, QByteArray> before = filesBelow(messenger.appFolder());

    IOSLoadWAFromiTunesThread job(*backup, QString(), WhatsAppApp::business());
    CancelAtNode monitor("ChatStorage.sqlite");
    job.run(monitor);
    EXPECT_FALSE(monitor.succeeded());
    EXPECT_FALSE(QFileInfo::exists(job.appFolder()));
    EXPECT_EQ(job.cacheFolder(), messenger.cacheFolder());
    EXPECT_EQ(filesBelow(messenger.appFolder()), before);
}
