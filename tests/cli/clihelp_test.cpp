// quillometry-cli as a new user meets it: the help of every command, the
// one SOURCE grammar (local databases, saved device copies, folders), error
// texts in the user's words, --json for scripts, the progress bar's end on
// a terminal, and chat-database folders that are only read staying byte for
// byte as they were.
#include "clitest.h"

#include "base/productinfo.h"
#include "chatstore/sqlite3db.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using clitest::lines;
using clitest::Result;

const QString kAnna = QStringLiteral("4915550001@s.whatsapp.net");

// Every file below `folder` (relative path) with the SHA-1 of its bytes.
QMap<QString, QByteArray> fingerprint(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        files.insert(QDir(folder).relativeFilePath(path),
                     QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1).toHex());
    }
    return files;
}

class CliHelp : public clitest::CliTest {
protected:
    QString dataFolder() const
    {
        return dir.filePath(QStringLiteral("xdg/Quillometry/") + QLatin1String(product::kIdentifier));
    }

    // Parses standard output as JSON with Python's json module and gives
    // back what Python read, so that the document is checked by another
    // reader than Qt's.
    QJsonDocument readByPython(const QString& json)
    {
        const QString file = dir.filePath(QStringLiteral("out.json"));
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(json.toUtf8());
        f.close();
        QProcess py;
        py.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import json,sys; d=json.load(open(sys.argv[1], encoding='utf-8')); "
                                 "sys.stdout.write(json.dumps(d, ensure_ascii=True))"),
                  file});
        EXPECT_TRUE(py.waitForFinished(60000));
        EXPECT_EQ(py.exitCode(), 0) << py.readAllStandardError().toStdString() << json.left(300).toStdString();
        return QJsonDocument::fromJson(py.readAllStandardOutput());
    }

};

// The command names the top-level help lists.
QStringList commandsOf(const QString& help)
{
    QStringList names;
    bool inCommands = false;
    for (const QString& line : help.split(QLatin1Char('\n'))) {
        if (line == QLatin1String("Commands:")) {
            inCommands = true;
            continue;
        }
        if (inCommands && !line.startsWith(QLatin1String("  ")))
            break;
        if (inCommands)
            names << line.trimmed().section(QLatin1Char(' '), 0, 0);
    }
    return names;
}

}  // namespace

TEST_F(CliHelp, EveryCommandExplainsItselfWithUsageArgumentsAndAnExample)
{
    const Result top = run({QStringLiteral("help")});
    ASSERT_EQ(top.code, 0);
    EXPECT_EQ(run({QStringLiteral("--help")}).out, top.out);
    const QStringList commands = commandsOf(top.out);
    for (const char* known : {"backup", "chats", "copies", "delete", "import", "itunes-get", "itunes-info",
                              "itunes-list", "itunes-ls", "localdbs", "messages"})
        EXPECT_TRUE(commands.contains(QLatin1String(known))) << known << "\n" << top.out.toStdString();
    for (const QString& name : commands) {
        const Result help = run({QStringLiteral("help"), name});
        const Result dashed = run({name, QStringLiteral("--help")});
        EXPECT_EQ(help.code, 0) << name.toStdString();
        EXPECT_EQ(dashed.code, 0) << name.toStdString();
        EXPECT_EQ(help.out, dashed.out) << name.toStdString();
        EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: quillometry-cli ") + name)) << help.out.toStdString();
        EXPECT_TRUE(help.out.contains(QStringLiteral("\nOptions:\n"))) << name.toStdString();
        EXPECT_TRUE(help.out.contains(QStringLiteral("\nExample")) &&
                    help.out.contains(QStringLiteral("  quillometry-cli ") + name + QLatin1Char(' ')))
            << help.out.toStdString();
        EXPECT_TRUE(help.err.isEmpty()) << help.err.toStdString();
        // Reading commands list the SOURCE forms.
        if (help.out.contains(QStringLiteral("SOURCE"))) {
            EXPECT_TRUE(help.out.contains(QStringLiteral("virtual:NAME"))) << name.toStdString();
        }
    }

    struct Case {
        QStringList args;
        int code;
        QString text;  // on standard error
    };
    const Case wrong[] = {
        {{QStringLiteral("chats"), QStringLiteral("x"), QStringLiteral("--bogus")}, 2, QStringLiteral("bogus")},
        {{QStringLiteral("messages"), QStringLiteral("x"), QStringLiteral("--chat")}, 2, QStringLiteral("chat")},
        {{QStringLiteral("backup"), QStringLiteral("x")}, 2, QStringLiteral("--to")},
        {{QStringLiteral("backup"), QStringLiteral("x"), QStringLiteral("--to"), QStringLiteral("A"),
          QStringLiteral("--to"), QStringLiteral("B")},
         2, QStringLiteral("--to")},
        {{QStringLiteral("chats")}, 2, QStringLiteral("SOURCE is missing")},
        {{QStringLiteral("localdbs"), QStringLiteral("extra")}, 2, QStringLiteral("'extra'")},
        {{QStringLiteral("help"), QStringLiteral("nothing")}, 2, QStringLiteral("'nothing'")},
        {{QStringLiteral("nothing")}, 2, QStringLiteral("'nothing'")},
    };
    for (const Case& c : wrong) {
        const Result r = run(c.args);
        EXPECT_EQ(r.code, c.code) << c.args.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(r.err.contains(c.text)) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    }
    // The version, then where the bubble pages' files were found (beside the
    // program in the build tree).
    const QStringList version = run({QStringLiteral("--version")}).out.split(QLatin1Char('\n'));
    ASSERT_GE(version.size(), 2);
    EXPECT_EQ(version[0], QStringLiteral("quillometry-cli %1").arg(QLatin1String(product::kVersion)));
    EXPECT_TRUE(version[1].startsWith(QStringLiteral("Bubble pages: ")) && version[1].endsWith(QStringLiteral("/wabb")))
        << version[1].toStdString();
}

