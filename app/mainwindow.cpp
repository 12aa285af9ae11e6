#include "app/mainwindow.h"

#include "app/aboutusform.h"
#include "app/itemmodelsms.h"
#include "app/loadfromitunes.h"
#include "app/localdbselform.h"
#include "app/messagebox.h"
#include "app/mytreeview.h"
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

namespace {

// Whether the Part that does the work of a command is part of this build.
// A command without it stays in the menus, disabled, with a note.
constexpr bool kHaveTransfer = false;      // iPhone-to-iPhone, database-to-iPhone
constexpr bool kHaveExtract = false;       // attachment extraction
constexpr bool kHaveExportFile = false;    // export to a file
constexpr bool kHavePrint = false;         // printing
constexpr bool kHaveImportiTunes = true;   // loading from an iTunes backup
constexpr bool kHaveWriteiTunes = false;   // writing into an iTunes backup
constexpr bool kHaveDeviceCache = false;   // device cache commands
constexpr bool kHaveUpdateCheck = false;   // online update check


QString unavailableNote()
{
    return QCoreApplication::translate("MainWindow", "Not available in this version yet.");
}

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
// Rules

CommandEnabling CommandEnabling::forNode(int kind, int iphones)
{
    CommandEnabling e;
    const bool iphone = kind == kNodeIPhone;
    const bool localDb = kind == kNodeLocalDb;
    e.backup = iphone;
    e.i2i = iphone && iphones > 1;
    e.db2i = localDb && iphones > 0;
    e.extract = iphone || localDb;
    e.exportFile = iphone || localDb;
    e.print = iphone || localDb;
    e.remove = localDb;
    return e;
}

// ---------------------------------------------------------------------------
// Construction

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    buildForm();
    setStyleSheet(styleSheetText());

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
    m_statusLink->setOpenExternalLinks(true);
    m_statusLink->setTextFormat(Qt::RichText);
    statusBar()->addWidget(m_statusLink);
    QFile adv(QDir(dataFolder()).filePath(QStringLiteral("last-adv")));
    if (adv.open(QIODevice::ReadOnly))
        m_statusLink->setText(QString::fromUtf8(adv.readAll()));

