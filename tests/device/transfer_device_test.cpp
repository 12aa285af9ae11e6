// Transferring messages to a simulated phone with the command line, end to
// end, with two phones on one simulator: A's chats land on B (as the phone
// applied the restore) beside B's own, once each, with A's media and search
// documents, and nothing else on B changes; a message B received after its
// load survives; the same transfer again adds nothing; other sources work;
// every refusal of the phone leaves B, its cache and its backup as they were;
// a damaged B is refused before anything is written; and an undo gives B
// its databases back byte for byte.
#include "chatstore/ioswaftsdb.h"
#include "chatstore/plistcftype.h"
#include "chatstore/sqlite3db.h"
#include "device/pretransfercopy.h"
#include "itunes/itunestestutil.h"
#include "itunes/mbdbparser.h"
#include "online/testhttpserver.h"
#include "support/phonesimcli.h"
#include "support/phonesimserve.h"
#include "support/requiretool.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

const QString kUdidA = QStringLiteral("00008030-001A2B3C4D5E6F70");
const QString kUdidB = QStringLiteral("00008101-000A11B22C33D440");
const QString kGroup = QStringLiteral("group.net.whatsapp.WhatsApp.shared");
const QString kGroupDomain = QStringLiteral("AppDomainGroup-group.net.whatsapp.WhatsApp.shared");
const QString kPassword = QStringLiteral("s3cret pw");
const char* kListed = "ZCHATSESSION in (select Z_PK from ZWACHATSESSION where coalesce(ZREMOVED, 0) = 0 "
                      "and ZSESSIONTYPE != 2)";

#ifdef Q_PHONESIM_PATH
const QString kPhonesim = QStringLiteral(Q_PHONESIM_PATH);
const QString kCli = QStringLiteral(Q_CLI_PATH);
const QString kMakeChatDb = QStringLiteral(Q_MAKE_CHATDB_PATH);
#else
const QString kPhonesim, kCli, kMakeChatDb;
#endif

std::string sha1(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex().toStdString();
}

