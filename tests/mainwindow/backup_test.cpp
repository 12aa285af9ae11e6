// Backing chats up into local databases through the menus, and deleting
// such a database again.
#include "app/itemmodelsms.h"
#include "app/mainwindow.h"
#include "app/mytreeview.h"
#include "base/datafolder.h"
#include "windowtestsupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// While alive, answers the local-database chooser with `name` (or cancels
// it with an empty name) and records the name it proposed.
class LocalDbChooser {
public:
    explicit LocalDbChooser(QString name) : m_name(std::move(name))
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w->objectName() != QLatin1String("LocalDbSelForm") || !w->isVisible())
                    continue;
                auto* combo = w->findChild<QComboBox*>(QStringLiteral("cbLocalDbNames"));
                if (!combo)
                    continue;
                proposed = combo->currentText();
                for (int i = 0; i < combo->count(); ++i)
                    offered << combo->itemText(i);
                if (m_name.isEmpty()) {
                    w->findChild<QPushButton*>(QStringLiteral("btnClose"))->click();
                } else {
                    combo->setEditText(m_name);
                    w->findChild<QPushButton*>(QStringLiteral("btnOK"))->click();
                }
                ++shown;
            }
        });
        m_timer.start();
    }
    QString proposed;
    QStringList offered;
    int shown = 0;

private:
    QString m_name;
    QTimer m_timer;
};

AbsTreeItemModel::_ItemNode* childStartingWith(AbsTreeItemModel::_ItemNode* node, const QString& prefix)
{
    for (auto* c : node->children)
        if (c->text.startsWith(prefix))
            return c;
    return nullptr;
}

void triggerTreeMenuEntry(MainWindow& w, const char* name)
{
    std::unique_ptr<QMenu> menu(w.createTreeContextMenu());
    ASSERT_TRUE(menu);
    auto* action = menu->findChild<QAction*>(QString::fromLatin1(name));
    ASSERT_NE(action, nullptr) << name;
    ASSERT_TRUE(action->isEnabled()) << name;
    action->trigger();
}

}  // namespace

TEST(WindowBackup, ChatOfADeviceCopyIntoANewLocalDatabaseAndDeletingItAgain)
{
    resetDataFolder();
    buildNamedChats(localDbPath("Family Archive"), ChatDbLayout::Local, false, {"Grandma"}, 2);
    buildSampleChatDb(deviceCopyPath("Anna's iPhone"), ChatDbLayout::Modern, 0, true);

    MainWindow w;
    w.show();
    ItemModelMain* m = w.treeModel();
    auto* phone = m->devicesRoot()->children.first();
    {
        BoxAnswerer boxes;
        w.selectNode(phone);
    }
    auto* anna = childStartingWith(phone, "Anna(");
    ASSERT_NE(anna, nullptr);
    {
        BoxAnswerer boxes;
        w.selectNode(anna);
    }
    const qint64 annaCount = w.smsModel()->total();
    ASSERT_GT(annaCount, 0);
    EXPECT_TRUE(w.findChild<QAction*>("IDS_MI_BACKUP_TOOLBAR")->isEnabled());

    {
        LocalDbChooser chooser("Anna Backup");
        BoxAnswerer boxes;
        triggerTreeMenuEntry(w, "IDS_MI_BACKUP_CHAT");
        EXPECT_EQ(chooser.shown, 1);
        EXPECT_EQ(chooser.proposed, "Anna's iPhone_Backup");
        EXPECT_TRUE(chooser.offered.contains("Family Archive"));
        ASSERT_FALSE(boxes.texts.isEmpty());
        // The sample lacks some attachment files; the box names them after this.
        EXPECT_TRUE(boxes.texts.last().startsWith(
            QStringLiteral("Successfully backup %1 Messages. (%1 new)").arg(annaCount)))
            << boxes.texts.last().toStdString();
    }
    // The new database is in the tree with its chat, and becomes current
    // once the handler has returned.
    auto* backup = childStartingWith(m->localDatabasesRoot(), "Anna Backup");
    ASSERT_NE(backup, nullptr);
    EXPECT_TRUE(QFileInfo::exists(localDbPath("Anna Backup/ChatStorage.sqlite")));
    EXPECT_TRUE(QFileInfo::exists(localDbPath("Anna Backup/Library/Media/Profile")));
    ASSERT_TRUE(waitFor([&] { return w.currentNode() == backup; }));
    ASSERT_EQ(backup->children.size(), 1);
    EXPECT_TRUE(backup->children.first()->text.startsWith("Anna("));
    EXPECT_EQ(w.smsModel()->total(), annaCount);
    EXPECT_EQ(w.findChild<QLabel*>("lbChatName")->text(), "All");

    // The same chat again, into the same database named in other letters:
    // nothing new, no second node.
    {
        BoxAnswerer boxes;
        w.selectNode(anna);
    }
    {
        LocalDbChooser chooser("anna backup");
        BoxAnswerer boxes;
        w.findChild<QAction*>("IDS_MI_BACKUP_TOOLBAR")->trigger();  // a chat current: the chat
        EXPECT_EQ(chooser.shown, 1);
    }
    EXPECT_EQ(m->localDatabasesRoot()->children.size(), 2);
    ASSERT_TRUE(waitFor([&] { return w.currentNode() == backup; }));
    EXPECT_EQ(w.smsModel()->total(), annaCount);

    // Cancelling the chooser ends the command without a word.
    {
        BoxAnswerer boxes;
        w.selectNode(anna);
    }
    {
        LocalDbChooser chooser{QString()};
        BoxAnswerer boxes;
        triggerTreeMenuEntry(w, "IDS_MI_BACKUP_CHAT");
        EXPECT_EQ(chooser.shown, 1);
        EXPECT_TRUE(boxes.texts.isEmpty());
    }

    // Deleting the new database through the tool bar's Delete.
    {
        BoxAnswerer boxes;
        w.selectNode(backup);
        w.findChild<QAction*>("IDS_MI_DELETE_TOOLBAR")->trigger();
        ASSERT_EQ(boxes.texts.size(), 2);
        EXPECT_EQ(boxes.texts.last(), "Successfully deleted database.");
    }
    EXPECT_FALSE(QFileInfo::exists(localDbPath("Anna Backup")));
    EXPECT_EQ(m->localDatabasesRoot()->children.size(), 1);
    EXPECT_EQ(m->localDatabasesRoot()->children.first()->text, "Family Archive");
    EXPECT_EQ(w.smsModel()->total(), 0);
}
