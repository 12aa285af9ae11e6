#include "app/mainwindow.h"

#include "app/itunesimportcommands.h"
#include "app/itemmodelsms.h"
#include "app/linkcommands.h"
#include "app/localdbcommands.h"
#include "app/messagebox.h"
#include "app/messagecommands.h"
#include "app/mytreeview.h"
#include "app/onlinecommands.h"
#include "app/progressform.h"
#include "app/progressjob.h"
#include "app/stylesheet.h"
#include "app/wabubbleviewmgr.h"
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
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
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

MainWindow::MainWindow(QWidget* parent) : MainWindow(product::vendorHost(), parent) {}

MainWindow::MainWindow(const QString& vendorHost, QWidget* parent) : QMainWindow(parent)
{
    m_online = new OnlineCommands(vendorHost, dataFolder(), this);
    buildForm();
    setStyleSheet(styleSheetText());
    // The command families; each makes its actions, which the menus and the
    // tool bar below place.
    m_messages = new MessageCommands(this);
    m_localDb = new LocalDbCommands(this);
    m_itunesImport = new ItunesImportCommands(this);
    m_links = new LinkCommands(this);

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
    header->resizeSection(0, 160);
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

    attachBubbleView();

    setWindowTitle(QCoreApplication::translate("product", product::kName));
    clearMessages();

    m_lbChatImg->installEventFilter(this);

    buildMenus();

    m_statusLink = new QLabel(this);
    m_statusLink->setObjectName(QStringLiteral("lbStatusLink"));
    statusBar()->addWidget(m_statusLink);
    // The stored advert (only with a vendor host); its links open in the
    // browser when they are http or https links.
    m_online->attachLabel(m_statusLink);

    fillTreeFromDataFolder();
    updateCommandStates();

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

MainWindow::~MainWindow() = default;

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

    QMenu* file = bar->addMenu(QCoreApplication::translate("MainWindow", "File"));
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
    file->addAction(m_links->openDbFolderAction());
    file->addSeparator();
    file->addAction(exitAction);

    QMenu* tools = bar->addMenu(QCoreApplication::translate("MainWindow", "Tools"));
    tools->setObjectName(QStringLiteral("menuTools"));
    tools->setToolTipsVisible(true);
    m_actCheckUpdate = action("IDS_MI_CHECK_UPDATE", QString(), &MainWindow::miCheckUpdate, true);
    m_online->setUpCheckUpdateAction(m_actCheckUpdate);
    tools->addAction(m_actCheckUpdate);
    tools->addAction(action("IDS_CLEAR_CACHE", QString(), &MainWindow::miClearCache, kHaveDeviceCache));

    QMenu* help = bar->addMenu(QCoreApplication::translate("MainWindow", "Help"));
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
}