    fillTreeFromDataFolder();
    updateCommandStates();
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

QAction* MainWindow::makeAction(const char* key, const QString& icon, void (MainWindow::*slot)(), bool available)
{
    auto* action = new QAction(this);
    action->setText(tr(key));
    action->setObjectName(QString::fromLatin1(key));
    if (!icon.isEmpty())
        action->setIcon(QIcon(icon));
    connect(action, &QAction::triggered, this, slot);
    if (!available)
        addUnavailableNote(action);
    return action;
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
        addUnavailableNote(a);
    else
        a->setEnabled(enabled);
    return a;
}

void MainWindow::addUnavailableNote(QAction* action)
{
    action->setEnabled(false);
    action->setProperty("unavailable", true);
    action->setToolTip(action->text() + QStringLiteral(" \u2013 ") + unavailableNote());
    action->setStatusTip(unavailableNote());
}

void MainWindow::buildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));

    m_actBackup = makeAction("IDS_MI_BACKUP_TOOLBAR", QStringLiteral(":res/backup.png"), &MainWindow::miBackupToolbar);
    m_actI2i = makeAction("IDS_MI_I2I_TOOLBAR", QStringLiteral(":res/i2i.png"), &MainWindow::miI2iToolbar,
                          kHaveTransfer);
    m_actDb2i = makeAction("IDS_MI_DB2I_TOOLBAR", QStringLiteral(":res/db2i.png"), &MainWindow::miDb2iToolbar,
                           kHaveTransfer);
    m_actExtract = makeAction("IDS_MI_EXTRACT_MEDIA_TOOLBAR", QStringLiteral(":res/extract_media.png"),
                              &MainWindow::miExtractMediaToolbar, kHaveExtract);
    m_actExport = makeAction("IDS_MI_EXPORT_TOOLBAR", QStringLiteral(":res/export.png"), &MainWindow::miExportToolbar,
                             kHaveExportFile);
    m_actPrint = makeAction("IDS_MI_PRINT_TOOLBAR", QStringLiteral(":res/print.png"), &MainWindow::miPrintToolbar,
                            kHavePrint);
    m_actDelete = makeAction("IDS_MI_DELETE_TOOLBAR", QStringLiteral(":res/delete.png"), &MainWindow::miDeleteToolbar);
    for (QAction* a : {m_actBackup, m_actI2i, m_actDb2i, m_actExtract, m_actExport, m_actPrint, m_actDelete})
        a->setEnabled(false);
    m_actImportiTunes = makeAction("IDS_MI_IMPORT_FROM_ITUNES", QStringLiteral(":res/load_itunes.png"),
                                   &MainWindow::miImportiTunes, kHaveImportiTunes);
    QAction* openDbFolder =
        makeAction("IDS_MI_OPEN_DB_FOLDER", QStringLiteral(":res/open_db_folder.png"), &MainWindow::miOpenDBFolder);
    auto* exitAction = new QAction(QIcon(QStringLiteral(":res/exit.png")), tr("IDS_MI_EXIT"), this);
    exitAction->setObjectName(QStringLiteral("IDS_MI_EXIT"));
    connect(exitAction, &QAction::triggered, this, &QWidget::close);

    QMenu* file = bar->addMenu(QCoreApplication::translate("MainWindow", "File"));
    file->setObjectName(QStringLiteral("menuFile"));
    file->setToolTipsVisible(true);
    file->addAction(m_actBackup);
    file->addAction(m_actI2i);
    file->addAction(m_actDb2i);
    file->addSeparator();
    file->addAction(m_actExtract);
    file->addAction(m_actExport);
    file->addAction(m_actPrint);
    file->addAction(m_actDelete);
    file->addSeparator();
    file->addAction(m_actImportiTunes);
    file->addAction(openDbFolder);
    file->addSeparator();
    file->addAction(exitAction);

    QMenu* tools = bar->addMenu(QCoreApplication::translate("MainWindow", "Tools"));
    tools->setObjectName(QStringLiteral("menuTools"));
    tools->setToolTipsVisible(true);
    tools->addAction(makeAction("IDS_MI_CHECK_UPDATE", QString(), &MainWindow::miCheckUpdate, kHaveUpdateCheck));
    tools->addAction(makeAction("IDS_CLEAR_CACHE", QString(), &MainWindow::miClearCache, kHaveDeviceCache));

    // The web pages need the vendor's web server; a build without one has
    // nothing to open.
    const bool online = !product::vendorHost().isEmpty();
    QMenu* help = bar->addMenu(QCoreApplication::translate("MainWindow", "Help"));
    help->setObjectName(QStringLiteral("menuHelp"));
    help->setToolTipsVisible(true);
    QAction* helpAction = makeAction("IDS_MI_HELP", QStringLiteral(":res/help.png"), &MainWindow::miHelp, online);
    QAction* feedback = makeAction("IDS_MI_FEEDBACK", QString(), &MainWindow::miFeedback, online);
    help->addAction(helpAction);
    help->addAction(feedback);
    help->addAction(makeAction("IDS_MI_ABOUT", QString(), &MainWindow::miAbout));
    QAction* home = makeAction("IDS_MI_HOME", QStringLiteral(":res/home.png"), &MainWindow::miHome, online);

    QToolBar* toolBar = new QToolBar(this);
    toolBar->setObjectName(QStringLiteral("mainToolBar"));
    toolBar->setIconSize(QSize(52, 52));
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolBar->toggleViewAction()->setEnabled(false);
    addToolBar(Qt::TopToolBarArea, toolBar);
    toolBar->addAction(m_actBackup);
    toolBar->addAction(m_actI2i);
    toolBar->addAction(m_actDb2i);
    toolBar->addAction(m_actImportiTunes);
    toolBar->addSeparator();
    toolBar->addAction(m_actExtract);
    toolBar->addAction(m_actExport);
    toolBar->addAction(m_actPrint);
    toolBar->addAction(m_actDelete);
    toolBar->addSeparator();
    toolBar->addAction(home);
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
    if (!m_actBackup)
        return;  // the models are being attached; the menus come later
    const _AbsDBItemNode* n = currentDatabaseNode();
    const CommandEnabling rule = CommandEnabling::forNode(n ? n->kind : 0, m_modelMain->countIPhones());
    const std::pair<QAction*, bool> states[] = {
        {m_actBackup, rule.backup},      {m_actI2i, rule.i2i},         {m_actDb2i, rule.db2i},
        {m_actExtract, rule.extract},    {m_actExport, rule.exportFile}, {m_actPrint, rule.print},
        {m_actDelete, rule.remove},
    };
    for (const auto& [action, enabled] : states)
        action->setEnabled(enabled && !action->property("unavailable").toBool());
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

