// The three-pane main window: device and database tree, message list, and
// the chat bubble view; its menus, tool bar and context menus, which
// commands are enabled, and the handlers that turn each command into a job.
#pragma once

#include "app/devicecommands.h"
#include "app/itemmodelmain.h"
#include "chatstore/abswamsgssource.h"

#include <QItemSelection>
#include <QMainWindow>

class ItemModelSms;
class MyTreeView;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSplitter;
class QWebEngineView;
class WABubbleViewMgr;

// Which of the seven command actions the rules enable for a current database
// node of a kind (0: none) and a number of iPhone nodes.
struct CommandEnabling {
    bool backup = false;
    bool i2i = false;
    bool db2i = false;
    bool extract = false;
    bool exportFile = false;
    bool print = false;
    bool remove = false;

    static CommandEnabling forNode(int databaseNodeKind, int iphoneCount);
    bool operator==(const CommandEnabling&) const = default;
};

// The messages a command applies to.
enum class CommandScope { Nothing, Selected, Chat, All };

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // Without settings the device watcher stays off (tests, tours).
    explicit MainWindow(QWidget* parent = nullptr);
    explicit MainWindow(const DeviceWatchSettings& devices, QWidget* parent = nullptr);
    ~MainWindow() override;

    DeviceCommands* deviceCommands() const { return m_deviceCommands; }
    // False for a connected phone whose cached chat database does not exist
    // yet: it has no chats to show, and no command needs them.
    static bool holdsChats(const _AbsDBItemNode* node);

    ItemModelMain* treeModel() const { return m_modelMain; }
    ItemModelSms* smsModel() const { return m_modelSms; }
    MyTreeView* treeView() const { return m_treeViewDS; }
    MyTreeView* smsView() const { return m_treeViewSMS; }
    QWebEngineView* webView() const { return m_webViewSMS; }
    WABubbleViewMgr* bubbleView() const { return m_bubbles; }
    const PChatSession& currentChat() const { return m_currentChat; }

    // The tree's current node, and the database node it belongs to.
    AbsTreeItemModel::_ItemNode* currentNode() const;
    _AbsDBItemNode* currentDatabaseNode() const;

    // What the automatic (tool bar) variant of a command applies to now.
    CommandScope automaticScope() const;
    // The messages of a scope.
    PAbsWAMsgsSource scopeSource(CommandScope scope) const;

    // Shows the messages of a chat (or of every chat, with chat null) of a
    // database in the list and the bubble view.
    void showMessages(const PChatDbView& view, const PChatSession& chat, bool ascending);
    // The empty state of the list, the bubble view and the header strip.
    void clearMessages();

    // The last steps of every backup and import: asks for the target local
    // database (proposing `proposedName`), merges `source` into it and shows
    // the result in the tree.
    void saveToLocalDatabase(const QString& proposedName, const PAbsWAMsgsSource& source);

    // Makes a node the tree's current node.
    void selectNode(AbsTreeItemModel::_ItemNode* node);

    // The context menus for the current state (null: no menu); the caller
    // owns and runs them.
    QMenu* createTreeContextMenu();
    QMenu* createSMSContextMenu();

public slots:
    void onMainTreeSelected(const QItemSelection& selected, const QItemSelection& deselected);
    void onMainTreeContextMenu();
    void onSMSItemSelected(const QItemSelection& selected, const QItemSelection& deselected);
    void onSMSContextMenu();
    void onSMSSortIndicatorChanged(int column, Qt::SortOrder order);
    void searchMessages();
    void searchCotnact();

    void miBackup();
    void miBackupChat();
    void miBackupAll();
    void miBackupToolbar();
    void miI2i();
    void miI2iChat();
    void miI2iAll();
    void miI2iToolbar();
    void miDb2i();
    void miDb2iChat();
    void miDb2iAll();
    void miDb2iToolbar();
    void miImportiTunes();
    void miImportiTunesToLocalDb();
    void miExport2ITunesBKSel();
    void miExport2ITunesBKChat();
    void miExport2ITunesBKAll();
    void miViewIOSCacheFiles();
    void miSaveDeviceCache();
    void miRestoreFromCache();
    void miClearCache();
    void miExtractMedia();
    void miExtractMediaChat();
    void miExtractMediaAll();
    void miExtractMediaToolbar();
    void miExport();
    void miExportChat();
    void miExportAll();
    void miExportToolbar();
    void miPrint();
    void miPrintChat();
    void miPrintAll();
    void miPrintToolbar();
    void miDelete();
    void miDeleteChat();
    void miDeleteAll();
    void miDeleteToolbar();
    void miOpenDBFolder();
    void miCheckUpdate();
    void miHelp();
    void miFeedback();
    void miAbout();
    void miHome();
    void miUnmoutDevice();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildForm();
    void buildMenus();
    void fillTreeFromDataFolder();
    void updateCommandStates();
    // The view of a database node with its chats listed, loaded behind the
    // progress dialog; null when the user cancelled. A failure throws.
    PChatDbView loadChats(_AbsDBItemNode* node);
    // Removes the node's chat nodes, lists its chats again and rebuilds them.
    void reloadChats(_AbsDBItemNode* node);
    void backupScope(CommandScope scope);
    void deleteSelectedMessages();
    // The local-database node that a name selects (exact, else ignoring case).
    _LocalDbItemNode* localDbNode(const QString& name) const;
    void openVendorPage(const QString& path);
    bool currentAscending() const;
    void showChatHeader(const PChatSession& chat);
    void attachBubbleView();
    void showBubbles(const PAbsWAMsgsSource& source);
    void scrollBubblesTo(int row);
    void onChatPictureClicked();
    QAction* makeAction(const char* key, const QString& icon, void (MainWindow::*slot)(), bool available = true);
    // Adds a context-menu entry (owned by the menu) named after its text key.
    QAction* addMenuAction(QMenu* menu, const char* key, const char* icon, void (MainWindow::*slot)(),
                           bool available = true, bool enabled = true);
    void addUnavailableNote(QAction* action);

    // The form.
    QSplitter* m_splitter = nullptr;
    QLineEdit* m_txtHandleKeyword = nullptr;
    QPushButton* m_btnSearchHandle = nullptr;
    MyTreeView* m_treeViewDS = nullptr;
    QLineEdit* m_txtSMSKeyword = nullptr;
    QPushButton* m_btnSearchSMS = nullptr;
    MyTreeView* m_treeViewSMS = nullptr;
    QLabel* m_lbSMSCount = nullptr;
    QLabel* m_lbChatName = nullptr;
    QLabel* m_lbChatImg = nullptr;
    QWebEngineView* m_webViewSMS = nullptr;
    QLabel* m_statusLink = nullptr;

    ItemModelMain* m_modelMain = nullptr;
    ItemModelSms* m_modelSms = nullptr;
    WABubbleViewMgr* m_bubbles = nullptr;
    PChatSession m_currentChat;
    DeviceCommands* m_deviceCommands = nullptr;

    // The seven actions whose enabled state follows the tree, and the
    // always enabled import action; each shared by the File menu and the
    // tool bar.
    QAction* m_actBackup = nullptr;
    QAction* m_actI2i = nullptr;
    QAction* m_actDb2i = nullptr;
    QAction* m_actExtract = nullptr;
    QAction* m_actExport = nullptr;
    QAction* m_actPrint = nullptr;
    QAction* m_actDelete = nullptr;
    QAction* m_actImportiTunes = nullptr;
};
