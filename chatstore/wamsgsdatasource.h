// The messages of one chat, or of every chat, of a database, read through
// the database's shared view one page at a time.
#pragma once

#include "chatstore/abswamsgssource.h"
#include "chatstore/chatdbview.h"

class WAMsgsDataSource : public AbsWAMsgsSource {
public:
    // session null: every chat of the database.
    WAMsgsDataSource(PChatDbView view, PChatSession session, bool ascending);

    qint64 count() override;
    qint64 knownCount(qint64* atLeast) override;
    MessageCountApart countApart() override;
    _Message at(qint64 index) override;
    SessionSources splitBySession() override;

    const PChatDbView& view() const { return m_view; }
    const PChatSession& session() const { return m_session; }
    bool ascending() const { return m_ascending; }

private:
    PChatDbView m_view;
    PChatSession m_session;
    bool m_ascending;
};
