#include "app/mainwindow.h"

#include "app/chatfoldercommands.h"
#include "app/exportcommands.h"
#include "app/exporttoitunescommands.h"
#include "app/transfercommands.h"
#include "device/pretransfercopy.h"
#include "app/itunesimportcommands.h"
#include "app/itemmodelsms.h"
#include "app/linkcommands.h"
#include "app/localdbcommands.h"
#include "app/messagebox.h"
#include "app/messagecommands.h"
#include "app/mytreeview.h"
#include "app/onlinecommands.h"
#include "app/printcommands.h"
#include "app/progressform.h"
#include "app/progressjob.h"
#include "app/stylesheet.h"
#include "app/wabubbleviewmgr.h"
#include "app/windowsettings.h"
#include "base/apperror.h"
#include "base/busylock.h"
#include "base/datafolder.h"
#include "base/fileutil.h"
#include "base/openexternal.h"
#include "base/productinfo.h"
#include "chatstore/backupmessagesthread.h"
#include "chatstore/deletelocaldbmessagesthread.h"
#include "chatstore/displayrules.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/whatsappapp.h"
#include "chatstore/loadwhatsappdbthread.h"
#include "chatstore/localdatabases.h"
#include "chatstore/wamsgsdatasource.h"
#include "chatstore/wamsgslistsource.h"
#include "platform/osservices.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <algorithm>

using namespace commands;

namespace {

// Sub-folder names of a folder, "." and ".." left out, in character-code order.
QStringList sortedSubFolders(const QString& folder)
{
    QStringList names = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::NoSort);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) { return a < b; });
    return names;
}

// A pane's search row: a line edit and a search button.
QWidget* searchRow(QWidget* parent, const char* editName, const char* buttonName, QLineEdit** edit,
                   QPushButton** button)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    *edit = new QLineEdit(row);
    (*edit)->setObjectName(QLatin1String(editName));
    (*edit)->setClearButtonEnabled(true);
    *button = new QPushButton(row);
    (*button)->setObjectName(QLatin1String(buttonName));
    (*button)->setIcon(QIcon(QStringLiteral(":/res/search.png")));
    layout->addWidget(*edit, 1);
    layout->addWidget(*button);
    return row;
}

// A pane of the splitter: a column that starts with its search row.
QVBoxLayout* searchPane(QWidget* parent, const char* paneName, const char* editName, const char* buttonName,
                        const char* placeholder, QLineEdit** edit, QPushButton** button)
{
    auto* pane = new QWidget(parent);
    pane->setObjectName(QLatin1String(paneName));
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(searchRow(pane, editName, buttonName, edit, button));
    (*edit)->setPlaceholderText(QCoreApplication::translate("MainWindow", placeholder));
    return layout;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

MainWindow::MainWindow(QWidget* parent) : MainWindow(product::vendorHost(), DeviceWatchSettings(), parent) {}

MainWindow::MainWindow(const QString& vendorHost, QWidget* parent)
    : MainWindow(vendorHost, DeviceWatchSettings(), parent)
{
}

MainWindow::MainWindow(const DeviceWatchSettings& devices, QWidget* parent)
    : MainWindow(product::vendorHost(), devices, parent)
{
}

MainWindow::MainWindow(const QString& vendorHost, const DeviceWatchSettings& devices, QWidget* parent)
    : QMainWindow(parent)
{
    m_online = new OnlineCommands(vendorHost, dataFolder(), this);
    buildForm();
    setStyleSheet(styleSheetText());
    // The command families; each makes its actions, which the menus and the
    // tool bar below place.
    m_messages = new MessageCommands(this);
    m_localDb = new LocalDbCommands(this);
    m_itunesImport = new ItunesImportCommands(this);
    m_exportToItunes = new ExportToItunesCommands(this);
    m_transfer = new TransferCommands(this);
    m_export = new ExportCommands(this);
    m_print = new PrintCommands(this);
    m_links = new LinkCommands(this);
    m_chatFolders = new ChatFolderCommands(this);

    connect(m_treeViewDS, &MyTreeView::onSelectionChanged, this, &MainWindow::onMainTreeSelected);
    connect(m_treeViewDS, &MyTreeView::createContextMenu, this, &MainWindow::onMainTreeContextMenu);
    connect(m_treeViewSMS, &MyTreeView::onSelectionChanged, this, &MainWindow::onSMSItemSelected);
    connect(m_treeViewSMS, &MyTreeView::createContextMenu, this, &MainWindow::onSMSContextMenu);
    connect(m_btnSearchSMS, &QPushButton::pressed, this, &MainWindow::searchMessages);
    connect(m_txtSMSKeyword, &QLineEdit::returnPressed, this, &MainWindow::searchMessages);
    connect(m_btnSearchHandle, &QPushButton::pressed, this, &MainWindow::searchCotnact);
    connect(m_txtHandleKeyword, &QLineEdit::returnPressed, this, &MainWindow::searchCotnact);

    m_splitter->setSizes({200, 450, 350});

    m_modelMain = new ItemModelMain(this);
    m_treeViewDS->setModel(m_modelMain);
    m_modelSms = new ItemModelSms(this);
    m_treeViewSMS->setModel(m_modelSms);
    QHeaderView* header = m_treeViewSMS->header();
    // The date column fits the longest date of the system's short format
    // (with the direction icon) and is never narrower than 160.
    const QString longDate = ItemModelSms::dateText(1009843199.0);  // 31 Dec 2032, 23:59:59 UTC
    header->resizeSection(0, std::max(160, m_treeViewSMS->fontMetrics().horizontalAdvance(longDate) + 18 + 30));
    header->resizeSection(1, 50);
    header->resizeSection(2, 120);
    m_treeViewSMS->setSortingEnabled(true);
    header->setSectionsMovable(false);
    header->setSortIndicator(0, Qt::AscendingOrder);
    connect(header, &QHeaderView::sortIndicatorChanged, this, &MainWindow::onSMSSortIndicatorChanged);
    // A source failing while the list loads rows is reported once the view
    // is done with its layout, never from inside it.
    connect(m_modelSms, &ItemModelSms::fetchFailed, this, [](const QString& text) { errorBox(text); },
            Qt::QueuedConnection);
    // A long history is counted while its first rows are shown already.
    connect(m_modelSms, &ItemModelSms::counted, m_messages, &MessageCommands::onCounted);
    connect(m_treeViewSMS, &MyTreeView::allRowsWanted, m_modelSms, &ItemModelSms::completeCount);

    attachBubbleView();
    // The bubbles follow the list's current row too: Ctrl+Home, Ctrl+End
    // and Ctrl with the arrows move it without selecting.
    connect(m_treeViewSMS->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid())
                    m_bubbles->scrollToPos(current.row());
            });

    setWindowTitle(QCoreApplication::translate("product", product::kName));
    setAcceptDrops(true);
    clearMessages();

    m_lbChatImg->installEventFilter(this);

    buildMenus();

    m_statusLink = new QLabel(this);
    m_statusLink->setObjectName(QStringLiteral("lbStatusLink"));
    statusBar()->addWidget(m_statusLink);
    // The stored advert (only with a vendor host); its links open in the
    // browser when they are http or https links.
    m_online->attachLabel(m_statusLink);

    restoreSettings();
    fillTreeFromDataFolder();
    watchDataFolder();
    updateCommandStates();
    updateEmptyState();

    m_deviceCommands = new DeviceCommands(this, devices);
    m_deviceCommands->start();

    connect(m_online->services(), &OnlineServices::checkVersionReadyRead, this, &MainWindow::onCheckVersionReadyRead);
    connect(m_online->services(), &OnlineServices::advLinkRead, this, &MainWindow::onGetAdvLinkRead);
    m_online->start();
}

