// Export and Extract through the window's menus and tool bar, with the file
// dialogs answered by the test: what lands on disk for each scope.
#include "app/exportcommands.h"
#include "app/itemmodelmain.h"
#include "app/itemmodelsms.h"
#include "app/mainwindow.h"
#include "app/mytreeview.h"
#include "base/busylock.h"
#include "windowtestsupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString readText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

void triggerEntry(QMenu* menu, const char* name)
{
    ASSERT_NE(menu, nullptr);
    auto* a = menu->findChild<QAction*>(QString::fromLatin1(name));
    ASSERT_NE(a, nullptr) << name;
    ASSERT_TRUE(a->isEnabled()) << name;
    a->trigger();
}

// Answers the save dialog with a path and a filter, and the folder dialog
// with a folder; records what they were asked.
struct Dialogs {
    QString path;
    QString filter;
    QString folder;
    QStringList captions;
    QString proposed;
    QStringList filters;

    void install(ExportCommands* c)
    {
        c->setSaveAsker([this](QWidget*, const QString& caption, const QString& p, const QStringList& f) {
            captions << caption;
            proposed = p;
            filters = f;
            return ExportCommands::SaveAnswer{path, filter};
        });
        c->setFolderAsker([this](QWidget*, const QString& caption, const QString&) {
            captions << caption;
            return folder;
        });
    }
};

}  // namespace

