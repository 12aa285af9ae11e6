// File names for one chat's export files.
#pragma once

#include "chatstore/chatrecords.h"

#include <QString>

#include <map>
#include <vector>

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
