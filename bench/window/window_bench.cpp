// window_bench: the main window on big local databases, offscreen. For each
// size asked for it writes a database, then times selecting it ("opens":
// the chat list loaded, the first page of the message list built and the
// first bubble page shown), jumping to its last message with Ctrl+End, and
// showing its last bubble page. The baseline is the same walk over a
// database of 1,000 messages in the same run; with several sizes it also
// prints how the open time of the last size compares with the first one's.
// A history longer than the list's first page is counted on another thread
// while it opens; the walk also times when that count has arrived (the
// list then has every row), and presses Ctrl+End only after that.
//   window_bench [MESSAGES[,MESSAGES...]] [--layout local|modern|today]
//
// Every size is walked in this one process, after a first, unreported walk
// over the baseline that starts the web engine. Peak memory per size: the
// kernel's high-water mark of this process (VmHWM) is set back to the
// resident size before each walk, so the figure is the peak during that
// walk. It still starts from what earlier walks left resident (freed heap
// the allocator keeps), and it does not count the web engine's renderer,
// which runs in processes of its own and holds one bubble page at a time.
// Each size's database is removed after its walk, so the disk holds at
// most the baseline and one size.
#include "app/itemmodelmain.h"
#include "app/itemmodelsms.h"
#include "app/mainwindow.h"
#include "app/mytreeview.h"
#include "app/wabubbleviewmgr.h"
#include "base/apptranslator.h"
#include "base/datafolder.h"
#include "bench/common/benchsupport.h"

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>

#include <cstdio>

