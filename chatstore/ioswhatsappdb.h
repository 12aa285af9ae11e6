// IOSWhatsAppDb: one WhatsApp iOS chat database folder, read through SQLite.
// It lists the chats with their groups and members, counts and pages the
// messages of the loaded types with their media items, quotes, parents and
// receipts, and answers the look-ups the merge writer needs (entity numbers,
// address-book ids, ContactsV2 identifiers). It never changes the schema of
// a database it does not own (the upgrade flag is set only for local
// databases) and never creates a database that must already exist.
#pragma once

#include "chatstore/abswhatsappdb.h"
#include "chatstore/chatschema.h"
#include "chatstore/sqlite3db.h"

#include <QHash>
#include <QSet>

#include <optional>

class IOSWhatsAppDb : public AbsWhatsAppDb {
public:
    // upgrade: apply the schema upgrades on opening (local databases only).
    // createIfMissing: a missing database file is created from the creation
    // script; otherwise a missing file is an error naming its path. By
    // default only a database with the upgrade flag (a local database) may be
    // created.
    IOSWhatsAppDb(const QString& databasePath, const QString& contactsPath, const QString& mediaFolder,
                  const QString& profileFolder, bool upgrade, std::optional<bool> createIfMissing = std::nullopt);
    ~IOSWhatsAppDb() override;

    void listSessions(ChatIndex& index) override;
    void beginTransaction() override;
    void endTransaction(bool commit) override;
    void closeDb() override;
    qint64 countMessages(const _ChatSession* session) override;
    QList<_Message> pageMessages(const ChatIndex& index, const _ChatSession* session, int page, int pageSize,
                                 bool ascending) override;

    // Opens the database (creating or upgrading it as the flags say), removes
    // the chats marked ZREMOVED=1 and opens ContactsV2 when present. Returns
    // at once when already open.
    void ensureOpen();
    bool isOpen() const { return m_db.isOpen(); }
    bool upgradeFlag() const { return m_upgrade; }

    // Z_ENT of each entity by name, from Z_PRIMARYKEY (built once).
    const QHash<QString, int>& entityIds();
    // 0 when Z_PRIMARYKEY does not list the entity.
    int entityId(const QString& name);
    // Full name -> address-book user id from the contacts database (built once).
    const QHash<QString, qint64>& abUserIdByName();
    // ZIDENTIFIER of the ContactsV2 contact with this WhatsApp id, or empty.
    QString contactIdentifierFromContactV2Db(const QString& whatsAppId);

    // One ZWAMESSAGE row (the cursor's current row) as a message linked into index.
    _Message rowToMessage(const Sqlite3Cursor& cursor, const ChatIndex& index);

    // Removes a chat with its messages, media items, receipts, words,
    // broadcasts, properties, group and members; parent links of other
    // messages to its messages are cleared. Runs in the caller's transaction.
    void deleteChat(qint64 chatId);

    // The media file of a stored path: one leading "/" removed, inside the
    // media folder; when that file does not exist, the name under which the
    // program stores its own copies. Empty when the path leaves the folder.
    QString resolveMediaPath(const QString& stored) const;

    // For the merge writer and tools: the open connection and its schema.
    Sqlite3DB& db() { return m_db; }
    ChatSchema& schema() { return m_schema; }

    // Parent chains longer than this are cut (a database may hold loops).
    static constexpr int kMaxParentDepth = 32;

private:
    // withDetails: also the media item and receipts (pages add those in bulk).
    _Message readMessage(const Sqlite3Cursor& cursor, const ChatIndex& index, QSet<qint64>& chain, bool withDetails);
    void applyMediaRow(_Message& message, const Sqlite3Cursor& mediaRow);
    void addPageDetails(QList<_Message>& messages);
    void readQuote(_MediaItem& media, const Sqlite3Cursor& row, const _Message& message);
    void openContactsV2();

    bool m_upgrade;
    bool m_createIfMissing;
    Sqlite3DB m_db;
    Sqlite3DB m_contactsV2;
    ChatSchema m_schema;
    bool m_entityIdsRead = false;
    QHash<QString, int> m_entityIds;
    bool m_abUserIdsRead = false;
    QHash<QString, qint64> m_abUserIdByName;
    // Schema answers used per message, taken once per opening.
    bool m_hasParentColumn = false;
    bool m_hasMetadataColumn = false;
    bool m_hasQuotedDataColumn = false;
    bool m_hasMessageInfoTable = false;
};