void MainWindow::onCheckVersionReadyRead(const OnlineAnswer& answer)
{
    m_online->takeUpdateAnswer(answer);
}

void MainWindow::onGetAdvLinkRead(const OnlineAnswer& answer)
{
    m_online->takeAdvertAnswer(answer);
}

void MainWindow::miCheckUpdate()
{
    m_online->openUpdatePage();
}

bool MainWindow::holdsChats(const _AbsDBItemNode* node)
{
    if (!node || node->kind != kNodeIPhone || static_cast<const _IOSDeviceItemNode*>(node)->offlineCopy)
        return node != nullptr;
    return node->view && QFileInfo(node->view->database()->databasePath()).isFile();
}

MainWindow::~MainWindow()
{
    // The watcher stops (and its daemon with it) before the tree goes.
    delete m_deviceCommands;
    m_deviceCommands = nullptr;
}

void MainWindow::restoreSettings()
{
    const auto settings = openWindowSettings();
    if (const QByteArray geometry = settings->value(QStringLiteral("window/geometry")).toByteArray(); !geometry.isEmpty())
        restoreGeometry(geometry);
    if (const QByteArray state = settings->value(QStringLiteral("window/splitter")).toByteArray(); !state.isEmpty())
        m_splitter->restoreState(state);
    const QList<QVariant> widths = settings->value(QStringLiteral("window/columns")).toList();
    for (int i = 0; i < widths.size() && i < 3; ++i)
        if (const int w = widths.at(i).toInt(); w > 10)
            m_treeViewSMS->header()->resizeSection(i, w);
}

void MainWindow::saveSettings() const
{
    const auto settings = openWindowSettings();
    settings->setValue(QStringLiteral("window/geometry"), saveGeometry());
    settings->setValue(QStringLiteral("window/splitter"), m_splitter->saveState());
    QList<QVariant> widths;
    for (int i = 0; i < 3; ++i)
        widths << m_treeViewSMS->header()->sectionSize(i);
    settings->setValue(QStringLiteral("window/columns"), widths);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    // One folder at a time: a backup or a chat-database folder.
    const QList<QUrl> urls = event->mimeData() ? event->mimeData()->urls() : QList<QUrl>();
    if (urls.size() == 1 && urls.first().isLocalFile() && QFileInfo(urls.first().toLocalFile()).isDir())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData() ? event->mimeData()->urls() : QList<QUrl>();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return;
    event->acceptProposedAction();
    const QString folder = urls.first().toLocalFile();
    // After the drop has ended: the import runs its own dialogs.
    QTimer::singleShot(0, this, [this, folder] { m_chatFolders->openDroppedFolder(folder); });
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    saveSettings();
    QMainWindow::closeEvent(event);
}

