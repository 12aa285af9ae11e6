// What a new user ran into in the window: long bubble pages, a search that
// outlives its chat, deletions and openings that did nothing or too much,
// markup in message boxes, the sort indicator, and commands offered with
// nothing to act on.
#include "app/itemmodelsms.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "app/mytreeview.h"
#include "app/wabubbleviewmgr.h"
#include "base/datafolder.h"
#include "windowtestsupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <gtest/gtest.h>

namespace {


QString pageText(QWebEngineView* view)
{
    QString text;
    bool done = false;
    view->page()->toPlainText([&](const QString& t) {
        text = t;
        done = true;
    });
    waitFor([&] { return done; }, 5000);
    return text;
}

class WindowFaults : public ::testing::Test {
protected:
    void SetUp() override { resetDataFolder(); }
};

}  // namespace

TEST_F(WindowFaults, PageLongerThanTheEngineTakesInMemoryIsShown)
{
    {
        ChatDbBuilder b(localDbPath("Long"), ChatDbLayout::Local);
        const qint64 shortChat = b.addChat("4915550001@s.whatsapp.net", "Short");
        b.addMessage({.chat = shortChat, .text = "short chat marker", .date = 700000000.0});
        const qint64 longChat = b.addChat("4915550002@s.whatsapp.net", "Long");
        // Ten messages of 60,000 characters that markup makes four times
        // longer: far more than 2 MiB of page.
        for (int i = 0; i < 10; ++i)
            b.addMessage({.chat = longChat,
                          .text = QStringLiteral("long chat marker %1 ").arg(i) + QString(60000, QLatin1Char('<')),
                          .date = 600000000.0 + i});
        b.commit();
    }
    MainWindow w;
    w.show();
    auto* db = treeChild(w.treeModel()->localDatabasesRoot(), "Long");
    selectAnswering(w, db);
    ASSERT_EQ(db->children.size(), 2);
    ASSERT_NE(treeChild(db, "Short"), nullptr);
    selectAnswering(w, treeChild(db, "Short"));
    ASSERT_TRUE(waitFor(
        [&] {
            const QString t = pageText(w.webView());
            return t.contains("short chat marker") && !t.contains("long chat marker");
        },
        20000));
    selectAnswering(w, treeChild(db, "Long"));
    EXPECT_TRUE(waitFor(
        [&] {
            const QString t = pageText(w.webView());
            return t.contains("long chat marker 9") && !t.contains("short chat marker");
        },
        30000))
        << pageText(w.webView()).left(200).toStdString();
}

TEST_F(WindowFaults, SearchStopsWhenTheListShowsAnotherChat)
{
    {
        ChatDbBuilder b(localDbPath("Two"), ChatDbLayout::Local);
        const qint64 anna = b.addChat("4915550001@s.whatsapp.net", "Anna");
        addHayWithNeedle(b, anna, 1300, 1200, QStringLiteral("the needle"), QStringLiteral("anna hay"));
        const qint64 bob = b.addChat("4915550002@s.whatsapp.net", "Bob");
        for (int i = 0; i < 2000; ++i)
            b.addMessage({.chat = bob, .text = QStringLiteral("bob hay %1").arg(i), .date = 600000000.0 + i});
        b.commit();
    }
    MainWindow w;
    w.show();
    auto* db = treeChild(w.treeModel()->localDatabasesRoot(), "Two");
    selectAnswering(w, db);
    ASSERT_NE(treeChild(db, "Bob"), nullptr);
    selectAnswering(w, treeChild(db, "Anna"));
    ASSERT_EQ(w.smsModel()->total(), 1300);
    w.findChild<QLineEdit*>("txtSMSKeyword")->setText("needle");
    // The user clicks another chat while the search runs.
    QTimer::singleShot(0, &w, [&] { w.selectNode(treeChild(db, "Bob")); });
    BoxAnswerer boxes(false);
    w.searchMessages();
    EXPECT_EQ(w.findChild<QLabel*>("lbChatName")->text(), "Bob");
    const QModelIndex current = w.smsView()->currentIndex();
    if (current.isValid())
        EXPECT_TRUE(w.smsModel()->data(w.smsModel()->index(current.row(), 3)).toString().contains("needle"))
            << "row " << current.row() << " of another chat selected";
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.shown.join('|').toStdString();
}