std::string listed(const QSet<QString>& set)
{
    QStringList items = set.values();
    items.sort();
    return items.mid(0, 8).join(' ').toStdString();
}

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_TOOL(!kPhonesim.isEmpty() && QFileInfo(kPhonesim).isExecutable(), "phonesim");
        REQUIRE_TOOL(QFileInfo(kCli).isExecutable(), "quillometry-cli");
        REQUIRE_TOOL(QFileInfo(kMakeChatDb).isExecutable(), "make-chatdb");
        ASSERT_TRUE(dir.isValid());
        a = dir.filePath("A");
        b = dir.filePath("B");
        makeChatDb(a, {"--messages", "40"});
        makeChatDb(b, {"--messages", "5", "--live-wal", "--search-index"});
        // B's chat media are not on its phone: A's copies must arrive.
        for (const QFileInfo& e : QDir(b + "/Library/Media").entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot))
            if (e.fileName() != "Profile")
                e.isDir() ? QDir(e.filePath()).removeRecursively() : QFile::remove(e.filePath());
        QDir().mkpath(dir.filePath("data"));
        QDir().mkpath(dir.filePath("tmp"));
        const CliResult r = cli({"device-cache", kUdidB});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        data = QFileInfo(QFileInfo(r.out.trimmed()).absolutePath()).absolutePath();
        QFile memory(data + "/__quillometry_iosbk_temp.path");
        ASSERT_TRUE(memory.open(QIODevice::WriteOnly));
        memory.write(dir.filePath("tmp").toUtf8());
    }
    void TearDown() override { stopPhones(); }

    void makeChatDb(const QString& folder, const QStringList& options)
    {
        QProcess p;
        p.start(kMakeChatDb, QStringList{folder, "--layout", "modern"} + options);
        ASSERT_TRUE(p.waitForFinished(60000) && p.exitCode() == 0) << p.readAllStandardError().toStdString();
    }

    void stopPhones()
    {
        if (sim)
            stopProcess(*sim);
        sim.reset();
    }

    // Fresh phones A and B (B seeded from `bFolder` with `seedB`), fresh
    // caches and temporary backups.
    void startPhones(const QStringList& seedB = {}, const QString& bFolder = {})
    {
        stopPhones();
        for (const QString& f : {dir.filePath("phone-A"), dir.filePath("phone-B"), data + "/ios_cache",
                                 data + "/ios_static_cache", dir.filePath("tmp/__quillometry_iosbk_temp")})
            QDir(f).removeRecursively();
        const struct {
            QString folder, udid, name, chat;
            QStringList extra;
        } phones[] = {{dir.filePath("phone-A"), kUdidA, "Alice's iPhone", a, {}},
                      {dir.filePath("phone-B"), kUdidB, "Bob's iPhone", bFolder.isEmpty() ? b : bFolder, seedB}};
        for (const auto& ph : phones) {
            QProcess p;
            p.start(kPhonesim, QStringList{"seed", "--phone", ph.folder, "--udid", ph.udid, "--name", ph.name,
                                           "--chat-folder", ph.chat} + ph.extra);
            ASSERT_TRUE(p.waitForFinished(60000) && p.exitCode() == 0) << p.readAllStandardError().toStdString();
        }
        sim = std::make_unique<QProcess>();
        sim->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim->start(kPhonesim, {"serve", "--port", "0", "--pair-records", dir.filePath("records"), "--phone",
                               dir.filePath("phone-A"), "--phone", dir.filePath("phone-B")});
        ASSERT_TRUE(sim->waitForStarted(30000));
        mux.clear();
        control.clear();
        ASSERT_TRUE(readPhonesimAddresses(*sim, &mux, &control));
    }

    CliResult cli(const QStringList& args, QMap<QString, QString> env = {}, int ms = 240000)
    {
        return runCliInFolder(kCli, dir.path(), mux, args, env, ms);
    }
    QString ctl(const QStringList& words) { return phonesimCtl(kPhonesim, control, words); }
    // The phone's USB device id while attached, else empty.
    QString deviceId(const QString& udid)
    {
        for (const QString& entry : ctl({"list"}).split(' '))
            if (entry.startsWith(udid + ":attached:"))
                return entry.section(':', 2);
        return {};
    }
    // A restore reboots the phone: the next step waits until it is back
    // under a new device id.
    void waitRebooted(const QString& udid, const QString& before)
    {
        for (int i = 0; i < 600; ++i) {
            const QString id = deviceId(udid);
            if (!id.isEmpty() && id != before)
                return;
            QThread::msleep(100);
        }
        FAIL() << udid.toStdString() << " never came back";
    }
    // Transfers with the command line and waits for the reboot of a phone
    // that took it.
    CliResult transfer(const QStringList& args, const QMap<QString, QString>& env = {}, const QString& udid = kUdidB)
    {
        const QString before = deviceId(udid);
        const CliResult r = cli(args, env);
        if (r.code == 0)
            waitRebooted(udid, before);
        return r;
    }

    QString phone(const QString& udid) const { return dir.filePath(udid == kUdidA ? "phone-A" : "phone-B"); }
    // The phone's WhatsApp containers: the shared group and the app's own.
    QStringList whatsAppContainers(const QString& udid) const
    {
        QFile f(phone(udid) + "/Apps.plist");
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        const PlistCFType apps = PlistCFType::parse(f.readAll());
        const QString root = phone(udid) + "/fs/private/var/mobile/Containers/";
        for (int i = 0; i < apps.size(); ++i) {
            const PlistCFType app = apps.at(i);
            if (app.value("CFBundleIdentifier").toText() == "net.whatsapp.WhatsApp")
                return {root + "Shared/AppGroup/" + app.value("GroupContainers").value(kGroup).toText(),
                        root + "Data/Application/" + app.value("Container").toText()};
        }
        ADD_FAILURE() << "no WhatsApp on the phone";
        return {};
    }
    QString phoneDb(const QString& udid) const { return whatsAppContainers(udid).value(0) + "/ChatStorage.sqlite"; }

    // SHA-1 of every file of the phone's file system: inside WhatsApp's
    // containers (inside = true) or everything else.
    QMap<QString, std::string> phoneFiles(const QString& udid, bool inside) const
    {
        const QStringList containers = whatsAppContainers(udid);
        const QString fs = phone(udid) + "/fs";
        QMap<QString, std::string> files;
        QDirIterator it(fs, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const bool inWhatsApp = std::any_of(containers.begin(), containers.end(),
                                                [&](const QString& c) { return path.startsWith(c + "/"); });
            if (inWhatsApp == inside)
                files.insert(QDir(fs).relativeFilePath(path), sha1(itest::readFile(path)));
        }
        return files;
    }

    // The first column of a query on a copy of a database (with its log),
    // so that reading never changes the phone's files.
    QStringList query(const QString& database, const QString& sql, bool search = false)
    {
        QTemporaryDir scratch;
        const QString copy = scratch.filePath("db.sqlite");
        for (const char* suffix : {"", "-wal"})
            if (QFileInfo(database + suffix).isFile())
                EXPECT_TRUE(QFile::copy(database + suffix, copy + suffix));
        Sqlite3DB db;
        db.openThrow(copy, SQLITE_OPEN_READWRITE);
        if (search)
            EXPECT_TRUE(IOSWaFtsDb::registerTokenizer(db.db));
        QStringList rows;
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(sql));
        while (c.moveNext())
            rows << c.value(0).toString();
        return rows;
    }
    QSet<QString> stanzas(const QString& database, const QString& where = "1")
    {
        const QStringList rows =
            query(database, "select ZSTANZAID from ZWAMESSAGE where ZSTANZAID is not null and " + where);
        return QSet<QString>(rows.begin(), rows.end());
    }

    // WhatsApp on B receives a message: a row written into the phone's own
    // database, its log kept as a running app keeps it.
    void receiveOnB(const QString& stanza)
    {
        Sqlite3DB db;
        db.openThrow(phoneDb(kUdidB), SQLITE_OPEN_READWRITE);
        sqlite3_db_config(db.db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        QString error;
        ASSERT_EQ(db.exec(QStringLiteral(
                              "insert into ZWAMESSAGE (Z_PK, Z_ENT, Z_OPT, ZCHATSESSION, ZSORT, ZMESSAGEDATE, "
                              "ZMESSAGETYPE, ZISFROMME, ZSTANZAID, ZTEXT) "
                              "select (select max(Z_PK) + 1 from ZWAMESSAGE), Z_ENT, 1, ZCHATSESSION, "
                              "(select max(ZSORT) + 1 from ZWAMESSAGE m2 where m2.ZCHATSESSION = m.ZCHATSESSION), "
                              "ZMESSAGEDATE + 100000, 0, 0, '%1', 'received after the load' "
                              "from ZWAMESSAGE m where %2 order by ZMESSAGEDATE desc limit 1; "
                              "update Z_PRIMARYKEY set Z_MAX = (select max(Z_PK) from ZWAMESSAGE) "
                              "where Z_NAME = 'WAMessage'")
                              .arg(stanza, kListed),
                          &error),
                  0)
            << error.toStdString();
        db.close();
        // The simulator compares modification times in whole seconds.
        for (const char* suffix : {"", "-wal", "-shm"}) {
            QFile f(phoneDb(kUdidB) + suffix);
            if (f.exists() && f.open(QIODevice::ReadWrite))
                f.setFileTime(QDateTime::currentDateTime().addSecs(2), QFileDevice::FileModificationTime);
        }
    }

    // The stored ChatStorage.sqlite in B's temporary backup (plain backups).
    QString storedBDatabase() const
    {
        const QString id = MBDBParser::fileIdOf(kGroupDomain, "ChatStorage.sqlite");
        return dir.filePath("tmp/__quillometry_iosbk_temp/wa/" + kUdidB + "/" + id.left(2) + "/" + id);
    }

    QString cacheDb(const QString& udid) const
    {
        return data + "/ios_cache/" + udid + "/net.whatsapp.WhatsApp/Documents/ChatStorage.sqlite";
    }

    // Checks what a transfer of A's chats left on B.
    void checkMergedOnB(const QSet<QString>& bBefore)
    {
        const QString db = phoneDb(kUdidB);
        EXPECT_EQ(query(db, "pragma integrity_check"), QStringList{"ok"});
        const QSet<QString> merged = stanzas(db);
        const QSet<QString> fromA = stanzas(a + "/ChatStorage.sqlite", kListed);
        EXPECT_TRUE(bBefore - merged == QSet<QString>()) << "B's messages lost: " << listed(bBefore - merged);
        EXPECT_TRUE(fromA - merged == QSet<QString>()) << "A's messages missing: " << listed(fromA - merged);
        EXPECT_TRUE(merged - (fromA | bBefore | stanzas(a + "/ChatStorage.sqlite")) == QSet<QString>())
            << "messages from nowhere: " << listed(merged - (fromA | bBefore | stanzas(a + "/ChatStorage.sqlite")));
        EXPECT_FALSE((fromA - bBefore).isEmpty()) << "A adds nothing to B: the case proves nothing";
        EXPECT_EQ(query(db, "select count(*) from (select 1 from ZWAMESSAGE where ZSTANZAID is not null "
                            "group by ZSTANZAID, ZCHATSESSION having count(*) > 1)"),
                  QStringList{"0"});

        // A's media files are in B's containers, byte for byte: in the shared
        // group's Message/ or the app's Library/, where B keeps its media.
        const QString group = whatsAppContainers(kUdidB).value(0);
        const QString app = whatsAppContainers(kUdidB).value(1);
        int checked = 0;
        for (const QString& stored :
             query(a + "/ChatStorage.sqlite", QStringLiteral("select ZMEDIALOCALPATH from ZWAMEDIAITEM where "
                                                             "ZMEDIALOCALPATH like 'Media/%' and Z_PK in (select "
                                                             "ZMEDIAITEM from ZWAMESSAGE where %1)")
                                                  .arg(kListed))) {
            const QString source = a + "/Library/" + stored;
            if (!QFileInfo(source).isFile() || stored.startsWith("Media/Profile") || stored.contains(".."))
                continue;
            const QString onPhone = QFileInfo(group + "/Message/" + stored).isFile() ? group + "/Message/" + stored
                                                                                      : app + "/Library/" + stored;
            EXPECT_TRUE(QFileInfo(onPhone).isFile()) << stored.toStdString();
            EXPECT_EQ(sha1(itest::readFile(onPhone)), sha1(itest::readFile(source))) << stored.toStdString();
            ++checked;
        }
        EXPECT_GE(checked, 4);

        // Every new text of A has a search document on B that a word of it finds.
        QTemporaryDir scratch;
        const QString searchCopy = scratch.filePath("ChatSearch.sqlite");
        ASSERT_TRUE(QFile::copy(group + "/ChatSearch.sqlite", searchCopy));
        const QStringList texts = query(
            db, QStringLiteral("select ZDOCID || ' ' || ZTEXT from ZWAMESSAGE where ZMESSAGETYPE = 0 and ZTEXT is not "
                               "null and ZSTANZAID in ('%1')")
                    .arg(QStringList((fromA - bBefore).values()).join("','")));
        ASSERT_FALSE(texts.isEmpty());
        int found = 0;
        for (const QString& row : texts) {
            const QString doc = row.section(' ', 0, 0);
            // A plain ASCII word: the index's tokenizer folds only ASCII case.
            QString word;
            for (const QString& w : row.section(' ', 1).split(QRegularExpression("[\\s\\p{P}]+"), Qt::SkipEmptyParts))
                if (word.isEmpty() && QRegularExpression("^[A-Za-z0-9]{3,}$").match(w).hasMatch())
                    word = w.toLower();
            if (word.isEmpty())
                continue;
            const QStringList hits =
                query(searchCopy, QStringLiteral("select rowid from docs where docs match '%1'").arg(word), true);
            EXPECT_TRUE(hits.contains(doc)) << row.toStdString();
            ++found;
        }
        EXPECT_GT(found, 0);
    }

    QTemporaryDir dir;
    QString a, b, data, mux, control;
    std::unique_ptr<QProcess> sim;
};