void MainWindow::buildForm()
{
    setObjectName(QStringLiteral("MainWindow"));
    resize(1000, 680);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralWidget"));
    auto* centralLayout = new QHBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    m_splitter = new QSplitter(Qt::Horizontal, central);
    m_splitter->setObjectName(QStringLiteral("splitter"));
    m_splitter->setHandleWidth(1);
    m_splitter->setChildrenCollapsible(false);
    centralLayout->addWidget(m_splitter);

    // Left: devices and local databases.
    QVBoxLayout* leftLayout = searchPane(m_splitter, "leftPane", "txtHandleKeyword", "btnSearchHandle",
                                         "Find a chat", &m_txtHandleKeyword, &m_btnSearchHandle);
    QWidget* left = leftLayout->parentWidget();
    m_treeViewDS = new MyTreeView(left);
    m_treeViewDS->setObjectName(QStringLiteral("treeViewDS"));
    m_treeViewDS->setHeaderHidden(true);
    m_treeViewDS->setFrameShape(QFrame::StyledPanel);
    m_treeViewDS->setFrameShadow(QFrame::Sunken);
    m_treeViewDS->setLineWidth(1);
    m_treeViewDS->setIconSize(QSize(18, 18));
    m_treeViewDS->setContextMenuPolicy(Qt::DefaultContextMenu);
    leftLayout->addWidget(m_treeViewDS);

    // Middle: the messages.
    QVBoxLayout* middleLayout = searchPane(m_splitter, "middlePane", "txtSMSKeyword", "btnSearchSMS",
                                           "Find in messages", &m_txtSMSKeyword, &m_btnSearchSMS);
    QWidget* middle = middleLayout->parentWidget();
    m_treeViewSMS = new MyTreeView(middle);
    m_treeViewSMS->setObjectName(QStringLiteral("treeViewSMS"));
    m_treeViewSMS->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_treeViewSMS->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_treeViewSMS->setIndentation(5);
    m_treeViewSMS->setItemsExpandable(false);
    m_treeViewSMS->setRootIsDecorated(false);
    m_treeViewSMS->setDropIndicatorShown(false);
    m_treeViewSMS->setUniformRowHeights(true);
    m_treeViewSMS->setIconSize(QSize(18, 18));
    m_treeViewSMS->header()->setSortIndicatorShown(true);
    m_treeViewSMS->header()->setStretchLastSection(true);
    middleLayout->addWidget(m_treeViewSMS, 1);
    m_lbSMSCount = new QLabel(middle);
    m_lbSMSCount->setObjectName(QStringLiteral("lbSMSCount"));
    m_lbSMSCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_lbSMSCount->setText(QCoreApplication::translate("MainWindow", "Messages: %1").arg(0));
    middleLayout->addWidget(m_lbSMSCount);

    // Right: the conversation.
    auto* right = new QWidget(m_splitter);
    right->setObjectName(QStringLiteral("rightPane"));
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);
    auto* strip = new QWidget(right);
    strip->setObjectName(QStringLiteral("lbConversation"));
    strip->setAttribute(Qt::WA_StyledBackground);
    auto* stripLayout = new QHBoxLayout(strip);
    stripLayout->setContentsMargins(10, 0, 10, 0);
    stripLayout->addStretch();
    m_lbChatName = new QLabel(strip);
    m_lbChatName->setObjectName(QStringLiteral("lbChatName"));
    stripLayout->addWidget(m_lbChatName);
    stripLayout->addStretch();
    m_lbChatImg = new QLabel(strip);
    m_lbChatImg->setObjectName(QStringLiteral("lbChatImg"));
    m_lbChatImg->setFixedSize(32, 32);
    m_lbChatImg->setCursor(Qt::PointingHandCursor);
    m_lbChatImg->setAlignment(Qt::AlignCenter);
    m_lbChatImg->hide();
    stripLayout->addWidget(m_lbChatImg);
    rightLayout->addWidget(strip);
    m_webViewSMS = new QWebEngineView(right);
    m_webViewSMS->setObjectName(QStringLiteral("webViewSMS"));
    m_webViewSMS->setContextMenuPolicy(Qt::NoContextMenu);
    m_webViewSMS->setAcceptDrops(false);
    m_webViewSMS->setUrl(QUrl(QStringLiteral("about:blank")));
    rightLayout->addWidget(m_webViewSMS, 1);

    setCentralWidget(central);
    statusBar()->setObjectName(QStringLiteral("statusBar"));
    statusBar()->setStyleSheet(QStringLiteral("QStatusBar::item{border: 0px}"));
}

QAction* MainWindow::addMenuAction(QMenu* menu, const char* key, const char* icon, void (MainWindow::*slot)(),
                                   bool available, bool enabled)
{
    QAction* a = menu->addAction(tr(key));
    a->setObjectName(QString::fromLatin1(key));
    if (icon)
        a->setIcon(QIcon(QString::fromLatin1(icon)));
    connect(a, &QAction::triggered, this, slot);
    if (!available)
        markUnavailable(a);
    else
        a->setEnabled(enabled);
    return a;
}

void MainWindow::buildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));

    // Makes a command action of the window wired to one of its slots.
    const auto action = [this](const char* key, const QString& icon, void (MainWindow::*slot)(), bool available) {
        QAction* a = makeAction(this, key, icon, available);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    m_actI2i = action("IDS_MI_I2I_TOOLBAR", QStringLiteral(":res/i2i.png"), &MainWindow::miI2iToolbar, kHaveTransfer);
    m_actDb2i =
        action("IDS_MI_DB2I_TOOLBAR", QStringLiteral(":res/db2i.png"), &MainWindow::miDb2iToolbar, kHaveTransfer);
    m_actExtract = action("IDS_MI_EXTRACT_MEDIA_TOOLBAR", QStringLiteral(":res/extract_media.png"),
                          &MainWindow::miExtractMediaToolbar, kHaveExtract);
    m_actExport =
        action("IDS_MI_EXPORT_TOOLBAR", QStringLiteral(":res/export.png"), &MainWindow::miExportToolbar, kHaveExportFile);
    m_actPrint = action("IDS_MI_PRINT_TOOLBAR", QStringLiteral(":res/print.png"), &MainWindow::miPrintToolbar, kHavePrint);
    for (QAction* a : {m_actI2i, m_actDb2i, m_actExtract, m_actExport, m_actPrint})
        a->setEnabled(false);
    auto* exitAction = new QAction(QIcon(QStringLiteral(":res/exit.png")), tr("IDS_MI_EXIT"), this);
    exitAction->setObjectName(QStringLiteral("IDS_MI_EXIT"));
    connect(exitAction, &QAction::triggered, this, &QWidget::close);

    QMenu* file = bar->addMenu(QCoreApplication::translate("MainWindow", "&File"));
    file->setObjectName(QStringLiteral("menuFile"));
    file->setToolTipsVisible(true);
    file->addAction(m_localDb->backupAction());
    file->addAction(m_actI2i);
    file->addAction(m_actDb2i);
    file->addSeparator();
    file->addAction(m_actExtract);
    file->addAction(m_actExport);
    file->addAction(m_actPrint);
    file->addAction(m_localDb->deleteAction());
    file->addSeparator();
    file->addAction(m_itunesImport->importAction());
    file->addAction(m_chatFolders->openAction());
    file->addAction(m_links->openDbFolderAction());
    file->addSeparator();
    file->addAction(exitAction);

    QMenu* view = bar->addMenu(QCoreApplication::translate("MainWindow", "&View"));
    view->setObjectName(QStringLiteral("menuView"));
    auto* refresh = new QAction(QCoreApplication::translate("MainWindow", "&Refresh"), this);
    refresh->setObjectName(QStringLiteral("actRefresh"));
    refresh->setShortcut(QKeySequence::Refresh);
    connect(refresh, &QAction::triggered, this, &MainWindow::refreshTree);
    view->addAction(refresh);

    QMenu* tools = bar->addMenu(QCoreApplication::translate("MainWindow", "&Tools"));
    tools->setObjectName(QStringLiteral("menuTools"));
    tools->setToolTipsVisible(true);
    m_actCheckUpdate = action("IDS_MI_CHECK_UPDATE", QString(), &MainWindow::miCheckUpdate, true);
    m_online->setUpCheckUpdateAction(m_actCheckUpdate);
    tools->addAction(m_actCheckUpdate);
    tools->addAction(action("IDS_CLEAR_CACHE", QString(), &MainWindow::miClearCache, kHaveDeviceCache));

    QMenu* help = bar->addMenu(QCoreApplication::translate("MainWindow", "&Help"));
    help->setObjectName(QStringLiteral("menuHelp"));
    help->setToolTipsVisible(true);
    help->addAction(m_links->helpAction());
    help->addAction(m_links->feedbackAction());
    help->addAction(m_links->aboutAction());

    QToolBar* toolBar = new QToolBar(this);
    toolBar->setObjectName(QStringLiteral("mainToolBar"));
    toolBar->setIconSize(QSize(52, 52));
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolBar->toggleViewAction()->setEnabled(false);
    addToolBar(Qt::TopToolBarArea, toolBar);
    toolBar->addAction(m_localDb->backupAction());
    toolBar->addAction(m_actI2i);
    toolBar->addAction(m_actDb2i);
    toolBar->addAction(m_itunesImport->importAction());
    toolBar->addSeparator();
    toolBar->addAction(m_actExtract);
    toolBar->addAction(m_actExport);
    toolBar->addAction(m_actPrint);
    toolBar->addAction(m_localDb->deleteAction());
    toolBar->addSeparator();
    toolBar->addAction(m_links->homeAction());

    addKeyboardShortcuts();
}

