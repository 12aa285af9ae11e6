// The window as a returning and a new user meets it: the first-run hints,
// the tree following the data folder, opening a chat-database folder,
// remembered settings, the keyboard and the scope the questions name.
#include "app/chatfoldercommands.h"
#include "app/itemmodelsms.h"
#include "app/mainwindow.h"
#include "app/messagecommands.h"
#include "app/mytreeview.h"
#include "app/wabubbleviewmgr.h"
#include "app/windowsettings.h"
#include "base/datafolder.h"
#include "base/fileutil.h"
#include "windowtestsupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {


class WindowHabits : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetDataFolder();
        QFile::remove(windowSettingsPath());
    }
    void TearDown() override { QFile::remove(windowSettingsPath()); }
};

}  // namespace

TEST_F(WindowHabits, FirstRunSaysWhatToDoUntilThereIsData)
{
    MainWindow w;
    w.show();
    for (const QString& text : {w.treeView()->emptyHint(), w.bubbleView()->emptyText()})
        for (const char* step : {"Connect an iPhone", "Import an iTunes or Finder backup", "open a chat database folder"})
            EXPECT_TRUE(text.contains(step, Qt::CaseInsensitive)) << step << " missing in: " << text.toStdString();

    // A database made outside the window appears by itself, and the hints go.
    buildNamedChats(localDbPath("Made Elsewhere"), ChatDbLayout::Local, false, {"Anna"}, 2);
    EXPECT_TRUE(waitFor([&] { return treeChild(w.treeModel()->localDatabasesRoot(), "Made Elsewhere") != nullptr; }, 10000));
    EXPECT_TRUE(w.treeView()->emptyHint().isEmpty());
    EXPECT_FALSE(w.bubbleView()->emptyText().contains("Import"));
}

TEST_F(WindowHabits, RefreshFollowsFoldersAddedAndRemovedOutside)
{
    buildNamedChats(localDbPath("Stays"), ChatDbLayout::Local, false, {"Anna"}, 2);
    buildNamedChats(localDbPath("Goes"), ChatDbLayout::Local, false, {"Bob"}, 2);
    MainWindow w;
    w.show();
    auto* goes = treeChild(w.treeModel()->localDatabasesRoot(), "Goes");
    ASSERT_NE(goes, nullptr);
    selectAnswering(w, goes);
    ASSERT_EQ(w.smsModel()->total(), 2);

    removeFolderTree(localDbPath("Goes"));
    buildNamedChats(localDbPath("Comes"), ChatDbLayout::Local, false, {"Carl"}, 1);
    buildNamedChats(deviceCopyPath("Copy"), ChatDbLayout::Modern, true, {"Dora"}, 1);
    QAction* refresh = w.findChild<QAction*>("actRefresh");
    ASSERT_NE(refresh, nullptr);
    EXPECT_EQ(refresh->shortcut(), QKeySequence(Qt::Key_F5));
    refresh->trigger();
    QStringList names;
    for (auto* n : w.treeModel()->localDatabasesRoot()->children)
        names << n->text;
    names.sort();
    EXPECT_EQ(names, (QStringList{"Comes", "Stays"}));
    EXPECT_NE(treeChild(w.treeModel()->devicesRoot(), "Copy"), nullptr);
    // The list no longer shows the messages of the vanished database.
    EXPECT_EQ(w.smsModel()->total(), 0);
}

