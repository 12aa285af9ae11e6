// JidDirectory: what one chat database folder tells about the people behind
// JIDs. Recent apps address people by "<digits>@lid" JIDs that are not
// phone numbers; the phone number behind one is found, in this order, in
// LID.sqlite beside ChatStorage.sqlite (ZWAZACCOUNT, or the older
// ZWAPHONENUMBERLIDPAIR; sometimes these tables sit in ChatStorage.sqlite),
// in ContactsV2 (ZWAADDRESSBOOKCONTACT.ZLID -> ZWHATSAPPID), and for an @lid
// chat in its ZCONTACTIDENTIFIER when that reads "<digits>@s.whatsapp.net".
// Push names come from ZWAPROFILEPUSHNAME. A missing file or table means
// fewer entries, never an error. Built once per opening of the database.
#pragma once

#include <QHash>
#include <QString>

class ChatSchema;
class Sqlite3DB;

// Opens a database beside a chat database (LID.sqlite, ContactsV2.sqlite)
// that is only ever read: read-only and immutable, so that SQLite writes
// nothing beside it (no -shm index, no journal), even in a user's folder.
// What sits in a write-ahead log beside it is not seen. Throws on failure.
void openImmutable(Sqlite3DB& db, const QString& path);

class JidDirectory {
public:
    // chatFolder: the folder of ChatStorage.sqlite (LID.sqlite lies there).
    // contactsV2: the open ContactsV2 connection, or nullptr.
    void load(Sqlite3DB& chatDb, const ChatSchema& schema, const QString& chatFolder, Sqlite3DB* contactsV2);
    void clear();

    // One pair (first one wins) and one push name; load() uses these too.
    void addLidPhone(const QString& lid, const QString& phone);
    void addPushName(const QString& jid, const QString& name);

    static bool isLidJid(const QString& jid);
    // Only the digits of the user part of a JID or of a phone number text.
    static QString phoneDigits(const QString& text);

    // Phone digits behind a JID: the user part of a phone JID, the known
    // phone of an @lid JID; empty when not known.
    QString phoneOf(const QString& jid) const;
    // The other address of the same person ("…@lid" <-> "…@s.whatsapp.net"),
    // empty when not known.
    QString twinOf(const QString& jid) const;
    // Push name of the JID or of its twin; empty when none.
    QString pushNameOf(const QString& jid) const;

    qsizetype lidCount() const { return m_phoneByLid.size(); }

private:
    void readPairs(Sqlite3DB& db, const char* sql, bool lidFirst);

    QHash<QString, QString> m_phoneByLid;  // "…@lid" -> digits
    QHash<QString, QString> m_lidByPhone;  // digits -> "…@lid"
    QHash<QString, QString> m_pushNames;   // JID -> push name
};
