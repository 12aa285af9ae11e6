// The whole window on a data folder holding a local database and a saved
// device copy: selecting a chat of the copy puts its messages into the list
// and its first page of bubbles into the web view.
#include "app/itemmodelsms.h"
#include "app/mainwindow.h"
#include "app/mytreeview.h"
#include "app/wabubbleviewmgr.h"
#include "windowtestsupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <gtest/gtest.h>

namespace {

QString bodyText(QWebEngineView* view)
{
    QString text;
    bool done = false;
    view->page()->runJavaScript(QStringLiteral("document.body ? document.body.innerText : ''"),
                                QWebEngineScript::ApplicationWorld, [&](const QVariant& v) {
                                    text = v.toString();
                                    done = true;
                                });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 60000));
    return text;
}

}  // namespace

TEST(WindowBubbles, SelectingAChatOfADeviceCopyShowsItsFirstMessageAsBubble)
{
    resetDataFolder();
    buildNamedChats(localDbPath("Family Archive"), ChatDbLayout::Local, false, {"Grandma"}, 3);
    const SampleChatDb sample = buildSampleChatDb(deviceCopyPath("Anna's iPhone"), ChatDbLayout::Modern, 0, true);

    MainWindow w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    ItemModelMain* m = w.treeModel();
    ASSERT_EQ(m->localDatabasesRoot()->children.size(), 1);
    ASSERT_EQ(m->devicesRoot()->children.size(), 1);
    auto* phone = m->devicesRoot()->children.first();
    {
        BoxAnswerer boxes;
        w.selectNode(phone);
        EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join('\n').toStdString();
    }
    ASSERT_EQ(phone->children.size(), sample.expectedChats);
    AbsTreeItemModel::_ItemNode* anna = nullptr;
    for (auto* c : phone->children)
        if (c->text.startsWith("Anna("))
            anna = c;
    ASSERT_NE(anna, nullptr);

    QSignalSpy loaded(w.webView(), &QWebEngineView::loadFinished);
    {
        BoxAnswerer boxes;
        w.selectNode(anna);
        ASSERT_TRUE(loaded.wait(60000) || loaded.count() > 0);
        EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join('\n').toStdString();
    }
    EXPECT_EQ(w.findChild<QLabel*>("lbChatName")->text(), "Anna");
    EXPECT_TRUE(w.findChild<QLabel*>("lbChatImg")->isVisible());
    ASSERT_TRUE(waitFor([&] { return w.smsModel()->rowCount() > 0; }));
    // The emoji as a character, as the bubbles show it and a search finds it.
    EXPECT_EQ(w.smsModel()->index(0, 3).data().toString(), QStringLiteral("Hello Anna \U0001F600"));
    EXPECT_EQ(w.bubbleView()->page(), 1);
    EXPECT_EQ(w.bubbleView()->total(), w.smsModel()->total());

    const QString text = bodyText(w.webView());
    EXPECT_TRUE(text.contains("Hello Anna")) << text.toStdString();
    // The bubbles are those of this chat only.
    EXPECT_FALSE(text.contains("Grandma says")) << text.toStdString();
    // Replies show a quote block, never the list's bracketed preview.
    EXPECT_TRUE(w.bubbleView()->currentHtml().contains("class=\"quote\"")) << w.bubbleView()->currentHtml().toStdString();
    EXPECT_FALSE(text.contains("[QUOTED]")) << text.toStdString();

    // An emoji is found by itself, and the word "EMOJI" no longer matches.
    struct Case {
        QString keyword;
        bool found;
    } cases[] = {{QStringLiteral("\U0001F600"), true}, {QStringLiteral("EMOJI"), false}};
    for (const Case& c : cases) {
        w.smsView()->clearSelection();
        w.smsView()->setCurrentIndex(QModelIndex());
        w.findChild<QLineEdit*>("txtSMSKeyword")->setText(c.keyword);
        BoxAnswerer boxes;
        w.searchMessages();
        EXPECT_EQ(boxes.texts.isEmpty(), c.found) << c.keyword.toStdString();
        if (c.found)
            EXPECT_EQ(w.smsView()->currentIndex().row(), 0);
    }
}

TEST(WindowBubbles, AllChatsNameTheirChatAndTheSelectionIsOutlinedOnAnyPage)
{
    resetDataFolder();
    {
        ChatDbBuilder b(localDbPath("Paged"), ChatDbLayout::Local);
        const qint64 anna = b.addChat("4915550001@s.whatsapp.net", "Anna");
        const qint64 bob = b.addChat("4915550002@s.whatsapp.net", "Bob");
        for (int i = 0; i < 130; ++i)
            b.addMessage({.chat = i < 70 ? anna : bob, .text = QStringLiteral("line %1").arg(i), .date = 700000000.0 + i});
        b.commit();
    }
    MainWindow w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    {
        BoxAnswerer boxes;
        w.selectNode(w.treeModel()->localDatabasesRoot()->children.first());
    }
    ASSERT_EQ(w.smsModel()->total(), 130);
    EXPECT_EQ(w.bubbleView()->pageCount(), 3);
    const QString first = w.bubbleView()->currentHtml();
    EXPECT_TRUE(first.contains("Page 1 of 3")) << first.toStdString();
    EXPECT_TRUE(first.contains(">Anna</div>"));
    // The list's selection takes the bubbles to its page, outlined there.
    QSignalSpy loaded(w.webView(), &QWebEngineView::loadFinished);
    w.smsView()->setCurrentIndex(w.smsModel()->index(120, 0));
    EXPECT_EQ(w.bubbleView()->page(), 3);
    const QString third = w.bubbleView()->currentHtml();
    EXPECT_TRUE(third.contains("Page 3 of 3"));
    EXPECT_TRUE(third.contains(">Bob</div>")) << third.toStdString();
    EXPECT_FALSE(third.contains(">Anna</div>"));
    ASSERT_TRUE(loaded.wait(20000) || loaded.count() > 0);
    const qint64 pk = w.bubbleView()->selectedMessage();
    ASSERT_GT(pk, 0);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            bool done = false;
            bool outlined = false;
            w.webView()->page()->runJavaScript(
                QStringLiteral("(function(){var m=document.getElementById('msg_%1');return !!m && m.classList.contains('bb_sel');})()")
                    .arg(pk),
                QWebEngineScript::ApplicationWorld, [&](const QVariant& v) {
                    outlined = v.toBool();
                    done = true;
                });
            (void)QTest::qWaitFor([&] { return done; }, 2000);
            return outlined;
        },
        10000));
}
