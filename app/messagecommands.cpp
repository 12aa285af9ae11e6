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
#include "chatstore/messagesearch.h"
#include "chatstore/wamsgsdatasource.h"
#include "chatstore/wamsgslistsource.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QSignalBlocker>

#include <algorithm>

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
    // A new list starts at its first row, wherever the last one was.
    m_window->smsView()->scrollToTop();
    m_window->bubbleView()->showBubble(source);
    if (m_window->smsModel()->isCounting())
        m_window->smsCountLabel()->setText(QCoreApplication::translate("MainWindow", "Messages: counting..."));
    else
        onCounted(m_window->smsModel()->total());
    showChatHeader(chat);
}

void MessageCommands::onCounted(qint64 total)
{
    m_window->smsCountLabel()->setText(QCoreApplication::translate("MainWindow", "Messages: %1").arg(total));
    m_window->bubbleView()->setTotal(total);
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
    if (column != 0) {
        QHeaderView* header = m_window->smsView()->header();
        if (column < 0) {
            m_sortSection = -1;  // cleared: a new node is shown in date order
        } else {
            // Only the date sorts: a click elsewhere leaves the indicator
            // where it was instead of promising an order the list lacks.
            const QSignalBlocker quiet(header);
            header->setSortIndicator(m_sortSection, m_sortOrder);
            header->viewport()->update();
        }
        return;
    }
    m_sortSection = 0;
    m_sortOrder = order;
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
    // The search runs to the end and wraps around: the list needs every row.
    model->completeCount();
    const PAbsWAMsgsSource source = model->source();
    try {
        const qint64 total = source ? source->count() : 0;
        if (total == 0) {
            informationBox(tr("IDS_CAN_NOT_FOUND_AND_MESSAGES"));
            return;
        }
        const QModelIndex current = list->currentIndex();
        const qint64 start = current.isValid() ? current.row() + 1 : 0;
        // Called before each message is read (row -1: while the candidates
        // are picked); false stops the search without a word.
        const auto examine = [&](qint64 i) {
            if (form.cancelled.load())
                return false;
            if (i >= 0) {
                form.updateProgress(QString(), int(i * 100 / total), QString());
                if (i >= model->rowCount())
                    return false;  // the list shows fewer rows now
            }
            QCoreApplication::processEvents();
            // The list may show another chat now (the tree stays usable
            // while the search runs): its rows are not the rows searched.
            return model->source() == source;
        };
        const MessageSearchResult result = findNextMessage(source, keyword, start, examine);
        if (result.stopped)
            return;
        if (result.row >= 0 && model->source() == source && result.row < model->rowCount()) {
            const QModelIndex found = model->index(int(result.row), 0);
            list->setCurrentIndex(found);
            list->scrollTo(found);
            return;
        }
        informationBox(tr("IDS_CAN_NOT_FOUNDSMS_KEYWORD_%0").arg(keyword));
    } catch (const std::exception& e) {
        errorBox(QString::fromUtf8(e.what()));
    }
}

QString MessageCommands::copySelected()
{
    const MyTreeView* list = m_window->smsView();
    if (!list->selectionModel())
        return {};
    QModelIndexList rows = list->selectionModel()->selectedRows(0);
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    const ItemModelSms* model = m_window->smsModel();
    QStringList lines;
    for (const QModelIndex& index : rows) {
        const ItemModelSms::Row* row = model->rowAt(index.row());
        if (!row)
            continue;
        lines << ItemModelSms::dateText(row->date) + QStringLiteral(" \u2013 ") + row->contact + QStringLiteral(": ")
                     + row->content;
    }
    const QString text = lines.join(QLatin1Char('\n'));
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
    return text;
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

QString MessageCommands::messagesText(qint64 count)
{
    const QLocale numbers(QLocale::English, QLocale::UnitedStates);
    return count == 1 ? QCoreApplication::translate("MainWindow", "1 message")
                      : QCoreApplication::translate("MainWindow", "%1 messages").arg(numbers.toString(count));
}

QString MessageCommands::scopeDescription(CommandScope scope) const
{
    const QLocale numbers(QLocale::English, QLocale::UnitedStates);
    switch (scope) {
    case CommandScope::Selected: {
        const MyTreeView* list = m_window->smsView();
        const qint64 n = list->selectionModel() ? list->selectionModel()->selectedRows(0).size() : 0;
        return n == 1 ? QCoreApplication::translate("MainWindow", "1 selected message")
                      : QCoreApplication::translate("MainWindow", "%1 selected messages").arg(numbers.toString(n));
    }
    case CommandScope::Chat:
        m_window->smsModel()->completeCount();
        if (m_currentChat)
            return QCoreApplication::translate("MainWindow", "the chat %1 (%2)")
                .arg(sessionDisplayName(*m_currentChat, false, false), messagesText(m_window->smsModel()->total()));
        [[fallthrough]];  // the list shows every chat of the database
    case CommandScope::All: {
        _AbsDBItemNode* n = m_window->currentDatabaseNode();
        if (!n)
            return QCoreApplication::translate("MainWindow", "no messages");
        qint64 chats = 0;
        for (auto* c : n->children)
            chats += c->kind == kNodeChat ? 1 : 0;
        qint64 total = 0;
        try {
            total = WAMsgsDataSource(n->view, nullptr, true).count();
        } catch (const std::exception&) {
            total = -1;  // the count is left out rather than guessed
        }
        const QString chatsText = chats == 1 ? QCoreApplication::translate("MainWindow", "the 1 chat of %1").arg(n->text)
                                             : QCoreApplication::translate("MainWindow", "all %1 chats of %2")
                                                   .arg(numbers.toString(chats), n->text);
        return total < 0 ? chatsText : chatsText + QStringLiteral(" (") + messagesText(total) + QLatin1Char(')');
    }
    case CommandScope::Nothing:
        break;
    }
    return {};
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
