#include "chatstore/wamsgslistsource.h"

_Message WAMsgsListSource::at(qint64 index)
{
    if (index < 0 || index >= m_messages.size())
        return _Message();
    return m_messages.at(index);
}

SessionSources WAMsgsListSource::splitBySession()
{
    std::map<PChatSession, QList<_Message>, ChatSessionOrder> groups;
    for (const _Message& m : m_messages)
        if (m.session)
            groups[m.session].append(m);
    SessionSources parts;
    for (auto& [session, list] : groups)
        parts[session] = std::make_shared<WAMsgsListSource>(std::move(list));
    return parts;
}
