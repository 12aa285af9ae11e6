// Loading WhatsApp from a simulated phone with the command line, end to
// end: the loaded chats equal the phone's database, the second load is
// incremental, the refusals (iCloud backup, no WhatsApp, a wrong password)
// and a load cut short leave no chats behind, snapshots are saved beside the
// cache and survive a failed save, and clearing the caches spares them.
#include "itunes/itunestestutil.h"
#include "support/phonesimcli.h"
#include "support/phonesimserve.h"
#include "support/requiretool.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using itest::filesBelow;

const QString kUdid = QStringLiteral("00008030-001A2B3C4D5E6F70");

#ifdef Q_PHONESIM_PATH
const QString kPhonesim = QStringLiteral(Q_PHONESIM_PATH);
const QString kCli = QStringLiteral(Q_CLI_PATH);
const QString kMakeChatDb = QStringLiteral(Q_MAKE_CHATDB_PATH);
#else
const QString kPhonesim, kCli, kMakeChatDb;
#endif

class DeviceLoadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_TOOL(!kPhonesim.isEmpty() && QFileInfo(kPhonesim).isExecutable(), "phonesim");
        REQUIRE_TOOL(QFileInfo(kCli).isExecutable(), "quillometry-cli");
        REQUIRE_TOOL(QFileInfo(kMakeChatDb).isExecutable(), "make-chatdb");
        ASSERT_TRUE(dir.isValid());
        chat = dir.filePath("chat");
        QDir().mkpath(dir.filePath("data"));
        QDir().mkpath(dir.filePath("tmp"));
        QProcess p;
        p.start(kMakeChatDb, {chat, "--layout", "modern", "--messages", "300", "--search-index"});
        ASSERT_TRUE(p.waitForFinished(60000) && p.exitCode() == 0) << p.readAllStandardError().toStdString();
        // The data folder, and the temporary backup kept inside the test's folder.
        const CliResult r = cli({"device-cache", kUdid});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        cache = r.out.trimmed();
        data = QFileInfo(QFileInfo(cache).absolutePath()).absolutePath();
        QFile memory(data + "/__quillometry_iosbk_temp.path");
        ASSERT_TRUE(memory.open(QIODevice::WriteOnly));
        memory.write(dir.filePath("tmp").toUtf8());
    }
    void TearDown() override
    {
        if (sim)
            stopProcess(*sim);
    }

    void startPhone(const QStringList& seed = {"--chat-folder"})
    {
        const QString phone = dir.filePath("phone");
        QStringList args{"seed", "--phone", phone, "--udid", kUdid, "--name", "Alice's iPhone"};
        for (const QString& a : seed)
            args << a << (a == "--chat-folder" ? QStringList{chat} : QStringList{});
        QProcess p;
        p.start(kPhonesim, args);
        ASSERT_TRUE(p.waitForFinished(60000) && p.exitCode() == 0) << p.readAllStandardError().toStdString();
        sim = std::make_unique<QProcess>();
        sim->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim->start(kPhonesim, {"serve", "--port", "0", "--pair-records", dir.filePath("records"), "--phone", phone});
        ASSERT_TRUE(sim->waitForStarted(30000));
        mux.clear();
        control.clear();
        ASSERT_TRUE(readPhonesimAddresses(*sim, &mux, &control));
    }

    CliResult cli(const QStringList& args, int ms = 180000)
    {
        return runCliInFolder(kCli, dir.path(), mux, args, {}, ms);
    }
    QString ctl(const QStringList& words) { return phonesimCtl(kPhonesim, control, words); }
    qint64 bytesSent()
    {
        for (const QString& w : ctl({"stats", kUdid}).split(' '))
            if (w.startsWith("bytes="))
                return w.section('=', 1).toLongLong();
        return -1;
    }
    // `chats SOURCE` as printed.
    QString chats(const QString& source)
    {
        const CliResult r = cli({"chats", source});
        EXPECT_EQ(r.code, 0) << source.toStdString() << ": " << r.err.toStdString();
        return r.out;
    }
    QString appFolder() const { return cache + "/net.whatsapp.WhatsApp"; }
    QString snapshot() const { return data + "/ios_static_cache/" + kUdid + "/net.whatsapp.WhatsApp"; }

    QTemporaryDir dir;
    QString chat, cache, data, mux, control;
    std::unique_ptr<QProcess> sim;
};

