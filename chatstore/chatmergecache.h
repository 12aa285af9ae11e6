// ChatMergeCache: what the merge writer remembers about its target during
// one transaction, so that a merge of hundreds of thousands of messages
// runs a few indexed statements per message and never a scan: the target's
// chats by JID with their group and members, which optional columns the
// target has, and the key counters (Z_MAX) still to be written. It is
// dropped whenever a transaction begins or ends and when the database is
// closed, so that nothing it holds outlives a roll-back.
#pragma once

#include "chatstore/chatschema.h"
#include "chatstore/folderresolver.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <optional>

class Sqlite3DB;

class ChatMergeCache {
public:
    struct Chat {
        qint64 pk = 0;
        qint64 groupInfo = 0;
        QHash<QString, qint64> members;  // member JID -> ZWAGROUPMEMBER row id
    };

    // Which optional columns and tables the target has; read once from the
    // schema cache.
    struct Columns {
        bool msgFlags = false;
        bool msgMediaSectionId = false;
        bool msgFilteredRecipientCount = false;
        bool msgDocId = false;
        bool msgStarred = false;
        bool msgDataItemVersion = false;
        bool msgErrorStatus = false;
        bool msgParent = false;
        bool msgMessageInfo = false;
        bool messageInfoTable = false;
        bool chatFlags = false;
        bool chatHidden = false;
        bool chatRemoved = false;
        bool chatSessionType = false;
        bool chatIdentityEpoch = false;
        bool chatIdentityState = false;
        bool chatContactIdentifier = false;
        bool memberContactIdentifier = false;
        bool mediaAspectRatio = false;
        bool mediaAuthorName = false;
        bool mediaCollectionName = false;
        bool mediaTitle = false;
        bool mediaMetadata = false;
        bool mediaQuotedData = false;
        bool mediaQuotedSender = false;
        bool mediaQuotedStanzaId = false;
        bool mediaOwnMetadata = false;   // QM_METADATA (local databases)
        bool mediaKey = false;
        bool memberIsActive = false;
        bool lidMapTable = false;        // QM_LIDMAP (local databases)
    };

    // What is known about the person behind one @lid JID.
    struct LidInfo {
        QString phone;     // digits
        QString pushName;
    };

    explicit ChatMergeCache(const ChatSchema& schema);

    const Columns& columns() const { return m_columns; }
    // The insert statement of ZWAMESSAGE for this target (one text per
    // shape, so that the prepared statement is reused). A message with a
    // media item or receipt rows also names ZMEDIAITEM / ZMESSAGEINFO, bound
    // last, in that order.
    const QString& messageInsertSql(bool withMedia = false, bool withInfo = false) const
    {
        return m_messageInsert[(withMedia ? 1 : 0) + (withInfo ? 2 : 0)];
    }
    // The insert statement of ZWAMEDIAITEM for one set of columns (a bit
    // per column); empty until the caller has made it.
    QString& mediaInsertSql(quint32 columnMask) { return m_mediaInserts[columnMask]; }

    // The row id SQLite gives the next row of `table` (the largest one
    // plus one), as far as this job knows it: read once, then moved on by
    // rememberRowId. A guess only; callers check the id they get.
    qint64 nextRowId(Sqlite3DB& db, const QString& table);
    void rememberRowId(const QString& table, qint64 rowId) { m_lastRowIds[table] = rowId; }

    // The cached chat of a JID, or null when the target's row is not known yet.
    Chat* chat(const QString& jid);
    Chat& addChat(const QString& jid, const Chat& chat);
    // After deletions: chats are looked up again and row id guesses read
    // again; counters are kept.
    void forgetAfterDeletions()
    {
        m_chats.clear();
        m_lastRowIds.clear();
    }

    // True the first time for a chat JID: its pictures are still to be
    // looked at in this transaction.
    bool firstPicturesOf(const QString& jid) { return !m_picturesSeen.contains(jid) && (m_picturesSeen.insert(jid), true); }

    // Remembers that an entity's table received row id `rowId`.
    void noteInsert(const QString& entity, qint64 rowId);
    // The counters to write: entity name -> largest new row id.
    const QHash<QString, qint64>& pendingKeyCounters() const { return m_pendingMax; }
    void clearKeyCounters() { m_pendingMax.clear(); }

    // The format of the target's ZMETADATA, decided once per transaction.
    std::optional<bool> metadataIsKeyedArchive;

    // Checks stored media paths against the target's media folder `folder`
    // with the real paths of its folders remembered; made anew every few
    // hundred files, so that a folder replaced meanwhile is seen.
    FolderResolver& mediaResolver(const QString& folder)
    {
        if (!m_mediaResolver || m_mediaResolverFolder != folder || ++m_mediaResolverUses > kMediaResolverUses) {
            m_mediaResolver.emplace(folder);
            m_mediaResolverFolder = folder;
            m_mediaResolverUses = 0;
        }
        return *m_mediaResolver;
    }

    // The largest message row id that ZWAMESSAGEINFO rows name (read once,
    // raised as rows are added): a new message above it has no rows left
    // behind by a deleted message to clear first.
    std::optional<qint64> infoMessageCeiling;

    // "yyyy-MM" of a Core Data date in local time, as media sections name
    // their month. Messages come in date order, so the month's bounds are
    // kept and the text is made once per month instead of once per message.
    QString localMonth(double coreDataDate);

    // Message rows written as another message's parent; a listed message
    // found among them later was added by this transaction all the same.
    void noteParentRow(qint64 rowId) { m_parentRows.insert(rowId); }
    bool takeParentRow(qint64 rowId) { return m_parentRows.remove(rowId); }

    // @lid JIDs that merged rows name, with what the source knew about them
    // (a later mention adds what an earlier one lacked).
    void noteLid(const QString& jid, const QString& phone, const QString& pushName);
    const QHash<QString, LidInfo>& lids() const { return m_lids; }

private:
    static constexpr int kMediaResolverUses = 500;
    std::optional<FolderResolver> m_mediaResolver;
    QString m_mediaResolverFolder;
    int m_mediaResolverUses = 0;
    Columns m_columns;
    QString m_messageInsert[4];
    QHash<quint32, QString> m_mediaInserts;
    QHash<QString, qint64> m_lastRowIds;
    QHash<QString, Chat> m_chats;
    QHash<QString, qint64> m_pendingMax;
    QSet<QString> m_picturesSeen;
    QSet<qint64> m_parentRows;
    QHash<QString, LidInfo> m_lids;
    qint64 m_monthStart = 0;  // msecs since the Unix epoch, [start, end) of m_month
    qint64 m_monthEnd = 0;
    QString m_month;
};
