// The itunes-* commands of quillometry-cli on the encrypted Manifest.mbdb
// fixture and on a plain backup of our own.
#include "itunestestutil.h"

#include "cli/exitcodes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace itest;

TEST(ItunesCli, PasswordsFromOptionEnvironmentOrNone)
{
    REQUIRE_CLI();
    QTemporaryDir dir;
    if (!QFileInfo(fixturePath("itunes-encrypted-mbdb")).isDir())
        GTEST_SKIP() << "shared fixture itunes-encrypted-mbdb is absent";
    ASSERT_TRUE(copyFixture("itunes-encrypted-mbdb", dir.filePath("bk")));
    const QString bk = dir.filePath("bk");
    const QString out = dir.filePath("out/Test.txt");

    CliResult ok = runCli({"itunes-get", bk, "MyTestDomain", "Media/Test.txt", "--out", out, "--password", "0000"});
    EXPECT_EQ(ok.exitCode, 0) << ok.err.toStdString();
    EXPECT_EQ(readFile(out), "Test data");

    QFile::remove(out);
    CliResult env = runCli({"itunes-get", bk, "MyTestDomain", "Media/Test.txt", "--out", out, "--password-env", "BKPW"},
                           {{"BKPW", "0000"}});
    EXPECT_EQ(env.exitCode, 0) << env.err.toStdString();
    EXPECT_EQ(readFile(out), "Test data");

    struct Case {
        const char* name;
        QStringList extra;
        const char* message;
    } cases[] = {
        {"wrong password", {"--password", "0001"}, "Invalid password."},
        {"no password and no terminal", {}, "this backup is encrypted"},
        {"unset variable", {"--password-env", "NO_SUCH_VARIABLE_Q"}, "NO_SUCH_VARIABLE_Q"},
        {"empty password", {"--password", ""}, "Password is required."},
    };
    for (const Case& c : cases) {
        const QString target = dir.filePath(QString("out/%1").arg(c.name));
        CliResult r = runCli(QStringList{"itunes-get", bk, "MyTestDomain", "Media/Test.txt", "--out", target} + c.extra);
        EXPECT_EQ(r.exitCode, 4) << c.name;
        EXPECT_TRUE(r.err.contains(c.message)) << c.name << ": " << r.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(target)) << c.name;
    }

    CliResult info = runCli({"itunes-info", bk, "--password", "0000"});
    EXPECT_EQ(info.exitCode, 0);
    EXPECT_TRUE(info.out.contains("Device name: Fixture iPhone"));
    EXPECT_TRUE(info.out.contains("Encrypted: yes"));
    EXPECT_TRUE(info.out.contains("Layout: Manifest.mbdb"));
    EXPECT_TRUE(info.out.contains("Records: 1"));
}

TEST(ItunesCli, BrowseAndMissingFiles)
{
    REQUIRE_CLI();
    QTemporaryDir dir;
    writeManifestPlist(dir.path(), "UDID1", "Plain Phone");
    MBDBRecord app = makeRecord("AppDomain-net.whatsapp.WhatsApp", "", 0x41C0);
    MBDBRecord docs = makeRecord("AppDomain-net.whatsapp.WhatsApp", "Documents", 0x41C0);
    MBDBRecord file = makeRecord("AppDomain-net.whatsapp.WhatsApp", "Documents/notes.txt");
    writeMbdb(dir.path(), {app, docs, file});
    writeFile(dir.filePath(file.fileId()), "abc");

    CliResult root = runCli({"itunes-ls", dir.path()});
    EXPECT_EQ(root.exitCode, 0);
    EXPECT_TRUE(root.out.contains("Applications/")) << root.out.toStdString();
    CliResult ls = runCli({"itunes-ls", dir.path(), "Applications/net.whatsapp.WhatsApp/Documents"});
    EXPECT_EQ(ls.exitCode, 0);
    EXPECT_TRUE(ls.out.contains("notes.txt")) << ls.out.toStdString();
    CliResult missing = runCli({"itunes-ls", dir.path(), "Applications/nothing"});
    EXPECT_EQ(missing.exitCode, 1);

    const QString out = dir.filePath("got.txt");
    CliResult get = runCli({"itunes-get", dir.path(), "AppDomain-net.whatsapp.WhatsApp", "Documents/notes.txt", "--out", out});
    EXPECT_EQ(get.exitCode, 0) << get.err.toStdString();
    EXPECT_EQ(readFile(out), "abc");
    CliResult none = runCli({"itunes-get", dir.path(), "AppDomain-net.whatsapp.WhatsApp", "Documents/x", "--out", out});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(none.err.contains("is not in this backup"));
    EXPECT_EQ(runCli({"itunes-get", dir.path(), "D"}).exitCode, 2);
    EXPECT_EQ(runCli({"itunes-info", dir.path(), "--bogus"}).exitCode, 2);
    CliResult info = runCli({"itunes-info", dir.path()});
    EXPECT_TRUE(info.out.contains("Encrypted: no"));
    EXPECT_TRUE(info.out.contains("Records: 3"));
}

TEST(ItunesCli, ListNamesAnUnreadableBackupOnceAndWritesJson)
{
    REQUIRE_CLI();
    QTemporaryDir dir;
    const QString root = dir.filePath("home/Apple/MobileSync/Backup");
    const QString good = root + "/GOODUDID";
    const QString bad = root + "/BADUDID";
    QDir().mkpath(good);
    QDir().mkpath(bad);
    writeManifestPlist(good, "GOODUDID", "Plain Phone");
    writeMbdb(good, {makeRecord("HomeDomain", "Library/a.txt")});
    writeFile(bad + "/Manifest.plist", "not a property list");
    writeFile(bad + "/Manifest.mbdb", "mbdb");
    const QMap<QString, QString> env = {{"HOME", dir.filePath("home")}, {"XDG_DATA_HOME", dir.filePath("xdg")}};

    const CliResult list = runCli({"itunes-list"}, env);
    EXPECT_EQ(list.exitCode, exitcode::kSuccess) << list.err.toStdString();
    EXPECT_TRUE(list.out.contains("Plain Phone")) << list.out.toStdString();
    EXPECT_FALSE(list.out.contains("BADUDID")) << list.out.toStdString();
    const QString named = "load " + QDir::toNativeSeparators(bad) + " error.";
    EXPECT_EQ(list.err.count(named), 1) << list.err.toStdString();
    // The log keeps its own line, shown only when asked for.
    const CliResult verbose = runCli({"itunes-list", "--verbose"}, env);
    EXPECT_EQ(verbose.err.count(named), 2) << verbose.err.toStdString();
    EXPECT_EQ(verbose.out, list.out);

    const CliResult json = runCli({"itunes-list", "--json"}, env);
    const QJsonArray backups = QJsonDocument::fromJson(json.out.toUtf8()).array();
    ASSERT_EQ(backups.size(), 1) << json.out.toStdString();
    EXPECT_EQ(backups.at(0).toObject().value("udid").toString(), "GOODUDID");
    EXPECT_FALSE(backups.at(0).toObject().value("encrypted").toBool());
    const CliResult info = runCli({"itunes-info", good, "--json"}, env);
    const QJsonObject object = QJsonDocument::fromJson(info.out.toUtf8()).object();
    EXPECT_EQ(object.value("deviceName").toString(), "Plain Phone") << info.out.toStdString();
    EXPECT_EQ(object.value("records").toInteger(), 1);
    EXPECT_EQ(object.value("layout").toString(), "Manifest.mbdb");
}
