// Writes realistic WhatsApp chat database folders for tests and benchmarks:
// the database in one of three layouts, its media files and profile pictures
// on disk, and (for device-style folders) the contacts databases.
//
//   ChatDbBuilder b(dir, ChatDbLayout::Modern);
//   qint64 chat = b.addChat("4915550001@s.whatsapp.net", "Anna");
//   b.addMessage({.chat = chat, .text = "hello"});
//   b.commit();
//
// Everything is written inside one transaction that commit() ends, so even
// hundreds of thousands of messages (addBulkMessages) take a few seconds.
// The payloads (receipts, quotes, keyed archives) are encoded here by hand,
// independently of the program's own codecs, so that tests of the reader
// check it against data it did not write itself.
#pragma once

#include "chatstore/sqlite3db.h"

#include <QByteArray>
#include <QColor>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

enum class ChatDbLayout {
    Script,  // the program's creation script, as created (no upgrades)
    Local,   // the creation script plus the upgrades of a local database (QM_QUOTED_*, ZWAMESSAGEINFO)
    Modern,  // a recent phone's layout: ZMETADATA quotes, ZWAMESSAGEINFO, other entity numbers, no ZWAMESSAGEWORD
    Today,   // Modern's tables; the sample adds today's data (reply metadata, @lid, reactions, polls, new types)
};

// Where the parts of one chat database folder lie.
struct ChatDbFolder {
    QString root;           // the folder handed to the builder
    QString appFolder;      // root, or root/net.whatsapp.WhatsApp for device-style folders
    QString databasePath;   // ChatStorage.sqlite (in Documents/ for device-style folders)
    QString contactsPath;   // Documents/Contacts.sqlite for device-style folders, else empty
    QString mediaFolder;    // Library
    QString profileFolder;  // Library/Media/Profile
};

struct ChatOptions {
    int flags = 0;
    bool removed = false;      // ZREMOVED=1 (only layouts with that column)
    double lastMessageDate = 0;
};

struct MessageSpec {
    qint64 chat = 0;
    int type = 0;
    QString text;
    bool fromMe = false;
    double date = 0;            // Core Data seconds; 0: one minute after the previous message
    qint64 member = 0;          // ZGROUPMEMBER
    int groupEventType = 0;
    QString stanzaId;           // generated when empty
    QString fromJid;            // defaults: the chat's JID for incoming, empty for outgoing
    QString toJid;
    QString pushName;
    qint64 sort = 0;            // 0: next number in the chat
    int starred = 0;
    int status = 0;
    qint64 broadcast = 0;
};

struct MediaSpec {
    QString localPath;          // ZMEDIALOCALPATH as stored
    QString thumbnailPath;      // ZTHUMBNAILLOCALPATH
    QString xmppThumbPath;      // ZXMPPTHUMBPATH
    QString title;              // ZTITLE (caption)
    QString authorName;         // ZAUTHORNAME (document title)
    QString vcardName;
    QStringList vcards;         // joined with the card separator into ZVCARDSTRING
    QString mediaUrl;
    double latitude = 0;
    double longitude = 0;
    qint64 fileSize = 0;
};

// The quoted message: which kind it was and its text.
struct QuoteSpec {
    enum Kind { TextOnly, Image, Video, Audio, Location, Card, Cards, Nothing, ExtendedText, Document, Sticker };
    Kind kind = TextOnly;
    QString text;               // ExtendedText: the extended text's own text
    QString senderJid;          // empty: the owner's own message
    QString stanzaId;
    QString remoteJid;          // reply metadata only: the chat the quoted message came from
};

// A reaction as a receipt blob stores it.
struct ReactionSpec {
    QString reactor;            // empty: the owner's own reaction
    QString emoji;              // empty: withdrawn
    qint64 timeMs = 0;
    QString keyId;              // generated when empty
};

// One vote of a poll; an empty voter is the owner's vote.
struct PollVoteSpec {
    QString voter;
    QList<int> options;
    bool packed = false;        // indices in one packed field instead of one field each
};

struct PollSpec {
    QString question;
    QStringList options;
    QList<PollVoteSpec> votes;
};

// One ContactsV2 address-book contact.
struct ContactV2Spec {
    QString whatsAppId;         // ZWHATSAPPID: digits (old stores) or the whole JID
    QString identifier;         // ZIDENTIFIER
    QString lid;                // ZLID, may be empty
};