void MainWindow::fillTreeFromDataFolder()
{
    const QString localRoot = localDatabasesFolder();
    for (const QString& name : sortedSubFolders(localRoot)) {
        const QDir folder(QDir(localRoot).filePath(name));
        const QString database = folder.filePath(QStringLiteral("ChatStorage.sqlite"));
        if (!QFileInfo(database).isFile())
            continue;
        auto db = std::make_shared<IOSWhatsAppDb>(database, QString(), folder.filePath(QStringLiteral("Library")),
                                                  folder.filePath(QStringLiteral("Library/Media/Profile")), true);
        m_modelMain->addLocalDatabase(name, db);
    }
    m_treeViewDS->expand(m_modelMain->indexOf(m_modelMain->localDatabasesRoot()));

    const QString copies = QDir(dataFolder()).filePath(QStringLiteral("virtual_ios"));
    for (const QString& name : sortedSubFolders(copies)) {
        const QDir folder(QDir(copies).filePath(name));
        // A copy holds WhatsApp, WhatsApp Business or both, each its own node;
        // a plain chat-database folder is a copy of WhatsApp.
        bool added = false;
        for (const WhatsAppApp* waApp : WhatsAppApp::all()) {
            const QDir app(folder.filePath(waApp->bundleId));
            if (!QFileInfo(app.filePath(QStringLiteral("Documents/ChatStorage.sqlite"))).isFile())
                continue;
            PIOSDeviceInfo info = savedDeviceCopyInfo(folder.path());
            if (waApp->isBusiness())
                info->name += QStringLiteral(" (%1)").arg(waApp->name);
            auto db = std::make_shared<IOSWhatsAppDb>(app.filePath(QStringLiteral("Documents/ChatStorage.sqlite")),
                                                      app.filePath(QStringLiteral("Documents/Contacts.sqlite")),
                                                      app.filePath(QStringLiteral("Library")),
                                                      app.filePath(QStringLiteral("Library/Media/Profile")), false);
            m_modelMain->addDevice(db, info, true);
            added = true;
        }
        if (!added) {
            auto db = std::make_shared<IOSWhatsAppDb>(folder.filePath(QStringLiteral("ChatStorage.sqlite")), QString(),
                                                      folder.filePath(QStringLiteral("Library")),
                                                      folder.filePath(QStringLiteral("Library/Media/Profile")), true);
            m_modelMain->addDevice(db, savedDeviceCopyInfo(folder.path()), true);
        }
    }
    if (!m_modelMain->devicesRoot()->children.isEmpty())
        m_treeViewDS->expand(m_modelMain->indexOf(m_modelMain->devicesRoot()));
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
    const CommandEnabling rule = CommandEnabling::forNode(n ? n->kind : 0, m_modelMain->countIPhones());
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
    const int iphones = m_modelMain->countIPhones();
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
                menu, "Restore Messages from Cache", nullptr, &MainWindow::miRestoreFromCache, kHaveDeviceCache);
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
    const int iphones = m_modelMain->countIPhones();
    auto* menu = new QMenu(this);
    menu->setToolTipsVisible(true);
    if (n->kind == kNodeIPhone) {
        addMenuAction(menu, "IDS_MI_BACKUP_SEL", ":res/backup.png", &MainWindow::miBackup);
        addMenuAction(menu, "IDS_MI_I2I_SEL", ":res/i2i.png", &MainWindow::miI2i, kHaveTransfer, iphones > 1);
        addMenuAction(
            menu, "IDS_MI_EXTRACT_MEDIA_SEL", ":res/extract_media.png", &MainWindow::miExtractMedia, kHaveExtract);
        addMenuAction(menu, "IDS_MI_EXPORT_SEL", ":res/export.png", &MainWindow::miExport, kHaveExportFile);
        addMenuAction(menu, "IDS_MI_PRINT_SEL", ":res/print.png", &MainWindow::miPrint, kHavePrint);
    } else {
        addMenuAction(menu, "IDS_MI_DB2I_SEL", ":res/db2i.png", &MainWindow::miDb2i, kHaveTransfer, iphones > 0);
        addMenuAction(
            menu, "IDS_MI_EXTRACT_MEDIA_SEL", ":res/extract_media.png", &MainWindow::miExtractMedia, kHaveExtract);
        addMenuAction(menu, "IDS_MI_EXPORT_SEL", ":res/export.png", &MainWindow::miExport, kHaveExportFile);
        addMenuAction(menu, "IDS_MI_PRINT_SEL", ":res/print.png", &MainWindow::miPrint, kHavePrint);
        addMenuAction(menu, "IDS_MI_DELETE_SEL", ":res/delete.png", &MainWindow::miDelete);
        addMenuAction(menu, "Export selected Messages to iTunes Backup", ":res/to_itunes.png",
            &MainWindow::miExport2ITunesBKSel, kHaveWriteiTunes);
    }
    return menu;
}

// ---------------------------------------------------------------------------
// Command slots: each hands over to its family

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
    m_localDb->backup(automaticScope());
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
    releaseDatabase(device->view->database());
    m_modelMain->removeNode(device);
    selectNode(m_modelMain->devicesRoot());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_lbChatImg && event->type() == QEvent::MouseButtonPress)
        m_links->openChatPicture(currentChat());
    return QMainWindow::eventFilter(watched, event);
}

// Commands whose work is not part of this version: they stay disabled in
// every menu; should one be reached anyway, the user is told so.
#define Q_UNAVAILABLE_COMMAND(slot) \
    void MainWindow::slot() { informationBox(commands::unavailableNote()); }
Q_UNAVAILABLE_COMMAND(miI2i)
Q_UNAVAILABLE_COMMAND(miI2iChat)
Q_UNAVAILABLE_COMMAND(miI2iAll)
Q_UNAVAILABLE_COMMAND(miI2iToolbar)
Q_UNAVAILABLE_COMMAND(miDb2i)
Q_UNAVAILABLE_COMMAND(miDb2iChat)
Q_UNAVAILABLE_COMMAND(miDb2iAll)
Q_UNAVAILABLE_COMMAND(miDb2iToolbar)
Q_UNAVAILABLE_COMMAND(miExport2ITunesBKSel)
Q_UNAVAILABLE_COMMAND(miExport2ITunesBKChat)
Q_UNAVAILABLE_COMMAND(miExport2ITunesBKAll)
Q_UNAVAILABLE_COMMAND(miViewIOSCacheFiles)
Q_UNAVAILABLE_COMMAND(miSaveDeviceCache)
Q_UNAVAILABLE_COMMAND(miRestoreFromCache)
Q_UNAVAILABLE_COMMAND(miClearCache)
Q_UNAVAILABLE_COMMAND(miExtractMedia)
Q_UNAVAILABLE_COMMAND(miExtractMediaChat)
Q_UNAVAILABLE_COMMAND(miExtractMediaAll)
Q_UNAVAILABLE_COMMAND(miExtractMediaToolbar)
Q_UNAVAILABLE_COMMAND(miExport)
Q_UNAVAILABLE_COMMAND(miExportChat)
Q_UNAVAILABLE_COMMAND(miExportAll)
Q_UNAVAILABLE_COMMAND(miExportToolbar)
Q_UNAVAILABLE_COMMAND(miPrint)
Q_UNAVAILABLE_COMMAND(miPrintChat)
Q_UNAVAILABLE_COMMAND(miPrintAll)
Q_UNAVAILABLE_COMMAND(miPrintToolbar)
#undef Q_UNAVAILABLE_COMMAND

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
}

