// The message search and the two small dialogs.
#include "app/aboutusform.h"
#include "app/datasourceselform.h"
#include "app/itemmodelmain.h"
#include "app/itemmodelsms.h"
#include "app/mainwindow.h"
#include "app/mytreeview.h"
#include "app/wabubbleviewmgr.h"
#include "base/busylock.h"
#include "windowtestsupport.h"

#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetDataFolder();
        ChatDbBuilder b(localDbPath("Big"), ChatDbLayout::Local);
        const qint64 chat = b.addChat("4915550001@s.whatsapp.net", "Anna");
        addHayWithNeedle(b, chat, 1234, 500, QStringLiteral("the Needle in row 500"));
        b.addChat("4915550002@s.whatsapp.net", "Empty Chat");
        b.commit();
    }
};

}  // namespace

TEST_F(SearchTest, FindsTheRowAtABatchBoundaryAndWrapsAround)
{
    MainWindow w;
    w.show();
    AbsTreeItemModel::_ItemNode* big = w.treeModel()->localDatabasesRoot()->children.first();
    {
        BoxAnswerer boxes;
        w.selectNode(big);
    }
    ASSERT_EQ(w.smsModel()->total(), 1234);
    w.findChild<QLineEdit*>("txtSMSKeyword")->setText(" needle ");
    {
        BoxAnswerer boxes;
        w.searchMessages();
        EXPECT_TRUE(boxes.texts.isEmpty());
    }
    EXPECT_GE(w.smsModel()->rowCount(), 501);
    EXPECT_EQ(w.smsView()->currentIndex().row(), 500);
    EXPECT_TRUE(w.smsView()->selectionModel()->isRowSelected(500, QModelIndex()));
    EXPECT_FALSE(BusyLock::isHeld());

    // The next search starts after the match and wraps to it again.
    w.searchMessages();
    EXPECT_EQ(w.smsView()->currentIndex().row(), 500);

    // From the last row the search starts at row 0.
    while (w.smsModel()->canFetchMore(QModelIndex()))
        w.smsModel()->fetchMore(QModelIndex());
    w.smsView()->setCurrentIndex(w.smsModel()->index(1233, 0));
    w.findChild<QLineEdit*>("txtSMSKeyword")->setText("hay 3");
    w.searchMessages();
    EXPECT_EQ(w.smsView()->currentIndex().row(), 3);

    BoxAnswerer boxes;
    w.findChild<QLineEdit*>("txtSMSKeyword")->setText("nothing like it");
    w.searchMessages();
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(boxes.texts.first(), "Find no Message with keyword nothing like it.");
    EXPECT_FALSE(BusyLock::isHeld());
}

TEST_F(SearchTest, EmptyListBusyLockAndEmptyKeyword)
{
    MainWindow w;
    w.show();
    AbsTreeItemModel::_ItemNode* big = w.treeModel()->localDatabasesRoot()->children.first();
    {
        BoxAnswerer boxes;
        w.selectNode(big);
        w.selectNode(big->children.last());  // the chat without messages
    }
    ASSERT_EQ(w.smsModel()->total(), 0);
    w.findChild<QLineEdit*>("txtSMSKeyword")->setText("x");
    {
        BoxAnswerer boxes;
        w.searchMessages();
        ASSERT_EQ(boxes.texts.size(), 1);
        EXPECT_EQ(boxes.texts.first(), "Can't find any Message.");
    }
    w.selectNode(big->children.first());
    w.findChild<QLineEdit*>("txtSMSKeyword")->setText("needle");
    {
        // While an export or print holds the busy lock, a search does nothing.
        BusyLock other;
        ASSERT_TRUE(other.owns());
        w.searchMessages();
        EXPECT_FALSE(w.smsView()->currentIndex().isValid());
    }
    {
        BoxAnswerer boxes;
        w.findChild<QLineEdit*>("txtSMSKeyword")->setText("   ");
        w.searchMessages();
        EXPECT_TRUE(boxes.texts.isEmpty());
        EXPECT_FALSE(w.smsView()->currentIndex().isValid());
    }
}

TEST(DataSourceSelForm, OneCandidateIsPreselectedTwoMustBeChosen)
{
    int first = 1;
    int second = 2;
    {
        DataSourceSelForm form;
        QTimer::singleShot(0, &form, [&] { form.btnOK->pressed(); });
        EXPECT_EQ(form.chooseDataSource("Please select an iPhone:", {{":res/iphone.png", "Anna's iPhone", &first}}),
                  &first);
        EXPECT_EQ(form.lbSelDevice->text(), "Please select an iPhone:");
        EXPECT_EQ(form.size(), QSize(421, 152));
    }
    {
        DataSourceSelForm form;
        BoxAnswerer boxes;
        QTimer::singleShot(0, &form, [&] {
            form.btnOK->pressed();  // nothing chosen: the warning, and the dialog stays
            QTimer::singleShot(100, &form, [&] {
                EXPECT_TRUE(form.isVisible());
                form.cbDevice->setCurrentIndex(1);
                form.btnOK->pressed();
            });
        });
        void* chosen = form.chooseDataSource("Pick", {{":res/iphone.png", "A", &first}, {":res/iphone.png", "B", &second}});
        EXPECT_EQ(chosen, &second);
        ASSERT_EQ(boxes.texts.size(), 1);
        EXPECT_EQ(boxes.texts.first(), "Need to select a Device to continue.");
    }
    {
        DataSourceSelForm form;
        QTimer::singleShot(0, &form, [&] { form.btnClose->pressed(); });
        EXPECT_EQ(form.chooseDataSource("Pick", {{":res/iphone.png", "A", &first}, {":res/iphone.png", "B", &second}}),
                  nullptr);
    }
}

