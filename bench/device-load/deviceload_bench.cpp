// Loading WhatsApp from a phone, and filling the phone's search index,
// beside the plain tools in the same run, on one simulated phone (phonesim
// on the loopback) whose WhatsApp holds a MESSAGES-message database and
// MEDIA_MB of media files (4 MB each):
//   load      `idevicebackup2 backup` of the whole phone followed by `cp -r`
//             of the phone's WhatsApp containers, beside
//             `quillometry-cli device-load`; first full, then incremental
//             (nothing changed)
//   index     IOSWaFtsDb::insertDoc for every text of the database (ICU
//             words included) beside the sqlite3 shell inserting the same
//             contents into an FTS3 table with the simple tokenizer, each in
//             one transaction
// Per stage: seconds, MB/s by the bytes the simulator counted as sent, and
// our time over the baseline's. Everything is written below WORK_FOLDER and
// removed at the end.
// Usage: deviceload_bench [MESSAGES (200000)] [MEDIA_MB (1024)] [WORK_FOLDER ($TMPDIR)]
#include "bench/common/phonesimbench.h"
#include "chatstore/ioswaftsdb.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

#ifndef Q_PHONESIM_PATH
#define Q_PHONESIM_PATH "phonesim"
#define Q_CLI_PATH "quillometry-cli"
#endif

using namespace phonesimbench;

namespace {

struct Text {
    QString chat;
    QString text;
    double date = 0;
};

QList<Text> textsOf(const QString& database)
{
    QList<Text> out;
    Sqlite3DB db;
    db.openThrow(database, SQLITE_OPEN_READONLY);
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(
        "select ifnull(s.ZCONTACTJID,'') as jid, m.ZTEXT as text, m.ZMESSAGEDATE as date from ZWAMESSAGE m "
        "left join ZWACHATSESSION s on s.Z_PK = m.ZCHATSESSION where m.ZMESSAGETYPE = 0 and m.ZTEXT is not null"));
    while (c.moveNext())
        out.append({c.getText("jid"), c.getText("text"), c.getDouble("date")});
    return out;
}