TEST_F(TransferTest, AnotherPhonesChatsLandOnThePhonePlainAndEncrypted)
{
    const struct {
        const char* name;
        QStringList seed;
        QStringList password;
    } cases[] = {
        {"plain", {}, {}},
        {"encrypted", {"--password", kPassword, "--rounds", "1000"}, {"--password-env", "BKPW"}},
    };
    const QMap<QString, QString> env{{"BKPW", kPassword}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        startPhones(c.seed);
        ASSERT_EQ(cli({"device-load", kUdidA}).code, 0);
        CliResult r = cli(QStringList{"device-load", kUdidB} + c.password, env);
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        receiveOnB("RECEIVED-AFTER-LOAD");
        // Opening a copy as a transfer target drops removed chats: B keeps what it lists.
        const QSet<QString> bBefore = stanzas(phoneDb(kUdidB), kListed);
        ASSERT_TRUE(bBefore.contains("RECEIVED-AFTER-LOAD"));
        const QMap<QString, std::string> others = phoneFiles(kUdidB, false);

        r = transfer(QStringList{"transfer", "device:" + kUdidA, "--to", kUdidB} + c.password, env);
        ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
        const QRegularExpressionMatch m =
            QRegularExpression("^(\\d+) messages transferred to Bob's iPhone, (\\d+) new\n").match(r.out);
        ASSERT_TRUE(m.hasMatch()) << r.out.toStdString();
        EXPECT_GT(m.captured(2).toInt(), 0);
        checkMergedOnB(bBefore);
        EXPECT_TRUE(phoneFiles(kUdidB, false) == others) << "files outside WhatsApp changed";
        // The cache shows what the phone holds.
        EXPECT_EQ(stanzas(cacheDb(kUdidB)), stanzas(phoneDb(kUdidB)));

        // The same transfer again adds nothing.
        const QSet<QString> once = stanzas(phoneDb(kUdidB));
        r = transfer(QStringList{"transfer", "device:" + kUdidA, "--to", kUdidB} + c.password, env);
        ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(", 0 new\n")) << r.out.toStdString();
        EXPECT_EQ(stanzas(phoneDb(kUdidB)), once);
        EXPECT_EQ(query(phoneDb(kUdidB), "select count(*) from ZWAMESSAGE"),
                  QStringList{QString::number(query(phoneDb(kUdidB), "select Z_PK from ZWAMESSAGE").size())});
    }
}

