// The whole window on a data folder holding a local database and a saved
// device copy: selecting a chat of the copy puts its messages into the list
// and its first page of bubbles into the web view.
#include "app/itemmodelsms.h"
#include "app/mainwindow.h"
#include "app/wabubbleviewmgr.h"
#include "windowtestsupport.h"

#include <QLabel>
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
    EXPECT_EQ(w.smsModel()->index(0, 3).data().toString(), "Hello Anna [EMOJI]");
    EXPECT_EQ(w.bubbleView()->page(), 1);
    EXPECT_EQ(w.bubbleView()->total(), w.smsModel()->total());

    const QString text = bodyText(w.webView());
    EXPECT_TRUE(text.contains("Hello Anna")) << text.toStdString();
    // The bubbles are those of this chat only.
    EXPECT_FALSE(text.contains("Grandma says")) << text.toStdString();
}