QString sqlQuoted(const QString& s) { return QLatin1Char('\'') + QString(s).replace("'", "''") + QLatin1Char('\''); }

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    bool ok1 = true, ok2 = true;
    const qint64 messages = args.value(0, QStringLiteral("200000")).toLongLong(&ok1);
    const qint64 mediaMb = args.value(1, QStringLiteral("1024")).toLongLong(&ok2);
    if (!ok1 || !ok2 || messages < 1 || mediaMb < 4) {
        std::fprintf(stderr, "usage: deviceload_bench [MESSAGES (200000)] [MEDIA_MB (1024)] [WORK_FOLDER ($TMPDIR)]\n");
        return 2;
    }
    const QString base = args.value(2, QDir::tempPath());
    // The phone, the whole backup, its copy, the WhatsApp-only backup and the cache.
    if (!enoughSpace("deviceload_bench", base, mediaMb * 5 * 1024 * 1024 + messages * 4096 + (256 << 20)))
        return 1;
    QTemporaryDir work(base + "/deviceload-bench-XXXXXX");
    if (!work.isValid())
        return 1;
    std::printf("deviceload_bench: %lld messages and %lld MB of WhatsApp media on one simulated phone\n", messages,
                mediaMb);

    // The chat folder: media files, the database of `messages` messages and a search index.
    const QString chat = work.filePath("chat");
    const QString phone = work.filePath("phone");
    QList<Text> texts;
    try {
        if (!writeChatFolder(chat, mediaMb))
            return 1;
        const SampleChatDb db = buildSampleChatDb(work.filePath("db"), ChatDbLayout::Modern, messages);
        QFile::remove(chat + "/ChatStorage.sqlite");
        if (!QFile::copy(db.folder.databasePath, chat + "/ChatStorage.sqlite"))
            return 1;
        ChatDbBuilder::writeSearchIndexFile(chat + "/ChatSearch.sqlite");
        texts = textsOf(db.folder.databasePath);
        QDir(work.filePath("db")).removeRecursively();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "chat folder: %s\n", e.what());
        return 1;
    }
    if (!runTool(QStringLiteral(Q_PHONESIM_PATH),
                 {"seed", "--phone", phone, "--chat-folder", chat, "--udid", kUdid, "--name", "Bench iPhone"})
             .ok)
        return 1;
    QDir(chat).removeRecursively();

    // The loads keep their temporary backup and cache below the work folder.
    const QString data = work.filePath("data");
    QDir().mkpath(data);
    qputenv("XDG_DATA_HOME", data.toUtf8());
    const QString cli = QStringLiteral(Q_CLI_PATH);
    const Run where = runTool(cli, {"device-cache", kUdid});
    const QString dataFolder = QDir(QString::fromUtf8(where.output).trimmed() + "/../..").absolutePath();
    {
        QFile memory(dataFolder + "/__quillometry_iosbk_temp.path");
        if (!where.ok || !memory.open(QIODevice::WriteOnly))
            return 1;
        memory.write(work.path().toUtf8());
    }

    Sim sim(QStringLiteral(Q_PHONESIM_PATH));
    if (!sim.start(phone, work.filePath("records")))
        return 1;
    const QString toolFolder = work.filePath("idevicebackup2");
    const QString toolCopy = work.filePath("idevicebackup2-copy");
    QDir().mkpath(toolFolder);
    const QString containers = phone + "/fs/private/var/mobile/Containers";
    const auto toolLoad = [&] {
        Run backup = runTool("idevicebackup2", {"-u", kUdid, "backup", toolFolder});
        QDir(toolCopy).removeRecursively();
        QDir().mkpath(toolCopy);
        const Run copy = runTool("cp", {"-r", containers + "/Shared/AppGroup", containers + "/Data/Application", toolCopy});
        backup.ok = backup.ok && copy.ok;
        backup.secs += copy.secs;
        return backup;
    };
    const auto ourLoad = [&] { return runTool(cli, {"device-load", kUdid}); };
    const BackupStages stages = runBackupStages(sim, toolLoad, toolFolder, ourLoad, work.filePath("__quillometry_iosbk_temp/wa"));
    if (!stages.ok())
        return 1;
    stages.print();
    const Run count = runTool(cli, {"chats", "device:" + kUdid});
    qint64 loaded = 0;
    for (const QString& line : QString::fromUtf8(count.output).split('\n'))
        loaded += line.section('\t', 2, 2).toLongLong();
    std::printf("loaded chats           %lld messages read back through device:%s\n", loaded, qPrintable(kUdid));

    // The index: the shell with the same contents, then insertDoc.
    const QString shellDb = work.filePath("shell.sqlite");
    const QString ourDb = work.filePath("ChatSearch.sqlite");
    QByteArray script = "BEGIN;\nCREATE VIRTUAL TABLE docs USING fts3(messageID, chatSession, contents, tokenize=simple);\n"
                        "CREATE TABLE metadata (docID INTEGER PRIMARY KEY, date REAL, score INTEGER);\n";
    for (const Text& t : texts) {
        script += QStringLiteral("INSERT INTO docs(messageID,chatSession,contents) VALUES(NULL,%1,%2);\n"
                                 "INSERT INTO metadata(docID,date,score) VALUES(last_insert_rowid(),%3,1);\n")
                      .arg(sqlQuoted(t.chat), sqlQuoted(IOSWaFtsDb::contentsOf(t.text)))
                      .arg(t.date, 0, 'f', 3)
                      .toUtf8();
    }
    script += "COMMIT;\n";
    const Run shell = runTool("sqlite3", {shellDb}, script);
    ChatDbBuilder::writeSearchIndexFile(ourDb);
    Run ours;
    {
        IOSWaFtsDb index(ourDb);
        QElapsedTimer t;
        t.start();
        ours.ok = index.openCheck();
        index.beginTran();
        for (const Text& text : texts)
            ours.ok = index.insertDoc(text.chat, text.text, text.date) > 0 && ours.ok;
        index.commitTran();
        ours.secs = seconds(t);
    }
    if (!shell.ok || !ours.ok)
        return 1;
    std::printf("%-22s sqlite3 shell %8.2f s | insertDoc %8.2f s | %lld texts | ratio (time) %.2f\n", "index",
                shell.secs, ours.secs, qint64(texts.size()), shell.secs > 0 ? ours.secs / shell.secs : 0.0);
    return loaded > 0 ? 0 : 1;
}