TEST_F(DeviceLoadTest, LoadsThePhonesChatsPlainAndEncrypted)
{
    const struct {
        const char* name;
        QStringList seed;
        QStringList load;
    } cases[] = {
        {"plain", {"--chat-folder"}, {}},
        {"encrypted", {"--chat-folder", "--password", "s3cret pw", "--rounds", "1000"}, {"--password", "s3cret pw"}},
    };
    const QString expected = chats(chat);
    ASSERT_FALSE(expected.isEmpty());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        QDir(dir.filePath("phone")).removeRecursively();
        QDir(data + "/ios_cache").removeRecursively();
        QDir(dir.filePath("tmp/__quillometry_iosbk_temp")).removeRecursively();
        startPhone(c.seed);
        CliResult r = cli(QStringList{"device-load", kUdid} + c.load);
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains("Alice's iPhone")) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains("(full backup)")) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains("Messages: ")) << r.out.toStdString();
        EXPECT_EQ(chats("device:" + kUdid), expected);
        // The search index came along into the cache.
        EXPECT_TRUE(QFileInfo(appFolder() + "/Documents/ChatSearch.sqlite").isFile());
        const qint64 first = bytesSent();

        r = cli(QStringList{"device-load", kUdid} + c.load);
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains("(incremental backup)")) << r.out.toStdString();
        EXPECT_LT(bytesSent() * 10, first);
        EXPECT_EQ(chats("device:" + kUdid), expected);
    }
    // The encrypted phone: no password or a wrong one leaves the cache as it was.
    const QMap<QString, QByteArray> before = filesBelow(cache);
    for (const QStringList& wrong : {QStringList{"--password", "wrong"}, QStringList{}}) {
        const CliResult r = cli(QStringList{"device-load", kUdid} + wrong);
        EXPECT_EQ(r.code, 4) << r.err.toStdString();
        EXPECT_TRUE(filesBelow(cache) == before);
    }
}

TEST_F(DeviceLoadTest, RefusalsAndACutLoadLeaveNoChats)
{
    const struct {
        const char* name;
        QStringList seed;
        QString fault;
        QString text;
    } cases[] = {
        {"icloud", {"--chat-folder", "--icloud"}, {}, "Please turn off iCloud backup on your iPhone"},
        {"no whatsapp", {}, {}, "Can't access WhatsApp data on your iPhone."},
        {"disconnect", {"--chat-folder"}, "disconnect-upload", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        QDir(dir.filePath("phone")).removeRecursively();
        startPhone(c.seed);
        if (!c.fault.isEmpty())
            ctl({"fail", kUdid, c.fault});
        const CliResult r = cli({"device-load", kUdid});
        EXPECT_EQ(r.code, 1) << r.err.toStdString();
        if (!c.text.isEmpty())
            EXPECT_TRUE(r.err.contains(c.text)) << r.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(appFolder() + "/Documents/ChatStorage.sqlite"));
        const CliResult read = cli({"chats", "device:" + kUdid});
        EXPECT_EQ(read.code, 1);
        EXPECT_TRUE(read.err.contains("run device-load " + kUdid + " first")) << read.err.toStdString();
    }
}

TEST_F(DeviceLoadTest, SnapshotsAreKeptThroughSavesFailuresAndClearing)
{
    startPhone();
    ASSERT_EQ(cli({"device-load", kUdid}).code, 0);
    const CliResult none = cli({"chats", "snapshot:" + kUdid});
    EXPECT_EQ(none.code, 1);
    EXPECT_TRUE(none.err.contains("save one with device-snapshot")) << none.err.toStdString();

    CliResult r = cli({"device-snapshot", kUdid});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(chats("snapshot:" + kUdid), chats("device:" + kUdid));
    const QMap<QString, QByteArray> firstMedia = filesBelow(snapshot() + "/Library");
    ASSERT_FALSE(firstMedia.isEmpty());

    // A media file of the snapshot that the cache changed stays as saved.
    const QString kept = firstMedia.firstKey();
    {
        QFile f(appFolder() + "/Library/" + kept);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("changed in the cache");
    }
    r = cli({"device-snapshot", kUdid});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList aside = QDir(snapshot() + "/Documents").entryList({"db_*"}, QDir::Dirs);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(QFileInfo(snapshot() + "/Documents/" + aside.first() + "/ChatStorage.sqlite").isFile());
    EXPECT_TRUE(filesBelow(snapshot() + "/Library") == firstMedia);
    EXPECT_EQ(chats("snapshot:" + kUdid), chats("device:" + kUdid));

    // A save that fails midway (a new media file, then one that cannot be
    // copied) leaves the snapshot byte for byte as it was.
    const QMap<QString, QByteArray> saved = filesBelow(snapshot());
    {
        QFile f(appFolder() + "/Library/Media/aaa-new.jpg");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("new media");
    }
    ASSERT_TRUE(QFile::link(dir.filePath("nowhere"), appFolder() + "/Library/Media/zzz-broken.jpg"));
    r = cli({"device-snapshot", kUdid});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("copy to")) << r.err.toStdString();
    EXPECT_TRUE(filesBelow(snapshot()) == saved);
    QFile::remove(appFolder() + "/Library/Media/zzz-broken.jpg");

    // Clearing: refused while the phone is attached, then the cache and the
    // temporary backup go and the snapshot stays.
    r = cli({"clear-cache"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("please disconnect your phone first")) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo(appFolder() + "/Documents/ChatStorage.sqlite").isFile());
    EXPECT_EQ(ctl({"detach", kUdid}).left(2), "ok");
    r = cli({"clear-cache"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Successfully cleared cache files."));
    EXPECT_FALSE(QFileInfo::exists(data + "/ios_cache"));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("tmp/__quillometry_iosbk_temp/wa")));
    EXPECT_TRUE(filesBelow(snapshot()) == saved);
}

}  // namespace
