#include "chatstore/chatdbview.h"

ChatDbView::ChatDbView(PAbsWhatsAppDb db, int pageSize)
    : m_db(std::move(db)), m_pageSize(pageSize > 0 ? pageSize : kDefaultPageSize)
{
}

_Message ChatDbView::at(const _ChatSession* session, qint64 index, bool ascending)
{
    if (index < 0)
        return _Message();
    const qint64 page = index / m_pageSize + 1;
    if (m_pageSession != session || m_pageNumber != page || m_pageAscending != ascending) {
        // Forget the old page first: if the read fails, nothing stale stays.
        m_page.clear();
        m_pageNumber = 0;
        m_page = m_db->pageMessages(m_index, session, int(page), m_pageSize, ascending);
        m_pageSession = session;
        m_pageNumber = page;
        m_pageAscending = ascending;
    }
    const qint64 offset = index % m_pageSize;
    if (offset >= m_page.size())
        return _Message();
    return m_page.at(offset);
}

qint64 ChatDbView::count(const _ChatSession* session)
{
    if (m_countSession != session || m_count < 0) {
        const qint64 n = m_db->countMessages(session);
        m_countSession = session;
        m_count = n;
    }
    return m_count;
}

void ChatDbView::resetCache()
{
    m_pageSession = nullptr;
    m_pageNumber = 0;
    m_pageAscending = true;
    m_page.clear();
    m_countSession = nullptr;
    m_count = -1;
}
