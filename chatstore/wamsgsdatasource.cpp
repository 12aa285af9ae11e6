#include "chatstore/wamsgsdatasource.h"

WAMsgsDataSource::WAMsgsDataSource(PChatDbView view, PChatSession session, bool ascending)
    : m_view(std::move(view)), m_session(std::move(session)), m_ascending(ascending)
{
}

qint64 WAMsgsDataSource::count()
{
    return m_view->count(m_session.get());
}

qint64 WAMsgsDataSource::knownCount(qint64* atLeast)
{
    return m_view->knownCount(m_session.get(), m_ascending, atLeast);
}

MessageCountApart WAMsgsDataSource::countApart()
{
    ChatDbView::CountApart prepared = m_view->countApart(m_session.get());
    return {std::move(prepared.run), [view = m_view, session = m_session, generation = prepared.generation](qint64 n) {
                view->keepCount(session.get(), n, generation);
            }};
}

_Message WAMsgsDataSource::at(qint64 index)
{
    return m_view->at(m_session.get(), index, m_ascending);
}

SessionSources WAMsgsDataSource::splitBySession()
{
    SessionSources parts;
    if (m_session) {
        parts[m_session] = std::make_shared<WAMsgsDataSource>(m_view, m_session, m_ascending);
        return parts;
    }
    for (const auto& [pk, session] : m_view->index().sessions)
        parts[session] = std::make_shared<WAMsgsDataSource>(m_view, session, m_ascending);
    return parts;
}
