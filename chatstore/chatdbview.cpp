#include "chatstore/chatdbview.h"

#include <algorithm>

ChatDbView::ChatDbView(PAbsWhatsAppDb db, int pageSize)
    : m_db(std::move(db)), m_pageSize(pageSize > 0 ? pageSize : kDefaultPageSize)
{
}

_Message ChatDbView::at(const _ChatSession* session, qint64 index, bool ascending)
{
    const std::lock_guard<std::recursive_mutex> use(m_db->useMutex());
    if (index < 0)
        return _Message();
    const qint64 page = index / m_pageSize + 1;
    if (m_pageSession != session || m_pageNumber != page || m_pageAscending != ascending) {
        // Forget the old page first: if the read fails, nothing stale stays.
        const bool continues = m_pageByNumber && m_pageSession == session && m_pageAscending == ascending &&
                               m_pageNumber + 1 == page;
        m_page.clear();
        m_pageNumber = 0;
        const qint64 first = (page - 1) * m_pageSize;
        if (!continues && m_countSession == session && m_count >= 0 && first > m_count / 2 && first < m_count) {
            // A jump into the later half of a counted history (the last
            // message, a search hit near the end): the same rows, read from
            // the other end, skip the fewer rows.
            const qint64 end = std::min<qint64>(first + m_pageSize, m_count);
            QList<_Message> rows = m_db->rangeMessages(m_index, session, m_count - end, int(end - first), !ascending);
            std::reverse(rows.begin(), rows.end());
            m_page = std::move(rows);
            m_pageByNumber = false;
        } else {
            m_page = m_db->pageMessages(m_index, session, int(page), m_pageSize, ascending);
            m_pageByNumber = true;
        }
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
    const std::lock_guard<std::recursive_mutex> use(m_db->useMutex());
    if (m_countSession != session || m_count < 0) {
        const qint64 n = m_db->countMessages(session);
        m_countSession = session;
        m_count = n;
    }
    return m_count;
}

qint64 ChatDbView::knownCount(const _ChatSession* session, bool ascending, qint64* atLeast)
{
    const std::lock_guard<std::recursive_mutex> use(m_db->useMutex());
    if (m_countSession == session && m_count >= 0)
        return m_count;
    at(session, 0, ascending);
    if (m_page.size() < m_pageSize) {
        m_countSession = session;
        m_count = m_page.size();
        return m_count;
    }
    if (atLeast)
        *atLeast = m_page.size();
    return -1;
}

ChatDbView::CountApart ChatDbView::countApart(const _ChatSession* session)
{
    const std::lock_guard<std::recursive_mutex> use(m_db->useMutex());
    return {m_db->countMessagesApart(session), m_generation};
}

void ChatDbView::keepCount(const _ChatSession* session, qint64 count, quint64 generation)
{
    const std::lock_guard<std::recursive_mutex> use(m_db->useMutex());
    if (generation != m_generation || count < 0)
        return;
    m_countSession = session;
    m_count = count;
}

void ChatDbView::resetCache()
{
    const std::lock_guard<std::recursive_mutex> use(m_db->useMutex());
    ++m_generation;
    m_pageSession = nullptr;
    m_pageNumber = 0;
    m_pageAscending = true;
    m_pageByNumber = false;
    m_page.clear();
    m_countSession = nullptr;
    m_count = -1;
}
