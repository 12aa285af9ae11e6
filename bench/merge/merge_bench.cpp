// merge_bench [MESSAGES[,MESSAGES...]] [--layout local|modern|today]: writes a chat
// database of MESSAGES messages (200,000 by default) in three chats (today:
// also a group of @lid members, replies in reply metadata and reactions),
// then backs all of them up into an empty local database with
// BackupMessagesThread, and once more into the same database (every message
// a duplicate). For the phone layouts it does the same into an empty
// database of the source's own layout laid out as a phone keeps it (with an
// empty LID.sqlite), as `merge --into` does. For each run it
// prints messages per second, the time of the renumbering, and the peak
// resident memory of the run (VmHWM, reset before each run) with samples of
// the resident size along the way. A third, instrumented run into a fresh
// database splits the time into reading the source, the duplicate look-up,
// the writes, the file copies, the commit and the renumbering.
// Baseline, in the same invocation: the sqlite3 shell copies the same rows
// (chats, groups, members, messages, media items, receipts) from the
// source into an empty database of the same layout (the local database for
// the local layout, the phone-layout target otherwise) with ATTACH and
// INSERT ... SELECT in one transaction.
#include "bench/common/benchsupport.h"
#include "chatstore/backupmessagesthread.h"
#include "chatstore/chatdbview.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/localdatabases.h"
#include "chatstore/wamsgsdatasource.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

#include <malloc.h>
#include <sqlite3.h>