TEST_F(TransferTest, TheRemoteSettingChoosesTheRestoreSwitches)
{
    TestHttpServer server;
    server.setAnswer("/itunes_bk_options.php", {200, R"({"system_mode": 1})", {}, 0, false});
    const struct {
        const char* name;
        QStringList host;
        QMap<QString, bool> sent;  // switch -> value; absent switches must not be sent
    } cases[] = {
        {"no host: mode 0",
         {},
         {{"RestoreSystemFiles", true}, {"RestoreShouldReboot", true}, {"RemoveItemsNotRestored", false},
          {"RestorePreserveSettings", true}, {"RestoreDontCopyBackup", true}}},
        {"mode 1 from the server",
         {"--host", server.hostPort()},
         {{"RestoreSystemFiles", false}, {"RestorePreserveSettings", true}, {"RestoreDontCopyBackup", true}}},
    };
    startPhones();
    ASSERT_EQ(cli({"device-load", kUdidA}).code, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CliResult r = transfer(QStringList{"transfer", "device:" + kUdidA, "--to", kUdidB} + c.host);
        ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
        QFile f(phone(kUdidB) + "/LastRestoreOptions.plist");
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const PlistCFType options = PlistCFType::parse(f.readAll());
        QMap<QString, bool> sent;
        for (const auto& [key, value] : options.entries())
            if (key.startsWith("Restore") || key.startsWith("Remove"))
                sent.insert(key, value.toBool());
        EXPECT_EQ(sent, c.sent);
    }
    EXPECT_EQ(server.requestsFor("/itunes_bk_options.php").size(), 1);
}