void MainWindow::searchCotnact()
{
    const QString keyword = m_txtHandleKeyword->text().trimmed();
    if (keyword.isEmpty())
        return;
    AbsTreeItemModel::_ItemNode* current = currentNode();
    if (!current || current->kind == kNodeRootDevice || current->kind == kNodeRootLocalDb)
        return;
    AbsTreeItemModel::_ItemNode* list = current->kind == kNodeChat ? current->parent : current;
    const int start = current->kind == kNodeChat ? current->rowInParent() + 1 : 0;
    const auto matches = [&](int row) {
        AbsTreeItemModel::_ItemNode* child = list->children.at(row);
        if (child->kind == kNodeChat && child->text.contains(keyword, Qt::CaseInsensitive)) {
            selectNode(child);
            return true;
        }
        return false;
    };
    for (int row = start; row < list->children.size(); ++row)
        if (matches(row))
            return;
    for (int row = 0; row < start && row < list->children.size(); ++row)
        if (matches(row))
            return;
    informationBox(tr("IDS_CAN_NOT_FOUNDCONTACT_KEYWORD_%0").arg(keyword));
}

// ---------------------------------------------------------------------------
// Message list and header strip

bool MainWindow::currentAscending() const
{
    const QHeaderView* header = m_treeViewSMS->header();
    return !(header->sortIndicatorSection() == 0 && header->sortIndicatorOrder() == Qt::DescendingOrder);
}

void MainWindow::showMessages(const PChatDbView& view, const PChatSession& chat, bool ascending)
{
    m_currentChat = chat;
    auto source = std::make_shared<WAMsgsDataSource>(view, chat, ascending);
    try {
        m_modelSms->setSource(source);
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
        return;
    }
    showBubbles(source);
    m_lbSMSCount->setText(QCoreApplication::translate("MainWindow", "Messages: %1").arg(m_modelSms->total()));
    showChatHeader(chat);
}

void MainWindow::showChatHeader(const PChatSession& chat)
{
    if (!chat) {
        m_lbChatImg->hide();
        m_lbChatImg->clear();
        m_lbChatName->setText(QCoreApplication::translate("MainWindow", "All"));
        return;
    }
    QImage picture;
    if (!chat->thumbnailPath.isEmpty()
        && (picture.load(chat->thumbnailPath, "JPEG") || picture.load(chat->thumbnailPath, "PNG"))) {
        m_lbChatImg->setPixmap(QPixmap::fromImage(picture.scaledToWidth(32, Qt::SmoothTransformation)));
        m_lbChatImg->show();
    } else {
        m_lbChatImg->clear();
        m_lbChatImg->hide();
    }
    QString name = sessionDisplayName(*chat, false, false);
    if (name.size() > 20)
        name = name.left(17) + QStringLiteral("...");
    m_lbChatName->setText(name);
}

