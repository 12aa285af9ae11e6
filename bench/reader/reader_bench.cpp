// reader_bench [MESSAGES[,MESSAGES...]] [--layout local|modern|today]: writes a chat database of
// MESSAGES messages (200,000 by default), then times listing the chats,
// counting, and reading every message through a WAMsgsDataSource page by
// page, oldest first and newest first. Beside it, in the same run, the
// sqlite3 shell selects the same rows with the same paged statements, and
// once more joined with their media items and receipts; the ratios compare
// the reader with that raw work.
#include "bench/common/benchsupport.h"
#include "chatstore/chatdbview.h"
#include "chatstore/displayrules.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/wamsgsdatasource.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

const char kBody[] =
    " from ZWAMESSAGE as m inner join ZWACHATSESSION as c on c.Z_PK=m.ZCHATSESSION and "
    "(c.ZCONTACTJID like '%@s.whatsapp.net' or c.ZCONTACTJID like '%@g.us' or c.ZCONTACTJID like '%@lid') and "
    "m.ZMESSAGETYPE+0 in (0,1,2,3,4,5,6,7,8,11,14,15,38,39,46,53,54,59)";

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

QList<SizeFigures> g_sizes;

}  // namespace

// One size: the database written, the runs measured, the figures printed
// (and kept for the growth summary). 0 on success.
int benchSize(qint64 messages, ChatDbLayout layout)
{
    QTemporaryDir dir;
    QElapsedTimer t;

    t.start();
    const ChatDbFolder folder = writeBenchDatabase(dir.path(), layout, messages);
    const double buildMs = ms(t);
    std::printf("database: %lld messages written in %.0f ms (%s layout)\n", messages, buildMs, layoutName(layout));

    auto db = std::make_shared<IOSWhatsAppDb>(folder.databasePath, QString(), folder.mediaFolder,
                                              folder.profileFolder, true);
    auto view = std::make_shared<ChatDbView>(db);

    t.restart();
    db->listSessions(view->index());
    const double listMs = ms(t);

    t.restart();
    const qint64 count = db->countMessages(nullptr);
    const double countMs = ms(t);

    const double rssBefore = resetPeakMemory();
    double readMs[2] = {0, 0};
    qint64 withMedia = 0;
    qint64 withQuote = 0;
    qint64 withReactions = 0;
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
            if (ascending && m.media && m.media->hasQuote() && !quotedPreviewText(m.media->quote).isEmpty())
                ++withQuote;
            if (ascending && !reactionsText(m).isEmpty())
                ++withReactions;
        }
        readMs[pass] = ms(t);
    }

    // The largest chat alone.
    PChatSession largest;
    qint64 largestCount = 0;
    for (const auto& [pk, s] : view->index().sessions) {
        const qint64 n = view->count(s.get());
        if (n > largestCount) {
            largest = s;
            largestCount = n;
        }
    }
    double chatMs[2] = {0, 0};
    for (int pass = 0; largest && pass < 2; ++pass) {
        const bool ascending = pass == 0;
        view->resetCache();
        t.restart();
        for (qint64 i = 0; i < largestCount; ++i)
            (void)view->at(largest.get(), i, ascending);
        chatMs[pass] = ms(t);
    }

    const double peakMiB = statusMiB("VmHWM:");
    const double sqliteMiB = sqlitePeakMiB();
    g_sizes.append({messages,
                    {count / (readMs[0] / 1000.0), count / (readMs[1] / 1000.0),
                     largestCount / (chatMs[0] / 1000.0), largestCount / (chatMs[1] / 1000.0)},
                    peakMiB, rssBefore, sqliteMiB});
    std::printf("listSessions: %zu chats in %.2f ms\n", view->index().sessions.size(), listMs);
    std::printf("peak RSS while reading: %.1f MiB (%.1f MiB before; SQLite at most %.1f MiB)\n", peakMiB, rssBefore,
                sqliteMiB);
    std::printf("countMessages: %lld in %.2f ms\n", count, countMs);
    std::printf("read through WAMsgsDataSource (pages of %d): ascending %.0f ms (%.0f msg/s), descending %.0f ms "
                "(%.0f msg/s); "
                "%lld with media items, %lld replies, %lld with reactions\n",
                view->pageSize(), readMs[0], count / (readMs[0] / 1000.0), readMs[1], count / (readMs[1] / 1000.0),
                withMedia, withQuote,
                withReactions);
    if (largest)
        std::printf("largest chat (%lld messages) read page by page: ascending %.0f ms (%.0f msg/s), descending "
                    "%.0f ms (%.0f msg/s)\n",
                    largestCount, chatMs[0], largestCount / (chatMs[0] / 1000.0), chatMs[1],
                    largestCount / (chatMs[1] / 1000.0));

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
        "where (c.ZCONTACTJID like '%@s.whatsapp.net' or c.ZCONTACTJID like '%@g.us' or "
        "c.ZCONTACTJID like '%@lid') and m.ZMESSAGETYPE+0 in (0,1,2,3,4,5,6,7,8,11,14,15,38,39,46,53,54,59) "
        "order by m.ZMESSAGEDATE asc, m.ZSORT asc;\n");
    const double shellJoined = runShell(shell, folder.databasePath, joinedScript);
    if (largest) {
        // Quotes doubled: the JID goes into the script as an SQL literal.
        QString jid = largest->ZCONTACTJID;
        jid.replace(QLatin1Char('\''), QStringLiteral("''"));
        const double shellChat = runShell(
            shell, folder.databasePath,
            QStringLiteral("select m.*%1 and c.ZCONTACTJID='%2' order by m.ZMESSAGEDATE asc, m.ZSORT asc;\n")
                .arg(QString::fromLatin1(kBody), jid));
        std::printf("baseline sqlite3 shell: the largest chat's rows in order, one statement, %.0f ms; reader/shell "
                    "ascending %.2f x, descending %.2f x\n",
                    shellChat, shellChat > 0 ? chatMs[0] / shellChat : 0, shellChat > 0 ? chatMs[1] / shellChat : 0);
    }
    std::printf("baseline sqlite3 shell: count %.0f ms; same paged statements ascending %.0f ms, descending %.0f ms; "
                "one statement with media items and receipts %.0f ms\n",
                shellCount, shellPaged, shellPagedDesc, shellJoined);
    if (shellPaged > 0 && shellJoined > 0)
        std::printf("ratio reader/shell: ascending %.2f x the paged statements, %.2f x the joined statement; "
                    "descending %.2f x the paged statements, %.2f x the joined statement; descending/ascending %.2f x\n",
                    readMs[0] / shellPaged, readMs[0] / shellJoined, readMs[1] / shellPagedDesc,
                    readMs[1] / shellJoined, readMs[1] / readMs[0]);
    return 0;
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    BenchOptions options;
    if (!parseBenchOptions(app.arguments().mid(1), "reader_bench", &options))
        return 2;
    if (const int code = runEverySize(options, benchSize); code != 0)
        return code;
    printGrowth({"ascending", "descending", "largest chat ascending", "largest chat descending"}, g_sizes);
    return 0;
}
