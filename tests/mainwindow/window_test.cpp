// The main window on a data folder of its own: start-up filling, command
// enabling, scopes, the chat search, the header strip and the delete flows.
#include "app/itemmodelsms.h"
#include "app/mainwindow.h"
#include "app/mytreeview.h"
#include "app/wabubbleviewmgr.h"
#include "base/apperror.h"
#include "base/datafolder.h"
#include "chatstore/chatdbview.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/wamsgsdatasource.h"
#include "chatstore/wamsgslistsource.h"
#include "windowtestsupport.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

namespace {

AbsTreeItemModel::_ItemNode* child(AbsTreeItemModel::_ItemNode* node, const QString& text)
{
    for (auto* c : node->children)
        if (c->text == text)
            return c;
    return nullptr;
}

QAction* action(MainWindow& w, const char* name)
{
    return w.findChild<QAction*>(QString::fromLatin1(name));
}

// Selects a node the way a click does, answering any box that opens.
void select(MainWindow& w, AbsTreeItemModel::_ItemNode* node)
{
    BoxAnswerer boxes;
    w.selectNode(node);
}

QStringList chatNames(AbsTreeItemModel::_ItemNode* node)
{
    QStringList names;
    for (auto* c : node->children)
        names << c->text;
    return names;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { resetDataFolder(); }
};

}  // namespace