TEST_F(WindowHabits, OpenChatDatabaseFolderCopiesItAsASavedCopy)
{
    QTemporaryDir outside;
    const QString folder = outside.filePath("WhatsApp");
    buildNamedChats(folder, ChatDbLayout::Modern, true, {"Anna", "Bob"}, 3);
    QDir(folder).mkpath("net.whatsapp.WhatsApp/Library/Media/x");
    QFile media(folder + "/net.whatsapp.WhatsApp/Library/Media/x/photo.jpg");
    ASSERT_TRUE(media.open(QIODevice::WriteOnly));
    media.write("jpeg");
    media.close();
    ASSERT_TRUE(QFileInfo(folder + "/net.whatsapp.WhatsApp/Documents/ChatStorage.sqlite").isFile());

    MainWindow w;
    w.show();
    // The name asked for: first one the rules refuse, then a good one.
    QStringList names{"bad/name", "Anna's old phone"};
    QTimer answer;
    answer.setInterval(30);
    QStringList boxes;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible()) {
                boxes << box->text();
                box->button(QMessageBox::Ok)->click();
            } else if (auto* input = qobject_cast<QInputDialog*>(top); input && input->isVisible() && !names.isEmpty()) {
                input->setTextValue(names.takeFirst());
                input->accept();
            }
        }
    });
    answer.start();
    EXPECT_TRUE(w.chatFolderCommands()->openChatFolder(folder));
    answer.stop();
    ASSERT_EQ(boxes.size(), 1);  // the refused name
    const QString copy = deviceCopyPath("Anna's old phone");
    EXPECT_TRUE(QFileInfo(copy + "/net.whatsapp.WhatsApp/Documents/ChatStorage.sqlite").isFile());
    EXPECT_TRUE(QFileInfo(copy + "/net.whatsapp.WhatsApp/Library/Media/x/photo.jpg").isFile());
    auto* node = treeChild(w.treeModel()->devicesRoot(), "Anna's old phone");
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(waitFor([&] { return node->children.size() == 2; }, 10000));

    // A folder without a chat database is refused with the path named.
    BoxAnswerer errors;
    EXPECT_FALSE(w.chatFolderCommands()->openChatFolder(outside.path()));
    ASSERT_EQ(errors.texts.size(), 1);
    EXPECT_TRUE(errors.texts.first().contains("ChatStorage.sqlite"));
    EXPECT_FALSE(ChatFolderCommands::isBackupFolder(folder));
}

TEST_F(WindowHabits, SizeSplitterAndColumnsAreRememberedInTheDataFolder)
{
    QList<int> sizes;
    int contactWidth = 0;
    {
        MainWindow w;
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        w.resize(1111, 777);
        auto* splitter = w.findChild<QSplitter*>("splitter");
        splitter->setSizes({300, 500, 311});
        sizes = splitter->sizes();
        w.smsView()->header()->resizeSection(2, 177);
        contactWidth = w.smsView()->header()->sectionSize(2);
        w.close();
    }
    EXPECT_TRUE(QFileInfo(windowSettingsPath()).isFile());
    EXPECT_TRUE(windowSettingsPath().startsWith(dataFolder()));
    MainWindow again;
    again.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&again));
    EXPECT_EQ(again.size(), QSize(1111, 777));
    EXPECT_EQ(again.findChild<QSplitter*>("splitter")->sizes(), sizes);
    EXPECT_EQ(again.smsView()->header()->sectionSize(2), contactWidth);
}

TEST_F(WindowHabits, KeyboardFindsCopiesAndDeletes)
{
    buildNamedChats(localDbPath("Db"), ChatDbLayout::Local, false, {"Anna"}, 3);
    MainWindow w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    auto* db = treeChild(w.treeModel()->localDatabasesRoot(), "Db");
    selectAnswering(w, db);
    selectAnswering(w, treeChild(db, "Anna"));
    ASSERT_EQ(w.smsModel()->total(), 3);
    // The progress dialog of the first selection took the focus for a while.
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));

    w.smsView()->setFocus();
    QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(w.findChild<QLineEdit*>("txtSMSKeyword")->hasFocus());
    QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(w.findChild<QLineEdit*>("txtHandleKeyword")->hasFocus());

    // Ctrl+C copies the selected rows as "date – contact: text" lines.
    w.smsView()->setFocus();
    auto* sel = w.smsView()->selectionModel();
    sel->select(w.smsModel()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    sel->select(w.smsModel()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(w.smsView(), Qt::Key_C, Qt::ControlModifier);
    const QStringList lines = QApplication::clipboard()->text().split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines.at(0), w.smsModel()->index(0, 0).data().toString() + " \u2013 Anna: Anna says 0");
    EXPECT_TRUE(lines.at(1).endsWith(" \u2013 Anna: Anna says 2"));

    // Delete asks first, naming what goes; No keeps everything.
    {
        BoxAnswerer no(false);
        QTest::keyClick(w.smsView(), Qt::Key_Delete);
        ASSERT_EQ(no.texts.size(), 1);
        EXPECT_TRUE(no.texts.first().contains("2 selected messages")) << no.texts.first().toStdString();
        EXPECT_TRUE(no.texts.first().contains("\"Db\"")) << no.texts.first().toStdString();
    }
    EXPECT_EQ(w.smsModel()->total(), 3);
    {
        BoxAnswerer yes;
        QTest::keyClick(w.smsView(), Qt::Key_Delete);
    }
    EXPECT_EQ(w.smsModel()->total(), 1);
}

