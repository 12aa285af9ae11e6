// export_bench [MESSAGES] [--layout local|modern|today]: writes a chat
// database of MESSAGES messages (200,000 by default) in one-to-one and group
// chats, then exports all of them as text, CSV and HTML, each in a child
// process of its own so that its peak memory is its own. Beside them, in the
// same run, the sqlite3 shell writes the same rows as CSV. Prints seconds,
// messages per second, MB written and peak memory (and the memory before the
// export started, so that growth with the message count shows).
#include "base/jobmonitor.h"
#include "bench/common/benchsupport.h"
#include "chatstore/chatdbview.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/wamsgsdatasource.h"
#include "output/exportmessagesthread.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace {

class QuietMonitor : public JobMonitor {
public:
    void postProgress(const QString&, int, const QString&) override {}
    void postError(const QString& message) override { error = message; }
    void postSuccess(const QString& message) override { success = message; }
    QString error;
    QString success;
};

// "VmHWM" (peak) or "VmRSS" of this process in kB.
qint64 memoryKb(const char* field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field) + 1).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

qint64 bytesUnder(const QString& path)
{
    const QFileInfo info(path);
    if (info.isFile())
        return info.size();
    qint64 total = 0;
    QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

// The child: exports the database at `appFolder` in `format` to `out` and
// prints "ms bytes peakKb baseKb count".
int runChild(const QString& databasePath, const QString& mediaFolder, const QString& profileFolder, int format,
             const QString& out, const QString& assets)
{
    auto db = std::make_shared<IOSWhatsAppDb>(databasePath, QString(), mediaFolder, profileFolder, false);
    auto view = std::make_shared<ChatDbView>(db);
    db->listSessions(view->index());
    const qint64 baseKb = memoryKb("VmRSS:");
    ExportMessagesThread job(std::make_shared<WAMsgsDataSource>(view, nullptr, true), out, format);
    job.setAssetFolder(assets);
    QuietMonitor monitor;
    QElapsedTimer t;
    t.start();
    job.run(monitor);
    const double elapsed = ms(t);
    if (!monitor.error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(monitor.error));
        return 1;
    }
    std::printf("%.1f %lld %lld %lld %lld\n", elapsed, bytesUnder(job.outputPath()), memoryKb("VmHWM:"), baseKb,
                job.exportedCount());
    return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 8 && args.at(1) == QLatin1String("--child"))
        return runChild(args.at(2), args.at(3), args.at(4), args.at(5).toInt(), args.at(6), args.at(7));

    BenchOptions options;
    if (!parseBenchOptions(args.mid(1), "export_bench", &options))
        return 2;
    QTemporaryDir dir;
    QElapsedTimer t;
    t.start();
    const ChatDbFolder folder = writeBenchDatabase(dir.filePath(QStringLiteral("db")), options.layout, options.messages);
    std::printf("database: %lld messages written in %.0f ms (%s layout)\n", options.messages, ms(t),
                layoutName(options.layout));
    const QString assets = QStringLiteral(Q_SOURCE_DIR "/wabb");

    struct Format {
        const char* name;
        int number;
        const char* out;
    };
    double csvMs = -1;
    double txtMs = -1;
    for (const Format& f : {Format{"text", ExportMessagesThread::kText, "out.txt"},
                            Format{"CSV", ExportMessagesThread::kCsv, "out.csv"},
                            Format{"HTML", ExportMessagesThread::kHtml, "out-html"}}) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--child"), folder.databasePath, folder.mediaFolder, folder.profileFolder,
                     QString::number(f.number), dir.filePath(QLatin1String(f.out)), assets});
        if (!child.waitForFinished(-1) || child.exitCode() != 0) {
            std::printf("%s: failed\n", f.name);
            continue;
        }
        const QList<QByteArray> v = child.readAllStandardOutput().trimmed().split(' ');
        const double elapsed = v.value(0).toDouble();
        const qint64 bytes = v.value(1).toLongLong();
        const qint64 count = v.value(4).toLongLong();
        std::printf("%-5s %lld messages in %.2f s (%.0f msg/s), %.1f MB written, peak memory %.0f MB "
                    "(%.0f MB before the export)\n",
                    f.name, count, elapsed / 1000.0, count / (elapsed / 1000.0), bytes / 1e6,
                    v.value(2).toLongLong() / 1024.0, v.value(3).toLongLong() / 1024.0);
        if (f.number == ExportMessagesThread::kCsv)
            csvMs = elapsed;
        if (f.number == ExportMessagesThread::kText)
            txtMs = elapsed;
        QFile::remove(dir.filePath(QLatin1String(f.out)));
    }

    const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (shell.isEmpty()) {
        std::printf("baseline: the sqlite3 shell is not installed; no ratio\n");
        return 0;
    }
    const QString shellOut = dir.filePath(QStringLiteral("shell.csv"));
    const QString script = QStringLiteral(
        ".headers on\n.mode csv\n.output %1\n"
        "select datetime(m.ZMESSAGEDATE + 978307200, 'unixepoch') as date, m.ZISFROMME as send, "
        "c.ZPARTNERNAME as person, coalesce(nullif(m.ZFROMJID, ''), m.ZTOJID) as number, m.ZTEXT as content "
        "from ZWAMESSAGE as m inner join ZWACHATSESSION as c on c.Z_PK=m.ZCHATSESSION "
        "order by m.ZMESSAGEDATE, m.ZSORT;\n")
                               .arg(shellOut);
    const double shellMs = runShell(shell, folder.databasePath, script);
    std::printf("baseline sqlite3 shell: the same rows as CSV in %.2f s, %.1f MB\n", shellMs / 1000.0,
                QFileInfo(shellOut).size() / 1e6);
    if (shellMs > 0)
        std::printf("ratio to the shell: text %.2f x, CSV %.2f x (aim: within 10 x)\n", txtMs / shellMs,
                    csvMs / shellMs);
    return 0;
}