namespace {

constexpr qint64 kBaselineMessages = 1000;

struct Walk {
    qint64 messages = 0;
    double select = -1;       // ms; -1: did not finish
    double counted = -1;      // ms from the selection until the list has every row
    double lastMessage = -1;  // ms; -1: Ctrl+End did not reach the last row
    double lastPage = -1;     // ms, counted from the Ctrl+End
    int cachedRows = 0;
    double rssBeforeMiB = 0;
    double peakMiB = 0;
};

bool waitUntil(const std::function<bool()>& done, int ms = 600000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

QString number(qint64 n) { return QLocale(QLocale::English).toString(n); }

QString folderOf(const QString& name) { return QDir(localDatabasesFolder()).filePath(name); }

Walk walk(const QString& name, qint64 messages)
{
    Walk result;
    result.messages = messages;
    resetPeakMemory();
    result.rssBeforeMiB = statusMiB("VmRSS:");
    MainWindow w;
    w.resize(1200, 760);
    w.show();
    QTest::qWaitForWindowExposed(&w);
    AbsTreeItemModel::_ItemNode* db = nullptr;
    for (auto* n : w.treeModel()->localDatabasesRoot()->children)
        if (n->text == name)
            db = n;
    if (!db)
        return result;
    bool loaded = false;
    QObject::connect(w.webView(), &QWebEngineView::loadFinished, [&](bool) { loaded = true; });

    // Open: the chats listed, the list's first rows built and the first
    // bubble page loaded in the web view.
    QElapsedTimer t;
    t.start();
    w.selectNode(db);
    const bool opened = waitUntil([&] {
        return w.smsModel()->total() > 0 && w.smsModel()->isRowCached(0) && w.bubbleView()->page() == 1 && loaded;
    });
    QCoreApplication::processEvents();
    if (!opened)
        return result;
    result.select = ms(t);

    if (!waitUntil([&] { return !w.smsModel()->isCounting(); }))
        return result;
    result.counted = ms(t);

    w.smsView()->setFocus();
    loaded = false;
    t.restart();
    QTest::keyClick(w.smsView(), Qt::Key_End, Qt::ControlModifier);
    QCoreApplication::processEvents();
    const double lastMessage = ms(t);
    const bool onLast = w.smsView()->currentIndex().row() == w.smsModel()->rowCount() - 1;

    // The last bubble page is shown once its document has loaded.
    if (waitUntil([&] { return w.bubbleView()->page() == w.bubbleView()->pageCount() && loaded; }))
        result.lastPage = ms(t);
    if (onLast)
        result.lastMessage = lastMessage;
    result.cachedRows = w.smsModel()->cachedRows();
    result.peakMiB = statusMiB("VmHWM:");
    return result;
}

QString msText(double v) { return v < 0 ? QStringLiteral("did not finish") : QStringLiteral("%1 ms").arg(v, 0, 'f', 0); }

void printWalk(const Walk& big, const Walk& base)
{
    const auto line = [&](const char* what, double b, double m) {
        std::printf("%-34s %s (baseline %s messages: %s)\n", what, qPrintable(msText(m)),
                    qPrintable(number(base.messages)), qPrintable(msText(b)));
    };
    line("open (select the database):", base.select, big.select);
    line("count arrived (every row listed):", base.counted, big.counted);
    line("Ctrl+End to the last message:", base.lastMessage, big.lastMessage);
    line("last bubble page shown:", base.lastPage, big.lastPage);
    std::printf("rows held by the list: %d of %s\n", big.cachedRows, qPrintable(number(big.messages)));
    std::printf("peak memory during the walk: %.1f MiB (%.1f MiB before it)\n", big.peakMiB, big.rssBeforeMiB);
}

double ratio(double a, double b) { return a > 0 && b > 0 ? a / b : 0; }

void printSummary(const Walk& base, const QList<Walk>& walks)
{
    std::printf("\nopen time (chat list, first list page, first bubble page), count arrived, Ctrl+End, last bubble "
                "page, peak memory:\n");
    for (const Walk& w : QList<Walk>{base} + walks)
        std::printf("  %9s messages: open %s, counted %s, Ctrl+End %s, last page %s, peak %.1f MiB\n",
                    qPrintable(number(w.messages)), qPrintable(msText(w.select)), qPrintable(msText(w.counted)),
                    qPrintable(msText(w.lastMessage)), qPrintable(msText(w.lastPage)), w.peakMiB);
    for (const Walk& w : walks)
        std::printf("%s vs %s: open time ×%.2f\n", qPrintable(number(w.messages)), qPrintable(number(base.messages)),
                    ratio(w.select, base.select));
    if (walks.size() > 1)
        std::printf("%s vs %s: open time ×%.2f\n", qPrintable(number(walks.last().messages)),
                    qPrintable(number(walks.first().messages)), ratio(walks.last().select, walks.first().select));
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    AppTranslator translator;
    translator.loadEmbedded();
    QApplication::installTranslator(&translator);
    BenchOptions options;
    if (!parseBenchOptions(app.arguments().mid(1), "window_bench", &options))
        return 2;
    QDir().mkpath(localDatabasesFolder());

    const QString baseName = QStringLiteral("Baseline");
    writeBenchDatabase(folderOf(baseName), options.layout, kBaselineMessages);
    walk(baseName, kBaselineMessages);  // starts the web engine; not counted
    const Walk base = walk(baseName, kBaselineMessages);
    if (base.select < 0) {
        std::fprintf(stderr, "window_bench: the baseline database did not open\n");
        return 1;
    }
    std::printf("baseline: %s messages (%s layout), open %s\n", qPrintable(number(kBaselineMessages)),
                layoutName(options.layout), qPrintable(msText(base.select)));

    QList<Walk> walks;
    const int code = runEverySize(options, [&](qint64 messages, ChatDbLayout layout) {
        const QString name = QStringLiteral("Messages %1").arg(messages);
        QElapsedTimer t;
        t.start();
        writeBenchDatabase(folderOf(name), layout, messages);
        std::printf("database: %s messages written in %.0f ms (%s layout)\n", qPrintable(number(messages)), ms(t),
                    layoutName(layout));
        std::fflush(stdout);
        const Walk w = walk(name, messages);
        QDir(folderOf(name)).removeRecursively();
        printWalk(w, base);
        std::fflush(stdout);
        if (w.select < 0) {
            std::fprintf(stderr, "window_bench: the database of %lld messages did not open\n", messages);
            return 1;
        }
        walks.append(w);
        return 0;
    });
    printSummary(base, walks);
    return code;
}