TEST(CommandEnabling, RulesOverNodeKindsAndIPhoneCounts)
{
    struct Case {
        int kind;
        int iphones;
        CommandEnabling expected;  // backup, i2i, db2i, extract, export, print, delete
    };
    const Case cases[] = {
        {0, 0, {false, false, false, false, false, false, false}},
        {0, 3, {false, false, false, false, false, false, false}},
        {kNodeRootDevice, 2, {false, false, false, false, false, false, false}},
        {kNodeRootLocalDb, 2, {false, false, false, false, false, false, false}},
        {kNodeIPhone, 0, {true, false, false, true, true, true, false}},
        {kNodeIPhone, 1, {true, false, false, true, true, true, false}},
        {kNodeIPhone, 2, {true, true, false, true, true, true, false}},
        {kNodeLocalDb, 0, {false, false, false, true, true, true, true}},
        {kNodeLocalDb, 1, {false, false, true, true, true, true, true}},
        {kNodeLocalDb, 5, {false, false, true, true, true, true, true}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CommandEnabling::forNode(c.kind, c.iphones), c.expected) << "kind " << c.kind << " iphones " << c.iphones;
}

TEST_F(WindowTest, StartUpListsDatabasesAndCopiesWithoutOpeningThem)
{
    buildNamedChats(localDbPath("a"), ChatDbLayout::Local, false, {"A1"}, 1);
    buildNamedChats(localDbPath("B"), ChatDbLayout::Local, false, {"B1"}, 1);
    QDir().mkpath(localDbPath("no database here"));
    buildNamedChats(deviceCopyPath("Anna's iPhone"), ChatDbLayout::Modern, true, {"Carl"}, 2);
    MainWindow w;
    ItemModelMain* m = w.treeModel();
    EXPECT_EQ(chatNames(m->localDatabasesRoot()), (QStringList{"B", "a"}));
    EXPECT_TRUE(w.treeView()->isExpanded(m->indexOf(m->localDatabasesRoot())));
    ASSERT_EQ(m->devicesRoot()->children.size(), 1);
    auto* phone = static_cast<_IOSDeviceItemNode*>(m->devicesRoot()->children.first());
    EXPECT_EQ(phone->text, "Anna's iPhone");
    EXPECT_TRUE(phone->offlineCopy);
    EXPECT_EQ(phone->device->udid, QDir::cleanPath(deviceCopyPath("Anna's iPhone")));
    auto phoneDb = std::dynamic_pointer_cast<IOSWhatsAppDb>(phone->view->database());
    ASSERT_TRUE(phoneDb);
    EXPECT_TRUE(phoneDb->contactsPath().endsWith("net.whatsapp.WhatsApp/Documents/Contacts.sqlite"));
    EXPECT_FALSE(phoneDb->upgradeFlag());
    // Nothing is opened or listed before the first selection.
    EXPECT_FALSE(phoneDb->isOpen());
    EXPECT_TRUE(phone->children.isEmpty());
    EXPECT_EQ(w.findChild<QLabel*>("lbSMSCount")->text(), "Messages: 0");
    EXPECT_FALSE(w.findChild<QLabel*>("lbChatImg")->isVisibleTo(&w));
}

TEST_F(WindowTest, SelectionEnablesTheCommandsOfTheNodeKind)
{
    buildNamedChats(localDbPath("Family"), ChatDbLayout::Local, false, {"Anna", "Bob"}, 2);
    buildNamedChats(deviceCopyPath("Phone"), ChatDbLayout::Modern, true, {"Carl"}, 2);
    MainWindow w;
    w.show();
    ItemModelMain* m = w.treeModel();
    const char* const seven[] = {"IDS_MI_BACKUP_TOOLBAR", "IDS_MI_I2I_TOOLBAR", "IDS_MI_DB2I_TOOLBAR",
                                 "IDS_MI_EXTRACT_MEDIA_TOOLBAR", "IDS_MI_EXPORT_TOOLBAR", "IDS_MI_PRINT_TOOLBAR",
                                 "IDS_MI_DELETE_TOOLBAR"};
    for (const char* name : seven) {
        ASSERT_NE(action(w, name), nullptr) << name;
        EXPECT_FALSE(action(w, name)->isEnabled()) << name;
    }
    auto* family = child(m->localDatabasesRoot(), "Family");
    select(w, family);
    ASSERT_EQ(family->children.size(), 2);
    EXPECT_TRUE(action(w, "IDS_MI_DELETE_TOOLBAR")->isEnabled());
    EXPECT_FALSE(action(w, "IDS_MI_BACKUP_TOOLBAR")->isEnabled());
    // A saved device copy is no phone to transfer to: without a connected
    // one the transfer stays disabled (and is no missing feature).
    EXPECT_FALSE(action(w, "IDS_MI_DB2I_TOOLBAR")->isEnabled());
    EXPECT_FALSE(action(w, "IDS_MI_DB2I_TOOLBAR")->toolTip().contains("Not available"));

    select(w, family->children.first());  // a chat enables what its parent enables
    EXPECT_TRUE(action(w, "IDS_MI_DELETE_TOOLBAR")->isEnabled());

    select(w, m->devicesRoot());
    for (const char* name : seven)
        EXPECT_FALSE(action(w, name)->isEnabled()) << name;
    EXPECT_EQ(w.smsModel()->total(), 0);

    select(w, m->devicesRoot()->children.first());
    EXPECT_FALSE(action(w, "IDS_MI_DELETE_TOOLBAR")->isEnabled());
    EXPECT_TRUE(action(w, "IDS_MI_OPEN_DB_FOLDER")->isEnabled());
    EXPECT_TRUE(action(w, "IDS_MI_ABOUT")->isEnabled());
    // No vendor web server in this build: the web pages cannot be opened.
    EXPECT_FALSE(action(w, "IDS_MI_HELP")->isEnabled());
    EXPECT_FALSE(action(w, "IDS_MI_HOME")->isEnabled());

    // The phone's context menu: I2i needs a second phone; Disconnect is there.
    std::unique_ptr<QMenu> menu(w.createTreeContextMenu());
    ASSERT_TRUE(menu);
    QStringList texts;
    for (QAction* a : menu->actions())
        if (!a->isSeparator())
            texts << a->text();
    EXPECT_EQ(texts.first(), "Backup Messages");
    EXPECT_TRUE(texts.contains("Disconnect Device"));
    EXPECT_FALSE(menu->findChild<QAction*>("IDS_MI_I2I_ALL")->isEnabled());
    EXPECT_TRUE(menu->findChild<QAction*>("IDS_MI_UNMOUNT_DEVICE")->isEnabled());

    select(w, m->devicesRoot());
    EXPECT_EQ(w.createTreeContextMenu(), nullptr);
}

TEST_F(WindowTest, AutomaticScopeFollowsSelectionThenTreeNode)
{
    buildNamedChats(localDbPath("Family"), ChatDbLayout::Local, false, {"Anna", "Bob"}, 4);
    MainWindow w;
    w.show();
    EXPECT_EQ(w.automaticScope(), CommandScope::Nothing);
    auto* family = child(w.treeModel()->localDatabasesRoot(), "Family");
    select(w, family);
    EXPECT_EQ(w.automaticScope(), CommandScope::All);
    EXPECT_EQ(w.scopeSource(CommandScope::All)->count(), 8);

    select(w, family->children.at(1));  // Bob
    EXPECT_EQ(w.automaticScope(), CommandScope::Chat);
    EXPECT_EQ(w.scopeSource(CommandScope::Chat), w.smsModel()->source());
    EXPECT_EQ(w.scopeSource(CommandScope::Chat)->count(), 4);
    ASSERT_TRUE(waitFor([&] { return w.smsModel()->rowCount() == 4; }));  // the view loads the rows

    // Rows selected: the selected messages, in selection order.
    w.smsView()->selectionModel()->select(w.smsModel()->index(2, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    w.smsView()->selectionModel()->select(w.smsModel()->index(0, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(w.automaticScope(), CommandScope::Selected);
    PAbsWAMsgsSource selected = w.scopeSource(CommandScope::Selected);
    ASSERT_EQ(selected->count(), 2);
    EXPECT_EQ(selected->at(0).ZTEXT, "Bob says 2");
    EXPECT_EQ(selected->at(1).ZTEXT, "Bob says 0");
}

TEST_F(WindowTest, ChatsNewestFirstAndSearchStepsThroughMatchesAndWraps)
{
    buildNamedChats(localDbPath("Family"), ChatDbLayout::Local, false, {"Anna", "Joanna", "Bob"}, 2);
    MainWindow w;
    w.show();
    auto* family = child(w.treeModel()->localDatabasesRoot(), "Family");
    select(w, family);
    EXPECT_EQ(chatNames(family),
              (QStringList{"Anna(4915550010)", "Joanna(4915550011)", "Bob(4915550012)"}));
    EXPECT_TRUE(w.treeView()->isExpanded(w.treeModel()->indexOf(family)));
    EXPECT_EQ(w.findChild<QLabel*>("lbChatName")->text(), "All");
    EXPECT_EQ(w.findChild<QLabel*>("lbSMSCount")->text(), "Messages: 6");

    w.findChild<QLineEdit*>("txtHandleKeyword")->setText("  anna ");
    QStringList visited;
    for (int i = 0; i < 3; ++i) {
        BoxAnswerer boxes;
        w.searchCotnact();
        visited << w.currentNode()->text;
        EXPECT_TRUE(boxes.texts.isEmpty());
    }
    EXPECT_EQ(visited, (QStringList{"Anna(4915550010)", "Joanna(4915550011)", "Anna(4915550010)"}));
    EXPECT_EQ(w.findChild<QLabel*>("lbChatName")->text(), "Anna");

    // From the last chat the search wraps to the first rows.
    w.selectNode(family->children.last());
    w.findChild<QLineEdit*>("txtHandleKeyword")->setText("JOANNA");
    w.searchCotnact();
    EXPECT_EQ(w.currentNode()->text, "Joanna(4915550011)");

    BoxAnswerer boxes;
    w.findChild<QLineEdit*>("txtHandleKeyword")->setText("zelda");
    w.searchCotnact();
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(boxes.texts.first(), "Find no contact with keyword zelda.");
}

TEST_F(WindowTest, HeaderStripNameRuleAndSortingReloadsFromTheDatabase)
{
    buildNamedChats(localDbPath("Family"), ChatDbLayout::Local, false,
                    {"Abcdefghijklmnopqrst", "Abcdefghijklmnopqrstu"}, 3);
    MainWindow w;
    w.show();
    auto* family = child(w.treeModel()->localDatabasesRoot(), "Family");
    select(w, family);
    select(w, family->children.at(0));
    EXPECT_EQ(w.findChild<QLabel*>("lbChatName")->text(), "Abcdefghijklmnopqrst");
    select(w, family->children.at(1));
    EXPECT_EQ(w.findChild<QLabel*>("lbChatName")->text(), "Abcdefghijklmnopq...");
    EXPECT_EQ(w.smsView()->header()->sortIndicatorSection(), -1);

    QTest::qWait(0);
    w.smsModel()->fetchMore(QModelIndex());
    EXPECT_EQ(w.smsModel()->index(0, 3).data().toString(), "Abcdefghijklmnopqrstu says 0");
    w.smsView()->header()->setSortIndicator(0, Qt::DescendingOrder);
    w.smsModel()->fetchMore(QModelIndex());
    EXPECT_EQ(w.smsModel()->index(0, 3).data().toString(), "Abcdefghijklmnopqrstu says 2");
    // Any other column changes nothing but the indicator.
    w.smsView()->header()->setSortIndicator(2, Qt::AscendingOrder);
    w.smsModel()->fetchMore(QModelIndex());
    EXPECT_EQ(w.smsModel()->index(0, 3).data().toString(), "Abcdefghijklmnopqrstu says 2");
}

TEST_F(WindowTest, DeletingAChatRemovesItsMediaFolderAndNothingOutside)
{
    const QString root = localDbPath("Family");
    {
        ChatDbBuilder b(root, ChatDbLayout::Local);
        const qint64 anna = b.addChat("4915550001@s.whatsapp.net", "Anna");
        b.addMessage({.chat = anna, .text = "hi", .date = 700000100});
        const qint64 evil = b.addChat("../../outside@s.whatsapp.net", "Evil");
        b.addMessage({.chat = evil, .text = "boo", .date = 700000000});
        b.writeMediaFile("Media/4915550001@s.whatsapp.net/a/IMG.jpg", "jpeg");
        b.commit();
    }
    // A folder the hostile chat's JID would reach from the media folder.
    const QString outside = QDir(root).filePath("Library/Media/../../outside@s.whatsapp.net");
    QDir().mkpath(outside);
    QFile(outside + "/keep.txt").open(QIODevice::WriteOnly);

    MainWindow w;
    w.show();
    auto* family = child(w.treeModel()->localDatabasesRoot(), "Family");
    select(w, family);
    ASSERT_EQ(family->children.size(), 2);

    {
        BoxAnswerer boxes;
        w.selectNode(family->children.at(1));  // Evil
        w.miDeleteChat();
        ASSERT_EQ(boxes.texts.size(), 2);
        // The question names the chat and the database.
        EXPECT_TRUE(boxes.texts.at(0).startsWith("Confirm to delete Messages with this contact?\n\nThis deletes the chat "))
            << boxes.texts.at(0).toStdString();
        EXPECT_TRUE(boxes.texts.at(0).endsWith("from the local database \"Family\".")) << boxes.texts.at(0).toStdString();
        EXPECT_EQ(boxes.texts.at(1), "Successfully deleted Messages with this contact.");
    }
    EXPECT_TRUE(QFile::exists(outside + "/keep.txt"));
    EXPECT_EQ(chatNames(family), (QStringList{"Anna(4915550001)"}));

    {
        BoxAnswerer no(false);
        w.selectNode(family->children.at(0));
        w.miDeleteChat();
        EXPECT_EQ(no.texts.size(), 1);
    }
    EXPECT_EQ(family->children.size(), 1);
    {
        BoxAnswerer boxes;
        w.selectNode(family->children.at(0));
        w.miDeleteToolbar();  // no rows selected, a chat current: deletes the chat
    }
    EXPECT_TRUE(family->children.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(root + "/Library/Media/4915550001@s.whatsapp.net"));
    EXPECT_TRUE(QFileInfo::exists(root + "/Library/Media"));
    // The database itself agrees.
    IOSWhatsAppDb check(root + "/ChatStorage.sqlite", QString(), root + "/Library", root + "/Library/Media/Profile",
                        true);
    EXPECT_EQ(check.countMessages(nullptr), 0);
}

TEST_F(WindowTest, DeletingALocalDatabaseRemovesItsFolderAndLetsGoOfItsSource)
{
    buildNamedChats(localDbPath("Family"), ChatDbLayout::Local, false, {"Anna"}, 3);
    buildNamedChats(localDbPath("Work"), ChatDbLayout::Local, false, {"Boss"}, 1);
    MainWindow w;
    w.show();
    auto* family = child(w.treeModel()->localDatabasesRoot(), "Family");
    select(w, family);
    select(w, family->children.first());
    ASSERT_EQ(w.smsModel()->total(), 3);
    std::weak_ptr<AbsWhatsAppDb> db = static_cast<_AbsDBItemNode*>(family)->view->database();

    {
        BoxAnswerer no(false);
        w.selectNode(family);
        w.miDeleteAll();
    }
    EXPECT_TRUE(QFileInfo::exists(localDbPath("Family")));
    {
        BoxAnswerer boxes;
        w.selectNode(family);
        w.miDeleteToolbar();  // a local database current: the whole database
        ASSERT_EQ(boxes.texts.size(), 2);
        EXPECT_TRUE(boxes.texts.at(0).startsWith("Confirm to delete this database?\n\nThis deletes the local database "
                                                 "\"Family\" with "))
            << boxes.texts.at(0).toStdString();
        EXPECT_EQ(boxes.texts.at(1), "Successfully deleted database.");
    }
    EXPECT_FALSE(QFileInfo::exists(localDbPath("Family")));
    EXPECT_TRUE(QFileInfo::exists(localDbPath("Work/ChatStorage.sqlite")));
    EXPECT_EQ(chatNames(w.treeModel()->localDatabasesRoot()), (QStringList{"Work"}));
    // Neither the list nor anything else holds the deleted database.
    EXPECT_EQ(w.smsModel()->total(), 0);
    EXPECT_EQ(w.findChild<QLabel*>("lbSMSCount")->text(), "Messages: 0");
    EXPECT_TRUE(db.expired());
}

TEST_F(WindowTest, DisconnectDeviceRemovesTheNodeOnly)
{
    buildNamedChats(deviceCopyPath("Phone"), ChatDbLayout::Modern, true, {"Carl"}, 2);
    MainWindow w;
    w.show();
    auto* phone = w.treeModel()->devicesRoot()->children.first();
    select(w, phone);
    ASSERT_EQ(w.smsModel()->total(), 2);
    {
        // A saved copy asks first; No keeps it.
        BoxAnswerer no(false);
        w.miUnmoutDevice();
        ASSERT_EQ(no.texts.size(), 1);
        EXPECT_EQ(w.treeModel()->devicesRoot()->children.size(), 1);
    }
    {
        BoxAnswerer yes;
        w.miUnmoutDevice();
    }
    EXPECT_TRUE(w.treeModel()->devicesRoot()->children.isEmpty());
    EXPECT_EQ(w.smsModel()->total(), 0);
    EXPECT_TRUE(QFileInfo::exists(deviceCopyPath("Phone/net.whatsapp.WhatsApp/Documents/ChatStorage.sqlite")));
}

TEST_F(WindowTest, DeletingSelectedMessagesShowsWhatIsLeft)
{
    buildNamedChats(localDbPath("Family"), ChatDbLayout::Local, false, {"Anna", "Bob"}, 4);
    MainWindow w;
    w.show();
    auto* family = static_cast<_AbsDBItemNode*>(child(w.treeModel()->localDatabasesRoot(), "Family"));
    select(w, family);
    select(w, family->children.first());  // Anna
    ASSERT_TRUE(waitFor([&] { return w.smsModel()->rowCount() == 4; }));
    for (int row : {1, 2})
        w.smsView()->selectionModel()->select(w.smsModel()->index(row, 0),
                                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    {
        BoxAnswerer boxes;
        w.miDeleteToolbar();  // rows selected: deletes those messages
        ASSERT_GE(boxes.texts.size(), 2);
        EXPECT_EQ(boxes.texts.first(), "Confirm to delete selected Messages?\n\n"
                                       "This deletes 2 selected messages from the local database \"Family\".");
        EXPECT_EQ(boxes.texts.last(), "Successfully deleted 2 Messages.");
    }
    // The chat is shown again, without the stale page of the database view.
    EXPECT_EQ(w.smsModel()->total(), 2);
    EXPECT_EQ(w.findChild<QLabel*>("lbSMSCount")->text(), "Messages: 2");
    ASSERT_TRUE(waitFor([&] { return w.smsModel()->rowCount() == 2; }));
    EXPECT_EQ(w.smsModel()->index(0, 3).data().toString(), "Anna says 0");
    EXPECT_EQ(w.smsModel()->index(1, 3).data().toString(), "Anna says 3");

    // From the database node: its chats are rebuilt and all its messages shown.
    select(w, family);
    ASSERT_TRUE(waitFor([&] { return w.smsModel()->rowCount() == 6; }));
    w.smsView()->selectionModel()->select(w.smsModel()->index(5, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    {
        BoxAnswerer boxes;
        w.miDelete();
    }
    EXPECT_EQ(w.smsModel()->total(), 5);
    EXPECT_EQ(chatNames(family), (QStringList{"Anna(4915550010)", "Bob(4915550011)"}));
    {
        BoxAnswerer no(false);
        w.smsView()->selectionModel()->select(w.smsModel()->index(0, 0),
                                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
        w.miDelete();
    }
    EXPECT_EQ(w.smsModel()->total(), 5);
}

namespace {

// A source whose messages cannot be read (a database gone bad under the list).
class UnreadableSource : public WAMsgsListSource {
public:
    UnreadableSource() : WAMsgsListSource(QList<_Message>(3)) {}
    _Message at(qint64) override { throw AppError(QStringLiteral("Sqlite3DB: database disk image is malformed")); }
};

}  // namespace

TEST_F(WindowTest, AListThatCannotReadItsMessagesShowsTheErrorBox)
{
    MainWindow w;
    w.show();
    BoxAnswerer boxes;
    w.smsModel()->setSource(std::make_shared<UnreadableSource>());
    ASSERT_TRUE(waitFor([&] { return !boxes.texts.isEmpty(); }));
    EXPECT_TRUE(boxes.texts.first().contains("database disk image is malformed"));
    // Once, not on every repaint.
    for (int i = 0; i < 3; ++i) {
        w.smsView()->viewport()->repaint();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(boxes.texts.size(), 1);
    // The rows stay without invented content.
    EXPECT_FALSE(w.smsModel()->index(0, 3).data().isValid());

    // The bubble view reading the same source says so the same way.
    w.bubbleView()->showBubble(std::make_shared<UnreadableSource>());
    ASSERT_TRUE(waitFor([&] { return boxes.texts.size() == 2; }));
    EXPECT_TRUE(boxes.texts.last().contains("database disk image is malformed"));
}