TEST_F(TransferTest, LocalDatabasesFoldersAndSnapshotsAreSources)
{
    startPhones();
    ASSERT_EQ(cli({"backup", a, "--to", "Anna"}).code, 0);
    ASSERT_EQ(cli({"device-load", kUdidB}).code, 0);
    ASSERT_EQ(cli({"device-snapshot", kUdidB}).code, 0);
    const QSet<QString> bOwn = stanzas(phoneDb(kUdidB), kListed);
    const struct {
        const char* name;
        QStringList args;
        bool adds;
    } cases[] = {
        {"local database", {"transfer", "Anna", "--to", kUdidB}, true},
        {"chat-database folder", {"transfer", a, "--to", kUdidB}, false},
        {"snapshot", {"transfer", "snapshot:" + kUdidB}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CliResult r = transfer(c.args);
        ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
        EXPECT_EQ(r.out.contains(", 0 new\n"), !c.adds) << r.out.toStdString();
        EXPECT_EQ(query(phoneDb(kUdidB), "pragma integrity_check"), QStringList{"ok"});
        EXPECT_TRUE(bOwn - stanzas(phoneDb(kUdidB)) == QSet<QString>());
        EXPECT_TRUE(stanzas(a + "/ChatStorage.sqlite", kListed) - stanzas(phoneDb(kUdidB)) == QSet<QString>());
    }
    // A snapshot goes back to its own phone only.
    const CliResult r = cli({"transfer", "snapshot:" + kUdidB, "--to", kUdidA});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains("--to must be " + kUdidB)) << r.err.toStdString();
}

