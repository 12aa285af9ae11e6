// An explicit list of messages (a selection, or nothing at all), in list order.
#pragma once

#include "chatstore/abswamsgssource.h"

#include <QList>

class WAMsgsListSource : public AbsWAMsgsSource {
public:
    WAMsgsListSource() = default;
    explicit WAMsgsListSource(QList<_Message> messages) : m_messages(std::move(messages)) {}

    qint64 count() override { return m_messages.size(); }
    _Message at(qint64 index) override;
    // Messages grouped by chat, in list order; messages without chat are left out.
    SessionSources splitBySession() override;

    const QList<_Message>& messages() const { return m_messages; }

private:
    QList<_Message> m_messages;
};
