// The media folder of one chat inside a chat database's media folder
// ("Media/" + the chat's JID), and its safe removal when the chat is deleted.
#pragma once

#include <QString>

// The folder of a chat's media, or an empty text when the JID is not a plain
// name (empty, ".", "..", or holding a "/" or "\") or the folder would not
// lie inside mediaFolder.
QString chatMediaFolder(const QString& mediaFolder, const QString& jid);

// Removes the chat's media folder when chatMediaFolder names one; never
// anything outside mediaFolder. True when something was removed.
bool removeChatMediaFolder(const QString& mediaFolder, const QString& jid);