TEST(WindowExport, ExportAndExtractThroughTheMenusAndTheToolBar)
{
    resetDataFolder();
    buildNamedChats(localDbPath("Family"), ChatDbLayout::Local, false, {"Anna", "Bob"}, 3);
    buildSampleChatDb(deviceCopyPath("Anna's iPhone"), ChatDbLayout::Modern, 0, true);
    QTemporaryDir out;

    MainWindow w;
    w.show();
    Dialogs dialogs;
    dialogs.install(w.exportCommands());
    ItemModelMain* m = w.treeModel();

    // A whole local database as CSV from its context menu.
    auto* family = treeChild(m->localDatabasesRoot(), "Family");
    ASSERT_NE(family, nullptr);
    selectAnswering(w, family);
    EXPECT_TRUE(w.findChild<QAction*>("IDS_MI_EXPORT_TOOLBAR")->isEnabled());
    EXPECT_TRUE(w.findChild<QAction*>("IDS_MI_EXTRACT_MEDIA_TOOLBAR")->isEnabled());
    dialogs.path = out.filePath("family");
    dialogs.filter = "CSV Files(*.csv)";
    {
        BoxAnswerer boxes;
        std::unique_ptr<QMenu> menu(w.createTreeContextMenu());
        triggerEntry(menu.get(), "IDS_MI_EXPORT_ALL");
        ASSERT_FALSE(boxes.texts.isEmpty());
        EXPECT_EQ(boxes.texts.last(), "Successfully exported 6 Messages.");
    }
    EXPECT_EQ(dialogs.captions.last(), "Please select Save Path for messages.");
    EXPECT_TRUE(dialogs.proposed.startsWith(QDir::homePath() + "/chats("));
    EXPECT_EQ(dialogs.filters, (QStringList{"Text Files(*.txt)", "Doc Files(*.doc)", "CSV Files(*.csv)",
                                           "PDF Files(*.pdf)", "HTML Files(*.html)"}));
    const QString csv = readText(out.filePath("family.csv"));
    EXPECT_EQ(csv.count("says"), 6);

    // One chat as text through the chat's context menu.
    auto* anna = treeChild(family, "Anna");
    ASSERT_NE(anna, nullptr);
    selectAnswering(w, anna);
    dialogs.path = out.filePath("anna.txt");
    dialogs.filter = "Text Files(*.txt)";
    {
        BoxAnswerer boxes;
        std::unique_ptr<QMenu> menu(w.createTreeContextMenu());
        triggerEntry(menu.get(), "IDS_MI_EXPORT_CHAT");
    }
    const QString txt = readText(out.filePath("anna.txt"));
    EXPECT_EQ(txt.count("Anna says"), 3);
    EXPECT_EQ(txt.count("Bob says"), 0);

    // Selected rows through the tool bar (automatic scope) as .doc.
    ASSERT_TRUE(waitFor([&] { return w.smsModel()->rowCount() == 3; }));
    w.smsView()->selectionModel()->select(w.smsModel()->index(1, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    dialogs.path = out.filePath("one");
    dialogs.filter = "Doc Files(*.doc)";
    {
        BoxAnswerer boxes;
        w.findChild<QAction*>("IDS_MI_EXPORT_TOOLBAR")->trigger();
        ASSERT_FALSE(boxes.texts.isEmpty());
        EXPECT_EQ(boxes.texts.last(), "Successfully exported 1 Messages.");
    }
    EXPECT_TRUE(readText(out.filePath("one.doc")).startsWith("{\\rtf1"));

    // While another command holds the busy lock, Export does nothing.
    {
        BusyLock held;
        dialogs.captions.clear();
        w.findChild<QAction*>("IDS_MI_EXPORT_TOOLBAR")->trigger();
        EXPECT_TRUE(dialogs.captions.isEmpty());
    }
    // PDF is another command's; an empty answer ends the command.
    dialogs.path.clear();
    {
        BoxAnswerer boxes;
        w.findChild<QAction*>("IDS_MI_EXPORT_TOOLBAR")->trigger();
        EXPECT_TRUE(boxes.texts.isEmpty());
    }

    // The saved device copy: HTML of everything, then its attachments.
    auto* phone = m->devicesRoot()->children.first();
    selectAnswering(w, phone);
    dialogs.path = out.filePath("phone.html");
    dialogs.filter = "HTML Files(*.html)";
    {
        BoxAnswerer boxes;
        w.findChild<QAction*>("IDS_MI_EXPORT_TOOLBAR")->trigger();  // nothing selected, no chat: all
    }
    const QString html = out.filePath("phone-html");
    EXPECT_EQ(w.exportCommands()->lastOutput(), html);
    EXPECT_TRUE(QFileInfo(html + "/files/style.css").isFile());
    EXPECT_TRUE(QFileInfo(html + "/files/IMG_1.jpg").isFile());
    EXPECT_TRUE(QFileInfo(html + "/Anna(4915550001).html").isFile());

    dialogs.folder = out.filePath("x");
    QDir().mkpath(dialogs.folder);
    {
        BoxAnswerer boxes;
        std::unique_ptr<QMenu> menu(w.createTreeContextMenu());
        triggerEntry(menu.get(), "IDS_MI_EXTRACT_MEDIA_All");
        ASSERT_FALSE(boxes.texts.isEmpty());
        EXPECT_TRUE(boxes.texts.last().startsWith("Successfully extracted attachments to "));
    }
    EXPECT_EQ(dialogs.captions.last(), "Please select Save Path for media files.");
    const QString attachments = w.exportCommands()->lastOutput();
    EXPECT_EQ(QFileInfo(attachments).absolutePath(), dialogs.folder);
    EXPECT_TRUE(QFileInfo(attachments).fileName().startsWith("attachments("));
    EXPECT_TRUE(QFileInfo(attachments + "/IMG_1.jpg").isFile());
    EXPECT_TRUE(QFileInfo(attachments + "/report.pdf").isFile());
}

TEST(WindowExport, TheSaveDialogAppendsTheChosenFiltersSuffixAndAsksAboutThatFile)
{
    resetDataFolder();
    buildNamedChats(localDbPath("Family"), ChatDbLayout::Local, false, {"Anna"}, 2);
    QTemporaryDir out;
    {
        QFile old(out.filePath("report.csv"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    MainWindow w;
    w.show();
    selectAnswering(w, treeChild(w.treeModel()->localDatabasesRoot(), "Family"));

    // The real dialog: the CSV filter chosen, a name without suffix typed.
    bool answered = false;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QFileDialog*>(top);
            if (!dialog || !dialog->isVisible() || answered)
                continue;
            auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            if (!types || !name)
                continue;
            answered = true;
            const int csv = types->findText("CSV Files(*.csv)");
            types->setCurrentIndex(csv);
            emit types->activated(csv);  // as a click on the entry
            emit types->textActivated(types->itemText(csv));
            dialog->setDirectory(out.path());
            name->setText("report");
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        }
    });
    timer.start();
    BoxAnswerer boxes(true);
    w.findChild<QAction*>("IDS_MI_EXPORT_TOOLBAR")->trigger();
    timer.stop();
    ASSERT_TRUE(answered);
    ASSERT_GE(boxes.texts.size(), 2) << boxes.texts.join('|').toStdString();
    EXPECT_TRUE(boxes.texts.first().contains("report.csv")) << boxes.texts.first().toStdString();
    EXPECT_EQ(boxes.texts.last(), "Successfully exported 2 Messages.");
    EXPECT_EQ(w.exportCommands()->lastOutput(), out.filePath("report.csv"));
    EXPECT_TRUE(readText(out.filePath("report.csv")).contains("Anna says 1"));
    EXPECT_FALSE(QFileInfo::exists(out.filePath("report")));
}

TEST(WindowExport, PdfFilesThroughTheMenus)
{
    resetDataFolder();
    buildNamedChats(localDbPath("Family"), ChatDbLayout::Local, false, {"Anna", "Bob"}, 3);
    QTemporaryDir out;
    MainWindow w;
    w.show();
    Dialogs dialogs;
    dialogs.install(w.exportCommands());
    auto* family = treeChild(w.treeModel()->localDatabasesRoot(), "Family");
    ASSERT_NE(family, nullptr);
    selectAnswering(w, family);
    dialogs.path = out.filePath("chats.pdf");
    dialogs.filter = "PDF Files(*.pdf)";
    {
        BoxAnswerer boxes;
        std::unique_ptr<QMenu> menu(w.createTreeContextMenu());
        triggerEntry(menu.get(), "IDS_MI_EXPORT_ALL");
        ASSERT_FALSE(boxes.texts.isEmpty());
        EXPECT_EQ(boxes.texts.last(), "Successfully exported 6 Messages.");
    }
    // The chosen name without its suffix, and "-pdf": a folder of files.
    const QString folder = out.filePath("chats-pdf");
    EXPECT_EQ(w.exportCommands()->lastOutput(), folder);
    QStringList files = QDir(folder).entryList(QDir::Files);
    files.sort();
    ASSERT_EQ(files.size(), 2) << files.join(' ').toStdString();
    EXPECT_TRUE(files[0].startsWith("Anna") && files[0].endsWith(".pdf"));
    EXPECT_TRUE(files[1].startsWith("Bob") && files[1].endsWith(".pdf"));
    for (const QString& f : files)
        EXPECT_TRUE(readText(folder + "/" + f).startsWith("%PDF-"));
    EXPECT_FALSE(QFileInfo::exists(out.filePath("chats.pdf")));
}
