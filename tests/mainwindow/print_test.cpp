// Print Messages through the window's menus: the preview opens (with PDF
// output when the system has no printer), its pages are painted, printing
// from it writes them, and a scope of more than 100 pages ends with the
// warning and the preview closed.
#include "app/itemmodelmain.h"
#include "app/mainwindow.h"
#include "app/printcommands.h"
#include "base/assetfolder.h"
#include "base/busylock.h"
#include "output/bubbletiles.h"
#include "support/requiretool.h"
#include "windowtestsupport.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QMenu>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// While alive, hands every print preview that opens to `handle` once, when
// it has painted its pages and waits for the user (nothing is open over
// it); a preview still open after a minute is closed, so that a broken test
// ends.
class PreviewWatcher {
public:
    explicit PreviewWatcher(std::function<void(QPrintPreviewDialog*)> handle) : m_handle(std::move(handle))
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                auto* preview = qobject_cast<QPrintPreviewDialog*>(top);
                if (!preview || !preview->isVisible())
                    continue;
                if (!m_opened.contains(preview)) {
                    m_opened.insert(preview, QElapsedTimer());
                    m_opened[preview].start();
                }
                if (!m_handled.contains(preview) && QApplication::activeModalWidget() == preview) {
                    m_handled << preview;
                    m_handle(preview);
                } else if (m_opened[preview].elapsed() > 60000) {
                    ADD_FAILURE() << "the preview stayed open";
                    preview->reject();
                }
            }
        });
        m_timer.start();
    }
    int previews() const { return int(m_opened.size()); }

private:
    std::function<void(QPrintPreviewDialog*)> m_handle;
    QHash<QPrintPreviewDialog*, QElapsedTimer> m_opened;
    QList<QPrintPreviewDialog*> m_handled;
    QTimer m_timer;
};

void triggerEntry(QMenu* menu, const char* name)
{
    ASSERT_NE(menu, nullptr);
    auto* a = menu->findChild<QAction*>(QString::fromLatin1(name));
    ASSERT_NE(a, nullptr) << name;
    ASSERT_TRUE(a->isEnabled()) << name;
    a->trigger();
}

QString pdfText(const QString& path)
{
    QProcess p;
    p.start(QStandardPaths::findExecutable(QStringLiteral("pdftotext")),
            {QStringLiteral("-enc"), QStringLiteral("UTF-8"), path, QStringLiteral("-")});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

}  // namespace

TEST(WindowPrint, AChatPrintsThroughThePreview)
{
    REQUIRE_TOOL(!QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty(), "pdftotext (poppler-utils)");
    resetDataFolder();
    buildNamedChats(localDbPath("Family"), ChatDbLayout::Local, false, {"Anna", "Bob"}, 3);
    QTemporaryDir out;
    const QString printed = out.filePath(QStringLiteral("printed.pdf"));

    MainWindow w;
    w.show();
    auto* family = treeChild(w.treeModel()->localDatabasesRoot(), "Family");
    ASSERT_NE(family, nullptr);
    selectAnswering(w, family);
    auto* anna = treeChild(family, "Anna");
    ASSERT_NE(anna, nullptr);
    selectAnswering(w, anna);
    EXPECT_TRUE(w.findChild<QAction*>("IDS_MI_PRINT_TOOLBAR")->isEnabled());

    int pages = -1;
    QString title;
    QPrinter::OutputFormat format = QPrinter::NativeFormat;
    PreviewWatcher watcher([&](QPrintPreviewDialog* preview) {
        auto* view = preview->findChild<QPrintPreviewWidget*>();
        ASSERT_NE(view, nullptr);
        pages = view->pageCount();
        title = preview->windowTitle();
        format = preview->printer()->outputFormat();
        // Print from the preview, into a file.
        preview->printer()->setOutputFileName(printed);
        view->print();
        preview->reject();
    });
    {
        BoxAnswerer boxes;
        std::unique_ptr<QMenu> menu(w.createTreeContextMenu());
        triggerEntry(menu.get(), "IDS_MI_PRINT_CHAT");
        EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join('|').toStdString();
    }
    ASSERT_EQ(watcher.previews(), 1);
    EXPECT_EQ(title, "Print Messages");
    EXPECT_EQ(pages, 1);
    EXPECT_EQ(w.printCommands()->lastPageCount(), 1);
    EXPECT_EQ(w.printCommands()->lastPrinted(), 3);
    if (QPrinterInfo::availablePrinters().isEmpty())
        EXPECT_EQ(format, QPrinter::PdfFormat);  // no printer: the preview prints into PDF files

    ASSERT_TRUE(QFileInfo(printed).isFile());
    const QString text = pdfText(printed);
    EXPECT_TRUE(text.indexOf("Anna says 0") >= 0 && text.indexOf("Anna says 0") < text.indexOf("Anna says 2"))
        << text.toStdString();
    EXPECT_FALSE(text.contains("Bob says"));
    // The frames came from the tiles beside the program.
    EXPECT_TRUE(BubbleTiles::of(product::wabbFolder())->missing().isEmpty())
        << BubbleTiles::of(product::wabbFolder())->missing().join(' ').toStdString();

    // While another command holds the busy lock, Print does nothing.
    {
        BusyLock held;
        w.findChild<QAction*>("IDS_MI_PRINT_TOOLBAR")->trigger();
    }
    EXPECT_EQ(watcher.previews(), 1);
}

TEST(WindowPrint, MoreThan100PagesWarnAndCloseThePreview)
{
    resetDataFolder();
    buildNamedChats(localDbPath("Long"), ChatDbLayout::Local, false, {"Anna"}, 2500);
    MainWindow w;
    w.show();
    auto* db = treeChild(w.treeModel()->localDatabasesRoot(), "Long");
    ASSERT_NE(db, nullptr);
    selectAnswering(w, db);

    // The test does not close this preview: the window must.
    PreviewWatcher watcher([](QPrintPreviewDialog*) {});
    BoxAnswerer boxes;
    std::unique_ptr<QMenu> menu(w.createTreeContextMenu());
    triggerEntry(menu.get(), "IDS_MI_PRINT_ALL");
    ASSERT_EQ(boxes.texts.size(), 1) << boxes.texts.join('|').toStdString();
    EXPECT_EQ(boxes.texts.first(), PrintCommands::pageLimitText());
    EXPECT_TRUE(boxes.texts.first().startsWith("To print more than 100 pages messages, please click \"File\""));
    EXPECT_EQ(w.printCommands()->lastPageCount(), 100);
    EXPECT_GT(w.printCommands()->lastPrinted(), 500);
    EXPECT_LT(w.printCommands()->lastPrinted(), 2500);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}