TEST_F(WindowFaults, DeletingADatabaseRemovesItsFolderOrSaysWhy)
{
    struct Case {
        const char* name;
        bool link;       // the folder is a link to a database elsewhere
        bool removed;    // the folder is gone afterwards
        QString box;     // part of the one box shown
    } cases[] = {
        {"odd:name?", false, true, "Successfully deleted database."},
        {"linked", true, false, "nothing was deleted"},
    };
    QTemporaryDir elsewhere;
    for (const Case& c : cases) {
        resetDataFolder();
        const QString folder = localDbPath(c.name);
        const QString target = elsewhere.filePath(c.name);
        buildNamedChats(c.link ? target : folder, ChatDbLayout::Local, false, {"Anna"}, 3);
        if (c.link)
            ASSERT_TRUE(QFile::link(target, folder));
        MainWindow w;
        w.show();
        auto* node = treeChild(w.treeModel()->localDatabasesRoot(), c.name);
        ASSERT_NE(node, nullptr) << c.name;
        selectAnswering(w, node);
        BoxAnswerer boxes;  // Yes to the question, OK to the rest
        w.miDeleteAll();
        ASSERT_EQ(boxes.texts.size(), 2) << c.name << ": " << boxes.texts.join('|').toStdString();
        EXPECT_TRUE(boxes.texts.at(1).contains(c.box)) << c.name << ": " << boxes.texts.at(1).toStdString();
        EXPECT_EQ(!QFileInfo(folder).exists() && !QFileInfo(folder).isSymLink(), c.removed) << c.name;
        EXPECT_EQ(treeChild(w.treeModel()->localDatabasesRoot(), c.name) == nullptr, c.removed) << c.name;
        if (c.link)
            EXPECT_TRUE(QFileInfo::exists(target + "/ChatStorage.sqlite"));
    }
}

TEST_F(WindowFaults, SavedCopyWithoutDatabaseIsAnErrorNotANewDatabase)
{
    const QString copy = deviceCopyPath("Empty Copy");
    ASSERT_TRUE(QDir().mkpath(copy));
    MainWindow w;
    w.show();
    auto* node = treeChild(w.treeModel()->devicesRoot(), "Empty Copy");
    ASSERT_NE(node, nullptr);
    BoxAnswerer boxes;
    w.selectNode(node);
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_TRUE(boxes.texts.first().contains("ChatStorage.sqlite")) << boxes.texts.first().toStdString();
    EXPECT_TRUE(QDir(copy).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty())
        << QDir(copy).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).join(',').toStdString();
    EXPECT_TRUE(node->children.isEmpty());
}

TEST_F(WindowFaults, TextsFromUsersAndDataAreShownAsTyped)
{
    buildNamedChats(localDbPath("Db"), ChatDbLayout::Local, false, {"Anna"}, 2);
    MainWindow w;
    w.show();
    auto* db = treeChild(w.treeModel()->localDatabasesRoot(), "Db");
    selectAnswering(w, db);
    const QString typed = "<h1>x</h1> & <b>y";
    struct Case {
        const char* what;
        std::function<void()> run;
    } cases[] = {
        {"message search", [&] { w.findChild<QLineEdit*>("txtSMSKeyword")->setText(typed); w.searchMessages(); }},
        {"chat search", [&] { w.findChild<QLineEdit*>("txtHandleKeyword")->setText(typed); w.searchCotnact(); }},
        {"information", [&] { informationBox("about " + typed); }},
        {"warning", [&] { warningBox("about " + typed); }},
        {"error", [&] { errorBox("about " + typed); }},
    };
    for (const Case& c : cases) {
        BoxAnswerer boxes(false);
        c.run();
        ASSERT_EQ(boxes.shown.size(), 1) << c.what;
        EXPECT_TRUE(boxes.shown.first().contains(typed)) << c.what << ": " << boxes.shown.first().toStdString();
    }
}

