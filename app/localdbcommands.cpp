#include "app/localdbcommands.h"

#include "app/itemmodelmain.h"
#include "app/itemmodelsms.h"
#include "app/localdbselform.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "app/messagecommands.h"
#include "app/mytreeview.h"
#include "app/progressjob.h"
#include "base/apperror.h"
#include "base/datafolder.h"
#include "chatstore/backupmessagesthread.h"
#include "chatstore/deletelocaldbmessagesthread.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/localdatabases.h"
#include "chatstore/wamsgsdatasource.h"

#include <QAction>
#include <QCoreApplication>
#include <QTimer>

LocalDbCommands::LocalDbCommands(MainWindow* window) : QObject(window), m_window(window)
{
    m_actBackup = commands::makeAction(window, "IDS_MI_BACKUP_TOOLBAR", QStringLiteral(":res/backup.png"));
    connect(m_actBackup, &QAction::triggered, this, [this] { backup(m_window->automaticScope()); });
    m_actDelete = commands::makeAction(window, "IDS_MI_DELETE_TOOLBAR", QStringLiteral(":res/delete.png"));
    connect(m_actDelete, &QAction::triggered, this, &LocalDbCommands::deleteAutomatic);
    m_actBackup->setEnabled(false);
    m_actDelete->setEnabled(false);
}

void LocalDbCommands::updateEnabled(const CommandEnabling& rule)
{
    applyEnabling(m_actBackup, rule.backup);
    applyEnabling(m_actDelete, rule.remove);
}

// ---------------------------------------------------------------------------
// Backup

void LocalDbCommands::backup(CommandScope scope)
{
    if (scope == CommandScope::Nothing)
        return;
    _AbsDBItemNode* n = m_window->currentDatabaseNode();
    if (!n)
        return;
    PAbsWAMsgsSource source;
    try {
        source = m_window->scopeSource(scope);
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
        return;
    }
    saveToLocalDatabase(n->text + QStringLiteral("_Backup"), source);
}

_LocalDbItemNode* LocalDbCommands::localDbNode(const QString& name) const
{
    ItemModelMain* model = m_window->treeModel();
    QStringList names;
    for (auto* node : model->localDatabasesRoot()->children)
        names << node->text;
    const QString match = matchLocalDatabaseName(name, names);
    if (match.isEmpty())
        return nullptr;
    for (auto* node : model->localDatabasesRoot()->children)
        if (node->text == match && node->kind == kNodeLocalDb)
            return static_cast<_LocalDbItemNode*>(node);
    return nullptr;
}

void LocalDbCommands::saveToLocalDatabase(const QString& proposedName, const PAbsWAMsgsSource& source)
{
    if (!source)
        return;
    ItemModelMain* model = m_window->treeModel();
    QStringList names;
    for (auto* node : model->localDatabasesRoot()->children)
        names << node->text;
    const QString name = LocalDbSelForm::selectName(names, proposedName, m_window);
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
                target = model->addLocalDatabase(found.name, found.db);
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
    if (!runProgressJob(m_window, QString(), job))
        return;
    try {
        m_window->reloadChats(target);
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
    }
    MyTreeView* tree = m_window->treeView();
    const QPersistentModelIndex index = model->indexOf(target);
    tree->expand(index);
    // The selection takes effect once this handler has returned.
    QTimer::singleShot(0, tree, [tree, index] {
        if (index.isValid()) {
            tree->setCurrentIndex(index);
            tree->scrollTo(index);
        }
    });
}

// ---------------------------------------------------------------------------
// Delete

void LocalDbCommands::deleteAutomatic()
{
    switch (m_window->automaticScope()) {
    case CommandScope::Selected:
        deleteSelectedMessages();
        break;
    case CommandScope::Chat:
        deleteChat();
        break;
    case CommandScope::All:
        deleteDatabase();
        break;
    case CommandScope::Nothing:
        break;
    }
}

void LocalDbCommands::deleteSelectedMessages()
{
    _AbsDBItemNode* n = m_window->currentDatabaseNode();
    if (!n || n->kind != kNodeLocalDb)
        return;
    auto db = std::dynamic_pointer_cast<IOSWhatsAppDb>(n->view->database());
    if (!db)
        return;
    if (!questionBox(tr("IDS_CONFIRM_DEL_SEL_MESSAGES")))
        return;
    PAbsWAMsgsSource selected;
    try {
        selected = m_window->scopeSource(CommandScope::Selected);
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
        return;
    }
    DeleteLocalDbMessagesThread job(db, selected);
    if (!runProgressJob(m_window, QString(), job))
        return;
    try {
        const bool ascending = m_window->messages()->currentAscending();
        AbsTreeItemModel::_ItemNode* current = m_window->currentNode();
        // The view's cached page and count still hold the deleted messages.
        n->view->resetCache();
        if (current == n) {
            m_window->reloadChats(n);
            m_window->showMessages(n->view, nullptr, ascending);
        } else if (current && current->kind == kNodeChat && current->parent == n) {
            m_window->showMessages(n->view, static_cast<_ChatSessionItemNode*>(current)->session, ascending);
        }
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
    }
}

void LocalDbCommands::deleteChat()
{
    AbsTreeItemModel::_ItemNode* node = m_window->currentNode();
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
        m_window->clearMessages();
        informationBox(tr("IDS_SUC_DEL_CHAT_MESSAGES"));
        m_window->reloadChats(parent);
        m_window->selectNode(parent);
    } catch (const std::exception& e) {
        if (inTransaction)
            db->endTransaction(false);
        errorBox(QString::fromUtf8(e.what()));
    }
}

void LocalDbCommands::deleteDatabase()
{
    AbsTreeItemModel::_ItemNode* node = m_window->currentNode();
    if (!node || node->kind != kNodeLocalDb)
        return;
    auto* dbNode = static_cast<_LocalDbItemNode*>(node);
    if (!questionBox(tr("IDS_CONFIRM_DEL_THIS_LOCALDB")))
        return;
    // Nothing may read from the database once its files are gone.
    m_window->releaseDatabase(dbNode->view->database());
    dbNode->view->database()->closeDb();
    // Only a folder directly inside local_databases whose name passes the
    // name rules is ever removed.
    removeLocalDatabase(dbNode->text, localDatabasesFolder());
    m_window->treeModel()->removeNode(dbNode);
    m_window->selectNode(m_window->treeModel()->localDatabasesRoot());
    informationBox(tr("IDS_DEL_LOCALDB_SUC"));
}