void MainWindow::addKeyboardShortcuts()
{
    // Ctrl+F searches the messages, Ctrl+Shift+F the chats (also offered
    // where a child widget passes the keys on, see keyPressEvent).
    const auto focusSearch = [this](const char* name, const QKeySequence& keys, QLineEdit* edit) {
        auto* a = new QAction(this);
        a->setObjectName(QLatin1String(name));
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WindowShortcut);
        connect(a, &QAction::triggered, this, [edit] {
            edit->setFocus(Qt::ShortcutFocusReason);
            edit->selectAll();
        });
        addAction(a);
    };
    focusSearch("actFindMessage", QKeySequence::Find, m_txtSMSKeyword);
    focusSearch("actFindChat", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), m_txtHandleKeyword);
    // The views' own keys (Delete, Ctrl+C, Ctrl+Home, Ctrl+End) are taken
    // before the views' defaults.
    m_treeViewDS->installEventFilter(this);
    m_treeViewSMS->installEventFilter(this);
}

bool MainWindow::handleViewKey(QObject* view, QKeyEvent* key)
{
    if (key->matches(QKeySequence::Delete)) {
        if (m_localDb->deleteAction()->isEnabled())
            m_localDb->deleteAutomatic();
        return true;
    }
    if (view != m_treeViewSMS)
        return false;
    if (key->matches(QKeySequence::Copy)) {
        m_messages->copySelected();
        return true;
    }
    // The first and the last message, also with no current row yet (the
    // view's own Ctrl+End would go to the first row then).
    const bool home = key->matches(QKeySequence::MoveToStartOfDocument);
    const bool end = key->matches(QKeySequence::MoveToEndOfDocument);
    if (end)
        m_modelSms->completeCount();  // the last message, not the last one counted so far
    if ((home || end) && m_modelSms->rowCount() > 0) {
        const QModelIndex target = m_modelSms->index(home ? 0 : m_modelSms->rowCount() - 1, 0);
        m_treeViewSMS->setCurrentIndex(target);
        m_treeViewSMS->scrollTo(target);
        return true;
    }
    return false;
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Find)) {
        m_txtSMSKeyword->setFocus(Qt::ShortcutFocusReason);
        m_txtSMSKeyword->selectAll();
        return;
    }
    if (event->keyCombination() == QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_F)) {
        m_txtHandleKeyword->setFocus(Qt::ShortcutFocusReason);
        m_txtHandleKeyword->selectAll();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

namespace {

QString savedCopiesFolder()
{
    return QDir(dataFolder()).filePath(QStringLiteral("virtual_ios"));
}

// The local databases and saved device copies on disk, by folder name.
QStringList localDatabaseFolders()
{
    QStringList names;
    const QString localRoot = localDatabasesFolder();
    for (const QString& name : sortedSubFolders(localRoot))
        if (QFileInfo(QDir(QDir(localRoot).filePath(name)).filePath(QStringLiteral("ChatStorage.sqlite"))).isFile())
            names << name;
    return names;
}

}  // namespace

void MainWindow::addLocalDbNode(const QString& name)
{
    m_modelMain->addLocalDatabase(name, openLocalDatabase(QDir(localDatabasesFolder()).filePath(name)));
}

void MainWindow::addSavedCopyNode(const QString& name)
{
    // A copy is opened as it is; one without a chat database is an error
    // naming the path on its first selection, never a new empty database.
    // A copy holding WhatsApp Business too shows each app as its own node.
    const QString folder = QDir(savedCopiesFolder()).filePath(name);
    const auto holds = [&folder](const WhatsAppApp& a) {
        return QFileInfo(QDir(folder).filePath(a.bundleId + QStringLiteral("/Documents/ChatStorage.sqlite"))).isFile();
    };
    const WhatsAppApp& business = WhatsAppApp::business();
    if (holds(WhatsAppApp::messenger()) || !holds(business))
        m_modelMain->addDevice(openSavedDeviceCopy(folder), savedDeviceCopyInfo(folder), true);
    if (!holds(business))
        return;
    PIOSDeviceInfo info = savedDeviceCopyInfo(folder);
    info->name += QStringLiteral(" (%1)").arg(business.name);
    m_modelMain->addDevice(openAppContainerCopy(QDir(folder).filePath(business.bundleId)), info, true);
}

void MainWindow::fillTreeFromDataFolder()
{
    for (const QString& name : localDatabaseFolders())
        addLocalDbNode(name);
    m_treeViewDS->expand(m_modelMain->indexOf(m_modelMain->localDatabasesRoot()));
    for (const QString& name : sortedSubFolders(savedCopiesFolder()))
        addSavedCopyNode(name);
    if (!m_modelMain->devicesRoot()->children.isEmpty())
        m_treeViewDS->expand(m_modelMain->indexOf(m_modelMain->devicesRoot()));
}

void MainWindow::watchDataFolder()
{
    m_watcher = new QFileSystemWatcher(this);
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setSingleShot(true);
    m_refreshTimer->setInterval(300);
    connect(m_refreshTimer, &QTimer::timeout, this, [this] {
        // Never while a job or a question is open: the tree changes only
        // between commands.
        if (QApplication::activeModalWidget()) {
            m_refreshTimer->start();
            return;
        }
        refreshTree();
    });
    const auto changed = [this] { m_refreshTimer->start(); };
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, changed);
    rewatch();
}