TEST_F(WindowFaults, OnlyTheDateColumnShowsASortIndicator)
{
    buildNamedChats(localDbPath("Db"), ChatDbLayout::Local, false, {"Anna"}, 3);
    MainWindow w;
    w.resize(1200, 700);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    auto* db = treeChild(w.treeModel()->localDatabasesRoot(), "Db");
    selectAnswering(w, db);
    selectAnswering(w, treeChild(db, "Anna"));
    QHeaderView* header = w.smsView()->header();
    const auto click = [&](int section) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(section) + 10, header->height() / 2));
    };
    click(0);
    ASSERT_EQ(header->sortIndicatorSection(), 0);
    const Qt::SortOrder order = header->sortIndicatorOrder();
    const QString first = w.smsModel()->data(w.smsModel()->index(0, 3)).toString();
    for (int section : {1, 2, 3}) {
        click(section);
        EXPECT_EQ(header->sortIndicatorSection(), 0) << "section " << section;
        EXPECT_EQ(header->sortIndicatorOrder(), order) << "section " << section;
        EXPECT_EQ(w.smsModel()->data(w.smsModel()->index(0, 3)).toString(), first) << "section " << section;
    }
}

TEST_F(WindowFaults, SelectionCommandsWaitForSelectedRows)
{
    buildNamedChats(localDbPath("Db"), ChatDbLayout::Local, false, {"Anna"}, 3);
    buildNamedChats(deviceCopyPath("Phone"), ChatDbLayout::Modern, true, {"Carl"}, 3);
    MainWindow w;
    w.show();
    struct Case {
        AbsTreeItemModel::_ItemNode* node;
        const char* entry;
    } cases[] = {
        {treeChild(w.treeModel()->localDatabasesRoot(), "Db"), "IDS_MI_DELETE_SEL"},
        {treeChild(w.treeModel()->devicesRoot(), "Phone"), "IDS_MI_BACKUP_SEL"},
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.node, nullptr) << c.entry;
        selectAnswering(w, c.node);
        w.smsView()->clearSelection();
        std::unique_ptr<QMenu> none(w.createSMSContextMenu());
        ASSERT_NE(none, nullptr) << c.entry;
        EXPECT_FALSE(none->findChild<QAction*>(c.entry)->isEnabled()) << c.entry;
        w.smsView()->selectionModel()->select(w.smsModel()->index(1, 0),
                                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
        std::unique_ptr<QMenu> one(w.createSMSContextMenu());
        EXPECT_TRUE(one->findChild<QAction*>(c.entry)->isEnabled()) << c.entry;
    }
}

TEST(QuestionBoxes, DeletingNeedsAClearYes)
{
    struct Case {
        const char* what;
        std::function<void(QMessageBox*)> answer;
    } cases[] = {
        {"Enter", [](QMessageBox* box) { QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : box, Qt::Key_Return); }},
        {"Escape", [](QMessageBox* box) { QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : box, Qt::Key_Escape); }},
    };
    for (const Case& c : cases) {
        bool answered = false;
        int ticksAfter = 0;
        QTimer timer;
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(top);
                if (!box || !box->isVisible())
                    continue;
                if (!answered) {
                    answered = true;
                    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No)) << c.what;
                    c.answer(box);
                } else if (++ticksAfter > 25) {
                    ADD_FAILURE() << c.what << " left the box open";
                    box->button(QMessageBox::Yes)->click();
                }
            }
        });
        timer.start();
        EXPECT_FALSE(questionBox("Delete everything?")) << c.what;
        EXPECT_TRUE(answered) << c.what;
    }
}
