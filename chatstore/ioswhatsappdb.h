// IOSWhatsAppDb: one WhatsApp iOS chat database folder, read through SQLite.
// It lists the chats with their groups and members, counts and pages the
// messages of the loaded types with their media items, quotes, parents and
// receipts, and answers the look-ups the merge writer needs (entity numbers,
// address-book ids, ContactsV2 identifiers). It never changes the schema of
// a database it does not own (the upgrade flag is set only for local
// databases) and never creates a database that must already exist.
#pragma once

#include "chatstore/abswhatsappdb.h"
#include "chatstore/chatmergecache.h"
#include "chatstore/chatschema.h"
#include "chatstore/folderresolver.h"
#include "chatstore/jiddirectory.h"
#include "chatstore/sqlite3db.h"

#include <QHash>
#include <QSet>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <optional>
#include <vector>

class ChatMergeCache;

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
    MessageCountRun countMessagesApart(const _ChatSession* session) override;
    QList<_Message> pageMessages(const ChatIndex& index, const _ChatSession* session, int page, int pageSize,
                                 bool ascending) override;
    QList<_Message> rangeMessages(const ChatIndex& index, const _ChatSession* session, qint64 offset, int limit,
                                  bool ascending) override;

    // A source that is only read (a user's chat-database folder): nothing in
    // its folder is ever changed or created. The database is opened with
    // SQLITE_OPEN_READONLY, without upgrades or clean-ups; chats marked
    // removed are left out by the queries instead. Where SQLite would still
    // write beside the file (a write-ahead log needs its -shm, a hot journal
    // is rolled back), a private copy of the database and its log, made in
    // the private temporary folder, is read instead. The contacts databases
    // (used only when merging into this database) stay closed. Set before
    // the first operation.
    void setReadOnly(bool readOnly) { m_readOnly = readOnly; }
    bool isReadOnly() const { return m_readOnly; }
    // The file actually read: the database, or its private copy.
    QString openedPath() const { return m_db.isOpen() ? m_db.path() : QString(); }

    // Opens the database (creating or upgrading it as the flags say), removes
    // the chats marked ZREMOVED=1 (not for a read-only source) and opens
    // ContactsV2 when present. Returns at once when already open.
    void ensureOpen();
    bool isOpen() const { return m_db.isOpen(); }
    bool upgradeFlag() const { return m_upgrade; }

    // Z_ENT of each entity by name, from Z_PRIMARYKEY (built once).
    const QHash<QString, int>& entityIds();
    // 0 when Z_PRIMARYKEY does not list the entity.
    int entityId(const QString& name);
    // Full name -> address-book user id from the contacts database (built once).
    const QHash<QString, qint64>& abUserIdByName();
    // ZIDENTIFIER of the ContactsV2 contact with this WhatsApp id (stored as
    // digits or as the whole JID; both are tried), or empty.
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
    // The same against a resolver of the media folder that a whole page shares.
    static QString resolveMediaPath(const QString& stored, FolderResolver& mediaFolder);

    // Phones and push names behind JIDs, built on opening.
    const JidDirectory& jidDirectory() const { return m_jids; }

    // For the merge writer and tools: the open connection and its schema.
    Sqlite3DB& db() { return m_db; }
    ChatSchema& schema() { return m_schema; }

    // Parent chains longer than this are cut (a database may hold loops).
    static constexpr int kMaxParentDepth = 32;

    // ---- The merge writer (ioswhatsappdbmerge.cpp) ----------------------
    // A job merges inside one transaction: beginTransaction, then for each
    // message findMessageByStanza / mergeMessage and copyMessageFiles, then
    // commitThrow (or endTransaction(false) on a cancel or an error), and
    // renumberSort once after the commit.

    // Row id of an existing copy of the message, 0 when none. Group events
    // match by stanza id alone; other messages also by direction and the
    // partner's JID. A message without stanza id never matches.
    qint64 findMessageByStanza(const _Message& message);
    // Writes the message (with its chat, group and members when the chat is
    // new, its sender, media item, quote, receipts and, recursively, its
    // parent) and returns its new row id. Does not look for duplicates.
    // docId: the row id of its search-index entry, or -2 for none.
    qint64 mergeMessage(const _Message& message, qint64 docId);
    // A new chat (with its group and members); abId is the address-book id
    // of a personal chat's contact, 0 when unknown. Returns the chat's row id.
    qint64 insertChatSession(qint64 abId, const _ChatSession& session);
    // A new media item of message row messageId; returns its row id.
    qint64 insertMediaItem(qint64 messageId, const _MediaItem& item, const _Message& message);
    // Copies sourceFile to the stored relative path inside mediaFolder,
    // under the name the program gives its copies. Nothing happens when the
    // source does not exist, the destination exists already, or the path
    // would leave mediaFolder. The copy is written under a temporary name and
    // renamed when complete. True when a file was copied.
    static bool copyMediaFile(const QString& mediaFolder, const QString& storedPath, const QString& sourceFile);
    // The files of one merged (or already present) message: the chat's
    // picture and thumbnail into the profile folder, then the media file,
    // thumbnail and XMPP thumbnail of its media item. Failures are ignored.
    void copyMessageFiles(const _Message& message);
    // Commits the job's transaction (after writing the key counters kept
    // during the merge); throws when the commit fails.
    void commitThrow();
    // Recomputes every chat's ZSORT order, last message and counter, the
    // group's last sender, Z_MAX of every entity and repairs NULL flags, in
    // a transaction of its own; leaves the database closed.
    void renumberSort();
    // Removes one message with its media item, words, receipts and (when no
    // other message uses it) broadcast; parent links to it are cleared and
    // the ZSORT gap in its chat is closed. Runs in the caller's transaction.
    // Returns false when the row was not there. Files stay on disk.
    bool deleteMessage(const _Message& message);
    // After deleted messages were committed: removes the files that the
    // given stored media paths name (inside the media folder) unless a
    // remaining media item still refers to the same file. Returns how many
    // files were removed.
    int removeUnreferencedMediaFiles(const QStringList& storedPaths);

    // The ZSORT order of one chat's messages (exposed for tests): items are
    // sorted by date, then neighbours whose old sort values differ by at most
    // 10 and dates by at most 60 s are put in sort-value order. Always ends,
    // even when the rule forms cycles; items more than 60 s apart keep their
    // date order.
    struct SortItem {
        qint64 pk = 0;
        qint64 sort = 0;
        double date = 0;
    };
    static void orderSortItems(std::vector<SortItem>& items);

    // One listed message of a job: the row of the target's copy when it has
    // one, else the row mergeMessage writes (0: nothing written). *added
    // tells whether the message is new to the target in this transaction,
    // also when an earlier message of the job brought it in as its parent;
    // parents that are not listed themselves are never counted.
    qint64 mergeIfMissing(const _Message& message, qint64 docId, bool* added);
    // The same with the doc id asked for only when the message is written
    // (a search-index document is added for new messages only).
    qint64 mergeIfMissing(const _Message& message, const std::function<qint64()>& docId, bool* added);

    // After commitThrow: the @lid mappings the merged rows named. A local
    // database received them in QM_LIDMAP inside the job's transaction; a
    // phone's database gets the known phones in its LID.sqlite (only when
    // that file exists with its LID table; never created), insert-only, in
    // a transaction of its own. A failure there leaves the file as it was
    // and names the mappings not written; the chats stay merged.
    struct LidWriteResult {
        int added = 0;            // rows added (QM_LIDMAP or LID.sqlite)
        QStringList unwritten;    // @lid JIDs whose mapping could not be written
        QString error;
    };
    LidWriteResult writeLidMappings();
    // Media files (and thumbnails) that copyMessageFiles found missing or
    // unreadable in the source, over this object's life.
    qint64 missingMediaCount() const { return m_missingMedia; }

    // A message search's candidates: the row numbers (in the order
    // pageMessages gives for this chat, or for every chat when session is
    // null) of the messages whose display text may contain `keyword`,
    // ignoring case, with their row ids. Every message whose display text
    // contains it is listed; a message whose display text is made of its
    // stored texts and fixed labels alone is listed only when it does
    // contain it, one with parts made from names or decoded payloads
    // always. `cancelled` is asked between rows; true ends the scan early.
    struct SearchCandidate {
        qint64 row = 0;
        qint64 pk = 0;
    };
    QList<SearchCandidate> searchCandidates(const _ChatSession* session, bool ascending, const QString& keyword,
                                            const std::function<bool()>& cancelled = {});
    // One message by its row id, read as a page reads it; an empty message
    // when there is none.
    _Message messageByPk(const ChatIndex& index, qint64 pk);

    // Marks this folder's media files as the program's own private copies
    // that nothing writes again in place (an import cache, whose writer
    // only ever adds files under a temporary name and renames them): a
    // merge from here may give its target a second name of such a file
    // instead of a copy of its bytes.
    void setMediaFilesArePrivateCopies(bool yes) { m_privateMediaCopies = yes; }
    bool mediaFilesArePrivateCopies() const { return m_privateMediaCopies; }
    // While set, copyMessageFiles links source files whose real path lies
    // inside this folder (on the same file system) instead of copying them.
    // Empty: always copy.
    void setLinkableSourceFolder(const QString& folder) { m_linkableSourceFolder = folder; }

