// window_bench: the main window on a big local database, offscreen: the time
// to select the database (chats listed, list and bubbles filled), to jump
// to its last message with Ctrl+End, and to show its last bubble page, and
// the peak memory of the process. The baseline is the same walk over a
// database of 1,000 messages in the same run.
//   window_bench [MESSAGES] [--layout local|modern]
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
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QWebEngineView>

#include <sys/resource.h>

namespace {

struct Walk {
    double select = 0;
    double lastMessage = 0;
    double lastPage = 0;
    int cachedRows = 0;
};

bool waitUntil(const std::function<bool()>& done, int ms = 120000)
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

Walk walk(const QString& name)
{
    Walk result;
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
    QElapsedTimer t;
    t.start();
    w.selectNode(db);
    waitUntil([&] { return w.smsModel()->total() > 0 && w.bubbleView()->page() == 1; });
    QCoreApplication::processEvents();
    result.select = ms(t);

    w.smsView()->setFocus();
    t.restart();
    QTest::keyClick(w.smsView(), Qt::Key_End, Qt::ControlModifier);
    QCoreApplication::processEvents();
    result.lastMessage = ms(t);
    const bool onLast = w.smsView()->currentIndex().row() == w.smsModel()->rowCount() - 1;

    // The last bubble page is shown once its document has loaded.
    t.restart();
    bool loaded = false;
    QObject::connect(w.webView(), &QWebEngineView::loadFinished, [&](bool) { loaded = true; });
    waitUntil([&] { return w.bubbleView()->page() == w.bubbleView()->pageCount() && loaded; }, 60000);
    result.lastPage = result.lastMessage + ms(t);
    result.cachedRows = w.smsModel()->cachedRows();
    if (!onLast)
        result.lastMessage = -1;
    return result;
}

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
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
    QTextStream out(stdout);
    QDir().mkpath(localDatabasesFolder());
    QElapsedTimer t;
    t.start();
    writeBenchDatabase(QDir(localDatabasesFolder()).filePath(QStringLiteral("Baseline")), options.layout, 1000);
    writeBenchDatabase(QDir(localDatabasesFolder()).filePath(QStringLiteral("Big")), options.layout, options.messages);
    out << "databases written in " << qRound(ms(t)) << " ms (" << layoutName(options.layout) << ")\n";
    out.flush();

    const long before = peakKiB();
    const Walk base = walk(QStringLiteral("Baseline"));
    const Walk big = walk(QStringLiteral("Big"));
    const long after = peakKiB();
    const auto line = [&](const char* what, double b, double m) {
        out << QStringLiteral("%1 %2 ms (baseline 1,000 messages: %3 ms)\n")
                   .arg(QLatin1String(what), -34)
                   .arg(m, 0, 'f', 0)
                   .arg(b, 0, 'f', 0);
    };
    out << "messages: " << options.messages << "\n";
    line("select the database:", base.select, big.select);
    line("Ctrl+End to the last message:", base.lastMessage, big.lastMessage);
    line("last bubble page shown:", base.lastPage, big.lastPage);
    out << "rows held by the list: " << big.cachedRows << " of " << options.messages << "\n";
    out << "peak memory: " << after / 1024 << " MiB (" << before / 1024 << " MiB before the walks)\n";
    return 0;
}