TEST_F(CliHelp, SourcesByPrefixNameOrFolder)
{
    // A saved device copy, a local database and a plain folder.
    const SampleChatDb copy = buildSampleChatDb(dataFolder() + QStringLiteral("/virtual_ios/Anna's iPhone"),
                                                ChatDbLayout::Modern, 30, true);
    const SampleChatDb plain = buildSampleChatDb(dir.filePath(QStringLiteral("Family")), ChatDbLayout::Local);
    ASSERT_EQ(run({QStringLiteral("backup"), QStringLiteral("./Family"), QStringLiteral("--to"),
                   QStringLiteral("Family")})
                  .code,
              0);

    const Result copies = run({QStringLiteral("copies")});
    ASSERT_EQ(copies.code, 0) << copies.err.toStdString();
    EXPECT_EQ(lines(copies.out), QStringList{QStringLiteral("Anna's iPhone\t%1 chats\t%2 messages")
                                                 .arg(copy.expectedChats)
                                                 .arg(copy.expectedCount)});
    const Result viaCopy = run({QStringLiteral("messages"), QStringLiteral("virtual:anna's iphone")});
    ASSERT_EQ(viaCopy.code, 0) << viaCopy.err.toStdString();
    EXPECT_EQ(lines(viaCopy.out).size(), copy.expectedCount);

    // "Family" is both a local database and a folder here: the bare name and
    // the prefix mean the database, ./Family the folder.
    QFile::remove(plain.folder.databasePath);
    const Result byName = run({QStringLiteral("chats"), QStringLiteral("Family")});
    const Result byPrefix = run({QStringLiteral("chats"), QStringLiteral("local:Family")});
    const Result byFolder = run({QStringLiteral("chats"), QStringLiteral("./Family")});
    EXPECT_EQ(byName.code, 0) << byName.err.toStdString();
    EXPECT_EQ(lines(byName.out).size(), plain.expectedChats);
    EXPECT_EQ(byPrefix.out, byName.out);
    EXPECT_EQ(byFolder.code, 1);
    EXPECT_TRUE(byFolder.err.contains(QStringLiteral("holds no chat database"))) << byFolder.err.toStdString();

    struct Case {
        QString source;
        QString text;
    };
    const Case missing[] = {
        {QStringLiteral("virtual:Nobody"), QStringLiteral("no saved device copy named \"Nobody\"")},
        {QStringLiteral("local:Nobody"), QStringLiteral("no local database named \"Nobody\"")},
        {QStringLiteral("Nobody"), QStringLiteral("no local database named \"Nobody\" and no folder")},
        {QStringLiteral("./Nobody"), QStringLiteral("does not exist")},
    };
    for (const Case& c : missing) {
        const Result r = run({QStringLiteral("chats"), c.source});
        EXPECT_EQ(r.code, 1) << c.source.toStdString();
        EXPECT_TRUE(r.err.contains(c.text)) << r.err.toStdString();
    }
}

