// The SOURCE argument of the reading commands: the name of a local database
// of the data folder, or a path to a chat-database folder (ChatStorage.sqlite
// beside Library/, or a device copy holding
// net.whatsapp.WhatsApp/Documents/ChatStorage.sqlite). Folders given by path
// are opened like device copies: never created, never upgraded.
#pragma once

#include "chatstore/chatdbview.h"
#include "chatstore/ioswhatsappdb.h"

#include <QString>

// The database of SOURCE; throws AppError when SOURCE names nothing usable.
std::shared_ptr<IOSWhatsAppDb> openChatSource(const QString& source);

// Lists the chats of the database through the load job with the console
// monitor. On success returns the filled view; otherwise prints the error
// and sets exitCode.
PChatDbView loadChatSource(const QString& source, int* exitCode);

// loadChatSource, then, when jid is not empty, the chat with that JID into
// *chat. When the database has no such chat prints the error, sets exitCode
// and returns null.
PChatDbView loadChatSource(const QString& source, const QString& jid, PChatSession* chat, int* exitCode);

// exitcode::kSuccess when NAME may name a local database; otherwise prints
// why not and returns exitcode::kUsage.
int checkLocalDbName(const QString& name);
