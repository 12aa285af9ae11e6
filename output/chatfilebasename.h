// File names for one chat's export files.
#pragma once

#include "chatstore/chatrecords.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <map>
#include <vector>

// The longest start of `text` that fits in `maxBytes` UTF-8 bytes and ends
// between two user-perceived characters (an emoji is never cut in half).
QString utf8Prefix(const QString& text, int maxBytes);

// `name` (an attachment's file name) as a file name for any file system:
// escaped like the chat names, without a leading dot (such files would be
// hidden), at most 150 UTF-8 bytes with a short suffix kept, never empty.
QString safeFileName(const QString& name);

// The chat's display name (with number, without members), "_n" appended for
// n > 1, as a safe file name: tabs, line breaks and the invisible direction
// and no-break characters removed, then escaped for file systems. Never
// empty ("unknown-chat"), never starting with "." and at most 150 UTF-8
// bytes, cut between characters so that long emoji names stay valid.
QString chatFileBaseName(const PChatSession& session, int n);

// One base name per chat, distinct even where file systems ignore case:
// chats whose names clash get "<base>", "<base>(1)", "<base>(2)", ... in
// the order of their row ids.
std::map<qint64, QString> distinctChatFileBaseNames(std::vector<PChatSession> sessions);

// Hands out the base names of chats written as several files each, one chat
// at a time, for exports that learn how many files a chat needs only once
// it is written: "<base>", "<base>_2", ..., where <base> gets "(1)", "(2)",
// ... until none of the chat's names equals (ignoring case) a name handed
// out before. Given the chats in the order of their row ids, the names are
// those of distinctChatPageBaseNames().
class ChatPageNamer {
public:
    QStringList take(const PChatSession& session, int pages);

private:
    QSet<QString> m_taken;
};

// The same for chats written as several files each: for every chat (by row
// id) the base names of its `pages` files, "<base>", "<base>_2", ...,
// where <base> gets "(1)", "(2)", ... until none of the chat's names equals
// (ignoring case) a name given to a chat before it. A chat with 0 pages
// gets no name.
std::map<qint64, QStringList> distinctChatPageBaseNames(std::vector<std::pair<PChatSession, int>> chats);