void MainWindow::rewatch()
{
    if (!m_watcher)
        return;
    // The two folders and every database folder in them: a database file
    // appearing or going away inside one changes the tree too.
    QStringList paths{localDatabasesFolder(), savedCopiesFolder(), dataFolder()};
    for (const QString& name : sortedSubFolders(localDatabasesFolder()))
        paths << QDir(localDatabasesFolder()).filePath(name);
    for (const QString& name : sortedSubFolders(savedCopiesFolder()))
        paths << QDir(savedCopiesFolder()).filePath(name);
    const QStringList watched = m_watcher->directories();
    QStringList missing;
    for (const QString& p : paths)
        if (!watched.contains(p) && QFileInfo(p).isDir())
            missing << p;
    if (!missing.isEmpty())
        m_watcher->addPaths(missing);
}

void MainWindow::updateEmptyState()
{
    const bool nothing = m_modelMain->localDatabasesRoot()->children.isEmpty()
                         && m_modelMain->devicesRoot()->children.isEmpty();
    const QString steps = QCoreApplication::translate("MainWindow",
                                                      "To begin, do one of these:\n"
                                                      "Connect an iPhone (it appears under Devices)\n"
                                                      "Import an iTunes or Finder backup (File > Import from iTunes Backup)\n"
                                                      "Open a chat database folder (File > Open Chat Database Folder)");
    m_treeViewDS->setEmptyHint(nothing ? QCoreApplication::translate("MainWindow",
                                                                     "No chats yet.\nConnect an iPhone.\n"
                                                                     "Import an iTunes or Finder backup "
                                                                     "or open a chat database folder.")
                                       : QString());
    m_bubbles->setEmptyText(nothing ? steps
                                    : QCoreApplication::translate("MainWindow",
                                                                  "Select a chat or a database on the left to read it."));
}

void MainWindow::refreshTree()
{
    AbsTreeItemModel::_ItemNode* current = currentNode();
    bool currentGone = false;
    const auto sync = [&](AbsTreeItemModel::_ItemNode* root, int kind, const QStringList& onDisk,
                          void (MainWindow::*add)(const QString&)) {
        QStringList shown;
        for (auto* node : QList<AbsTreeItemModel::_ItemNode*>(root->children)) {
            if (node->kind != kind)
                continue;
            if (kind == kNodeIPhone && !static_cast<_IOSDeviceItemNode*>(node)->offlineCopy)
                continue;  // a connected phone is not a folder
            // A saved copy's nodes (one per app) are named after its folder.
            const QString folder = kind == kNodeIPhone
                                       ? QFileInfo(static_cast<_IOSDeviceItemNode*>(node)->device->udid).fileName()
                                       : node->text;
            if (onDisk.contains(folder)) {
                shown << folder;
                continue;
            }
            auto* dbNode = static_cast<_AbsDBItemNode*>(node);
            if (current == node || (current && current->parent == node))
                currentGone = true;
            releaseDatabase(dbNode->view->database());
            m_modelMain->removeNode(dbNode);
        }
        for (const QString& name : onDisk)
            if (!shown.contains(name))
                (this->*add)(name);
    };
    sync(m_modelMain->localDatabasesRoot(), kNodeLocalDb, localDatabaseFolders(), &MainWindow::addLocalDbNode);
    sync(m_modelMain->devicesRoot(), kNodeIPhone, sortedSubFolders(savedCopiesFolder()), &MainWindow::addSavedCopyNode);
    if (!m_modelMain->devicesRoot()->children.isEmpty())
        m_treeViewDS->expand(m_modelMain->indexOf(m_modelMain->devicesRoot()));
    m_treeViewDS->expand(m_modelMain->indexOf(m_modelMain->localDatabasesRoot()));
    if (currentGone)
        clearMessages();
    updateCommandStates();
    updateEmptyState();
    rewatch();
}

// ---------------------------------------------------------------------------
// Tree

AbsTreeItemModel::_ItemNode* MainWindow::currentNode() const
{
    return AbsTreeItemModel::nodeOf(m_treeViewDS->currentIndex());
}

_AbsDBItemNode* MainWindow::currentDatabaseNode() const
{
    return ItemModelMain::databaseNodeOf(currentNode());
}

void MainWindow::selectNode(AbsTreeItemModel::_ItemNode* node)
{
    const QModelIndex index = m_modelMain->indexOf(node);
    if (!index.isValid())
        return;
    m_treeViewDS->setCurrentIndex(index);
    m_treeViewDS->scrollTo(index);
}

void MainWindow::updateCommandStates()
{
    if (!m_actI2i)
        return;  // the models are being attached; the menus come later
    const _AbsDBItemNode* n = currentDatabaseNode();
    const CommandEnabling rule = CommandEnabling::forNode(holdsChats(n) ? n->kind : 0, m_transfer ? m_transfer->transferPhoneCount() : 0);
    m_localDb->updateEnabled(rule);
    applyEnabling(m_actI2i, rule.i2i);
    applyEnabling(m_actDb2i, rule.db2i);
    applyEnabling(m_actExtract, rule.extract);
    applyEnabling(m_actExport, rule.exportFile);
    applyEnabling(m_actPrint, rule.print);
}

PChatDbView MainWindow::loadChats(_AbsDBItemNode* node)
{
    LoadWhatsAppDbThread job(node->view->database());
    const bool finished = runProgressJob(this, QString(), job);
    if (!finished)
        return nullptr;  // cancelled: the node stays as it was and the next selection tries again
    return job.takeResult(false);
}

void MainWindow::reloadChats(_AbsDBItemNode* node)
{
    m_modelMain->removeChildren(node);
    if (PChatDbView view = loadChats(node))
        m_modelMain->fillChats(node, view);
}