void MainWindow::clearMessages()
{
    m_currentChat.reset();
    auto empty = std::make_shared<WAMsgsListSource>();
    m_modelSms->setSource(empty);
    showBubbles(empty);
    m_lbSMSCount->setText(QCoreApplication::translate("MainWindow", "Messages: %1").arg(0));
    m_lbChatImg->clear();
    m_lbChatImg->hide();
    m_lbChatName->clear();
}

void MainWindow::onSMSItemSelected(const QItemSelection& selected, const QItemSelection&)
{
    const QModelIndexList indexes = selected.indexes();
    if (indexes.isEmpty())
        return;
    const QModelIndex& first = indexes.first();
    if (first.column() == 0 && first.internalId() == quintptr(first.row() + 1))
        scrollBubblesTo(first.row());
}

void MainWindow::onSMSSortIndicatorChanged(int column, Qt::SortOrder order)
{
    if (column != 0)
        return;
    AbsTreeItemModel::_ItemNode* node = currentNode();
    if (!node)
        return;
    const bool ascending = order == Qt::AscendingOrder;
    if (node->kind == kNodeChat) {
        if (auto* parent = ItemModelMain::databaseNodeOf(node))
            showMessages(parent->view, static_cast<_ChatSessionItemNode*>(node)->session, ascending);
    } else if (auto* dbNode = ItemModelMain::databaseNodeOf(node)) {
        showMessages(dbNode->view, nullptr, ascending);
    }
}

void MainWindow::searchMessages()
{
    BusyLock busy;
    if (!busy.owns())
        return;
    ProgressForm form(QCoreApplication::translate("MainWindow", "Searching..."), nullptr);
    form.show();
    const QString keyword = m_txtSMSKeyword->text().trimmed();
    if (keyword.isEmpty())
        return;
    const PAbsWAMsgsSource source = m_modelSms->source();
    try {
        const qint64 total = source ? source->count() : 0;
        if (total == 0) {
            informationBox(tr("IDS_CAN_NOT_FOUND_AND_MESSAGES"));
            return;
        }
        const QModelIndex current = m_treeViewSMS->currentIndex();
        const qint64 start = current.isValid() ? current.row() + 1 : 0;
        // Returns 1 on a match, 0 to go on, -1 when the user cancelled.
        const auto examine = [&](qint64 i) {
            if (form.cancelled.load())
                return -1;
            form.updateProgress(QString(), int(i * 100 / total), QString());
            while (i >= m_modelSms->rowCount() && m_modelSms->canFetchMore(QModelIndex()))
                m_modelSms->fetchMore(QModelIndex());
            if (i >= m_modelSms->rowCount())
                return -1;  // the list could not load that far; it said why
            const _Message message = source->at(i);
            if (messageDisplayText(message).contains(keyword, Qt::CaseInsensitive)) {
                const QModelIndex found = m_modelSms->index(int(i), 0);
                m_treeViewSMS->setCurrentIndex(found);
                m_treeViewSMS->scrollTo(found);
                return 1;
            }
            QCoreApplication::processEvents();
            return 0;
        };
        for (qint64 i = start; i < total; ++i) {
            const int r = examine(i);
            if (r != 0)
                return;
        }
        for (qint64 i = 0; i < start && i < total; ++i) {
            const int r = examine(i);
            if (r != 0)
                return;
        }
        informationBox(tr("IDS_CAN_NOT_FOUNDSMS_KEYWORD_%0").arg(keyword));
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
    }
}

// ---------------------------------------------------------------------------
// Scopes

CommandScope MainWindow::automaticScope() const
{
    if (m_treeViewSMS->selectionModel() && m_treeViewSMS->selectionModel()->hasSelection())
        return CommandScope::Selected;
    AbsTreeItemModel::_ItemNode* node = currentNode();
    if (!node)
        return CommandScope::Nothing;
    if (node->kind == kNodeChat)
        return CommandScope::Chat;
    return CommandScope::All;
}