TEST_F(WindowHabits, QuestionsAndTheChooserNameTheirScope)
{
    buildNamedChats(deviceCopyPath("Anna's iPhone"), ChatDbLayout::Modern, true, {"Anna", "Bob", "Carl"}, 4);
    MainWindow w;
    w.show();
    auto* phone = treeChild(w.treeModel()->devicesRoot(), "Anna's iPhone");
    selectAnswering(w, phone);
    MessageCommands* m = w.messages();
    EXPECT_EQ(m->scopeDescription(CommandScope::All), "all 3 chats of Anna's iPhone (12 messages)");
    selectAnswering(w, phone->children.first());
    EXPECT_EQ(m->scopeDescription(CommandScope::Chat), "the chat Anna (4 messages)");
    w.smsView()->selectionModel()->select(w.smsModel()->index(1, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(m->scopeDescription(CommandScope::Selected), "1 selected message");
    EXPECT_EQ(MessageCommands::messagesText(1240), "1,240 messages");

    // The tool bar's Backup with a row selected offers the chat and the
    // whole phone too; choosing the chat backs up all four messages.
    QStringList offered;
    QTimer chooser;
    chooser.setInterval(30);
    QObject::connect(&chooser, &QTimer::timeout, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* scope = top->findChild<QComboBox*>("cbScope");
            if (!scope || !top->isVisible() || !offered.isEmpty())
                continue;
            for (int i = 0; i < scope->count(); ++i)
                offered << scope->itemText(i);
            scope->setCurrentIndex(1);
            top->findChild<QComboBox*>("cbLocalDbNames")->setEditText("Chosen");
            top->findChild<QPushButton*>("btnOK")->click();
        }
    });
    chooser.start();
    {
        BoxAnswerer boxes;
        w.findChild<QAction*>("IDS_MI_BACKUP_TOOLBAR")->trigger();
        ASSERT_FALSE(boxes.texts.isEmpty());
        EXPECT_EQ(boxes.texts.last(), "Successfully backup 4 Messages. (4 new)");
    }
    chooser.stop();
    EXPECT_EQ(offered, (QStringList{"1 selected message", "the chat Anna (4 messages)",
                                    "all 3 chats of Anna's iPhone (12 messages)"}));
}

TEST_F(WindowHabits, DeleteSavedCopyRemovesItsOwnFolderOnly)
{
    QTemporaryDir elsewhere;
    buildNamedChats(deviceCopyPath("Old Phone"), ChatDbLayout::Modern, true, {"Anna"}, 2);
    buildNamedChats(elsewhere.filePath("Linked"), ChatDbLayout::Modern, true, {"Bob"}, 2);
    ASSERT_TRUE(QFile::link(elsewhere.filePath("Linked"), deviceCopyPath("Linked Phone")));
    MainWindow w;
    w.show();
    struct Case {
        const char* name;
        bool removed;
    } cases[] = {{"Old Phone", true}, {"Linked Phone", false}};
    for (const Case& c : cases) {
        auto* copy = treeChild(w.treeModel()->devicesRoot(), c.name);
        ASSERT_NE(copy, nullptr) << c.name;
        selectAnswering(w, copy);
        std::unique_ptr<QMenu> menu(w.createTreeContextMenu());
        QAction* remove = menu->findChild<QAction*>("actDeleteSavedCopy");
        ASSERT_NE(remove, nullptr) << c.name;
        BoxAnswerer yes;
        remove->trigger();
        ASSERT_EQ(yes.texts.size(), 2) << c.name;
        EXPECT_TRUE(yes.texts.first().contains(QStringLiteral("\"%1\"").arg(c.name))) << yes.texts.first().toStdString();
        EXPECT_EQ(!QFileInfo(deviceCopyPath(c.name)).exists(), c.removed) << c.name;
        EXPECT_EQ(treeChild(w.treeModel()->devicesRoot(), c.name) == nullptr, c.removed) << c.name;
    }
    // The link's target is untouched.
    EXPECT_TRUE(QFileInfo(elsewhere.filePath("Linked/net.whatsapp.WhatsApp/Documents/ChatStorage.sqlite")).isFile());
}