private:
    // The statement countMessages runs.
    Sqlite3Sql countQuery(const _ChatSession* session) const;

    // Where the columns a message or media row is read from sit in one
    // result, found once per result rather than once per value.
    struct MessageColumns {
        explicit MessageColumns(const Sqlite3Cursor& c);
        int pk, opt, flags, groupEventType, isFromMe, status, type, broadcast, chatSession, groupMember, mediaItem,
            date, fromJid, pushName, stanzaId, text, toJid, sort, starred, parent;
    };
    struct MediaColumns {
        MediaColumns(const Sqlite3Cursor& c, bool metadataColumn);
        int pk, opt, fileSize, origin, movieDuration, message, aspectRatio, hAccuracy, latitude, longitude,
            authorName, collectionName, localPath, url, thumbnailPath, title, vcardName, vcardString, xmppThumbPath,
            metadata, mediaKey, quotedData, quotedSender, quotedStanzaId;
    };
    // The positions in "select * from" ZWAMESSAGE / ZWAMEDIAITEM, found
    // once per connection (again when the table's number of columns changed).
    const MessageColumns& allMessageColumns(const Sqlite3Cursor& c);
    const MediaColumns& allMediaColumns(const Sqlite3Cursor& c);
    std::optional<std::pair<int, MessageColumns>> m_allMessageColumns;
    std::optional<std::pair<int, MediaColumns>> m_allMediaColumns;
    // withDetails: also the media item and receipts (pages add those in bulk).
    _Message readMessage(const Sqlite3Cursor& cursor, const MessageColumns& cols, const ChatIndex& index,
                         QSet<qint64>& chain, bool withDetails);
    void applyMediaRow(_Message& message, const Sqlite3Cursor& mediaRow, const MediaColumns& cols,
                       FolderResolver& mediaFolder);
    void addPageDetails(QList<_Message>& messages);
    // "select m.* " and the message body, for one chat (a bound parameter)
    // or for every chat. rowsToWalk: how many rows of the chat, in date
    // order, the statement passes before its last one (picks the index).
    Sqlite3Sql messageQuery(const _ChatSession* session, qint64 rowsToWalk);
    // Whether a statement reading rowsToWalk rows of one chat in date order
    // walks the date index (skipping other chats' rows) rather than reading
    // and sorting the whole chat.
    bool walksChatByDate(const _ChatSession& session, qint64 rowsToWalk);
    // Rows of a chat by the chat index, with the table's largest row id when
    // counted: a count is taken again once rows were added.
    struct ChatSize {
        qint64 tableTop = 0;
        qint64 rows = 0;
    };
    QHash<QString, ChatSize> m_chatSizes;
    // Appends the rows of a message query; whether the last row has both a
    // date and a sort value (false when there is none).
    bool readMessages(const Sqlite3Sql& sql, const ChatIndex& index, QList<_Message>& messages);
    void readQuote(_MediaItem& media, const Sqlite3Cursor& row, const MediaColumns& cols, const _Message& message);
    void openContactsV2();
    // The larger page cache of a job's transaction, or SQLite's default.
    void setJobPageCache(bool on);
    // One stored ZRECEIPTINFO blob: kept as stored, its receipts, reactions
    // and poll added to the message.
    void addReceiptInfo(_Message& message, const QByteArray& blob);
    // The member of a group known by this JID or by its LID/phone twin.
    const _GroupMember* memberFor(const _ChatSession& session, const QString& jid) const;
    // Name (member or partner), phone behind an @lid JID and push name.
    void fillJidName(_JidName& who, const _ChatSession* session) const;
    void openReadOnly(const QString& path);

    bool m_upgrade;
    bool m_readOnly = false;
    // The private copy a read-only source is read from, when one was needed.
    std::shared_ptr<QTemporaryDir> m_privateCopy;
    bool m_hasRemovedColumn = false;
    bool m_createIfMissing;
    Sqlite3DB m_db;
    Sqlite3DB m_contactsV2;
    JidDirectory m_jids;
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
    // Per-transaction state of the merge writer (chats, members, counters).
    std::unique_ptr<ChatMergeCache> m_merge;
    // @lid mappings of the last commit: rows QM_LIDMAP received, phones
    // LID.sqlite is still to receive.
    QHash<QString, QString> m_pendingLidPhones;
    int m_pendingLidRows = 0;
    int m_committedLidRows = 0;
    qint64 m_missingMedia = 0;
    bool m_privateMediaCopies = false;
    // The keyword the search's SQL function looks for, and whether that
    // function is registered on the open connection.
    QString m_searchKeyword;
    bool m_searchFunction = false;
    QString m_linkableSourceFolder;
    // Where the last full page ended, so that the next page of the same
    // request continues from there (invalid after any write).
    struct PageMark {
        bool valid = false;
        bool ascending = true;
        bool hasSession = false;
        QString scope;
        int pageSize = 0;
        int page = 0;
        double date = 0;
        qint64 sort = 0;
        qint64 pk = 0;
    };
    PageMark m_pageMark;
    ChatMergeCache& mergeCache();
    qint64 mergeMessageChain(const _Message& message, qint64 docId, QSet<const _Message*>& chain);
    void flushKeyCounters();
    void flushLidMappings();
    // The other address of a partner JID: as the message's chat knows it,
    // else as this database knows it.
    QString twinJidOf(const QString& jid, const _Message& m) const;
    // The target member row of a message's sender: by JID, by its twin,
    // else a new former member.
    qint64 senderMember(ChatMergeCache::Chat& chat, const _GroupMember& sender);
    qint64 insertMember(qint64 chatId, qint64 abId, const _GroupMember& member, bool keepActive);
    void noteLids(const _Message& m);
    // The format of the target's ZMETADATA (true: keyed archives).
    bool targetKeepsKeyedArchives();
};