// One receipt in one of the two stored forms.
struct ReceiptSpec {
    QString recipient;          // a JID for the JID form, digits for the phone-number form
    qint64 time1 = 0;           // Unix seconds, 0 = absent
    qint64 time2 = 0;
    bool phoneForm = false;
};

class ChatDbBuilder {
public:
    // Creates root (and, device-style, net.whatsapp.WhatsApp/Documents), the
    // database in the layout, and the media and profile folders.
    ChatDbBuilder(const QString& root, ChatDbLayout layout, bool deviceStyle = false);
    ~ChatDbBuilder();
    ChatDbBuilder(const ChatDbBuilder&) = delete;
    ChatDbBuilder& operator=(const ChatDbBuilder&) = delete;

    const ChatDbFolder& folder() const { return m_folder; }
    ChatDbLayout layout() const { return m_layout; }
    Sqlite3DB& db() { return m_db; }
    bool hasColumn(const QString& table, const QString& column);

    qint64 addChat(const QString& jid, const QString& partnerName, const ChatOptions& options = {});
    // A group chat with its ZWAGROUPINFO row.
    qint64 addGroup(const QString& jid, const QString& subject, const QString& ownerJid = {});
    qint64 addMember(qint64 chat, const QString& memberJid, const QString& contactName, bool active = true);
    qint64 addMessage(const MessageSpec& spec);
    qint64 addMediaItem(qint64 message, const MediaSpec& spec);
    // Stores the quote of a media item where the layout keeps quotes
    // (ZMETADATA, else QM_QUOTED_*); false when the layout has neither.
    bool setQuote(qint64 mediaItem, const QuoteSpec& quote);
    // Raw quote storage, for hostile or unusual values.
    void setQuoteColumns(qint64 mediaItem, const QByteArray& payload, const QString& senderJid,
                         const QString& stanzaId);
    void setMetadata(qint64 mediaItem, const QByteArray& metadata);
    // One ZWAMESSAGEINFO row holding the receipts; false without that table.
    bool addReceipts(qint64 message, const QList<ReceiptSpec>& receipts);
    // One ZWAMESSAGEINFO row holding these bytes as they are.
    bool addReceiptInfo(qint64 message, const QByteArray& blob);
    // The quote as a recent app stores it: reply metadata in ZMETADATA.
    void setReplyMetadata(qint64 mediaItem, const QuoteSpec& quote);
    // LID.sqlite beside the chat database: ZWAZACCOUNT (ZIDENTIFIER "…@lid",
    // ZPHONENUMBER) or, accountShape false, ZWAPHONENUMBERLIDPAIR (ZLID, ZPHONENUMBER).
    void writeLidDatabase(const QList<QPair<QString, QString>>& lidToPhone, bool accountShape);
    // The same into the file at path (created when missing), with the
    // entity's row in its Z_PRIMARYKEY; no pairs: an empty LID.sqlite.
    static void writeLidDatabaseFile(const QString& path, const QList<QPair<QString, QString>>& lidToPhone,
                                     bool accountShape);
    // ChatSearch.sqlite as a phone keeps it beside the chat database: "docs"
    // an FTS3 table over wa_tokenizer, "metadata" the documents' dates; the
    // texts given become its first documents.
    static void writeSearchIndexFile(const QString& path, const QStringList& texts = {});
    // The older pair table inside ChatStorage.sqlite itself.
    void addLidPairsToChatDb(const QList<QPair<QString, QString>>& lidToPhone);
    void addPushName(const QString& jid, const QString& pushName);
    void setContactIdentifier(qint64 chat, const QString& identifier);
    // ContactsV2.sqlite beside the chat database (with ZLID).
    void writeContactsV2(const QList<ContactV2Spec>& contacts);
    void setParent(qint64 message, qint64 parent);
    void setRemoved(qint64 chat, bool removed = true);

