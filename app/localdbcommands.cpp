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
#include "base/fileutil.h"
#include "chatstore/backupmessagesthread.h"
#include "chatstore/deletelocaldbmessagesthread.h"
#include "chatstore/displayrules.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/localdatabases.h"
#include "chatstore/wamsgsdatasource.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

LocalDbCommands::LocalDbCommands(MainWindow* window) : QObject(window), m_window(window)
{
    m_actBackup = commands::makeAction(window, "IDS_MI_BACKUP_TOOLBAR", QStringLiteral(":res/backup.png"));
    connect(m_actBackup, &QAction::triggered, this, [this] { backup(m_window->automaticScope(), true); });
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

void LocalDbCommands::backup(CommandScope scope, bool automatic)
{
    if (scope == CommandScope::Nothing)
        return;
    _AbsDBItemNode* n = m_window->currentDatabaseNode();
    if (!n)
        return;
    // A row clicked only to read it makes the tool bar's scope the
    // selection: the chooser says so and offers the chat and the database.
    QList<CommandScope> scopes{scope};
    if (automatic) {
        if (scope == CommandScope::Selected && m_window->currentChat())
            scopes << CommandScope::Chat;
        if (scope != CommandScope::All)
            scopes << CommandScope::All;
    }
    QStringList labels;
    for (CommandScope s : scopes)
        labels << m_window->messages()->scopeDescription(s);
    int chosen = 0;
    const QString name = chooseTarget(n->text + QStringLiteral("_Backup"), labels, &chosen);
    if (name.isEmpty())
        return;
    PAbsWAMsgsSource source;
    try {
        source = m_window->scopeSource(scopes.value(chosen, scope));
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
        return;
    }
    mergeInto(name, source);
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
    const QString name = chooseTarget(proposedName, {}, nullptr);
    if (!name.isEmpty())
        mergeInto(name, source);
}

QString LocalDbCommands::chooseTarget(const QString& proposedName, const QStringList& scopes, int* scopeIndex)
{
    QStringList names;
    for (auto* node : m_window->treeModel()->localDatabasesRoot()->children)
        names << node->text;
    LocalDbSelForm form(names, proposedName, m_window);
    form.setScopes(scopes);
    if (form.exec() != QDialog::Accepted)
        return {};
    if (scopeIndex)
        *scopeIndex = qMax(0, form.selectedScope());
    return form.selectedName();
}

void LocalDbCommands::mergeInto(const QString& name, const PAbsWAMsgsSource& source)
{
    if (!source)
        return;
    ItemModelMain* model = m_window->treeModel();
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
    if (!m_window->smsView()->selectionModel() || !m_window->smsView()->selectionModel()->hasSelection())
        return;  // nothing selected: nothing to delete, and nothing to report
    if (!questionBox(tr("IDS_CONFIRM_DEL_SEL_MESSAGES") + QStringLiteral("\n\n")
                     + QCoreApplication::translate("MainWindow", "This deletes %1 from the local database \"%2\".")
                           .arg(m_window->messages()->scopeDescription(CommandScope::Selected), n->text)))
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
    QString what = QCoreApplication::translate("MainWindow", "the chat %1").arg(sessionDisplayName(*chat, false, false));
    try {
        what += QStringLiteral(" (") + MessageCommands::messagesText(WAMsgsDataSource(parent->view, chat, true).count())
                + QLatin1Char(')');
    } catch (const std::exception&) {
        // the question goes without the count rather than with a wrong one
    }
    if (!questionBox(tr("IDS_CONFIRM_DEL_THIS_CHAT") + QStringLiteral("\n\n")
                     + QCoreApplication::translate("MainWindow", "This deletes %1 from the local database \"%2\".")
                           .arg(what, parent->text)))
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

namespace {

// Removes the folder `name` directly inside `base` with everything in it,
// after closing its database. Only a real folder (not a link) that is a
// direct child of `base` is touched, whatever characters its name holds.
// Returns empty on success, else the text for the error box.
QString removeNodeFolder(_AbsDBItemNode* node, const QString& baseFolder, MainWindow* window)
{
    const QString base = QDir(baseFolder).absolutePath();
    const QString folder = QDir(base).filePath(node->text);
    const QFileInfo info(folder);
    if (node->text.isEmpty() || node->text.contains(QLatin1Char('/')) || node->text == QLatin1String(".")
        || node->text == QLatin1String("..") || info.isSymLink() || !info.isDir()
        || QFileInfo(info.absolutePath()).canonicalFilePath() != QFileInfo(base).canonicalFilePath())
        return QCoreApplication::translate("MainWindow", "The folder %1 is not a folder of its own here; nothing was deleted.")
            .arg(QDir::toNativeSeparators(folder));
    // Nothing may read from the database once its files are gone.
    window->releaseDatabase(node->view->database());
    node->view->database()->closeDb();
    removeFolderTree(folder);
    if (QFileInfo::exists(folder) || QFileInfo(folder).isSymLink()) {
        // Whatever is left stays listed; the node opens it again on its
        // next selection.
        node->view->resetCache();
        window->treeModel()->removeChildren(node);
        return QCoreApplication::translate("MainWindow", "Could not remove everything in %1.")
            .arg(QDir::toNativeSeparators(folder));
    }
    return {};
}

}  // namespace

void LocalDbCommands::deleteSavedCopy()
{
    AbsTreeItemModel::_ItemNode* node = m_window->currentNode();
    if (!node || node->kind != kNodeIPhone || !static_cast<_IOSDeviceItemNode*>(node)->offlineCopy)
        return;
    auto* copy = static_cast<_IOSDeviceItemNode*>(node);
    if (!questionBox(QCoreApplication::translate("MainWindow", "Delete the saved copy \"%1\" with %2 from this computer?")
                         .arg(copy->text, m_window->messages()->scopeDescription(CommandScope::All))))
        return;
    const QString problem =
        removeNodeFolder(copy, QDir(dataFolder()).filePath(QStringLiteral("virtual_ios")), m_window);
    if (!problem.isEmpty()) {
        errorBox(problem);
        return;
    }
    const QString name = copy->text;
    m_window->treeModel()->removeNode(copy);
    m_window->selectNode(m_window->treeModel()->devicesRoot());
    informationBox(QCoreApplication::translate("MainWindow", "The saved copy \"%1\" was deleted.").arg(name));
}

void LocalDbCommands::deleteDatabase()
{
    AbsTreeItemModel::_ItemNode* node = m_window->currentNode();
    if (!node || node->kind != kNodeLocalDb)
        return;
    auto* dbNode = static_cast<_LocalDbItemNode*>(node);
    if (!questionBox(tr("IDS_CONFIRM_DEL_THIS_LOCALDB") + QStringLiteral("\n\n")
                     + QCoreApplication::translate("MainWindow", "This deletes the local database \"%1\" with %2.")
                           .arg(dbNode->text, m_window->messages()->scopeDescription(CommandScope::All))))
        return;
    // The node's own folder goes, even with a name the rules refuse for new
    // databases (other systems allow more characters in folder names).
    if (const QString problem = removeNodeFolder(dbNode, localDatabasesFolder(), m_window); !problem.isEmpty()) {
        errorBox(problem);
        return;
    }
    m_window->treeModel()->removeNode(dbNode);
    m_window->selectNode(m_window->treeModel()->localDatabasesRoot());
    informationBox(tr("IDS_DEL_LOCALDB_SUC"));
}
