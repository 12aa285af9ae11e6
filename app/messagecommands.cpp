#include "app/messagecommands.h"

#include "app/itemmodelmain.h"
#include "app/itemmodelsms.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "app/mytreeview.h"
#include "app/progressform.h"
#include "app/wabubbleviewmgr.h"
#include "base/busylock.h"
#include "chatstore/displayrules.h"
#include "chatstore/wamsgsdatasource.h"
#include "chatstore/wamsgslistsource.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>

MessageCommands::MessageCommands(MainWindow* window) : QObject(window), m_window(window) {}

bool MessageCommands::currentAscending() const
{
    const QHeaderView* header = m_window->smsView()->header();
    return !(header->sortIndicatorSection() == 0 && header->sortIndicatorOrder() == Qt::DescendingOrder);
}

void MessageCommands::showMessages(const PChatDbView& view, const PChatSession& chat, bool ascending)
{
    m_currentChat = chat;
    auto source = std::make_shared<WAMsgsDataSource>(view, chat, ascending);
    try {
        m_window->smsModel()->setSource(source);
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
        return;
    }
    m_window->bubbleView()->showBubble(source);
    m_window->smsCountLabel()->setText(
        QCoreApplication::translate("MainWindow", "Messages: %1").arg(m_window->smsModel()->total()));
    showChatHeader(chat);
}

void MessageCommands::showChatHeader(const PChatSession& chat)
{
    QLabel* picture = m_window->chatPictureLabel();
    QLabel* name = m_window->chatNameLabel();
    if (!chat) {
        picture->hide();
        picture->clear();
        name->setText(QCoreApplication::translate("MainWindow", "All"));
        return;
    }
    QImage image;
    if (!chat->thumbnailPath.isEmpty()
        && (image.load(chat->thumbnailPath, "JPEG") || image.load(chat->thumbnailPath, "PNG"))) {
        picture->setPixmap(QPixmap::fromImage(image.scaledToWidth(32, Qt::SmoothTransformation)));
        picture->show();
    } else {
        picture->clear();
        picture->hide();
    }
    QString text = sessionDisplayName(*chat, false, false);
    if (text.size() > 20)
        text = text.left(17) + QStringLiteral("...");
    name->setText(text);
}

void MessageCommands::clearMessages()
{
    m_currentChat.reset();
    auto empty = std::make_shared<WAMsgsListSource>();
    m_window->smsModel()->setSource(empty);
    m_window->bubbleView()->showBubble(empty);
    m_window->smsCountLabel()->setText(QCoreApplication::translate("MainWindow", "Messages: %1").arg(0));
    m_window->chatPictureLabel()->clear();
    m_window->chatPictureLabel()->hide();
    m_window->chatNameLabel()->clear();
}

void MessageCommands::onSMSItemSelected(const QItemSelection& selected)
{
    const QModelIndexList indexes = selected.indexes();
    if (indexes.isEmpty())
        return;
    const QModelIndex& first = indexes.first();
    if (first.column() == 0 && first.internalId() == quintptr(first.row() + 1))
        m_window->bubbleView()->scrollToPos(first.row());
}

void MessageCommands::onSortIndicatorChanged(int column, Qt::SortOrder order)
{
    if (column != 0)
        return;
    AbsTreeItemModel::_ItemNode* node = m_window->currentNode();
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

void MessageCommands::searchMessages()
{
    BusyLock busy;
    if (!busy.owns())
        return;
    ProgressForm form(QCoreApplication::translate("MainWindow", "Searching..."), nullptr);
    form.show();
    const QString keyword = m_window->smsKeywordEdit()->text().trimmed();
    if (keyword.isEmpty())
        return;
    ItemModelSms* model = m_window->smsModel();
    MyTreeView* list = m_window->smsView();
    const PAbsWAMsgsSource source = model->source();
    try {
        const qint64 total = source ? source->count() : 0;
        if (total == 0) {
            informationBox(tr("IDS_CAN_NOT_FOUND_AND_MESSAGES"));
            return;
        }
        const QModelIndex current = list->currentIndex();
        const qint64 start = current.isValid() ? current.row() + 1 : 0;
        // Returns 1 on a match, 0 to go on, -1 when the user cancelled.
        const auto examine = [&](qint64 i) {
            if (form.cancelled.load())
                return -1;
            form.updateProgress(QString(), int(i * 100 / total), QString());
            while (i >= model->rowCount() && model->canFetchMore(QModelIndex()))
                model->fetchMore(QModelIndex());
            if (i >= model->rowCount())
                return -1;  // the list could not load that far; it said why
            const _Message message = source->at(i);
            if (messageDisplayText(message).contains(keyword, Qt::CaseInsensitive)) {
                const QModelIndex found = model->index(int(i), 0);
                list->setCurrentIndex(found);
                list->scrollTo(found);
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

void MessageCommands::searchChats()
{
    const QString keyword = m_window->chatKeywordEdit()->text().trimmed();
    if (keyword.isEmpty())
        return;
    AbsTreeItemModel::_ItemNode* current = m_window->currentNode();
    if (!current || current->kind == kNodeRootDevice || current->kind == kNodeRootLocalDb)
        return;
    AbsTreeItemModel::_ItemNode* list = current->kind == kNodeChat ? current->parent : current;
    const int start = current->kind == kNodeChat ? current->rowInParent() + 1 : 0;
    const auto matches = [&](int row) {
        AbsTreeItemModel::_ItemNode* child = list->children.at(row);
        if (child->kind == kNodeChat && child->text.contains(keyword, Qt::CaseInsensitive)) {
            m_window->selectNode(child);
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

CommandScope MessageCommands::automaticScope() const
{
    const MyTreeView* list = m_window->smsView();
    if (list->selectionModel() && list->selectionModel()->hasSelection())
        return CommandScope::Selected;
    AbsTreeItemModel::_ItemNode* node = m_window->currentNode();
    if (!node)
        return CommandScope::Nothing;
    if (node->kind == kNodeChat)
        return CommandScope::Chat;
    return CommandScope::All;
}

PAbsWAMsgsSource MessageCommands::scopeSource(CommandScope scope) const
{
    const ItemModelSms* model = m_window->smsModel();
    switch (scope) {
    case CommandScope::Selected: {
        QList<_Message> messages;
        const PAbsWAMsgsSource& source = model->source();
        const MyTreeView* list = m_window->smsView();
        if (source && list->selectionModel()) {
            for (const QModelIndex& row : list->selectionModel()->selectedRows(0))
                messages.append(source->at(row.row()));
        }
        return std::make_shared<WAMsgsListSource>(messages);
    }
    case CommandScope::Chat:
        return model->source() ? model->source() : std::make_shared<WAMsgsListSource>();
    case CommandScope::All:
        if (_AbsDBItemNode* n = m_window->currentDatabaseNode())
            return std::make_shared<WAMsgsDataSource>(n->view, nullptr, true);
        return std::make_shared<WAMsgsListSource>();
    case CommandScope::Nothing:
        break;
    }
    return nullptr;
}