    // Files under the media folder (relative path as it would be stored, a
    // leading "/" allowed) and the profile folder.
    QString writeMediaFile(const QString& relativePath, const QByteArray& data);
    QString writeImage(const QString& relativePath, int width, int height, const char* format = "PNG",
                       const QColor& color = QColor(40, 120, 200));
    QString writeProfilePicture(const QString& jid, const char* suffix = ".thumb");
    // Device-style folders: Documents/Contacts.sqlite (ZWACONTACT) and
    // Documents/ContactsV2.sqlite (ZWAADDRESSBOOKCONTACT).
    void writeContacts(const QList<QPair<QString, qint64>>& nameToAbUserId,
                       const QList<QPair<QString, QString>>& whatsAppIdToIdentifier);

    // count plain messages spread over the given chats (round robin), of a
    // realistic mix of types: mostly text, some images (sharing a few real
    // files), locations, documents, group events in groups, starred ones
    // and receipts on outgoing ones. Returns how many of them the reader
    // lists (types it loads, in chats it lists).
    qint64 addBulkMessages(qint64 count, const QList<qint64>& chats, quint32 seed = 1);
    // Generated stanza ids go on after n unused ones, so that a second
    // database built alike holds the same chats with other messages.
    void skipStanzaIds(qint64 n) { m_stanza += n; }

    // Messages of loaded types in listed chats that are not removed: what
    // the reader must count, for one chat or (0) for all.
    qint64 expectedCount(qint64 chat = 0) const;

    void commit();

    // Payload encoders, usable on their own.
    static QByteArray quotedPayload(const QuoteSpec& quote);
    static QByteArray receiptBlob(const QList<ReceiptSpec>& receipts);
    static QByteArray quoteMetadata(const QByteArray& payload, const QString& senderJid, const QString& stanzaId);
    // Reply metadata (protocol buffers): 5 stanza id, 6 sender, 7 remote
    // chat, 19 the quoted message; withMediaPath adds a field 4 as media
    // items with a file carry.
    static QByteArray replyMetadata(const QuoteSpec& quote, bool withMediaPath = false);
    // A receipt blob with receipts, reactions (field 7) and a poll (field 8).
    static QByteArray receiptBlob(const QList<ReceiptSpec>& receipts, const QList<ReactionSpec>& reactions,
                                  const PollSpec* poll = nullptr);
    // A vCard with FN, TEL and a folded Base64 JPEG photo (when withPhoto).
    static QString vcard(const QString& name, const QString& phone, bool withPhoto);
    static QByteArray imageBytes(int width, int height, const char* format, const QColor& color);

private:
    struct ChatInfo {
        QString jid;
        bool listed = false;
        bool removed = false;
        qint64 sort = 0;
        qint64 counted = 0;
    };
    int ent(const char* name) const;
    void ensureTransaction();

    ChatDbFolder m_folder;
    ChatDbLayout m_layout;
    Sqlite3DB m_db;
    QHash<QString, int> m_entities;
    QHash<qint64, ChatInfo> m_chats;
    QHash<QString, QHash<QString, bool>> m_columns;
    double m_lastDate = 600000000.0;  // 2020-01-05
    qint64 m_stanza = 0;
};

// A complete sample folder: one-to-one, group, broadcast and status chats,
// (layout Today: also @lid members and chats with LID.sqlite, ContactsV2 and
// push names, replies in reply metadata of every kind, reactions, a poll,
// and the message types of recent apps),
// members, every message type (0-8, 11, 15 and unknown ones), captions,
// quotes, receipts in both forms, parents (and a parent loop), a starred
// message, a removed chat (layouts with ZREMOVED), media files on disk
// (a path stored with a leading "/", one leaving the media folder), a
// vCard with a photo, profile pictures, and bulkMessages extra messages.
struct SampleChatDb {
    ChatDbFolder folder;
    qint64 expectedCount = 0;           // messages the reader counts over all chats
    int expectedChats = 0;              // chats the reader lists
    QHash<QString, qint64> ids;         // named rows: "chat.anna", "msg.image", ...
};
SampleChatDb buildSampleChatDb(const QString& root, ChatDbLayout layout, qint64 bulkMessages = 0,
                               bool deviceStyle = false);

// Leaves a database the way a running phone app does: in WAL mode with
// automatic checkpoints off, the changes that `writes` makes committed into
// "<database>-wal" only (the main file stays as it was). Opening the
// database replays them; a copy of the main file alone lacks them.
void leaveLiveWal(const QString& databasePath, const QStringList& writes);