void MainWindow::onMainTreeSelected(const QItemSelection& selected, const QItemSelection&)
{
    updateCommandStates();
    if (selected.isEmpty() || selected.indexes().isEmpty())
        return;
    m_treeViewSMS->header()->setSortIndicator(-1, Qt::AscendingOrder);
    AbsTreeItemModel::_ItemNode* node = AbsTreeItemModel::nodeOf(selected.indexes().first());
    if (!node)
        return;
    try {
        switch (node->kind) {
        case kNodeIPhone:
        case kNodeLocalDb: {
            auto* dbNode = static_cast<_AbsDBItemNode*>(node);
            if (!holdsChats(dbNode)) {
                clearMessages();  // a phone whose chats were not loaded yet
                break;
            }
            if (dbNode->children.isEmpty()) {
                PChatDbView view = loadChats(dbNode);
                if (!view)
                    return;
                m_modelMain->fillChats(dbNode, view);
                m_treeViewDS->expand(m_modelMain->indexOf(dbNode));
            }
            showMessages(dbNode->view, nullptr, true);
            break;
        }
        case kNodeChat: {
            auto* chat = static_cast<_ChatSessionItemNode*>(node);
            if (auto* parent = ItemModelMain::databaseNodeOf(chat))
                showMessages(parent->view, chat->session, true);
            break;
        }
        default:
            clearMessages();
            break;
        }
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
    }
}

// ---------------------------------------------------------------------------
// Message list, searches and scopes

const PChatSession& MainWindow::currentChat() const
{
    return m_messages->currentChat();
}

void MainWindow::showMessages(const PChatDbView& view, const PChatSession& chat, bool ascending)
{
    m_messages->showMessages(view, chat, ascending);
}

void MainWindow::clearMessages()
{
    m_messages->clearMessages();
}

void MainWindow::releaseDatabase(const PAbsWhatsAppDb& db)
{
    const auto* shown = dynamic_cast<const WAMsgsDataSource*>(m_modelSms->source().get());
    if (shown && shown->view() && shown->view()->database() == db)
        clearMessages();
}

void MainWindow::onSMSItemSelected(const QItemSelection& selected, const QItemSelection&)
{
    m_messages->onSMSItemSelected(selected);
}

void MainWindow::onSMSSortIndicatorChanged(int column, Qt::SortOrder order)
{
    m_messages->onSortIndicatorChanged(column, order);
}

void MainWindow::searchMessages()
{
    m_messages->searchMessages();
}

void MainWindow::searchCotnact()
{
    m_messages->searchChats();
}

CommandScope MainWindow::automaticScope() const
{
    return m_messages->automaticScope();
}

PAbsWAMsgsSource MainWindow::scopeSource(CommandScope scope) const
{
    return m_messages->scopeSource(scope);
}

// ---------------------------------------------------------------------------
// Context menus

void MainWindow::onMainTreeContextMenu()
{
    std::unique_ptr<QMenu> menu(createTreeContextMenu());
    if (menu)
        menu->exec(QCursor::pos());
}

void MainWindow::onSMSContextMenu()
{
    std::unique_ptr<QMenu> menu(createSMSContextMenu());
    if (menu)
        menu->exec(QCursor::pos());
}

