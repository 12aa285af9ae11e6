// The message commands of the main window: filling the message list, the
// bubble view and the header strip for a chat or a whole database, sorting
// by date, following the list's selection in the bubbles, the message and
// chat-name searches, and the scopes the other commands act on.
#pragma once

#include "app/commandrules.h"
#include "chatstore/abswamsgssource.h"
#include "chatstore/chatdbview.h"

#include <QItemSelection>
#include <QObject>

class MainWindow;

class MessageCommands : public QObject {
    Q_OBJECT
public:
    explicit MessageCommands(MainWindow* window);

    const PChatSession& currentChat() const { return m_currentChat; }

    void showMessages(const PChatDbView& view, const PChatSession& chat, bool ascending);
    void clearMessages();
    // The list's date order as its header shows it.
    bool currentAscending() const;

    void onSMSItemSelected(const QItemSelection& selected);
    // The list's count arrived: the status bar and the bubbles' pager follow.
    void onCounted(qint64 total);
    void onSortIndicatorChanged(int column, Qt::SortOrder order);
    void searchMessages();
    void searchChats();
    // Puts the selected messages on the clipboard, one line each in list
    // order: "date – contact: text". Returns the text.
    QString copySelected();

    CommandScope automaticScope() const;
    // What a scope holds, in words: "1 selected message", "the chat Anna
    // (620 messages)", "all 3 chats of Anna's iPhone (1,240 messages)".
    QString scopeDescription(CommandScope scope) const;
    // "N messages" with thousands separated.
    static QString messagesText(qint64 count);
    PAbsWAMsgsSource scopeSource(CommandScope scope) const;

private:
    void showChatHeader(const PChatSession& chat);

    MainWindow* m_window;
    PChatSession m_currentChat;
    // The sort indicator the list last accepted: the date column or none.
    int m_sortSection = 0;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};