TEST(AboutUsForm, ShowsProductVersionYearAndNoLinkWithoutVendorHost)
{
    AboutUsForm about;
    EXPECT_EQ(about.lbProduct->text(), "Quillometry Chat Transfer v3.2.182");
    EXPECT_TRUE(about.lbCopyRight->text().contains(QString::number(QDate::currentDate().year())));
    EXPECT_TRUE(about.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(about.size(), QSize(400, 194));
    EXPECT_FALSE(about.lbHomePage->isVisibleTo(&about));
    EXPECT_FALSE(about.lbHomePage->text().contains("http"));
}

TEST_F(SearchTest, TheScrollBarSpansTheListAndCtrlEndReachesTheLastMessage)
{
    MainWindow w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    {
        BoxAnswerer boxes;
        w.selectNode(w.treeModel()->localDatabasesRoot()->children.first());
    }
    ASSERT_TRUE(waitFor([&] { return w.smsModel()->rowCount() > 0; }));
    QCoreApplication::processEvents();  // whatever the first layout asks for
    // Every row is there for the scroll bar; only the pages shown are read.
    EXPECT_EQ(w.smsModel()->rowCount(), 1234);
    EXPECT_LT(w.smsModel()->cachedRows(), 1234);
    EXPECT_EQ(w.findChild<QLabel*>("lbSMSCount")->text(), "Messages: 1234");
    QScrollBar* bar = w.smsView()->verticalScrollBar();
    bar->setValue(bar->maximum());
    EXPECT_TRUE(waitFor([&] { return w.smsModel()->isRowCached(1233); }));

    w.smsView()->setFocus();
    QTest::keyClick(w.smsView(), Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(w.smsView()->currentIndex().row(), 1233);
    EXPECT_EQ(w.bubbleView()->page(), w.bubbleView()->pageCount());
    QTest::keyClick(w.smsView(), Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(w.smsView()->currentIndex().row(), 0);
    EXPECT_EQ(w.bubbleView()->page(), 1);
}

// A history longer than the first page is shown at once and counted on
// the side: the status bar says so until the count arrives, and the end of
// the list, the search and the bubbles' pager are those of the whole
// history, also when they are used before the count has arrived.
TEST(WindowCounting, ALongHistoryIsShownBeforeItIsCountedAndEndsAtItsRealEnd)
{
    resetDataFolder();
    ChatDbBuilder b(localDbPath("Long"), ChatDbLayout::Local);
    const qint64 anna = b.addChat("4915550001@s.whatsapp.net", "Anna");
    addHayWithNeedle(b, anna, 5300, 5250, QStringLiteral("the Needle past the first page"));
    b.commit();
    MainWindow w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    AbsTreeItemModel::_ItemNode* db = w.treeModel()->localDatabasesRoot()->children.first();
    QLabel* count = w.findChild<QLabel*>("lbSMSCount");
    const auto select = [&](AbsTreeItemModel::_ItemNode* node) {
        BoxAnswerer boxes;
        w.selectNode(node);
        EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(" | ").toStdString();
    };

    // The count arrives by itself; the page on show keeps its place.
    select(db);
    ASSERT_TRUE(w.smsModel()->isCounting());
    EXPECT_EQ(w.smsModel()->rowCount(), 5000);
    EXPECT_EQ(count->text(), "Messages: counting...");
    EXPECT_EQ(w.bubbleView()->pageCount(), 100);
    ASSERT_TRUE(waitFor([&] { return !w.smsModel()->isCounting(); }));
    EXPECT_EQ(w.smsModel()->rowCount(), 5300);
    EXPECT_EQ(count->text(), "Messages: 5300");
    EXPECT_EQ(w.bubbleView()->pageCount(), 106);
    EXPECT_EQ(w.bubbleView()->page(), 1);
    EXPECT_TRUE(w.bubbleView()->currentHtml().contains("Page 1 of 106"));
    EXPECT_FALSE(w.bubbleView()->currentHtml().contains("Page 1 of 100"));

    // The search walks to the real end before the count has arrived.
    AbsTreeItemModel::_ItemNode* chat = treeChild(db, "Anna");
    ASSERT_TRUE(chat);
    select(chat);
    ASSERT_TRUE(w.smsModel()->isCounting());
    w.findChild<QLineEdit*>("txtSMSKeyword")->setText("needle");
    {
        BoxAnswerer boxes;
        w.searchMessages();
        EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(" | ").toStdString();
    }
    EXPECT_EQ(w.smsView()->currentIndex().row(), 5250);
    EXPECT_EQ(count->text(), "Messages: 5300");

    // Ctrl+End and select-all, after the messages changed (the counts are
    // forgotten), reach the last message and every one.
    static_cast<_AbsDBItemNode*>(db)->view->resetCache();
    select(db);
    ASSERT_TRUE(w.smsModel()->isCounting());
    w.smsView()->setFocus();
    QTest::keyClick(w.smsView(), Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(w.smsView()->currentIndex().row(), 5299);
    EXPECT_EQ(w.bubbleView()->page(), 106);
    EXPECT_EQ(w.bubbleView()->pageCount(), 106);
    static_cast<_AbsDBItemNode*>(db)->view->resetCache();
    select(chat);
    ASSERT_TRUE(w.smsModel()->isCounting());
    w.smsView()->selectAll();
    EXPECT_EQ(w.smsView()->selectionModel()->selectedRows(0).size(), 5300);
}
