// reader_bench [MESSAGES] [--layout local|modern]: writes a chat database of
// MESSAGES messages (200,000 by default), then times listing the chats,
// counting, and reading every message through a WAMsgsDataSource page by
// page, oldest first and newest first. Beside it, in the same run, the
// sqlite3 shell selects the same rows with the same paged statements, and
// once more joined with their media items and receipts; the ratios compare
// the reader with that raw work.
#include "chatstore/chatdbview.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/wamsgsdatasource.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

const char kBody[] =
    " from ZWAMESSAGE as m inner join ZWACHATSESSION as c on c.Z_PK=m.ZCHATSESSION and "
    "(c.ZCONTACTJID like '%@s.whatsapp.net' or c.ZCONTACTJID like '%@g.us') and "
    "m.ZMESSAGETYPE+0 in (0,1,2,3,4,5,7,8,11,15)";

// Runs the shell on a script; returns milliseconds, or -1 when it failed.
double runShell(const QString& shell, const QString& database, const QString& script)
{
    QProcess p;
    p.setProgram(shell);
    p.setArguments({QStringLiteral("-batch"), database});
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start();
    if (!p.waitForStarted())
        return -1;
    p.write(script.toUtf8());
    p.closeWriteChannel();
    if (!p.waitForFinished(600000) || p.exitCode() != 0) {
        std::fprintf(stderr, "sqlite3: %s\n", p.readAllStandardError().constData());
        return -1;
    }
    return double(t.nsecsElapsed()) / 1e6;
}

QString pagedScript(qint64 count, int pageSize, bool ascending)
{
    QString script;
    for (qint64 page = 1; (page - 1) * pageSize < count; ++page)
        script += QStringLiteral("select m.*%1 order by m.ZMESSAGEDATE %2, m.ZSORT %2 limit %3 offset %4;\n")
                      .arg(QString::fromLatin1(kBody), ascending ? QStringLiteral("asc") : QStringLiteral("desc"))
                      .arg(pageSize)
                      .arg((page - 1) * pageSize);
    return script;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    qint64 messages = 200000;
    ChatDbLayout layout = ChatDbLayout::Local;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--layout") && i + 1 < args.size())
            layout = args[++i] == QLatin1String("modern") ? ChatDbLayout::Modern : ChatDbLayout::Local;
        else
            messages = args[i].toLongLong();
    }
    if (messages <= 0) {
        std::fprintf(stderr, "usage: reader_bench [MESSAGES] [--layout local|modern]\n");
        return 2;
    }
    QTemporaryDir dir;
    QElapsedTimer t;

    // The database: three chats (one a group with members) and the bulk mix.
    t.start();
    ChatDbFolder folder;
    {
        ChatDbBuilder b(dir.path(), layout);
        const qint64 anna = b.addChat(QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
        const qint64 ben = b.addChat(QStringLiteral("4915550002@s.whatsapp.net"), QStringLiteral("Ben"));
        const qint64 group = b.addGroup(QStringLiteral("4915550001-1500000000@g.us"), QStringLiteral("Family"));
        b.addMember(group, QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
        b.addMember(group, QStringLiteral("4915550003@s.whatsapp.net"), QStringLiteral("Carl"));
        b.addBulkMessages(messages, {anna, ben, group});
        b.commit();
        folder = b.folder();
    }
    const double buildMs = double(t.nsecsElapsed()) / 1e6;
    std::printf("database: %lld messages written in %.0f ms (%s layout)\n", messages, buildMs,
                layout == ChatDbLayout::Modern ? "modern" : "local");

    auto db = std::make_shared<IOSWhatsAppDb>(folder.databasePath, QString(), folder.mediaFolder,
                                              folder.profileFolder, true);
    auto view = std::make_shared<ChatDbView>(db);

    t.restart();
    db->listSessions(view->index());
    const double listMs = double(t.nsecsElapsed()) / 1e6;

    t.restart();
    const qint64 count = db->countMessages(nullptr);
    const double countMs = double(t.nsecsElapsed()) / 1e6;

    double readMs[2] = {0, 0};
    qint64 withMedia = 0;
    for (int pass = 0; pass < 2; ++pass) {
        const bool ascending = pass == 0;
        view->resetCache();
        WAMsgsDataSource source(view, nullptr, ascending);
        t.restart();
        const qint64 n = source.count();
        for (qint64 i = 0; i < n; ++i) {
            const _Message m = source.at(i);
            if (m.media && ascending)
                ++withMedia;
        }
        readMs[pass] = double(t.nsecsElapsed()) / 1e6;
    }

    std::printf("listSessions: %zu chats in %.2f ms\n", view->index().sessions.size(), listMs);
    std::printf("countMessages: %lld in %.2f ms\n", count, countMs);
    std::printf("read through WAMsgsDataSource (pages of %d): ascending %.0f ms (%.0f msg/s), descending %.0f ms; "
                "%lld with media items\n",
                view->pageSize(), readMs[0], count / (readMs[0] / 1000.0), readMs[1], withMedia);

    const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (shell.isEmpty()) {
        std::printf("baseline: the sqlite3 shell is not installed; no ratio\n");
        return 0;
    }
    const double shellCount = runShell(shell, folder.databasePath,
                                       QStringLiteral("select count(*)%1;\n").arg(QString::fromLatin1(kBody)));
    const double shellPaged = runShell(shell, folder.databasePath, pagedScript(count, view->pageSize(), true));
    const double shellPagedDesc = runShell(shell, folder.databasePath, pagedScript(count, view->pageSize(), false));
    // The same rows joined with their media items and receipts, in one statement.
    const QString joinedScript = QStringLiteral(
        "select m.*, i.*, (select group_concat(hex(ZRECEIPTINFO)) from ZWAMESSAGEINFO where ZMESSAGE=m.Z_PK) "
        "from ZWAMESSAGE as m inner join ZWACHATSESSION as c on c.Z_PK=m.ZCHATSESSION "
        "left join ZWAMEDIAITEM as i on i.Z_PK=m.ZMEDIAITEM "
        "where (c.ZCONTACTJID like '%@s.whatsapp.net' or c.ZCONTACTJID like '%@g.us') and "
        "m.ZMESSAGETYPE+0 in (0,1,2,3,4,5,7,8,11,15) order by m.ZMESSAGEDATE asc, m.ZSORT asc;\n");
    const double shellJoined = runShell(shell, folder.databasePath, joinedScript);
    std::printf("baseline sqlite3 shell: count %.0f ms; same paged statements ascending %.0f ms, descending %.0f ms; "
                "one statement with media items and receipts %.0f ms\n",
                shellCount, shellPaged, shellPagedDesc, shellJoined);
    if (shellPaged > 0 && shellJoined > 0)
        std::printf("ratio reader/shell: ascending %.2f x the paged statements, %.2f x the joined statement; "
                    "descending %.2f x\n",
                    readMs[0] / shellPaged, readMs[0] / shellJoined, readMs[1] / shellPagedDesc);
    return 0;
}