namespace {

class BenchMonitor : public JobMonitor {
public:
    QList<double> samples;  // resident MiB at every tenth of the job
    QList<double> heap;     // MiB of heap in use (malloc) at the same points
    QList<double> sqlite;   // MiB SQLite holds at the same points
    int lastDecile = -1;
    void postProgress(const QString&, int value, const QString&) override
    {
        if (value >= 0 && value / 10 != lastDecile) {
            lastDecile = value / 10;
            samples << statusMiB("VmRSS:");
            heap << double(mallinfo2().uordblks) / 1048576.0;
            sqlite << double(sqlite3_memory_used()) / 1048576.0;
        }
    }
    void postError(const QString& message) override { std::fprintf(stderr, "error: %s\n", qPrintable(message)); }
    void postSuccess(const QString&) override {}
};

QString sampleText(const QList<double>& samples)
{
    QStringList parts;
    for (double s : samples)
        parts << QString::number(s, 'f', 0);
    return parts.join(QLatin1Char(' '));
}

struct Run {
    double totalMs = 0;
    double peakMiB = 0;
    qint64 added = 0;
    QList<double> samples;
    QList<double> heap;
    QList<double> sqlite;
};

Run backup(const std::shared_ptr<IOSWhatsAppDb>& target, const PChatDbView& view)
{
    view->resetCache();
    resetPeakMemory();
    BenchMonitor monitor;
    BackupMessagesThread job(target, std::make_shared<WAMsgsDataSource>(view, nullptr, true));
    QElapsedTimer t;
    t.start();
    job.run(monitor);
    Run r;
    r.totalMs = ms(t);
    r.peakMiB = statusMiB("VmHWM:");
    r.added = job.addedCount();
    r.samples = monitor.samples;
    r.heap = monitor.heap;
    r.sqlite = monitor.sqlite;
    if (!job.succeeded())
        std::exit(1);
    return r;
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
    const ChatDbFolder folder = writeBenchDatabase(dir.filePath(QStringLiteral("source")), layout, messages);
    std::printf("source: %lld messages written in %.0f ms (%s layout)\n", messages, ms(t), layoutName(layout));

    auto source = std::make_shared<IOSWhatsAppDb>(folder.databasePath, QString(), folder.mediaFolder,
                                                  folder.profileFolder, layout == ChatDbLayout::Local, false);
    auto view = std::make_shared<ChatDbView>(source);
    source->listSessions(view->index());
    const qint64 count = source->countMessages(nullptr);

    const QString base = dir.filePath(QStringLiteral("local_databases"));
    const LocalDatabase target = findOrCreateLocalDatabase(QStringLiteral("Bench"), base);
    const Run first = backup(target.db, view);
    const Run second = backup(target.db, view);
    std::printf("first merge:  %lld messages (%lld new) in %.0f ms = %.0f msg/s; peak RSS %.1f MiB; RSS by "
                "tenths: %s\n",
                count, first.added, first.totalMs, count / (first.totalMs / 1000.0), first.peakMiB,
                qPrintable(sampleText(first.samples)));
    std::printf("second merge: %lld messages (%lld new) in %.0f ms = %.0f msg/s; peak RSS %.1f MiB; RSS by "
                "tenths: %s\n",
                count, second.added, second.totalMs, count / (second.totalMs / 1000.0), second.peakMiB,
                qPrintable(sampleText(second.samples)));
    g_sizes.append({messages, {count / (first.totalMs / 1000.0), count / (second.totalMs / 1000.0)},
                    std::max(first.peakMiB, second.peakMiB)});
    std::printf("heap in use by tenths (MiB): first %s; second %s\nSQLite memory by tenths (MiB): first %s; second %s\n",
                qPrintable(sampleText(first.heap)), qPrintable(sampleText(second.heap)),
                qPrintable(sampleText(first.sqlite)), qPrintable(sampleText(second.sqlite)));

    // Into a phone's database of the source's layout.
    Run phoneFirst, phoneSecond;
    if (layout != ChatDbLayout::Local) {
        ChatDbBuilder empty(dir.filePath(QStringLiteral("phone")), layout, true);
        empty.commit();
        empty.writeLidDatabase({}, true);
        const ChatDbFolder pf = empty.folder();
        auto phone = std::make_shared<IOSWhatsAppDb>(pf.databasePath, QString(), pf.mediaFolder, pf.profileFolder,
                                                     false, false);
        phoneFirst = backup(phone, view);
        phoneSecond = backup(phone, view);
        std::printf("phone target, first merge:  %lld messages (%lld new) in %.0f ms = %.0f msg/s; peak RSS %.1f MiB; "
                    "RSS by tenths: %s\n",
                    count, phoneFirst.added, phoneFirst.totalMs, count / (phoneFirst.totalMs / 1000.0),
                    phoneFirst.peakMiB, qPrintable(sampleText(phoneFirst.samples)));
        std::printf("phone target, second merge: %lld messages (%lld new) in %.0f ms = %.0f msg/s; peak RSS %.1f MiB; "
                    "RSS by tenths: %s\n",
                    count, phoneSecond.added, phoneSecond.totalMs, count / (phoneSecond.totalMs / 1000.0),
                    phoneSecond.peakMiB, qPrintable(sampleText(phoneSecond.samples)));
    }

    // Where the time goes: the job's loop, timed piece by piece.
    {
        const LocalDatabase fresh = findOrCreateLocalDatabase(QStringLiteral("Timed"), base);
        view->resetCache();
        WAMsgsDataSource all(view, nullptr, true);
        double readMs = 0, findMs = 0, writeMs = 0, copyMs = 0;
        QElapsedTimer total;
        total.start();
        fresh.db->beginTransaction();
        QElapsedTimer part;
        for (qint64 i = 0; i < count; ++i) {
            part.start();
            const _Message m = all.at(i);
            readMs += ms(part);
            part.start();
            const qint64 found = fresh.db->findMessageByStanza(m);
            findMs += ms(part);
            part.start();
            if (found == 0)
                fresh.db->mergeMessage(m, -2);
            writeMs += ms(part);
            part.start();
            fresh.db->copyMessageFiles(m);
            copyMs += ms(part);
        }
        part.start();
        fresh.db->commitThrow();
        const double commitMs = ms(part);
        part.start();
        fresh.db->renumberSort();
        const double renumberMs = ms(part);
        const double totalMs = ms(total);
        std::printf("breakdown of a first merge (%.0f ms): reading the source %.0f ms (%.0f%%), duplicate look-up "
                    "%.0f ms (%.0f%%), writing rows %.0f ms (%.0f%%), file copies %.0f ms (%.0f%%), commit %.0f ms, "
                    "renumberSort %.0f ms (%.0f%%)\n",
                    totalMs, readMs, 100 * readMs / totalMs, findMs, 100 * findMs / totalMs, writeMs,
                    100 * writeMs / totalMs, copyMs, 100 * copyMs / totalMs, commitMs, renumberMs,
                    100 * renumberMs / totalMs);
    }

    // Baseline: the same rows copied by the sqlite3 shell.
    const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (shell.isEmpty()) {
        std::printf("baseline: the sqlite3 shell is not installed; no ratio\n");
        return 0;
    }
    // The baseline copies into an empty database of the source's own tables.
    QString rawPath;
    if (layout == ChatDbLayout::Local) {
        const LocalDatabase raw = findOrCreateLocalDatabase(QStringLiteral("Raw"), base);
        raw.db->ensureOpen();
        raw.db->closeDb();
        rawPath = raw.db->databasePath();
    } else {
        ChatDbBuilder empty(dir.filePath(QStringLiteral("raw")), layout, true);
        empty.commit();
        rawPath = empty.folder().databasePath;
    }
    QString quoted = folder.databasePath;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    const QString loaded = QStringLiteral("ZMESSAGETYPE in (0,1,2,3,4,5,6,7,8,11,14,15,38,39,46,53,54,59)");
    const QString script =
        QStringLiteral("ATTACH '%1' AS src;\nBEGIN;\n"
                       "INSERT INTO main.ZWACHATSESSION SELECT * FROM src.ZWACHATSESSION;\n"
                       "INSERT INTO main.ZWAGROUPINFO SELECT * FROM src.ZWAGROUPINFO;\n"
                       "INSERT INTO main.ZWAGROUPMEMBER SELECT * FROM src.ZWAGROUPMEMBER;\n"
                       "INSERT INTO main.ZWAMESSAGE SELECT * FROM src.ZWAMESSAGE WHERE %2;\n"
                       "INSERT INTO main.ZWAMEDIAITEM SELECT * FROM src.ZWAMEDIAITEM WHERE ZMESSAGE IN "
                       "(SELECT Z_PK FROM src.ZWAMESSAGE WHERE %2);\n"
                       "INSERT INTO main.ZWAMESSAGEINFO SELECT * FROM src.ZWAMESSAGEINFO;\n"
                       "COMMIT;\n")
            .arg(quoted, loaded);
    const double shellMs = runShell(shell, rawPath, script);
    if (shellMs < 0)
        return 1;
    std::printf("baseline sqlite3 shell (ATTACH + INSERT ... SELECT of the same rows): %.0f ms = %.0f msg/s\n", shellMs,
                count / (shellMs / 1000.0));
    std::printf("ratio first merge / shell copy: %.1f x; second merge / shell copy: %.1f x\n",
                first.totalMs / shellMs, second.totalMs / shellMs);
    if (layout != ChatDbLayout::Local)
        std::printf("ratio phone target first merge / shell copy: %.1f x; second merge / shell copy: %.1f x\n",
                    phoneFirst.totalMs / shellMs, phoneSecond.totalMs / shellMs);
    return 0;
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    BenchOptions options;
    if (!parseBenchOptions(app.arguments().mid(1), "merge_bench", &options))
        return 2;
    if (const int code = runEverySize(options, benchSize); code != 0)
        return code;
    printGrowth({"first merge", "second"}, g_sizes);
    return 0;
}