TEST_F(WindowHabits, ADroppedChatFolderIsOpenedAndAnythingElseRefused)
{
    QTemporaryDir outside;
    const QString folder = outside.filePath("Dropped");
    buildNamedChats(folder, ChatDbLayout::Local, false, {"Anna"}, 2);
    MainWindow w;
    w.show();
    QTimer answer;
    answer.setInterval(30);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* input = qobject_cast<QInputDialog*>(top); input && input->isVisible())
                input->accept();  // the folder's own name
    });
    answer.start();
    const auto drop = [&](const QString& path) { return dropPath(w, path); };
    EXPECT_TRUE(drop(folder));
    EXPECT_TRUE(waitFor([&] { return treeChild(w.treeModel()->devicesRoot(), "Dropped") != nullptr; }, 15000));
    EXPECT_TRUE(QFileInfo(deviceCopyPath("Dropped") + "/ChatStorage.sqlite").isFile());

    BoxAnswerer boxes;
    EXPECT_TRUE(drop(outside.path()));  // a folder, but neither kind
    EXPECT_TRUE(waitFor([&] { return !boxes.texts.isEmpty(); }));
    EXPECT_TRUE(boxes.texts.first().contains("neither an iTunes or Finder backup nor a chat database folder"));
}

TEST_F(WindowHabits, LooksTellWhatIsOffAndDatesFit)
{
    MainWindow w;
    w.show();
    // Without a vendor host the web pages say why they are off; the status
    // bar is not left with a stale note.
    for (const char* name : {"IDS_MI_HELP", "IDS_MI_FEEDBACK", "IDS_MI_HOME", "IDS_MI_CHECK_UPDATE"}) {
        QAction* a = w.findChild<QAction*>(name);
        ASSERT_NE(a, nullptr) << name;
        if (!a->isEnabled()) {
            EXPECT_TRUE(a->toolTip().endsWith("No vendor server is configured in this build.")) << name;
            EXPECT_TRUE(a->statusTip().isEmpty()) << name;
        }
    }
    // Disabled tool-bar icons are grey and faint.
    QAction* backup = w.findChild<QAction*>("IDS_MI_BACKUP_TOOLBAR");
    ASSERT_FALSE(backup->isEnabled());
    const QImage on = backup->icon().pixmap(52, QIcon::Normal).toImage();
    const QImage off = backup->icon().pixmap(52, QIcon::Disabled).toImage();
    ASSERT_FALSE(off.isNull());
    EXPECT_NE(on, off);
    // The date column takes the longest short date with its icon.
    const QString longDate = ItemModelSms::dateText(1009843199.0);
    EXPECT_GE(w.smsView()->header()->sectionSize(0), w.smsView()->fontMetrics().horizontalAdvance(longDate) + 18);
}

TEST_F(WindowHabits, MenuAndToolBarBandSpansAWideWindow)
{
    MainWindow w;
    w.resize(1600, 700);
    w.show();
    QApplication::processEvents();
    ASSERT_GE(w.width(), 1500);
    const QImage shot = w.grab().toImage();
    const QImage picture(QStringLiteral(":main_bg.jpg"));
    ASSERT_FALSE(picture.isNull());
    // Right of the picture, each bar shows the colour of the picture's band
    // at its height (the band is the same colour all across).
    for (QWidget* bar : {static_cast<QWidget*>(w.menuBar()), w.findChild<QWidget*>(QStringLiteral("mainToolBar"))}) {
        ASSERT_NE(bar, nullptr);
        const QRect r = bar->geometry();
        for (const int y : {r.top() + 1, r.center().y(), r.bottom() - 1}) {
            const QColor want = picture.pixelColor(picture.width() - 1, y);
            for (const int x : {picture.width() + 20, w.width() - 5}) {
                const QColor got = shot.pixelColor(x, y);
                const int diff = qMax(qAbs(got.red() - want.red()),
                                      qMax(qAbs(got.green() - want.green()), qAbs(got.blue() - want.blue())));
                EXPECT_LE(diff, 3) << bar->objectName().toStdString() << " at " << x << "," << y << ": "
                                   << got.name().toStdString() << " instead of " << want.name().toStdString();
            }
        }
    }
}
