// A sequence of messages that the message list, the bubble view, exports and
// prints read one by one: either a chat (or all chats) of a database read
// page by page (WAMsgsDataSource), or an explicit list (WAMsgsListSource).
#pragma once

#include "chatstore/chatrecords.h"

#include <QMetaType>

#include <atomic>
#include <functional>
#include <map>
#include <memory>

class AbsWAMsgsSource;
using PAbsWAMsgsSource = std::shared_ptr<AbsWAMsgsSource>;

// Orders chats by row id, so that per-chat work runs in a stable order.
struct ChatSessionOrder {
    bool operator()(const PChatSession& a, const PChatSession& b) const
    {
        const qint64 ka = a ? a->Z_PK : 0;
        const qint64 kb = b ? b->Z_PK : 0;
        return ka != kb ? ka < kb : a.get() < b.get();
    }
};
using SessionSources = std::map<PChatSession, PAbsWAMsgsSource, ChatSessionOrder>;

// A count of a source's messages that runs on another thread (run), and
// how its result is kept so that count() knows it afterwards (keep, on the
// thread that asked for the count).
struct MessageCountApart {
    std::function<qint64(const std::atomic<bool>& stop)> run;
    std::function<void(qint64)> keep;
};

class AbsWAMsgsSource {
public:
    virtual ~AbsWAMsgsSource();
    // Number of messages; a database that cannot be counted throws.
    virtual qint64 count() = 0;
    // The number of messages when it is known without a long count;
    // otherwise -1, and *atLeast is how many of the first messages can be
    // read already. A source in memory always knows.
    virtual qint64 knownCount(qint64* atLeast);
    // The count prepared to run apart (empty run: the source always knows).
    virtual MessageCountApart countApart();
    // Message `index` (from 0); an empty message outside the range.
    virtual _Message at(qint64 index) = 0;
    // One source per chat that the messages belong to.
    virtual SessionSources splitBySession() = 0;
};

// Sources travel in signals (the bubble view, the print preview).
Q_DECLARE_METATYPE(PAbsWAMsgsSource)
