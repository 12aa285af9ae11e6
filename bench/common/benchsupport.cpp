#include "bench/common/benchsupport.h"

#include "base/job.h"
#include "base/recordingmonitor.h"

#include <QFile>
#include <QProcess>

#include <sqlite3.h>

#include <cstdio>
#ifdef __GLIBC__
#include <malloc.h>
#endif

bool parseBenchOptions(const QStringList& args, const char* name, BenchOptions* options)
{
    bool ok = true;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--layout") && i + 1 < args.size()) {
            const QString v = args[++i];
            options->layout = v == QLatin1String("modern") ? ChatDbLayout::Modern
                              : v == QLatin1String("today") ? ChatDbLayout::Today
                                                            : ChatDbLayout::Local;
        } else {
            options->sizes.clear();
            for (const QString& part : args[i].split(QLatin1Char(','))) {
                const qint64 n = part.toLongLong();
                ok = ok && n > 0;
                options->sizes << n;
            }
        }
    }
    if (!ok || options->sizes.isEmpty()) {
        std::fprintf(stderr, "usage: %s [MESSAGES[,MESSAGES...]] [--layout local|modern|today]\n", name);
        return false;
    }
    return true;
}

double statusMiB(const char* key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

double resetPeakMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
    sqlite3_memory_highwater(1);
    // Linux 4.0 and later: VmHWM starts again from the current size.
    {
        QFile f(QStringLiteral("/proc/self/clear_refs"));
        if (f.open(QIODevice::WriteOnly))
            f.write("5");
    }
    return statusMiB("VmRSS:");
}

double sqlitePeakMiB() { return double(sqlite3_memory_highwater(0)) / (1024.0 * 1024.0); }

const char* layoutName(ChatDbLayout layout)
{
    switch (layout) {
    case ChatDbLayout::Modern: return "modern";
    case ChatDbLayout::Today: return "today";
    default: return "local";
    }
}

ChatDbFolder writeBenchDatabase(const QString& folder, ChatDbLayout layout, qint64 messages)
{
    ChatDbBuilder b(folder, layout);
    const qint64 anna = b.addChat(QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
    const qint64 ben = b.addChat(QStringLiteral("4915550002@s.whatsapp.net"), QStringLiteral("Ben"));
    const qint64 group = b.addGroup(QStringLiteral("4915550001-1500000000@g.us"), QStringLiteral("Family"));
    b.addMember(group, QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
    b.addMember(group, QStringLiteral("4915550003@s.whatsapp.net"), QStringLiteral("Carl"));
    if (layout != ChatDbLayout::Today) {
        b.addBulkMessages(messages, {anna, ben, group});
        b.commit();
        return b.folder();
    }

    // Today's data: a group of @lid members whose phones are among 5,000
    // LID rows, 10 % of the messages replies, 5 % with reactions.
    const qint64 lidGroup = b.addGroup(QStringLiteral("4915550001-1700000000@g.us"), QStringLiteral("Today"));
    QList<QPair<QString, QString>> lids;
    for (int i = 0; i < 5000; ++i)
        lids.append({QStringLiteral("1%1@lid").arg(i, 14, 10, QLatin1Char('0')),
                     QStringLiteral("49155%1").arg(i, 6, 10, QLatin1Char('0'))});
    for (int i = 0; i < 40; ++i)
        b.addMember(lidGroup, lids.at(i * 100).first, i % 2 ? QString() : QStringLiteral("Member %1").arg(i));
    b.writeLidDatabase(lids, true);
    b.addBulkMessages(messages, {anna, ben, group, lidGroup});
    QList<qint64> plain;
    {
        Sqlite3Cursor c = b.db().queryThrow("select Z_PK from ZWAMESSAGE where ZMEDIAITEM is null order by Z_PK");
        while (c.moveNext())
            plain << c.getInt64(0);
    }
    const qint64 replies = messages / 10;
    const qint64 reacted = messages / 20;
    for (qint64 i = 0; i < replies && i * 2 < plain.size(); ++i) {
        const qint64 media = b.addMediaItem(plain.at(int(i * 2)), {});
        b.setReplyMetadata(media, {QuoteSpec::TextOnly, QStringLiteral("quoted %1").arg(i),
                                   lids.at(int(i % 40) * 100).first, QStringLiteral("3EB0R%1").arg(i)});
    }
    for (qint64 i = 0; i < reacted && i * 2 + 1 < plain.size(); ++i)
        b.addReceiptInfo(plain.at(int(i * 2 + 1)),
                         ChatDbBuilder::receiptBlob({}, {{lids.at(int(i % 40) * 100).first, QStringLiteral("\U0001F44D"), 1},
                                                         {QString(), QStringLiteral("\u2764"), 2}}));
    b.commit();
    return b.folder();
}

double ms(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e6; }

double seconds(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e9; }

bool runJob(Job& job, const char* what, double* secondsTaken)
{
    RecordingMonitor monitor;
    QElapsedTimer t;
    t.start();
    job.run(monitor);
    *secondsTaken += seconds(t);
    if (!monitor.succeeded()) {
        std::fprintf(stderr, "%s failed: %s\n", what, qPrintable(monitor.errors().join(QStringLiteral("; "))));
        return false;
    }
    return true;
}

bool runTool(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
        return false;
    }
    return true;
}

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
    return ms(t);
}

void printGrowth(const std::vector<const char*>& names, const QList<SizeFigures>& sizes)
{
    if (sizes.size() < 2)
        return;
    std::printf("\ngrowth:\n");
    for (const SizeFigures& f : sizes) {
        std::printf("  %8lld messages:", f.messages);
        for (std::size_t i = 0; i < names.size() && i < f.rates.size(); ++i)
            std::printf("%s %s %.0f msg/s", i ? "," : "", names[i], f.rates[i]);
        std::printf(", peak RSS %.1f MiB", f.peakMiB);
        if (f.startMiB >= 0)
            std::printf(" (%.1f MiB at the start, +%.1f MiB)", f.startMiB, f.peakMiB - f.startMiB);
        if (f.sqliteMiB >= 0)
            std::printf(", SQLite at most %.1f MiB", f.sqliteMiB);
        std::printf("\n");
    }
    const SizeFigures& a = sizes.first();
    const SizeFigures& b = sizes.last();
    std::printf("  from %lld to %lld messages:", a.messages, b.messages);
    for (std::size_t i = 0; i < names.size() && i < a.rates.size() && i < b.rates.size(); ++i)
        std::printf("%s %s msg/s %+.0f%%", i ? "," : "", names[i], 100.0 * (b.rates[i] / a.rates[i] - 1));
    std::printf("; peak RSS %.1f -> %.1f MiB", a.peakMiB, b.peakMiB);
    if (a.startMiB >= 0 && b.startMiB >= 0)
        std::printf(" (above the start: %+.1f -> %+.1f MiB)", a.peakMiB - a.startMiB, b.peakMiB - b.startMiB);
    std::printf("\n");
}

int runEverySize(const BenchOptions& options, const std::function<int(qint64, ChatDbLayout)>& bench)
{
    for (const qint64 size : options.sizes) {
        if (options.sizes.size() > 1)
            std::printf("\n== %lld messages ==\n", size);
        if (const int code = bench(size, options.layout); code != 0)
            return code;
    }
    return 0;
}