TEST_F(CliHelp, ALocalDatabaseFolderAlwaysOpensItsOwnDatabase)
{
    const SampleChatDb s = buildSampleChatDb(dir.filePath(QStringLiteral("phone")), ChatDbLayout::Local);
    ASSERT_EQ(run({QStringLiteral("backup"), s.folder.root, QStringLiteral("--to"), QStringLiteral("P")}).code, 0);
    // An import into P keeps its copy of the phone's app folder inside P's
    // folder; that copy holds other chats.
    const QString folder = dataFolder() + QStringLiteral("/local_databases/P");
    ChatDbBuilder other(folder + QStringLiteral("/inner"), ChatDbLayout::Modern, true);
    other.addChat(QStringLiteral("4915559999@s.whatsapp.net"), QStringLiteral("Stranger"));
    other.commit();
    ASSERT_TRUE(QDir().rename(folder + QStringLiteral("/inner/net.whatsapp.WhatsApp"),
                              folder + QStringLiteral("/net.whatsapp.WhatsApp")));

    const Result byName = run({QStringLiteral("chats"), QStringLiteral("P")});
    const Result byPath = run({QStringLiteral("chats"), folder});
    ASSERT_EQ(byName.code, 0);
    EXPECT_EQ(byPath.out, byName.out) << byPath.out.toStdString();
    EXPECT_FALSE(byPath.out.contains(QStringLiteral("Stranger")));
    // Backing the folder up into P is backing P up into itself.
    const Result self = run({QStringLiteral("backup"), folder, QStringLiteral("--to"), QStringLiteral("p")});
    EXPECT_EQ(self.code, 2);
    EXPECT_TRUE(self.err.contains(QStringLiteral("itself"))) << self.err.toStdString();
}

