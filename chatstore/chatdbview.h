// The shared view of one chat database: its chat index, and a cache of one
// page of messages and of one count, through which the message sources read.
// Pages read in turn continue one another; a page far into a counted
// history that does not follow the last one is read from the nearer end.
// Every tree node and message source of one database shares one view.
// A count of a long history can be taken apart from the shared connection
// (on another thread) and kept here when it is done.
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
    // The number of messages when it is known without counting: already
    // counted, or told by the first page in that order (read now; it is the
    // page shown first) when that page is not full. Otherwise -1, and
    // *atLeast is the number of messages on that first page.
    qint64 knownCount(const _ChatSession* session, bool ascending, qint64* atLeast);

    // A count of a chat (or of all chats) that runs on another thread, and
    // the state of the cache it was prepared against.
    struct CountApart {
        MessageCountRun run;
        quint64 generation = 0;
    };
    CountApart countApart(const _ChatSession* session);
    // Keeps a count made apart, unless the cache was reset after it was
    // prepared (the messages may have changed since).
    void keepCount(const _ChatSession* session, qint64 count, quint64 generation);

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
    quint64 m_generation = 0;  // advanced by every resetCache
};

using PChatDbView = std::shared_ptr<ChatDbView>;