QMenu* MainWindow::createTreeContextMenu()
{
    AbsTreeItemModel::_ItemNode* node = currentNode();
    if (!node || node->kind == kNodeRootDevice)
        return nullptr;
    // Only connected phones take transfers; a saved copy is no target.
    const int iphones = m_transfer->transferPhoneCount();
    auto* menu = new QMenu(this);
    menu->setToolTipsVisible(true);
    switch (node->kind) {
    case kNodeRootLocalDb:
        addMenuAction(menu, "IDS_MI_OPEN_DB_FOLDER", ":res/open_db_folder.png", &MainWindow::miOpenDBFolder);
        addMenuAction(
            menu, "IDS_MI_IMPORT_FROM_ITUNES", ":res/load_itunes.png", &MainWindow::miImportiTunes, kHaveImportiTunes);
        break;
    case kNodeIPhone: {
        addMenuAction(menu, "IDS_MI_BACKUP_ALL", ":res/backup.png", &MainWindow::miBackupAll);
        addMenuAction(menu, "IDS_MI_I2I_ALL", ":res/i2i.png", &MainWindow::miI2iAll, kHaveTransfer, iphones > 1);
        addMenuAction(
            menu, "IDS_MI_EXTRACT_MEDIA_All", ":res/extract_media.png", &MainWindow::miExtractMediaAll, kHaveExtract);
        addMenuAction(menu, "IDS_MI_EXPORT_ALL", ":res/export.png", &MainWindow::miExportAll, kHaveExportFile);
        addMenuAction(menu, "IDS_MI_PRINT_ALL", ":res/print.png", &MainWindow::miPrintAll, kHavePrint);
        addMenuAction(menu, "IDS_MI_UNMOUNT_DEVICE", ":res/unmount.png", &MainWindow::miUnmoutDevice);
        if (static_cast<const _IOSDeviceItemNode*>(node)->offlineCopy) {
            QAction* remove = menu->addAction(QIcon(QStringLiteral(":res/delete.png")),
                                              QCoreApplication::translate("MainWindow", "Delete Saved Copy"));
            remove->setObjectName(QStringLiteral("actDeleteSavedCopy"));
            connect(remove, &QAction::triggered, m_localDb, &LocalDbCommands::deleteSavedCopy);
        }
        addMenuAction(menu, "View Cache Files", nullptr, &MainWindow::miViewIOSCacheFiles, kHaveDeviceCache);
        menu->addSeparator();
        addMenuAction(menu, "Save Messages Cache", nullptr, &MainWindow::miSaveDeviceCache, kHaveDeviceCache);
        // Offered only for a phone whose saved snapshot holds a chat database.
        const auto* phone = static_cast<const _IOSDeviceItemNode*>(node);
        if (phone->device && !phone->device->udid.isEmpty() && !phone->offlineCopy
            && QFileInfo(QDir(dataFolder()).filePath(QStringLiteral("ios_static_cache/") + phone->device->udid
                                                     + QStringLiteral("/net.whatsapp.WhatsApp/Documents/ChatStorage.sqlite")))
                   .isFile())
            addMenuAction(
                menu, "Restore Messages from Cache", nullptr, &MainWindow::miRestoreFromCache,
                kHaveDeviceCache && kHaveTransfer);
        // A connected phone with a transfer that reached it can get its own
        // databases back.
        if (phone->device && !phone->offlineCopy && isPlainUdid(phone->device->udid)
            && findPreTransferCopy(*phone->device).isValid()) {
            QAction* undo = menu->addAction(QCoreApplication::translate("MainWindow", "Undo Last Transfer"));
            undo->setObjectName(QStringLiteral("actUndoLastTransfer"));
            undo->setEnabled(kHaveTransfer);
            connect(undo, &QAction::triggered, m_transfer, &TransferCommands::undoLastTransfer);
        }
        break;
    }
    case kNodeLocalDb:
        addMenuAction(menu, "IDS_MI_DB2I_ALL", ":res/db2i.png", &MainWindow::miDb2iAll, kHaveTransfer, iphones > 0);
        addMenuAction(
            menu, "IDS_MI_EXTRACT_MEDIA_All", ":res/extract_media.png", &MainWindow::miExtractMediaAll, kHaveExtract);
        addMenuAction(menu, "IDS_MI_EXPORT_ALL", ":res/export.png", &MainWindow::miExportAll, kHaveExportFile);
        addMenuAction(menu, "IDS_MI_PRINT_ALL", ":res/print.png", &MainWindow::miPrintAll, kHavePrint);
        addMenuAction(menu, "IDS_MI_DELETE_ALL", ":res/delete.png", &MainWindow::miDeleteAll);
        addMenuAction(menu, "IDS_MI_IMPORT_FROM_ITUNES", ":res/load_itunes.png", &MainWindow::miImportiTunesToLocalDb,
            kHaveImportiTunes);
        addMenuAction(menu, "Export Messages to iTunes Backup", ":res/to_itunes.png", &MainWindow::miExport2ITunesBKAll,
            kHaveWriteiTunes);
        break;
    case kNodeChat: {
        const _AbsDBItemNode* parent = ItemModelMain::databaseNodeOf(node);
        if (parent && parent->kind == kNodeIPhone) {
            addMenuAction(menu, "IDS_MI_BACKUP_CHAT", ":res/backup.png", &MainWindow::miBackupChat);
            addMenuAction(menu, "IDS_MI_I2I_CHAT", ":res/i2i.png", &MainWindow::miI2iChat, kHaveTransfer, iphones > 1);
            addMenuAction(menu, "IDS_MI_EXTRACT_MEDIA_CHAT", ":res/extract_media.png", &MainWindow::miExtractMediaChat,
                kHaveExtract);
            addMenuAction(menu, "IDS_MI_EXPORT_CHAT", ":res/export.png", &MainWindow::miExportChat, kHaveExportFile);
            addMenuAction(menu, "IDS_MI_PRINT_CHAT", ":res/print.png", &MainWindow::miPrintChat, kHavePrint);
        } else {
            addMenuAction(
                menu, "IDS_MI_DB2I_CHAT", ":res/db2i.png", &MainWindow::miDb2iChat, kHaveTransfer, iphones > 0);
            addMenuAction(menu, "IDS_MI_EXTRACT_MEDIA_CHAT", ":res/extract_media.png", &MainWindow::miExtractMediaChat,
                kHaveExtract);
            addMenuAction(menu, "IDS_MI_EXPORT_CHAT", ":res/export.png", &MainWindow::miExportChat, kHaveExportFile);
            addMenuAction(menu, "IDS_MI_PRINT_CHAT", ":res/print.png", &MainWindow::miPrintChat, kHavePrint);
            addMenuAction(menu, "IDS_MI_DELETE_CHAT", ":res/delete.png", &MainWindow::miDeleteChat);
            addMenuAction(menu, "Export Messages with this contact to iTunes Backup", ":res/to_itunes.png",
                &MainWindow::miExport2ITunesBKChat, kHaveWriteiTunes);
        }
        break;
    }
    default:
        break;
    }
    return menu;
}

QMenu* MainWindow::createSMSContextMenu()
{
    _AbsDBItemNode* n = currentDatabaseNode();
    if (!n)
        return nullptr;
    const int iphones = m_transfer->transferPhoneCount();
    // Every entry acts on the selected rows: with none there is nothing to do.
    const bool rows = m_treeViewSMS->selectionModel() && m_treeViewSMS->selectionModel()->hasSelection();
    auto* menu = new QMenu(this);
    menu->setToolTipsVisible(true);
    if (n->kind == kNodeIPhone) {
        addMenuAction(menu, "IDS_MI_BACKUP_SEL", ":res/backup.png", &MainWindow::miBackup, true, rows);
        addMenuAction(menu, "IDS_MI_I2I_SEL", ":res/i2i.png", &MainWindow::miI2i, kHaveTransfer, rows && iphones > 1);
        addMenuAction(menu, "IDS_MI_EXTRACT_MEDIA_SEL", ":res/extract_media.png", &MainWindow::miExtractMedia,
                      kHaveExtract, rows);
        addMenuAction(menu, "IDS_MI_EXPORT_SEL", ":res/export.png", &MainWindow::miExport, kHaveExportFile, rows);
        addMenuAction(menu, "IDS_MI_PRINT_SEL", ":res/print.png", &MainWindow::miPrint, kHavePrint, rows);
    } else {
        addMenuAction(menu, "IDS_MI_DB2I_SEL", ":res/db2i.png", &MainWindow::miDb2i, kHaveTransfer, rows && iphones > 0);
        addMenuAction(menu, "IDS_MI_EXTRACT_MEDIA_SEL", ":res/extract_media.png", &MainWindow::miExtractMedia,
                      kHaveExtract, rows);
        addMenuAction(menu, "IDS_MI_EXPORT_SEL", ":res/export.png", &MainWindow::miExport, kHaveExportFile, rows);
        addMenuAction(menu, "IDS_MI_PRINT_SEL", ":res/print.png", &MainWindow::miPrint, kHavePrint, rows);
        addMenuAction(menu, "IDS_MI_DELETE_SEL", ":res/delete.png", &MainWindow::miDelete, true, rows);
        addMenuAction(menu, "Export selected Messages to iTunes Backup", ":res/to_itunes.png",
                      &MainWindow::miExport2ITunesBKSel, kHaveWriteiTunes, rows);
    }
    return menu;
}

