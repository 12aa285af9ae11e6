#include "app/mainwindow.h"
#include "app/stylesheet.h"

#include <QLabel>
#include <QSplitter>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

namespace {

QStringList g_warnings;

void collectWarnings(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        g_warnings << message;
}

}  // namespace

TEST(MainWindowFrame, ThreePanesCarryTheNamesTheStyleSheetAddresses)
{
    ASSERT_FALSE(styleSheetText().isEmpty());
    EXPECT_TRUE(styleSheetText().contains("#FE9516"));
    g_warnings.clear();
    QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
    {
        MainWindow window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        for (const char* name : {"splitter", "treeViewDS", "treeViewSMS", "lbSMSCount", "lbConversation",
                                 "lbChatName", "lbChatImg", "webViewSMS", "txtHandleKeyword", "btnSearchSMS"})
            EXPECT_NE(window.findChild<QWidget*>(name), nullptr) << name;
        auto* splitter = window.findChild<QSplitter*>("splitter");
        ASSERT_NE(splitter, nullptr);
        EXPECT_EQ(splitter->count(), 3);
        EXPECT_EQ(window.windowTitle(), "Quillometry Chat Transfer");
        EXPECT_EQ(window.findChild<QLabel*>("lbSMSCount")->height(), 25);
    }
    qInstallMessageHandler(previous);
    for (const QString& w : g_warnings)
        EXPECT_FALSE(w.contains("stylesheet", Qt::CaseInsensitive)) << w.toStdString();
}
