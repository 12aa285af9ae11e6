// export_bench [MESSAGES] [--layout local|modern|today]: writes a chat
// database of MESSAGES messages (200,000 by default) in one-to-one and group
// chats, then exports all of them as text, CSV and HTML, each in a child
// process of its own so that its peak memory is its own. Beside them, in the
// same run, the sqlite3 shell writes the same rows as CSV. Prints seconds,
// messages per second, MB written and peak memory (and the memory before the
// export started, so that growth with the message count shows).
//
// Then a chat of 5,000 messages (or MESSAGES, when fewer) is exported as PDF
// bubbles; beside it, in the same run, the same chat's text export printed
// into a PDF writer of the same page through QTextDocument::print: pages
// and messages per second for bubbles against plain text.
#include "base/jobmonitor.h"
#include "bench/common/benchsupport.h"
#include "chatstore/chatdbview.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/wamsgsdatasource.h"
#include "output/exportmessagespdf.h"
#include "output/exportmessagesthread.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextDocument>
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

// Pages of the PDF files under `path` (a file or a folder).
qint64 pdfPages(const QString& path)
{
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page[^s]"));
    QStringList files;
    if (QFileInfo(path).isFile()) {
        files << path;
    } else {
        QDirIterator it(path, {QStringLiteral("*.pdf")}, QDir::Files);
        while (it.hasNext())
            files << it.next();
    }
    qint64 pages = 0;
    for (const QString& file : files) {
        QFile f(file);
        if (f.open(QIODevice::ReadOnly))
            pages += QString::fromLatin1(f.readAll()).count(page);
    }
    return pages;
}

// The PDF child: "bubbles" exports the database as PDF bubbles into the
// folder `out`; "plain" writes the text export and prints it through
// QTextDocument into the file `out`. Prints "ms bytes peakKb baseKb count
// pages".
int runPdfChild(const QString& databasePath, const QString& mediaFolder, const QString& profileFolder,
                const QString& mode, const QString& out, const QString& assets)
{
    auto db = std::make_shared<IOSWhatsAppDb>(databasePath, QString(), mediaFolder, profileFolder, false);
    auto view = std::make_shared<ChatDbView>(db);
    db->listSessions(view->index());
    const auto source = std::make_shared<WAMsgsDataSource>(view, nullptr, true);
    const qint64 baseKb = memoryKb("VmRSS:");
    QuietMonitor monitor;
    QElapsedTimer t;
    t.start();
    qint64 count = 0;
    if (mode == QLatin1String("bubbles")) {
        ExportMessagesPdf job(out, source);
        job.setAssetFolder(assets);
        job.run(monitor);
        count = job.exportedCount();
    } else {
        const QString text = out + QStringLiteral(".txt");
        ExportMessagesThread job(source, text, ExportMessagesThread::kText);
        job.run(monitor);
        count = job.exportedCount();
        QFile f(text);
        if (monitor.error.isEmpty() && f.open(QIODevice::ReadOnly)) {
            QTextDocument doc;
            doc.setPlainText(QString::fromUtf8(f.readAll()));
            QPdfWriter writer(out);
            writer.setResolution(96);
            writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                             QMarginsF(20, 20, 20, 20), QPageLayout::Point));
            doc.print(&writer);
        }
    }
    const double elapsed = ms(t);
    if (!monitor.error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(monitor.error));
        return 1;
    }
    std::printf("%.1f %lld %lld %lld %lld %lld\n", elapsed, bytesUnder(out), memoryKb("VmHWM:"), baseKb, count,
                pdfPages(out));
    return 0;
}

// One chat of up to 5,000 messages as PDF bubbles, beside its text printed
// through QTextDocument.
void benchPdf(const QTemporaryDir& dir, const BenchOptions& options, const QString& assets)
{
    const qint64 messages = std::min<qint64>(5000, options.messages());
    ChatDbBuilder b(dir.filePath(QStringLiteral("pdfdb")), options.layout);
    const qint64 anna = b.addChat(QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
    b.addBulkMessages(messages, {anna});
    b.commit();
    const ChatDbFolder folder = b.folder();

    struct Result {
        double ms = -1;
        qint64 bytes = 0;
        qint64 count = 0;
        qint64 pages = 0;
        qint64 peakKb = 0;
    };
    const auto runMode = [&](const char* mode, const QString& out) {
        Result r;
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--pdf-child"), folder.databasePath, folder.mediaFolder, folder.profileFolder,
                     QLatin1String(mode), out, assets});
        if (!child.waitForFinished(-1) || child.exitCode() != 0)
            return r;
        const QList<QByteArray> v = child.readAllStandardOutput().trimmed().split(' ');
        r.ms = v.value(0).toDouble();
        r.bytes = v.value(1).toLongLong();
        r.peakKb = v.value(2).toLongLong();
        r.count = v.value(4).toLongLong();
        r.pages = v.value(5).toLongLong();
        return r;
    };
    const Result bubbles = runMode("bubbles", dir.filePath(QStringLiteral("out-pdf")));
    const Result plain = runMode("plain", dir.filePath(QStringLiteral("plain.pdf")));
    for (const auto& [name, r] : {std::pair<const char*, Result>{"PDF bubbles", bubbles},
                                  std::pair<const char*, Result>{"baseline text through QTextDocument::print", plain}}) {
        if (r.ms < 0) {
            std::printf("%s: failed\n", name);
            continue;
        }
        const double s = r.ms / 1000.0;
        std::printf("%s: %lld messages, %lld pages in %.2f s (%.0f msg/s, %.1f pages/s), %.1f MB written, "
                    "peak memory %.0f MB\n",
                    name, r.count, r.pages, s, r.count / s, r.pages / s, r.bytes / 1e6, r.peakKb / 1024.0);
    }
    if (bubbles.ms > 0 && plain.ms > 0)
        std::printf("ratio: bubbles take %.2f x the time of plain text (%.2f x its pages)\n", bubbles.ms / plain.ms,
                    plain.pages > 0 ? double(bubbles.pages) / plain.pages : 0.0);
}

}  // namespace

int main(int argc, char* argv[])
{
    // Painting needs the graphical toolkit: the PDF children start it, on
    // the offscreen platform.
    if (argc == 8 && qstrcmp(argv[1], "--pdf-child") == 0) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication gui(argc, argv);
        const QStringList args = gui.arguments();
        return runPdfChild(args.at(2), args.at(3), args.at(4), args.at(5), args.at(6), args.at(7));
    }
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
    const ChatDbFolder folder = writeBenchDatabase(dir.filePath(QStringLiteral("db")), options.layout, options.messages());
    std::printf("database: %lld messages written in %.0f ms (%s layout)\n", options.messages(), ms(t),
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

    benchPdf(dir, options, assets);

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
