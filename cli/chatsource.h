// SOURCE: the one way every command of quillometry-cli names a chat database.
//
//   NAME or local:NAME   a local database of the data folder (letter case
//                        does not matter when one matches)
//   virtual:NAME         a saved device copy (a folder of virtual_ios)
//   PATH                 a chat-database folder (ChatStorage.sqlite beside
//                        Library/, or a copy holding
//                        net.whatsapp.WhatsApp/Documents/ChatStorage.sqlite),
//                        or a local database's folder
//
// A registered prefix beats a relative folder of the same name; "./x" (any
// text with a slash) always means the folder. A bare NAME is a local
// database when one has that name, else a folder when one exists.
//
// Further forms are added with one ChatSourceKindRegistrar in their own file:
//
//     const ChatSourceKindRegistrar reg({QStringLiteral("device"), QStringLiteral("device:UDID"),
//                                        QStringLiteral("the connected iPhone with this UDID"),
//                                        [](const QString& udid) { ...; return ChatSource{db, label, false}; }});
//
// A chat-database folder given by path belongs to the user and is only read:
// it is opened read-only and never changed (see IOSWhatsAppDb::setReadOnly).
#pragma once

#include "chatstore/chatdberrortext.h"
#include "chatstore/chatdbview.h"
#include "chatstore/ioswhatsappdb.h"
#include "cli/clicommand.h"

#include <QString>

#include <functional>
#include <memory>

struct ChatSource {
    std::shared_ptr<IOSWhatsAppDb> db;
    // What the user would call it: 'the local database "Anna"', 'the folder /x'.
    QString label;
    // A local database of the data folder (its name in localDbName).
    bool isLocalDatabase = false;
    QString localDbName;
};

struct ChatSourceKind {
    QString prefix;       // "virtual" for virtual:NAME
    QString form;         // "virtual:NAME", shown in the help
    QString description;  // one line for the help
    // Opens what the text after the prefix names; throws AppError with a
    // text in the user's words when it names nothing usable.
    std::function<ChatSource(const QString& value)> open;
};

class ChatSourceKinds {
public:
    static void add(ChatSourceKind kind);
    static const QList<ChatSourceKind>& all();
    static const ChatSourceKind* find(const QString& prefix);
};

struct ChatSourceKindRegistrar {
    explicit ChatSourceKindRegistrar(ChatSourceKind kind) { ChatSourceKinds::add(std::move(kind)); }
};

// Where the chat database of a chat-database folder lies, as the PATH form
// of SOURCE finds it: the folder's own ChatStorage.sqlite, else a copy of a
// phone's app folder inside it, else Documents/ChatStorage.sqlite. Throws
// AppError naming the folder when it is missing or holds none.
struct ChatFolderDatabase {
    QString root;      // the folder given, absolute
    QString app;       // the app folder (Library/ and Documents/ lie in it)
    QString database;  // the ChatStorage.sqlite found
};
ChatFolderDatabase findChatFolderDatabase(const QString& path);
// A chat database in an app folder laid out as a device or a backup does.
std::shared_ptr<IOSWhatsAppDb> openChatAppFolder(const QString& app, const QString& database, bool upgrade);

// The chat database SOURCE names; throws AppError when it names nothing usable.
ChatSource openChatSource(const QString& source);
// The same without throwing: false after printing the error.
bool openChatSource(const QString& text, ChatSource* source);

// The SOURCE argument of a command, with the forms listed in its help.
CliArgument chatSourceArgument(const QString& description = QStringLiteral("the chat database to read"));
// One line per form of SOURCE, for the help.
QString chatSourceFormsHelp();

// Lists the chats of the database through the load job with the console
// monitor. On success returns the filled view; otherwise prints the error
// and sets exitCode.
PChatDbView loadChatSource(const ChatSource& source, int* exitCode);
PChatDbView loadChatSource(const QString& source, int* exitCode);

// loadChatSource, then, when jid is not empty, the chat with that JID into
// *chat. When the database has no such chat prints the error, sets exitCode
// and returns null.
PChatDbView loadChatSource(const ChatSource& source, const QString& jid, PChatSession* chat, int* exitCode);
PChatDbView loadChatSource(const QString& source, const QString& jid, PChatSession* chat, int* exitCode);

// exitcode::kSuccess when NAME may name a local database; otherwise prints
// why not and returns exitcode::kUsage.
int checkLocalDbName(const QString& name);

