// The three-pane main window: device and database tree, message list, and
// the chat bubble view; its menus, tool bar and context menus, which
// commands are enabled, and the handlers that turn each command into a job.
#pragma once

#include "app/commandrules.h"
#include "app/devicecommands.h"
#include "app/itemmodelmain.h"
#include "chatstore/abswamsgssource.h"

#include <QItemSelection>
#include <QMainWindow>

class ItemModelSms;
class ChatFolderCommands;
class ExportCommands;
class PrintCommands;
class PrintWAMsgsPreview;
class QPrinter;
class ExportToItunesCommands;
class ItunesImportCommands;
class LinkCommands;
class LocalDbCommands;
class MessageCommands;
class MyTreeView;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QFileSystemWatcher;
class QKeyEvent;
class QSplitter;
class QTimer;
class QWebEngineView;
class WABubbleViewMgr;
class OnlineCommands;
struct OnlineAnswer;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // With the build's vendor host; without device settings the watcher
    // stays off (tests, tours).
    explicit MainWindow(QWidget* parent = nullptr);
    // With the given vendor host ("host[:port]"; empty: no online service).
    explicit MainWindow(const QString& vendorHost, QWidget* parent = nullptr);
    explicit MainWindow(const DeviceWatchSettings& devices, QWidget* parent = nullptr);
    MainWindow(const QString& vendorHost, const DeviceWatchSettings& devices, QWidget* parent = nullptr);
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
    const PChatSession& currentChat() const;
    QLabel* smsCountLabel() const { return m_lbSMSCount; }
    QLabel* chatNameLabel() const { return m_lbChatName; }
    QLabel* chatPictureLabel() const { return m_lbChatImg; }
    QLineEdit* smsKeywordEdit() const { return m_txtSMSKeyword; }
    QLineEdit* chatKeywordEdit() const { return m_txtHandleKeyword; }

    // The command families; each owns its actions and their enabling.
    LocalDbCommands* localDbCommands() const { return m_localDb; }
    ItunesImportCommands* itunesImportCommands() const { return m_itunesImport; }
    ExportToItunesCommands* exportToItunesCommands() const { return m_exportToItunes; }
    ExportCommands* exportCommands() const { return m_export; }
    PrintCommands* printCommands() const { return m_print; }
    MessageCommands* messages() const { return m_messages; }
    LinkCommands* linkCommands() const { return m_links; }
    ChatFolderCommands* chatFolderCommands() const { return m_chatFolders; }

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

    // Lists the local databases and saved copies on disk again: new folders
    // get nodes, nodes of vanished folders go (View > Refresh, F5).
    void refreshTree();

    // Makes a node the tree's current node.
    void selectNode(AbsTreeItemModel::_ItemNode* node);
    // Removes the node's chat nodes, lists its chats again and rebuilds them.
    void reloadChats(_AbsDBItemNode* node);
    // Empties the list and the bubbles when they show messages of `db`, so
    // nothing reads from it any more.
    void releaseDatabase(const PAbsWhatsAppDb& db);

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
    // The print preview asks for its pages.
    void onPreviewPaintRequest(PrintWAMsgsPreview* preview, QPrinter* printer, PAbsWAMsgsSource source);
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

    // The answers of the start-up update check and advert request.
    void onCheckVersionReadyRead(const OnlineAnswer& answer);
    void onGetAdvLinkRead(const OnlineAnswer& answer);

public:
    OnlineCommands* onlineCommands() const { return m_online; }
    QLabel* statusLinkLabel() const { return m_statusLink; }

    // The window's size, splitter and column widths, from and into the
    // settings file of the data folder (saved when the window closes).
    void restoreSettings();
    void saveSettings() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildForm();
    void buildMenus();
    void addKeyboardShortcuts();
    // Delete, Ctrl+C, Ctrl+Home and Ctrl+End in the tree or the list; true
    // when the key was taken.
    bool handleViewKey(QObject* view, QKeyEvent* key);
    void fillTreeFromDataFolder();
    void addLocalDbNode(const QString& name);
    void addSavedCopyNode(const QString& name);
    // Follows the data folder: local databases and saved copies added or
    // removed outside the window appear and go without a restart.
    void watchDataFolder();
    void rewatch();
    // What to do first, while there is nothing to show.
    void updateEmptyState();
    void updateCommandStates();
    // The view of a database node with its chats listed, loaded behind the
    // progress dialog; null when the user cancelled. A failure throws.
    PChatDbView loadChats(_AbsDBItemNode* node);
    void attachBubbleView();
    // Adds a context-menu entry (owned by the menu) named after its text key.
    QAction* addMenuAction(QMenu* menu, const char* key, const char* icon, void (MainWindow::*slot)(),
                           bool available = true, bool enabled = true);

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
    OnlineCommands* m_online = nullptr;
    QAction* m_actCheckUpdate = nullptr;

    ItemModelMain* m_modelMain = nullptr;
    ItemModelSms* m_modelSms = nullptr;
    WABubbleViewMgr* m_bubbles = nullptr;
    DeviceCommands* m_deviceCommands = nullptr;

    QFileSystemWatcher* m_watcher = nullptr;
    QTimer* m_refreshTimer = nullptr;

    MessageCommands* m_messages = nullptr;
    LocalDbCommands* m_localDb = nullptr;
    ItunesImportCommands* m_itunesImport = nullptr;
    ExportToItunesCommands* m_exportToItunes = nullptr;
    ExportCommands* m_export = nullptr;
    PrintCommands* m_print = nullptr;
    LinkCommands* m_links = nullptr;
    ChatFolderCommands* m_chatFolders = nullptr;

    // The state-carrying actions whose work is not part of this build yet;
    // each shared by the File menu and the tool bar.
    QAction* m_actI2i = nullptr;
    QAction* m_actDb2i = nullptr;
    QAction* m_actExtract = nullptr;
    QAction* m_actExport = nullptr;
    QAction* m_actPrint = nullptr;
};