PAbsWAMsgsSource MainWindow::scopeSource(CommandScope scope) const
{
    switch (scope) {
    case CommandScope::Selected: {
        QList<_Message> messages;
        const PAbsWAMsgsSource& source = m_modelSms->source();
        if (source && m_treeViewSMS->selectionModel()) {
            for (const QModelIndex& row : m_treeViewSMS->selectionModel()->selectedRows(0))
                messages.append(source->at(row.row()));
        }
        return std::make_shared<WAMsgsListSource>(messages);
    }
    case CommandScope::Chat:
        return m_modelSms->source() ? m_modelSms->source() : std::make_shared<WAMsgsListSource>();
    case CommandScope::All:
        if (_AbsDBItemNode* n = currentDatabaseNode())
            return std::make_shared<WAMsgsDataSource>(n->view, nullptr, true);
        return std::make_shared<WAMsgsListSource>();
    case CommandScope::Nothing:
        break;
    }
    return nullptr;
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
// Backup

void MainWindow::miBackup()
{
    backupScope(CommandScope::Selected);
}

void MainWindow::miBackupChat()
{
    backupScope(CommandScope::Chat);
}

void MainWindow::miBackupAll()
{
    backupScope(CommandScope::All);
}

void MainWindow::miBackupToolbar()
{
    backupScope(automaticScope());
}

void MainWindow::backupScope(CommandScope scope)
{
    if (scope == CommandScope::Nothing)
        return;
    _AbsDBItemNode* n = currentDatabaseNode();
    if (!n)
        return;
    PAbsWAMsgsSource source;
    try {
        source = scopeSource(scope);
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
        return;
    }
    saveToLocalDatabase(n->text + QStringLiteral("_Backup"), source);
}

// ---------------------------------------------------------------------------
// Delete

void MainWindow::miDelete()
{
    deleteSelectedMessages();
}

void MainWindow::miDeleteToolbar()
{
    switch (automaticScope()) {
    case CommandScope::Selected:
        miDelete();
        break;
    case CommandScope::Chat:
        miDeleteChat();
        break;
    case CommandScope::All:
        miDeleteAll();
        break;
    case CommandScope::Nothing:
        break;
    }
}

void MainWindow::miDeleteChat()
{
    AbsTreeItemModel::_ItemNode* node = currentNode();
    if (!node || node->kind != kNodeChat)
        return;
    _AbsDBItemNode* parent = ItemModelMain::databaseNodeOf(node);
    if (!parent || parent->kind != kNodeLocalDb)
        return;
    const PChatSession chat = static_cast<_ChatSessionItemNode*>(node)->session;
    auto db = std::dynamic_pointer_cast<IOSWhatsAppDb>(parent->view->database());
    if (!chat || !db)
        return;
    if (!questionBox(tr("IDS_CONFIRM_DEL_THIS_CHAT")))
        return;
    bool inTransaction = false;
    try {
        db->beginTransaction();
        inTransaction = true;
        db->deleteChat(chat->Z_PK);
        db->endTransaction(true);
        inTransaction = false;
        removeChatMediaFolder(*db, chat->ZCONTACTJID);
        // The list showed the deleted chat: show its database instead.
        clearMessages();
        informationBox(tr("IDS_SUC_DEL_CHAT_MESSAGES"));
        reloadChats(parent);
        selectNode(parent);
    } catch (const std::exception& e) {
        if (inTransaction)
            db->endTransaction(false);
        errorBox(QString::fromUtf8(e.what()));
    }
}

void MainWindow::miDeleteAll()
{
    AbsTreeItemModel::_ItemNode* node = currentNode();
    if (!node || node->kind != kNodeLocalDb)
        return;
    auto* dbNode = static_cast<_LocalDbItemNode*>(node);
    if (!questionBox(tr("IDS_CONFIRM_DEL_THIS_LOCALDB")))
        return;
    // Nothing may read from the database once its files are gone.
    const auto* shown = dynamic_cast<const WAMsgsDataSource*>(m_modelSms->source().get());
    if (shown && shown->view() && shown->view()->database() == dbNode->view->database())
        clearMessages();
    dbNode->view->database()->closeDb();
    // Only a folder directly inside local_databases whose name passes the
    // name rules is ever removed.
    removeLocalDatabase(dbNode->text, localDatabasesFolder());
    m_modelMain->removeNode(dbNode);
    selectNode(m_modelMain->localDatabasesRoot());
    informationBox(tr("IDS_DEL_LOCALDB_SUC"));
}

// ---------------------------------------------------------------------------
// Other commands

void MainWindow::miUnmoutDevice()
{
    AbsTreeItemModel::_ItemNode* node = currentNode();
    if (!node || node->kind != kNodeIPhone)
        return;
    auto* device = static_cast<_IOSDeviceItemNode*>(node);
    const auto* shown = dynamic_cast<const WAMsgsDataSource*>(m_modelSms->source().get());
    if (shown && shown->view() && shown->view()->database() == device->view->database())
        clearMessages();
    m_modelMain->removeNode(device);
    selectNode(m_modelMain->devicesRoot());
}

void MainWindow::miOpenDBFolder()
{
    openInExplorer(QDir(localDatabasesFolder()).absolutePath());
}

void MainWindow::openVendorPage(const QString& path)
{
    const QString host = product::vendorHost();
    if (host.isEmpty())
        return;
    openExternal(QStringLiteral("http://") + host + path);
}

void MainWindow::miHelp()
{
    openVendorPage(QStringLiteral("/chat-transfer/help.html"));
}

void MainWindow::miFeedback()
{
    openVendorPage(QStringLiteral("/support.html"));
}

void MainWindow::miHome()
{
    openVendorPage(QStringLiteral("/chat-transfer.html"));
}

void MainWindow::miAbout()
{
    AboutUsForm about(this);
    about.setWindowModality(Qt::WindowModal);
    about.exec();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_lbChatImg && event->type() == QEvent::MouseButtonPress)
        onChatPictureClicked();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::onChatPictureClicked()
{
    if (!m_currentChat)
        return;
    const QString source = QFileInfo::exists(m_currentChat->picturePath) ? m_currentChat->picturePath
                                                                         : m_currentChat->thumbnailPath;
    if (source.isEmpty() || !QFileInfo(source).isFile())
        return;
    const QString temp = platform::privateTempFolder();
    if (temp.isEmpty())
        return;
    const QString copy = QDir(temp).filePath(QFileInfo(m_currentChat->thumbnailPath).fileName() + QStringLiteral(".jpg"));
    if (!QFileInfo::exists(copy))
        QFile::copy(source, copy);
    openInExplorer(copy);
}

// Commands whose work is not part of this version: they stay disabled in
// every menu; should one be reached anyway, the user is told so.
#define Q_UNAVAILABLE_COMMAND(slot) \
    void MainWindow::slot() { informationBox(unavailableNote()); }
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
Q_UNAVAILABLE_COMMAND(miCheckUpdate)
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

void MainWindow::showBubbles(const PAbsWAMsgsSource& source)
{
    m_bubbles->showBubble(source);
}

void MainWindow::scrollBubblesTo(int row)
{
    m_bubbles->scrollToPos(row);
}

// ---------------------------------------------------------------------------
// Backing up into and deleting from local databases

namespace {

// Asks for the target local database; empty when the user cancelled.
QString chooseLocalDbName(QWidget* parent, const QStringList& names, const QString& proposed)
{
    return LocalDbSelForm::selectName(names, proposed, parent);
}

}  // namespace

_LocalDbItemNode* MainWindow::localDbNode(const QString& name) const
{
    QStringList names;
    for (auto* node : m_modelMain->localDatabasesRoot()->children)
        names << node->text;
    const QString match = matchLocalDatabaseName(name, names);
    if (match.isEmpty())
        return nullptr;
    for (auto* node : m_modelMain->localDatabasesRoot()->children)
        if (node->text == match && node->kind == kNodeLocalDb)
            return static_cast<_LocalDbItemNode*>(node);
    return nullptr;
}

void MainWindow::miImportiTunes()
{
    loadFromItunes(this, QString(), [this](const QString& proposedName, const PAbsWAMsgsSource& source) {
        saveToLocalDatabase(proposedName, source);
    });
}

void MainWindow::miImportiTunesToLocalDb()
{
    // Only from a local database's own entry: its folder receives the copy,
    // its name is proposed to the save step.
    AbsTreeItemModel::_ItemNode* node = currentNode();
    if (!node || node->kind != kNodeLocalDb)
        return;
    loadFromItunes(this, QDir(localDatabasesFolder()).filePath(node->text),
                   [this](const QString& proposedName, const PAbsWAMsgsSource& source) {
                       saveToLocalDatabase(proposedName, source);
                   });
}

void MainWindow::saveToLocalDatabase(const QString& proposedName, const PAbsWAMsgsSource& source)
{
    if (!source)
        return;
    QStringList names;
    for (auto* node : m_modelMain->localDatabasesRoot()->children)
        names << node->text;
    const QString name = chooseLocalDbName(this, names, proposedName);
    if (name.isEmpty())
        return;

    _LocalDbItemNode* target = localDbNode(name);
    std::shared_ptr<IOSWhatsAppDb> targetDb;
    try {
        if (!target) {
            // Also finds a database made on disk since start-up (by the
            // command line) under another letter case.
            LocalDatabase found = findOrCreateLocalDatabase(name);
            target = localDbNode(found.name);
            if (!target)
                target = m_modelMain->addLocalDatabase(found.name, found.db);
        }
        targetDb = std::dynamic_pointer_cast<IOSWhatsAppDb>(target->view->database());
        if (!targetDb)
            throw AppError(QStringLiteral("MainWindow::saveToLocalDatabase: not a chat database."));
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
        return;
    }
    // Messages of the target itself would only be read and written back.
    if (const auto* data = dynamic_cast<const WAMsgsDataSource*>(source.get());
        data && data->view() && data->view()->database() == target->view->database()) {
        warningBox(QCoreApplication::translate("MainWindow", "The messages are already in this database."));
        return;
    }

    BackupMessagesThread job(targetDb, source);
    if (!runProgressJob(this, QString(), job))
        return;
    try {
        reloadChats(target);
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
    }
    const QPersistentModelIndex index = m_modelMain->indexOf(target);
    m_treeViewDS->expand(index);
    // The selection takes effect once this handler has returned.
    QTimer::singleShot(0, this, [this, index] {
        if (index.isValid()) {
            m_treeViewDS->setCurrentIndex(index);
            m_treeViewDS->scrollTo(index);
        }
    });
}

void MainWindow::deleteSelectedMessages()
{
    _AbsDBItemNode* n = currentDatabaseNode();
    if (!n || n->kind != kNodeLocalDb)
        return;
    auto db = std::dynamic_pointer_cast<IOSWhatsAppDb>(n->view->database());
    if (!db)
        return;
    if (!questionBox(tr("IDS_CONFIRM_DEL_SEL_MESSAGES")))
        return;
    PAbsWAMsgsSource selected;
    try {
        selected = scopeSource(CommandScope::Selected);
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
        return;
    }
    DeleteLocalDbMessagesThread job(db, selected);
    if (!runProgressJob(this, QString(), job))
        return;
    try {
        const bool ascending = currentAscending();
        AbsTreeItemModel::_ItemNode* current = currentNode();
        // The view's cached page and count still hold the deleted messages.
        n->view->resetCache();
        if (current == n) {
            reloadChats(n);
            showMessages(n->view, nullptr, ascending);
        } else if (current && current->kind == kNodeChat && current->parent == n) {
            showMessages(n->view, static_cast<_ChatSessionItemNode*>(current)->session, ascending);
        }
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
    }
}