TEST_F(CliHelp, ADamagedDatabaseIsNamedInTheUsersWords)
{
    const QString folder = dir.filePath(QStringLiteral("broken"));
    QDir().mkpath(folder + QStringLiteral("/Library"));
    QFile f(folder + QStringLiteral("/ChatStorage.sqlite"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();
    // A damaged local database as the target of a backup is named the same way.
    const SampleChatDb s = buildSampleChatDb(dir.filePath(QStringLiteral("phone")), ChatDbLayout::Local);
    QDir().mkpath(dataFolder() + QStringLiteral("/local_databases/Broken"));
    QFile::copy(folder + QStringLiteral("/ChatStorage.sqlite"),
                dataFolder() + QStringLiteral("/local_databases/Broken/ChatStorage.sqlite"));
    const Result backup = run({QStringLiteral("backup"), s.folder.root, QStringLiteral("--to"), QStringLiteral("Broken")});
    EXPECT_EQ(backup.code, 1);
    EXPECT_TRUE(backup.err.endsWith(
        QStringLiteral("error: The chat database %1/local_databases/Broken/ChatStorage.sqlite is damaged (file is not "
                       "a database).\n")
            .arg(dataFolder())))
        << backup.err.toStdString();
    for (const char* command : {"chats", "messages"}) {
        const Result r = run({QLatin1String(command), folder});
        EXPECT_EQ(r.code, 1);
        // The error is the last line, after the loading job's progress.
        const QString expected =
            QStringLiteral("error: The chat database %1/ChatStorage.sqlite is damaged (file is not a database).\n")
                .arg(folder);
        EXPECT_TRUE(r.err.endsWith(expected)) << command << ": " << r.err.toStdString();
        EXPECT_EQ(r.err.count(QStringLiteral("error:")), 1) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
}

TEST_F(CliHelp, JsonDocumentsReadBackByPython)
{
    const SampleChatDb s = buildSampleChatDb(dir.filePath(QStringLiteral("phone")), ChatDbLayout::Modern, 20, true);
    buildSampleChatDb(dataFolder() + QStringLiteral("/virtual_ios/Copy"), ChatDbLayout::Local);
    ASSERT_EQ(run({QStringLiteral("backup"), s.folder.root, QStringLiteral("--to"), QStringLiteral("Q")}).code, 0);

    const Result chatsText = run({QStringLiteral("chats"), s.folder.root});
    const Result chatsJson = run({QStringLiteral("chats"), s.folder.root, QStringLiteral("--json")});
    ASSERT_EQ(chatsJson.code, 0) << chatsJson.err.toStdString();
    const QJsonArray chats = readByPython(chatsJson.out).array();
    ASSERT_EQ(chats.size(), s.expectedChats);
    const QStringList textRows = lines(chatsText.out);
    for (int i = 0; i < chats.size(); ++i) {
        const QJsonObject o = chats.at(i).toObject();
        EXPECT_EQ(QStringLiteral("%1\t%2\t%3")
                      .arg(o.value(QStringLiteral("name")).toString(), o.value(QStringLiteral("jid")).toString())
                      .arg(o.value(QStringLiteral("messages")).toInteger()),
                  textRows.value(i));
        EXPECT_TRUE(o.contains(QStringLiteral("lastMessageDateCoreData")));
    }

    const Result messagesJson =
        run({QStringLiteral("messages"), s.folder.root, QStringLiteral("--chat"), kAnna, QStringLiteral("--json")});
    ASSERT_EQ(messagesJson.code, 0);
    const QJsonArray messages = readByPython(messagesJson.out).array();
    const QStringList messageRows =
        lines(run({QStringLiteral("messages"), s.folder.root, QStringLiteral("--chat"), kAnna}).out);
    ASSERT_EQ(messages.size(), messageRows.size());
    for (int i = 0; i < messages.size(); ++i) {
        const QJsonObject o = messages.at(i).toObject();
        // Texts are unescaped in JSON; the text form shows line breaks as \n.
        QString content = o.value(QStringLiteral("content")).toString();
        content.replace(QLatin1Char('\n'), QLatin1String("\\n"));
        EXPECT_TRUE(messageRows.at(i).endsWith(QLatin1Char('\t') + content)) << messageRows.at(i).toStdString();
        const QString date = o.value(QStringLiteral("date")).toString();
        const QDateTime parsed = QDateTime::fromString(date, Qt::ISODate);
        ASSERT_TRUE(parsed.isValid()) << date.toStdString();
        static const QRegularExpression iso(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d$"));
        EXPECT_TRUE(iso.match(date).hasMatch()) << date.toStdString();
        EXPECT_EQ(parsed.toSecsSinceEpoch(),
                  978307200 + qint64(o.value(QStringLiteral("dateCoreData")).toDouble()));
    }

    const QJsonArray dbs = readByPython(run({QStringLiteral("localdbs"), QStringLiteral("--json")}).out).array();
    ASSERT_EQ(dbs.size(), 1);
    EXPECT_EQ(dbs.at(0).toObject().value(QStringLiteral("name")).toString(), QStringLiteral("Q"));
    EXPECT_EQ(dbs.at(0).toObject().value(QStringLiteral("messages")).toInteger(), s.expectedCount);
    const QJsonArray copies = readByPython(run({QStringLiteral("copies"), QStringLiteral("--json")}).out).array();
    ASSERT_EQ(copies.size(), 1);
    EXPECT_EQ(copies.at(0).toObject().value(QStringLiteral("source")).toString(), QStringLiteral("virtual:Copy"));
    const Result backups = run({QStringLiteral("itunes-list"), QStringLiteral("--json")});
    EXPECT_EQ(backups.code, 0);
    EXPECT_TRUE(readByPython(backups.out).isArray());
}

TEST_F(CliHelp, TheProgressBarEndsFullOnATerminal)
{
    const SampleChatDb s = buildSampleChatDb(dir.filePath(QStringLiteral("phone")), ChatDbLayout::Local, 300);
    const Result r = runOnTerminal({QStringLiteral("backup"), s.folder.root, QStringLiteral("--to"), QStringLiteral("T")});
    ASSERT_EQ(r.code, 0) << r.out.toStdString();
    // Each job's bar is redrawn in place ("\r\033[K") and its last drawing is
    // full and ends its line before anything else is printed.
    const QString full = QStringLiteral("[") + QString(30, QLatin1Char('#')) + QLatin1Char(']');
    int bars = 0;
    for (int at = r.out.indexOf(QStringLiteral("\r\033[K")); at >= 0;) {
        const int next = r.out.indexOf(QStringLiteral("\r\033[K"), at + 1);
        const int end = r.out.indexOf(QLatin1Char('\n'), at);
        ASSERT_GE(end, 0) << "a bar was left open";
        if (next < 0 || next > end) {
            const QString last = r.out.mid(at + 4, end - at - 4);
            EXPECT_TRUE(last.startsWith(full)) << last.toStdString();
            EXPECT_TRUE(last.endsWith(QLatin1Char('\r'))) << last.toStdString();  // the terminal's "\r\n"
            ++bars;
        }
        at = next;
    }
    EXPECT_GE(bars, 2);  // loading the source, backing up
    EXPECT_TRUE(r.out.contains(QStringLiteral("Successfully backup %1 Messages.").arg(s.expectedCount)));
}

TEST_F(CliHelp, ReadingAFolderLeavesItByteForByte)
{
    // A device-style folder whose database has a chat marked removed and a
    // message committed only into its write-ahead log.
    const SampleChatDb s = buildSampleChatDb(dir.filePath(QStringLiteral("build")), ChatDbLayout::Modern, 40, true);
    const QString user = dir.filePath(QStringLiteral("user"));
    {
        Sqlite3DB db;
        db.openThrow(s.folder.databasePath, SQLITE_OPEN_READWRITE);
        db.executeThrow("PRAGMA journal_mode=WAL");
        db.executeThrow("PRAGMA wal_autocheckpoint=0");
        db.executeThrow("update ZWAMESSAGE set ZTEXT='only in the log' where Z_PK=(select max(Z_PK) from ZWAMESSAGE "
                        "where ZMESSAGETYPE=0 and ZCHATSESSION=(select Z_PK from ZWACHATSESSION where "
                        "ZCONTACTJID='4915550001@s.whatsapp.net'))");
        // The folder the user has: the database and its log, as a phone
        // copy leaves them (no -shm).
        QDirIterator it(s.folder.root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (path.endsWith(QLatin1String("-shm")))
                continue;
            const QString target = user + QLatin1Char('/') + QDir(s.folder.root).relativeFilePath(path);
            QDir().mkpath(QFileInfo(target).absolutePath());
            ASSERT_TRUE(QFile::copy(path, target)) << path.toStdString();
        }
    }
    ASSERT_TRUE(QFileInfo::exists(user + QStringLiteral("/net.whatsapp.WhatsApp/Documents/ChatStorage.sqlite-wal")));
    const QMap<QString, QByteArray> before = fingerprint(user);

    const Result chats = run({QStringLiteral("chats"), user});
    ASSERT_EQ(chats.code, 0) << chats.err.toStdString();
    EXPECT_EQ(lines(chats.out).size(), s.expectedChats);
    const Result messages = run({QStringLiteral("messages"), user});
    ASSERT_EQ(messages.code, 0) << messages.err.toStdString();
    EXPECT_EQ(lines(messages.out).size(), s.expectedCount);
    EXPECT_TRUE(messages.out.contains(QStringLiteral("only in the log")));
    const Result backup = run({QStringLiteral("backup"), user, QStringLiteral("--to"), QStringLiteral("B")});
    ASSERT_EQ(backup.code, 0) << backup.err.toStdString();
    EXPECT_TRUE(backup.out.contains(QStringLiteral(": %1 messages backed up").arg(s.expectedCount)))
        << backup.out.toStdString();
    EXPECT_TRUE(run({QStringLiteral("messages"), QStringLiteral("B")}).out.contains(QStringLiteral("only in the log")));

    EXPECT_EQ(fingerprint(user), before);

    // The same for a folder without a log, opened straight read-only.
    const SampleChatDb plain = buildSampleChatDb(dir.filePath(QStringLiteral("plain")), ChatDbLayout::Local, 10);
    const QMap<QString, QByteArray> plainBefore = fingerprint(plain.folder.root);
    EXPECT_EQ(run({QStringLiteral("chats"), plain.folder.root}).code, 0);
    EXPECT_EQ(run({QStringLiteral("messages"), plain.folder.root}).code, 0);
    EXPECT_EQ(run({QStringLiteral("backup"), plain.folder.root, QStringLiteral("--to"), QStringLiteral("C")}).code, 0);
    EXPECT_EQ(fingerprint(plain.folder.root), plainBefore);
}
