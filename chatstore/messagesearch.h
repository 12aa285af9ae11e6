// The message search of the list: the next message, from a given row on and
// wrapping around at the end, whose display text contains a keyword
// (ignoring case). Over a chat database's own rows SQLite first picks the
// candidates (IOSWhatsAppDb::searchCandidates) and only those are read and
// confirmed with the display rule, so that a search through hundreds of
// thousands of messages reads few of them; any other source is read row
// by row. Both ways find the same row.
#pragma once

#include "chatstore/abswamsgssource.h"

#include <QString>

#include <functional>

struct MessageSearchResult {
    qint64 row = -1;       // the matching row, or -1
    bool stopped = false;  // the caller's check ended the search first
};

// `examine(row)` is called before each row is read (every row read by the
// row-by-row way, every candidate otherwise) and with -1 now and then while
// SQLite picks candidates; it reports progress, lets the window breathe and
// returns false to stop the search.
MessageSearchResult findNextMessage(const PAbsWAMsgsSource& source, const QString& keyword, qint64 start,
                                    const std::function<bool(qint64 row)>& examine);

// The same, always row by row: what the search did before candidates were
// picked, kept as the rule the faster way must match.
MessageSearchResult findNextMessageByRows(const PAbsWAMsgsSource& source, const QString& keyword, qint64 start,
                                          const std::function<bool(qint64 row)>& examine);
