// search_bench [MESSAGES[,MESSAGES...]] [--layout local|modern|today]: writes
// a chat database of MESSAGES messages (200,000 by default) and times the
// list's message search over all of its chats for a keyword no message
// holds (the search's worst case: every row is looked at), and for one only
// the newest message holds. Both ways are timed: candidates picked by
// SQLite and confirmed by the display rule (what the window runs), and
// every message read and rendered in turn (the rule it must match). Baseline,
// in the same run: the sqlite3 shell scanning the same text columns (texts,
// captions, media titles and names, vCard names, chat and member names)
// with instr over lower-cased text.
#include "bench/common/benchsupport.h"
#include "chatstore/chatdbview.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/messagesearch.h"
#include "chatstore/wamsgsdatasource.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace {

QList<SizeFigures> g_sizes;

int benchSize(qint64 messages, ChatDbLayout layout)
{
    QTemporaryDir dir;
    QElapsedTimer t;
    t.start();
    const ChatDbFolder folder = writeBenchDatabase(dir.path(), layout, messages);
    std::printf("database: %lld messages written in %.0f ms (%s layout)\n", messages, ms(t), layoutName(layout));
    // The newest message gets a word of its own, for the search that ends
    // at the last row.
    {
        Sqlite3DB db;
        db.openThrow(folder.databasePath, SQLITE_OPEN_READWRITE);
        db.executeThrow("update ZWAMESSAGE set ZTEXT=ZTEXT||' Zaunkönig' where Z_PK=(select Z_PK from ZWAMESSAGE "
                        "where ZMESSAGETYPE=0 order by ZMESSAGEDATE desc, ZSORT desc, Z_PK desc limit 1)");
    }

    auto db = std::make_shared<IOSWhatsAppDb>(folder.databasePath, QString(), folder.mediaFolder,
                                              folder.profileFolder, true);
    auto view = std::make_shared<ChatDbView>(db);
    db->listSessions(view->index());
    const PAbsWAMsgsSource all = std::make_shared<WAMsgsDataSource>(view, nullptr, true);
    const qint64 count = all->count();

    const QString missing = QStringLiteral("xylophonequartett");
    const QString last = QStringLiteral("ZAUNKÖNIG");  // found only by folding the case of "ö"
    const double rssBefore = resetPeakMemory();
    double newMs[2] = {0, 0};
    qint64 found[2] = {-1, -1};
    for (int k = 0; k < 2; ++k) {
        t.restart();
        found[k] = findNextMessage(all, k == 0 ? missing : last, 0, {}).row;
        newMs[k] = ms(t);
    }
    const double peakMiB = statusMiB("VmHWM:");
    const double sqliteMiB = sqlitePeakMiB();
    double oldMs[2] = {0, 0};
    qint64 oldFound[2] = {-1, -1};
    for (int k = 0; k < 2; ++k) {
        view->resetCache();
        t.restart();
        oldFound[k] = findNextMessageByRows(all, k == 0 ? missing : last, 0, {}).row;
        oldMs[k] = ms(t);
    }
    if (found[0] != oldFound[0] || found[1] != oldFound[1]) {
        std::fprintf(stderr, "error: the two ways found different rows (%lld/%lld, %lld/%lld)\n", found[0],
                     oldFound[0], found[1], oldFound[1]);
        return 1;
    }
    g_sizes.append({messages, {count / (newMs[0] / 1000.0)}, peakMiB, rssBefore, sqliteMiB});
    std::printf("search, candidates from SQLite: no match %.0f ms (%.0f msg/s), match in the newest row %.0f ms "
                "(row %lld of %lld); peak RSS %.1f MiB (%.1f MiB before; SQLite at most %.1f MiB)\n",
                newMs[0], count / (newMs[0] / 1000.0), newMs[1], found[1], count, peakMiB, rssBefore, sqliteMiB);
    std::printf("search, every message rendered: no match %.0f ms, match in the newest row %.0f ms\n", oldMs[0],
                oldMs[1]);

    const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (shell.isEmpty()) {
        std::printf("baseline: the sqlite3 shell is not installed; no ratio\n");
        return 0;
    }
    const QString script = QStringLiteral(
        "select count(*) from ZWAMESSAGE as m inner join ZWACHATSESSION as c on c.Z_PK=m.ZCHATSESSION "
        "left join ZWAMEDIAITEM as i on i.Z_PK=m.ZMEDIAITEM left join ZWAGROUPMEMBER as g on g.Z_PK=m.ZGROUPMEMBER "
        "where instr(lower(m.ZTEXT),'%1')>0 or instr(lower(i.ZTITLE),'%1')>0 or instr(lower(i.ZAUTHORNAME),'%1')>0 "
        "or instr(lower(i.ZVCARDNAME),'%1')>0 or instr(lower(c.ZPARTNERNAME),'%1')>0 "
        "or instr(lower(g.ZCONTACTNAME),'%1')>0;\n").arg(missing);
    const double shellMs = runShell(shell, folder.databasePath, script);
    if (shellMs < 0)
        return 1;
    std::printf("baseline sqlite3 shell (instr over the text columns): %.0f ms\n", shellMs);
    std::printf("ratio search without a match / shell scan: %.2f x (every message rendered: %.2f x)\n",
                newMs[0] / shellMs, oldMs[0] / shellMs);
    return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    BenchOptions options;
    if (!parseBenchOptions(app.arguments().mid(1), "search_bench", &options))
        return 2;
    if (const int code = runEverySize(options, benchSize); code != 0)
        return code;
    printGrowth({"search without a match"}, g_sizes);
    return 0;
}