TEST_F(TransferTest, RefusalsLeaveThePhoneItsCacheAndItsBackupAsTheyWere)
{
    const struct {
        const char* name;
        QStringList arm;
        QStringList disarm;
        int code;
        QString text;
    } cases[] = {
        {"find my iphone", {"set", kUdidB, "FindMyiPhone", "true"}, {"set", kUdidB, "FindMyiPhone", "false"}, 1,
         "Find My iPhone must be disabled before restoring (MBErrorDomain/211)"},
        {"password", {"fail", kUdidB, "restore-error", "207", "Invalid password when restoring encrypted backup "
                                                               "(MBErrorDomain/207)"}, {}, 4, "MBErrorDomain/207"},
        {"restart needed", {"fail", kUdidB, "restore-error", "102", "Failed to move the incomplete restore directory "
                                                                    "into place (MBErrorDomain/102)"}, {}, 1,
         "MBErrorDomain/102"},
        {"disconnect", {"fail", kUdidB, "disconnect-download"}, {}, 1, {}},
        {"icloud backup", {"set", kUdidB, "CloudBackupEnabled", "true"}, {"set", kUdidB, "CloudBackupEnabled", "false"},
         1, "Please turn off iCloud backup on your iPhone"},
    };
    startPhones();
    ASSERT_EQ(cli({"device-load", kUdidA}).code, 0);
    ASSERT_EQ(cli({"device-load", kUdidB}).code, 0);
    const QSet<QString> bOwn = stanzas(phoneDb(kUdidB));
    const QSet<QString> bListed = stanzas(phoneDb(kUdidB), kListed);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QMap<QString, std::string> before = phoneFiles(kUdidB, true);
        ASSERT_TRUE(ctl(c.arm).startsWith("ok"));
        const CliResult r = cli({"transfer", "device:" + kUdidA, "--to", kUdidB});
        if (!c.disarm.isEmpty())
            ctl(c.disarm);
        EXPECT_EQ(r.code, c.code) << r.out.toStdString() << r.err.toStdString();
        if (!c.text.isEmpty())
            EXPECT_TRUE(r.err.contains(c.text)) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("The iPhone was not changed.")) << r.err.toStdString();
        EXPECT_TRUE(phoneFiles(kUdidB, true) == before) << "B's WhatsApp containers changed";
        // B's cache and B's backup hold B's own chats.
        EXPECT_EQ(stanzas(cacheDb(kUdidB)), bOwn);
        EXPECT_EQ(stanzas(storedBDatabase()), bOwn);
        EXPECT_FALSE(QFileInfo::exists(data + "/ios_cache/" + kUdidB + ".transfer"));
    }
    const CliResult r = transfer({"transfer", "device:" + kUdidA, "--to", kUdidB});
    ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    checkMergedOnB(bListed);
}

