// The shared view of one chat database: its chat index, and a cache of one
// page of messages and of one count, through which the message sources read.
// Pages read in turn continue one another; a page far into a counted
// history that does not follow the last one is read from the nearer end.
// Every tree node and message source of one database shares one view.
#pragma once

#include "chatstore/abswhatsappdb.h"

#include <memory>

class ChatDbView {
public:
    explicit ChatDbView(PAbsWhatsAppDb db, int pageSize = kDefaultPageSize);

    static constexpr int kDefaultPageSize = 5000;

    ChatIndex& index() { return m_index; }
    const ChatIndex& index() const { return m_index; }
    const PAbsWhatsAppDb& database() const { return m_db; }
    int pageSize() const { return m_pageSize; }

    // Message number `index` (from 0) of a chat, or of all chats for a null
    // session, in the given order; an empty message outside the range.
    _Message at(const _ChatSession* session, qint64 index, bool ascending);
    // Number of messages of a chat (or of all chats). A failing count throws.
    qint64 count(const _ChatSession* session);
    // Forgets the cached page and count (after messages were deleted).
    void resetCache();

private:
    PAbsWhatsAppDb m_db;
    ChatIndex m_index;
    int m_pageSize;
    const _ChatSession* m_pageSession = nullptr;
    qint64 m_pageNumber = 0;
    bool m_pageAscending = true;
    QList<_Message> m_page;
    bool m_pageByNumber = false;  // m_page came from pageMessages, which can continue it
    const _ChatSession* m_countSession = nullptr;
    qint64 m_count = -1;
};

using PChatDbView = std::shared_ptr<ChatDbView>;