// ---------------------------------------------------------------------------
// Command slots: each hands over to its family

void MainWindow::miExtractMedia()
{
    m_export->extractAttachments(CommandScope::Selected);
}

void MainWindow::miExtractMediaChat()
{
    m_export->extractAttachments(CommandScope::Chat);
}

void MainWindow::miExtractMediaAll()
{
    m_export->extractAttachments(CommandScope::All);
}

void MainWindow::miExtractMediaToolbar()
{
    m_export->extractAttachments(automaticScope());
}

void MainWindow::miExport()
{
    m_export->exportMessages(CommandScope::Selected);
}

void MainWindow::miExportChat()
{
    m_export->exportMessages(CommandScope::Chat);
}

void MainWindow::miExportAll()
{
    m_export->exportMessages(CommandScope::All);
}

void MainWindow::miExportToolbar()
{
    m_export->exportMessages(automaticScope());
}

void MainWindow::miPrint()
{
    m_print->printMessages(CommandScope::Selected);
}

void MainWindow::miPrintChat()
{
    m_print->printMessages(CommandScope::Chat);
}

void MainWindow::miPrintAll()
{
    m_print->printMessages(CommandScope::All);
}

void MainWindow::miPrintToolbar()
{
    m_print->printMessages(automaticScope());
}

void MainWindow::onPreviewPaintRequest(PrintWAMsgsPreview* preview, QPrinter* printer, PAbsWAMsgsSource source)
{
    m_print->paintPreview(preview, printer, source);
}

void MainWindow::miExport2ITunesBKSel()
{
    m_exportToItunes->exportToItunes(CommandScope::Selected);
}

void MainWindow::miExport2ITunesBKChat()
{
    m_exportToItunes->exportToItunes(CommandScope::Chat);
}

void MainWindow::miExport2ITunesBKAll()
{
    m_exportToItunes->exportToItunes(CommandScope::All);
}

void MainWindow::miBackup()
{
    m_localDb->backup(CommandScope::Selected);
}

void MainWindow::miBackupChat()
{
    m_localDb->backup(CommandScope::Chat);
}

void MainWindow::miBackupAll()
{
    m_localDb->backup(CommandScope::All);
}

void MainWindow::miBackupToolbar()
{
    m_localDb->backup(automaticScope(), true);
}

void MainWindow::miDelete()
{
    m_localDb->deleteSelectedMessages();
}

void MainWindow::miDeleteToolbar()
{
    m_localDb->deleteAutomatic();
}

void MainWindow::miDeleteChat()
{
    m_localDb->deleteChat();
}

void MainWindow::miDeleteAll()
{
    m_localDb->deleteDatabase();
}

void MainWindow::saveToLocalDatabase(const QString& proposedName, const PAbsWAMsgsSource& source)
{
    m_localDb->saveToLocalDatabase(proposedName, source);
}

void MainWindow::miImportiTunes()
{
    m_itunesImport->importiTunes();
}

void MainWindow::miImportiTunesToLocalDb()
{
    m_itunesImport->importiTunesToLocalDb();
}

void MainWindow::miOpenDBFolder()
{
    m_links->openDatabaseFolder();
}

void MainWindow::miHelp()
{
    m_links->help();
}

void MainWindow::miFeedback()
{
    m_links->feedback();
}

void MainWindow::miHome()
{
    m_links->home();
}

void MainWindow::miAbout()
{
    m_links->about();
}

// ---------------------------------------------------------------------------
// Other commands

void MainWindow::miUnmoutDevice()
{
    AbsTreeItemModel::_ItemNode* node = currentNode();
    if (!node || node->kind != kNodeIPhone)
        return;
    auto* device = static_cast<_IOSDeviceItemNode*>(node);
    // A saved copy leaves the tree until the next start (its folder stays):
    // ask first, it is easily taken for "Delete".
    if (device->offlineCopy
        && !questionBox(QCoreApplication::translate("MainWindow",
                                                    "Remove the saved copy \"%1\" from the tree? Its folder stays on "
                                                    "this computer; View > Refresh shows it again.")
                            .arg(device->text)))
        return;
    releaseDatabase(device->view->database());
    m_modelMain->removeNode(device);
    selectNode(m_modelMain->devicesRoot());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_lbChatImg && event->type() == QEvent::MouseButtonPress)
        m_links->openChatPicture(currentChat());
    if ((watched == m_treeViewDS || watched == m_treeViewSMS) && event->type() == QEvent::KeyPress
        && handleViewKey(watched, static_cast<QKeyEvent*>(event)))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

// Transfers to a connected iPhone: the chosen messages, the chat on show,
// the whole database, or what the tool bar's automatic scope names.
void MainWindow::miI2i() { m_transfer->transfer(CommandScope::Selected); }
void MainWindow::miI2iChat() { m_transfer->transfer(CommandScope::Chat); }
void MainWindow::miI2iAll() { m_transfer->transfer(CommandScope::All); }
void MainWindow::miI2iToolbar() { m_transfer->transfer(automaticScope()); }
void MainWindow::miDb2i() { m_transfer->transfer(CommandScope::Selected); }
void MainWindow::miDb2iChat() { m_transfer->transfer(CommandScope::Chat); }
void MainWindow::miDb2iAll() { m_transfer->transfer(CommandScope::All); }
void MainWindow::miDb2iToolbar() { m_transfer->transfer(automaticScope()); }
void MainWindow::miRestoreFromCache() { m_transfer->restoreFromCache(); }


// ---------------------------------------------------------------------------
// Bubble view

void MainWindow::attachBubbleView()
{
    m_bubbles = new WABubbleViewMgr(m_webViewSMS, this);
    // The conversation's paper colour also while no chat is shown.
    m_webViewSMS->page()->setBackgroundColor(QColor(0xEF, 0xE9, 0xDF));
    // A source failing while the bubbles fetch messages is shown once the
    // view's own handling has returned.
    connect(m_bubbles, &WABubbleViewMgr::errorOccurred, this, [](const QString& text) { errorBox(text); },
            Qt::QueuedConnection);
    // The bubbles show the list's source: its count is the list's.
    connect(m_bubbles, &WABubbleViewMgr::totalWanted, m_modelSms, &ItemModelSms::completeCount);
}