TEST_F(TransferTest, ADamagedPhoneDatabaseIsRefusedBeforeAnythingIsWritten)
{
    // An index page of a table the merge never touches is overwritten: the
    // merge works, the check finds it.
    const QString damaged = dir.filePath("B-damaged");
    ASSERT_TRUE(QDir().mkpath(damaged));
    for (const QString& name : itest::filesBelow(b).keys()) {
        QDir().mkpath(QFileInfo(damaged + "/" + name).absolutePath());
        ASSERT_TRUE(QFile::copy(b + "/" + name, damaged + "/" + name));
    }
    {
        Sqlite3DB db;
        db.openThrow(damaged + "/ChatStorage.sqlite", SQLITE_OPEN_READWRITE);
        QString error;
        ASSERT_EQ(db.exec("create table ZWASTATUSHISTORY (Z_PK integer primary key, ZTEXT varchar);"
                          "create index ZWASTATUSHISTORY_ZTEXT_INDEX on ZWASTATUSHISTORY (ZTEXT);"
                          "with recursive n(i) as (select 1 union all select i + 1 from n where i < 300) "
                          "insert into ZWASTATUSHISTORY (ZTEXT) select 'status ' || i from n;"
                          "pragma wal_checkpoint(TRUNCATE)",
                          &error),
                  0)
            << error.toStdString();
    }
    const QStringList page = query(damaged + "/ChatStorage.sqlite",
                                   "select rootpage from sqlite_master where name = 'ZWASTATUSHISTORY_ZTEXT_INDEX'");
    ASSERT_EQ(page.size(), 1);
    {
        QFile f(damaged + "/ChatStorage.sqlite");
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.seek((page.first().toLongLong() - 1) * 4096));
        f.write(QByteArray(4096, '\x5a'));
    }
    startPhones({}, damaged);
    ASSERT_EQ(cli({"device-load", kUdidA}).code, 0);
    const QMap<QString, std::string> before = phoneFiles(kUdidB, true);
    const CliResult r = cli({"transfer", "device:" + kUdidA, "--to", kUdidB});
    EXPECT_EQ(r.code, 1) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("The merged database ChatStorage.sqlite is damaged")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("The iPhone was not changed.")) << r.err.toStdString();
    EXPECT_TRUE(phoneFiles(kUdidB, true) == before);
    EXPECT_EQ(stanzas(storedBDatabase()), stanzas(phoneDb(kUdidB)));
}

TEST_F(TransferTest, UndoGivesThePhoneItsDatabasesBackByteForByte)
{
    startPhones();
    ASSERT_EQ(cli({"device-load", kUdidA}).code, 0);
    const QString group = whatsAppContainers(kUdidB).value(0);
    QMap<QString, std::string> databases;
    for (const QString& name : QDir(group).entryList(QDir::Files | QDir::Hidden))
        if (isPreTransferFileName(name))
            databases.insert(name, sha1(itest::readFile(group + "/" + name)));
    ASSERT_TRUE(databases.contains("ChatStorage.sqlite-wal")) << "B has no live log: the case proves less";

    CliResult r = cli({"transfer-undo", kUdidB, "--yes"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("There is no copy from before a transfer")) << r.err.toStdString();

    r = transfer({"transfer", "device:" + kUdidA, "--to", kUdidB});
    ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    ASSERT_NE(sha1(itest::readFile(phoneDb(kUdidB))), databases.value("ChatStorage.sqlite"));
    r = cli({"transfer-undo", kUdidB, "--list"});
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.out.count('\n'), 1) << r.out.toStdString();

    // Without a terminal it asks for --yes and writes nothing.
    r = cli({"transfer-undo", kUdidB});
    EXPECT_EQ(r.code, 2);
    receiveOnB("RECEIVED-AFTER-TRANSFER");
    r = transfer({"transfer-undo", kUdidB, "--yes"});
    ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("received 1 messages since")) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Media files the transfer added stay on the iPhone")) << r.out.toStdString();
    for (auto it = databases.begin(); it != databases.end(); ++it)
        EXPECT_EQ(sha1(itest::readFile(group + "/" + it.key())), it.value()) << it.key().toStdString();
    EXPECT_EQ(stanzas(cacheDb(kUdidB)), stanzas(phoneDb(kUdidB)));
}

}  // namespace
