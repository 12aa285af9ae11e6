// The write side of IOSWhatsAppDb: merging messages from another chat
// database without duplicating them, copying their files, renumbering the
// per-chat order and the key counters afterwards, and deleting messages.
// Every statement that runs once per message has one fixed text with bound
// parameters, so SQLite prepares it once per job; chats and members of the
// target are looked up once per chat (ChatMergeCache), never by a scan.
#include "chatstore/ioswhatsappdb.h"

#include "base/apperror.h"
#include "base/fileutil.h"
#include "chatstore/chatmergecache.h"
#include "chatstore/displayrules.h"
#include "chatstore/keyedarchivebuilder.h"
#include "chatstore/mediapaths.h"
#include "chatstore/receiptcodec.h"
#include "chatstore/replymetadata.h"
#include "platform/osservices.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStorageInfo>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <utility>

namespace {

const QString kVCardSeparator = QStringLiteral("_$!<VCard-Separator>!$_");
const QString kNameSeparator = QStringLiteral("_$!<Name-Separator>!$_");

void bindTextOrNull(Sqlite3Sql& sql, const QString& text)
{
    if (text.isEmpty())
        sql.addNullParam();
    else
        sql.addTextParam(text);
}

void bindIdOrNull(Sqlite3Sql& sql, qint64 id)
{
    if (id > 0)
        sql.addInt64Param(id);
    else
        sql.addNullParam();
}

// The display name of one vCard text: its first FN value, or "Unknown".
QString cardName(const QString& card)
{
    static const QRegularExpression fn(QStringLiteral("FN:([^:\r\n]*)"));
    const QRegularExpressionMatch match = fn.match(card);
    return match.hasMatch() ? match.captured(1) : QStringLiteral("Unknown");
}

// The keyed archive that recent WhatsApp versions keep in ZMETADATA for a
// media item that quotes another message.
QByteArray quoteMetadataArchive(const _QuotedRef& quote)
{
    KeyedArchiveBuilder b;
    const quint64 root = b.reserve();  // 1
    const quint64 stanza = b.add(PlistCFType(quote.stanzaId));
    const quint64 sender = quote.senderJid.isEmpty() ? 0 : b.add(PlistCFType(quote.senderJid));
    const quint64 data = b.add(PlistCFType(quotedPayloadBytes(quote)));
    const quint64 cls = b.addClass(QStringLiteral("WAMediaItemMetadata"),
                                   {QStringLiteral("WAMediaItemMetadata"), QStringLiteral("NSObject")});
    PlistCFType dict = PlistCFType::newDictionary();
    dict.setValue(QStringLiteral("$class"), PlistCFType::fromUid(cls));
    dict.setValue(QStringLiteral("quotedMessageData"), PlistCFType::fromUid(data));
    dict.setValue(QStringLiteral("senderJID"), PlistCFType::fromUid(sender));
    dict.setValue(QStringLiteral("stanzaID"), PlistCFType::fromUid(stanza));
    for (const char* key : {"backgroundColor", "canonicalURL", "matchedText", "mentions", "rawMessageData",
                            "rawMessageEncVer", "remoteJID", "snippet"})
        dict.setValue(QString::fromLatin1(key), PlistCFType::fromUid(0));
    dict.setValue(QStringLiteral("textfontStyle"), PlistCFType(quint64(0)));
    b.set(root, dict);
    return b.toBinary(root);
}

// Copies source to destination through a temporary file beside it that is
// renamed only when every byte was written.
enum class CopyOutcome { Copied, Skipped, SourceMissing, WriteFailed };

// Copies source to destination through a temporary file beside it that is
// renamed only when every byte was written. A write that fails says why in
// *writeError. With mayLink (a private copy nothing writes again) the
// destination becomes a second name of the source where the file system
// allows; otherwise the blocks are cloned or copied by the kernel where it
// can, and read and written here only where it cannot.
CopyOutcome copyThroughTemporary(const QString& source, const QString& destination, QString* writeError = nullptr,
                                 bool mayLink = false)
{
    // A link appears complete under its name at once, and never replaces
    // anything there (a name that is taken, a link among them, fails).
    if (mayLink && QFileInfo(source).isFile() && !QFileInfo(source).isSymLink() &&
        platform::hardLinkFile(source, destination))
        return CopyOutcome::Copied;
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return CopyOutcome::SourceMissing;
    auto failed = [&](const QString& why) {
        if (writeError)
            *writeError = why;
        return CopyOutcome::WriteFailed;
    };
    if (QFileInfo(destination).isSymLink())
        return failed(QStringLiteral("the destination is a symbolic link; nothing is written through it"));
    QSaveFile out(destination);
    if (!out.open(QIODevice::WriteOnly))
        return failed(out.errorString());
    if (platform::cloneFileContents(in.handle(), out.handle())) {
        if (!out.commit())
            return failed(out.errorString());
        return CopyOutcome::Copied;
    }
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n < 0) {
            out.cancelWriting();
            return CopyOutcome::SourceMissing;
        }
        if (n == 0)
            break;
        if (out.write(buffer.constData(), n) != n) {
            const QString why = out.errorString();
            out.cancelWriting();
            return failed(why);
        }
    }
    if (!out.commit())
        return failed(out.errorString());
    return CopyOutcome::Copied;
}

// The text of a media file that could not be written: which file, why, and
// the free space left where it should have gone.
QString writeFailureText(const QString& source, const QString& destination, const QString& why)
{
    QString folder = QFileInfo(destination).absolutePath();
    while (!QFileInfo(folder).isDir() && folder.size() > 1)
        folder = QFileInfo(folder).absolutePath();
    const qint64 free = QStorageInfo(folder).bytesAvailable();
    return QStringLiteral("The attachment %1 could not be written to %2 (%3); %4 MB are free there. Free some space "
                          "or choose another data folder, then run the backup again.")
        .arg(QDir::toNativeSeparators(source), QDir::toNativeSeparators(destination), why)
        .arg(free < 0 ? QStringLiteral("?") : QString::number(double(free) / (1024.0 * 1024.0), 'f', 1));
}

// copyMediaFile with the reason when nothing was copied. `resolver`, when
// given, checks paths against `mediaFolder` as pathInsideFolder does, with
// the real paths of its folders remembered.
CopyOutcome copyMediaFileChecked(const QString& mediaFolder, const QString& storedPath, const QString& sourceFile,
                                 QString* writeError, bool mayLink = false, FolderResolver* resolver = nullptr)
{
    if (sourceFile.isEmpty() || !QFileInfo(sourceFile).isFile())
        return CopyOutcome::SourceMissing;
    // A stored path that leads out of the media folder is not followed.
    const QString target =
        resolver ? resolver->pathInside(storedPath) : pathInsideFolder(mediaFolder, storedPath);
    if (target.isEmpty())
        return CopyOutcome::Skipped;
    const QFileInfo info(target);
    const QString encoded = percentEncodedFileName(decomposedText(info.fileName()));
    const QString destination = info.absolutePath() + QLatin1Char('/') + encoded;
    const QFileInfo existing(destination);
    if (existing.exists() || existing.isSymLink())
        return CopyOutcome::Skipped;
    // Folders still to be made are made only below one that really lies in
    // the media folder (or below the folder itself, which is made when it
    // is missing): a link on the way that leads out would have them made
    // elsewhere.
    const QString folder = QDir(mediaFolder).absolutePath();
    QString made = info.absolutePath();
    while (made.size() > folder.size() && !QFileInfo::exists(made))
        made = QFileInfo(made).absolutePath();
    if (made != info.absolutePath() && made.size() > folder.size() && !isInsideFolder(folder, made))
        return CopyOutcome::Skipped;
    if (!QDir().mkpath(info.absolutePath())) {
        if (writeError)
            *writeError = writeFailureText(sourceFile, destination, QStringLiteral("its folder cannot be created"));
        return CopyOutcome::WriteFailed;
    }
    // Checked again now that the folders exist: a link among them may lead out.
    if (!isInsideFolder(folder, destination))
        return CopyOutcome::Skipped;
    QString why;
    const CopyOutcome outcome = copyThroughTemporary(sourceFile, destination, &why, mayLink);
    if (outcome == CopyOutcome::WriteFailed && writeError)
        *writeError = writeFailureText(sourceFile, destination, why);
    return outcome;
}

const QString kMediaTable = QStringLiteral("ZWAMEDIAITEM");
const QString kInfoTable = QStringLiteral("ZWAMESSAGEINFO");
const QString kMediaEntity = QStringLiteral("WAMediaItem");
const QString kInfoEntity = QStringLiteral("WAMessageInfo");

// The columns a media item row may set, in the order its insert names them.
enum class MediaColumn {
    Z_ENT, Z_OPT, ZFILESIZE, ZMEDIAORIGIN, ZMOVIEDURATION, ZMESSAGE, ZHACCURACY, ZLATITUDE, ZLONGITUDE,
    ZMEDIALOCALPATH, ZMEDIAURL, ZTHUMBNAILLOCALPATH, ZVCARDNAME, ZVCARDSTRING, ZXMPPTHUMBPATH, ZASPECTRATIO,
    ZAUTHORNAME, ZCOLLECTIONNAME, ZTITLE, ZMEDIAKEY, ZMETADATA, QM_METADATA, QM_QUOTED_DATA, QM_QUOTED_SENDER,
    QM_QUOTED_STANZAID, Count
};

const char* const kMediaColumnNames[] = {
    "Z_ENT", "Z_OPT", "ZFILESIZE", "ZMEDIAORIGIN", "ZMOVIEDURATION", "ZMESSAGE", "ZHACCURACY", "ZLATITUDE", "ZLONGITUDE",
    "ZMEDIALOCALPATH", "ZMEDIAURL", "ZTHUMBNAILLOCALPATH", "ZVCARDNAME", "ZVCARDSTRING", "ZXMPPTHUMBPATH",
    "ZASPECTRATIO", "ZAUTHORNAME", "ZCOLLECTIONNAME", "ZTITLE", "ZMEDIAKEY", "ZMETADATA", "QM_METADATA",
    "QM_QUOTED_DATA", "QM_QUOTED_SENDER", "QM_QUOTED_STANZAID"};
static_assert(std::size(kMediaColumnNames) == size_t(MediaColumn::Count));

// One media item row: the columns that are set, each bound by its C++
// type (integers as integers, doubles as reals, texts, blobs). Rows that
// set the same columns share one statement text, so SQLite prepares each
// shape once per job.
class MediaRow {
public:
    void set(MediaColumn c, qint64 v) { slot(c) = {Sqlite3Sql::ParamKind::Int64, {}, v, 0.0, {}}; }
    void set(MediaColumn c, int v) { set(c, qint64(v)); }
    void set(MediaColumn c, double v) { slot(c) = {Sqlite3Sql::ParamKind::Double, {}, 0, v, {}}; }
    void set(MediaColumn c, const QString& v) { slot(c) = {Sqlite3Sql::ParamKind::Text, v, 0, 0.0, {}}; }
    void set(MediaColumn c, const QByteArray& v) { slot(c) = {Sqlite3Sql::ParamKind::Blob, {}, 0, 0.0, v}; }

    Sqlite3Sql statement(ChatMergeCache& cache) const
    {
        QString& text = cache.mediaInsertSql(m_mask);
        if (text.isEmpty()) {
            QStringList names;
            for (int i = 0; i < int(MediaColumn::Count); ++i)
                if (m_mask & (1u << i))
                    names << QLatin1String(kMediaColumnNames[i]);
            text = QStringLiteral("insert into ZWAMEDIAITEM(%1) values(?%2)")
                       .arg(names.join(QLatin1Char(',')), QStringLiteral(",?").repeated(names.size() - 1));
        }
        Sqlite3Sql sql(text);
        for (int i = 0; i < int(MediaColumn::Count); ++i)
            if (m_mask & (1u << i))
                sql.addParam(m_values[i]);
        return sql;
    }

private:
    Sqlite3Sql::Param& slot(MediaColumn c)
    {
        m_mask |= 1u << int(c);
        return m_values[int(c)];
    }
    quint32 m_mask = 0;
    std::array<Sqlite3Sql::Param, size_t(MediaColumn::Count)> m_values;
};

// True when `file` is the file a stored path names (or the program's
// encoded copy of it), and not a fallback the reader substituted (a
// thumbnail standing in for a missing media file, or the reverse).
bool fileMatchesStoredName(const QString& file, const QString& stored)
{
    const QString fileName = QFileInfo(file).fileName();
    const QString storedName = QFileInfo(stored).fileName();
    return fileName == storedName || fileName == percentEncodedFileName(decomposedText(storedName));
}

}  // namespace

ChatMergeCache& IOSWhatsAppDb::mergeCache()
{
    ensureOpen();
    if (!m_merge)
        m_merge = std::make_unique<ChatMergeCache>(m_schema);
    return *m_merge;
}

void IOSWhatsAppDb::flushKeyCounters()
{
    if (!m_merge || !m_db.isOpen())
        return;
    for (auto it = m_merge->pendingKeyCounters().cbegin(); it != m_merge->pendingKeyCounters().cend(); ++it) {
        Sqlite3Sql sql("update Z_PRIMARYKEY set Z_MAX=? where Z_NAME=?");
        sql.addInt64Param(it.value()).addTextParam(it.key());
        m_db.executeThrow(sql);
    }
    m_merge->clearKeyCounters();
}

void IOSWhatsAppDb::flushLidMappings()
{
    m_pendingLidPhones.clear();
    m_pendingLidRows = 0;
    if (!m_merge || !m_db.isOpen())
        return;
    const bool ownTable = m_merge->columns().lidMapTable;
    const QHash<QString, ChatMergeCache::LidInfo>& lids = m_merge->lids();
    for (auto it = lids.cbegin(); it != lids.cend(); ++it) {
        const ChatMergeCache::LidInfo& info = it.value();
        if (ownTable) {
            // A local database keeps phone and push name in its own table;
            // rows it has are never changed.
            if (info.phone.isEmpty() && info.pushName.isEmpty())
                continue;
            Sqlite3Sql sql("insert into QM_LIDMAP(ZLID,ZPHONE,ZPUSHNAME) values(?,?,?) on conflict(ZLID) do nothing");
            sql.addTextParam(it.key());
            bindTextOrNull(sql, info.phone);
            bindTextOrNull(sql, info.pushName);
            m_db.executeThrow(sql);
            m_pendingLidRows += m_db.changes();
        } else if (!info.phone.isEmpty()) {
            // A phone's database: LID.sqlite, after the commit.
            m_pendingLidPhones.insert(it.key(), info.phone);
        }
    }
}

void IOSWhatsAppDb::commitThrow()
{
    try {
        flushKeyCounters();
        flushLidMappings();
        m_db.commitTran();
    } catch (...) {
        m_merge.reset();
        m_pendingLidPhones.clear();
        m_pendingLidRows = 0;
        throw;
    }
    m_merge.reset();
    setJobPageCache(false);
    m_committedLidRows = m_pendingLidRows;
    m_pendingLidRows = 0;
}

IOSWhatsAppDb::LidWriteResult IOSWhatsAppDb::writeLidMappings()
{
    LidWriteResult result;
    result.added = m_committedLidRows;
    m_committedLidRows = 0;
    const QHash<QString, QString> pending = std::exchange(m_pendingLidPhones, {});
    if (pending.isEmpty())
        return result;
    // Only into a LID.sqlite the phone has made, never a new one.
    const QString path = QFileInfo(databasePath()).absolutePath() + QStringLiteral("/LID.sqlite");
    if (!QFileInfo(path).isFile())
        return result;
    QStringList tried;
    Sqlite3DB lid;
    try {
        lid.openThrow(path, SQLITE_OPEN_READWRITE);
        ChatSchema schema;
        schema.buildSchemaCache(lid);
        const bool account = schema.hasColumn(QStringLiteral("ZWAZACCOUNT"), QStringLiteral("ZIDENTIFIER")) &&
                             schema.hasColumn(QStringLiteral("ZWAZACCOUNT"), QStringLiteral("ZPHONENUMBER"));
        const bool pairs = schema.hasColumn(QStringLiteral("ZWAPHONENUMBERLIDPAIR"), QStringLiteral("ZLID")) &&
                           schema.hasColumn(QStringLiteral("ZWAPHONENUMBERLIDPAIR"), QStringLiteral("ZPHONENUMBER"));
        if (!account && !pairs)
            return result;
        const QString table = account ? QStringLiteral("ZWAZACCOUNT") : QStringLiteral("ZWAPHONENUMBERLIDPAIR");
        const QString entity = account ? QStringLiteral("WAZAccount") : QStringLiteral("WAPhoneNumberLIDPair");
        const QString key = account ? QStringLiteral("ZIDENTIFIER") : QStringLiteral("ZLID");
        const bool counters = schema.hasColumn(QStringLiteral("Z_PRIMARYKEY"), QStringLiteral("Z_MAX"));
        lid.beginTran();
        QVariant ent;
        if (counters) {
            Sqlite3Sql sql("select Z_ENT from Z_PRIMARYKEY where Z_NAME=?");
            sql.addTextParam(entity);
            Sqlite3Cursor c = lid.queryThrow(sql);
            if (c.moveNext())
                ent = c.value(0);
        }
        QStringList lids = pending.keys();
        lids.sort();
        int added = 0;
        for (const QString& jid : lids) {
            // A LID the file knows already (as a JID or as digits) stays as it is.
            Sqlite3Sql find(QStringLiteral("select 1 from %1 where %2=? or %2=? limit 1").arg(table, key));
            find.addTextParam(jid).addTextParam(JidDirectory::phoneDigits(jid));
            if (lid.queryThrow(find).moveNext())
                continue;
            tried << jid;
            Sqlite3Sql insert(QStringLiteral("insert into %1(Z_ENT,Z_OPT,%2,ZPHONENUMBER) values(?,?,?,?)").arg(table, key));
            if (ent.isValid() && !ent.isNull())
                insert.addInt64Param(ent.toLongLong());
            else
                insert.addNullParam();
            insert.addIntParam(1).addTextParam(jid).addTextParam(pending.value(jid));
            lid.executeThrow(insert);
            ++added;
        }
        if (counters && added > 0) {
            Sqlite3Sql max(QStringLiteral("update Z_PRIMARYKEY set Z_MAX=(select ifnull(max(Z_PK),0) from %1) "
                                          "where Z_NAME=?")
                               .arg(table));
            max.addTextParam(entity);
            lid.executeThrow(max);
        }
        lid.commitTran();
        result.added += added;
    } catch (const std::exception& e) {
        if (lid.isOpen() && lid.inTransaction())
            lid.rollbackTran();
        result.unwritten = tried.isEmpty() ? QStringList(pending.keys()) : tried;
        result.unwritten.sort();
        result.error = QString::fromUtf8(e.what());
    }
    return result;
}

qint64 IOSWhatsAppDb::findMessageByStanza(const _Message& m)
{
    ensureOpen();
    const bool event = m.ZMESSAGETYPE == msgtype::kGroupEvent;
    const bool outgoing = m.ZISFROMME != 0;
    // A missing and an empty JID or text are the same "no value": both sides
    // compare as empty text, so a row stored with NULL is found again.
    if (m.ZSTANZAID.isEmpty()) {
        // Without a stanza id a message is known by its chat, direction,
        // date and text.
        if (!m.session)
            return 0;
        Sqlite3Sql sql("select m.Z_PK from ZWAMESSAGE m join ZWACHATSESSION s on s.Z_PK=m.ZCHATSESSION "
                       "where s.ZCONTACTJID=? and coalesce(m.ZSTANZAID,'')='' and coalesce(m.ZISFROMME,0)=? "
                       "and m.ZMESSAGEDATE=? and coalesce(m.ZTEXT,'')=? limit 1");
        sql.addTextParam(m.session->ZCONTACTJID);
        sql.addIntParam(outgoing ? 1 : 0);
        sql.addDoubleParam(m.ZMESSAGEDATE);
        sql.addTextParam(m.ZTEXT.isNull() ? QStringLiteral("") : m.ZTEXT);
        Sqlite3Cursor c = m_db.queryThrow(sql);
        return c.moveNext() ? c.getInt64(0) : 0;
    }
    // The partner may be stored under its @lid JID in one database and its
    // phone JID in the other: both name the same message.
    Sqlite3Sql sql(event ? "select Z_PK from ZWAMESSAGE where ZSTANZAID=? limit 1"
                   : outgoing ? "select Z_PK from ZWAMESSAGE where ZSTANZAID=? and ZISFROMME=? and "
                                "coalesce(ZTOJID,'') in (?,?) limit 1"
                              : "select Z_PK from ZWAMESSAGE where ZSTANZAID=? and ZISFROMME=? and "
                                "coalesce(ZFROMJID,'') in (?,?) limit 1");
    sql.addTextParam(m.ZSTANZAID);
    if (!event) {
        const QString& partner = outgoing ? m.ZTOJID : m.ZFROMJID;
        sql.addIntParam(outgoing ? 1 : 0);
        const QString jid = partner.isNull() ? QStringLiteral("") : partner;
        const QString twin = twinJidOf(partner, m);
        sql.addTextParam(jid).addTextParam(twin.isEmpty() ? jid : twin);
    }
    Sqlite3Cursor c = m_db.queryThrow(sql);
    return c.moveNext() ? c.getInt64(0) : 0;
}

QString IOSWhatsAppDb::twinJidOf(const QString& jid, const _Message& m) const
{
    if (jid.isEmpty())
        return {};
    // What the source knew first (its chat), then what the target knows.
    if (m.session && m.session->ZCONTACTJID == jid && !m.session->contactTwinJid.isEmpty())
        return m.session->contactTwinJid;
    return m_jids.twinOf(jid);
}

qint64 IOSWhatsAppDb::mergeIfMissing(const _Message& m, qint64 docId, bool* added)
{
    return mergeIfMissing(m, [docId] { return docId; }, added);
}

qint64 IOSWhatsAppDb::mergeIfMissing(const _Message& m, const std::function<qint64()>& docId, bool* added)
{
    *added = false;
    const qint64 found = findMessageByStanza(m);
    if (found > 0) {
        // Written earlier in this transaction as another message's parent.
        *added = mergeCache().takeParentRow(found);
        return found;
    }
    const qint64 n = mergeMessage(m, docId());
    *added = n > 0;
    return n;
}

qint64 IOSWhatsAppDb::mergeMessage(const _Message& message, qint64 docId)
{
    QSet<const _Message*> chain;
    return mergeMessageChain(message, docId, chain);
}

qint64 IOSWhatsAppDb::mergeMessageChain(const _Message& m, qint64 docId, QSet<const _Message*>& chain)
{
    ChatMergeCache& cache = mergeCache();
    const ChatMergeCache::Columns& cols = cache.columns();
    m_pageMark.valid = false;
    static const QString kWAMessage = QStringLiteral("WAMessage");
    const int entMessage = entityId(kWAMessage);

    // The chat (created with its group and members when the target lacks
    // it) and the sender, both known before the row is written.
    ChatMergeCache::Chat* chat = nullptr;
    if (m.session) {
        const _ChatSession& s = *m.session;
        chat = cache.chat(s.ZCONTACTJID);
        if (!chat) {
            Sqlite3Sql find("select Z_PK,ZGROUPINFO from ZWACHATSESSION where ZCONTACTJID=? limit 1");
            find.addTextParam(s.ZCONTACTJID);
            Sqlite3Cursor c = m_db.queryThrow(find);
            if (c.moveNext()) {
                ChatMergeCache::Chat known;
                known.pk = c.getInt64(0);
                known.groupInfo = c.getInt64(QStringLiteral("ZGROUPINFO"));
                Sqlite3Sql members("select Z_PK,ZMEMBERJID from ZWAGROUPMEMBER where ZCHATSESSION=? order by Z_PK");
                members.addInt64Param(known.pk);
                Sqlite3Cursor mc = m_db.queryThrow(members);
                while (mc.moveNext()) {
                    const QString jid = mc.getText(QStringLiteral("ZMEMBERJID"));
                    if (!known.members.contains(jid))
                        known.members.insert(jid, mc.getInt64(0));
                }
                chat = &cache.addChat(s.ZCONTACTJID, known);
            } else {
                const qint64 ab = s.isGroup() ? 0 : abUserIdByName().value(s.ZPARTNERNAME, 0);
                insertChatSession(ab, s);
                chat = cache.chat(s.ZCONTACTJID);
            }
        }
    }
    const qint64 chatPk = chat ? chat->pk : 0;
    const qint64 memberPk = chat && m.member ? senderMember(*chat, *m.member) : 0;
    noteLids(m);

    // Receipt rows: every stored blob as it is (receipts, reactions, a
    // poll); only a message read without blobs gets its receipts encoded.
    QList<QByteArray> blobs;
    if (cols.messageInfoTable) {
        for (const QByteArray& blob : m.receiptInfos)
            if (!blob.isEmpty())
                blobs << blob;
        if (blobs.isEmpty() && !m.receipts.isEmpty()) {
            const QByteArray encoded = encodeReceipts(m.receipts);
            if (!encoded.isEmpty())
                blobs << encoded;
        }
    }

    // The message row names its media item and first receipt row by the
    // ids they are about to get, so that it is written once; a guess that
    // turns out wrong is put right below.
    const bool linkInfo = cols.msgMessageInfo && !blobs.isEmpty();
    const qint64 mediaGuess = m.media ? cache.nextRowId(m_db, kMediaTable) : 0;
    const qint64 infoGuess = linkInfo ? cache.nextRowId(m_db, kInfoTable) : 0;

    const int type = m.ZMESSAGETYPE;
    Sqlite3Sql sql(cache.messageInsertSql(bool(m.media), linkInfo));
    sql.addIntParam(entMessage).addIntParam(m.Z_OPT).addInt64Param(m.ZSORT).addIntParam(m.ZGROUPEVENTTYPE);
    sql.addIntParam(m.ZISFROMME != 0 && type != msgtype::kGroupEvent ? 1 : 0);
    sql.addIntParam(8).addIntParam(type).addDoubleParam(m.ZMESSAGEDATE);
    bindTextOrNull(sql, m.ZFROMJID);
    bindTextOrNull(sql, m.ZPUSHNAME);
    bindTextOrNull(sql, m.ZSTANZAID);
    bindTextOrNull(sql, m.ZTEXT);
    bindTextOrNull(sql, m.ZTOJID);
    if (cols.msgFlags)
        sql.addIntParam(m.ZFLAGS);
    if (cols.msgMediaSectionId) {
        const bool dated = type == msgtype::kImage || type == msgtype::kVideo || type == msgtype::kGif;
        if (dated || type == msgtype::kDocument) {
            const QString month = cache.localMonth(m.ZMESSAGEDATE);
            sql.addTextParam(dated ? month : QStringLiteral("doc-") + month);
        } else {
            sql.addNullParam();
        }
    }
    if (cols.msgFilteredRecipientCount)
        sql.addIntParam(1);
    if (cols.msgDocId)
        sql.addInt64Param(docId);
    if (cols.msgStarred)
        sql.addIntParam(m.ZSTARRED);
    if (cols.msgDataItemVersion)
        sql.addIntParam(3);
    if (cols.msgErrorStatus)
        sql.addIntParam(0);
    bindIdOrNull(sql, chatPk);
    bindIdOrNull(sql, memberPk);
    if (m.media)
        sql.addInt64Param(mediaGuess);
    if (linkInfo)
        sql.addInt64Param(infoGuess);
    m_db.executeThrow(sql);
    const qint64 n = m_db.lastInsertId();
    cache.noteInsert(kWAMessage, n);

    if (m.media) {
        const qint64 media = insertMediaItem(n, *m.media, m);
        if (media != mediaGuess) {
            Sqlite3Sql link("update ZWAMESSAGE set ZMEDIAITEM=? where Z_PK=?");
            link.addInt64Param(media).addInt64Param(n);
            m_db.executeThrow(link);
        }
    }

    // The parent: an existing copy, or merged first. A chain that comes
    // back to a message on it, or runs too deep, ends there.
    if (cols.msgParent && m.parent && !chain.contains(m.parent.get()) && chain.size() < kMaxParentDepth) {
        chain.insert(&m);
        qint64 parent = findMessageByStanza(*m.parent);
        if (parent == 0) {
            parent = mergeMessageChain(*m.parent, -2, chain);
            if (parent > 0)
                cache.noteParentRow(parent);
        }
        chain.remove(&m);
        if (parent > 0) {
            Sqlite3Sql link("update ZWAMESSAGE set ZPARENTMESSAGE=? where Z_PK=?");
            link.addInt64Param(parent).addInt64Param(n);
            m_db.executeThrow(link);
        }
    }

    if (!blobs.isEmpty()) {
        // Rows a deleted message with this row id left behind go first.
        if (!cache.infoMessageCeiling) {
            Sqlite3Cursor c = m_db.queryThrow("select max(ZMESSAGE) from ZWAMESSAGEINFO");
            cache.infoMessageCeiling = c.moveNext() ? c.getInt64(0) : 0;
        }
        if (n <= *cache.infoMessageCeiling) {
            Sqlite3Sql drop("delete from ZWAMESSAGEINFO where ZMESSAGE=?");
            drop.addInt64Param(n);
            m_db.executeThrow(drop);
        }
        cache.infoMessageCeiling = std::max(*cache.infoMessageCeiling, n);
        const int entInfo = entityId(kInfoEntity);
        qint64 first = 0;
        for (const QByteArray& blob : blobs) {
            Sqlite3Sql info("insert into ZWAMESSAGEINFO(Z_ENT,Z_OPT,ZMESSAGE,ZRECEIPTINFO) values(?,?,?,?)");
            info.addIntParam(entInfo).addIntParam(1).addInt64Param(n);
            info.addBlobParam(blob);
            m_db.executeThrow(info);
            const qint64 infoId = m_db.lastInsertId();
            cache.noteInsert(kInfoEntity, infoId);
            cache.rememberRowId(kInfoTable, infoId);
            if (first == 0)
                first = infoId;
        }
        if (linkInfo && first != infoGuess) {
            Sqlite3Sql link("update ZWAMESSAGE set ZMESSAGEINFO=? where Z_PK=?");
            link.addInt64Param(first).addInt64Param(n);
            m_db.executeThrow(link);
        }
    }
    return n;
}

qint64 IOSWhatsAppDb::senderMember(ChatMergeCache::Chat& chat, const _GroupMember& sender)
{
    const QString& jid = sender.ZMEMBERJID;
    if (jid.isEmpty())
        return 0;
    auto it = chat.members.constFind(jid);
    if (it != chat.members.constEnd())
        return *it;
    // The same person under the other address, as the source or the target knows it.
    for (const QString& twin : {sender.twinJid, m_jids.twinOf(jid)}) {
        if (twin.isEmpty())
            continue;
        it = chat.members.constFind(twin);
        if (it != chat.members.constEnd())
            return *it;
    }
    // Still missing: kept as a former member, as WhatsApp keeps them.
    const qint64 id = insertMember(chat.pk, 0, sender, false);
    chat.members.insert(jid, id);
    return id;
}

qint64 IOSWhatsAppDb::insertMember(qint64 chatId, qint64 abId, const _GroupMember& member, bool keepActive)
{
    ChatMergeCache& cache = mergeCache();
    const QString identifier = cache.columns().memberContactIdentifier
                                   ? contactIdentifierFromContactV2Db(jidUser(member.ZMEMBERJID))
                                   : QString();
    Sqlite3Sql sql(identifier.isEmpty()
                       ? "insert into ZWAGROUPMEMBER(Z_ENT,Z_OPT,ZCONTACTABID,ZISACTIVE,ZCHATSESSION,ZCONTACTNAME,"
                         "ZMEMBERJID) values(?,?,?,?,?,?,?)"
                       : "insert into ZWAGROUPMEMBER(Z_ENT,Z_OPT,ZCONTACTABID,ZISACTIVE,ZCHATSESSION,ZCONTACTNAME,"
                         "ZMEMBERJID,ZCONTACTIDENTIFIER) values(?,?,?,?,?,?,?,?)");
    sql.addIntParam(entityId(QStringLiteral("WAGroupMember"))).addIntParam(member.Z_OPT);
    sql.addInt64Param(abId).addIntParam(keepActive ? member.ZISACTIVE : 0).addInt64Param(chatId);
    sql.addTextParam(member.ZCONTACTNAME).addTextParam(member.ZMEMBERJID);
    if (!identifier.isEmpty())
        sql.addTextParam(identifier);
    m_db.executeThrow(sql);
    const qint64 id = m_db.lastInsertId();
    cache.noteInsert(QStringLiteral("WAGroupMember"), id);
    cache.noteLid(member.ZMEMBERJID, member.phone, member.pushName);
    return id;
}

void IOSWhatsAppDb::noteLids(const _Message& m)
{
    ChatMergeCache& cache = mergeCache();
    if (m.session)
        cache.noteLid(m.session->ZCONTACTJID, m.session->contactPhone, m.session->contactPushName);
    if (m.member)
        cache.noteLid(m.member->ZMEMBERJID, m.member->phone, m.member->pushName);
    if (m.media && m.media->hasQuote())
        cache.noteLid(m.media->quote.senderJid, m.media->quote.senderPhone, m.media->quote.senderPushName);
    for (const _Reaction& r : m.reactions)
        cache.noteLid(r.reactor.jid, r.reactor.phone, r.reactor.pushName);
    if (m.poll)
        for (const _PollVote& v : m.poll->votes)
            cache.noteLid(v.voter.jid, v.voter.phone, v.voter.pushName);
}

qint64 IOSWhatsAppDb::insertChatSession(qint64 abId, const _ChatSession& s)
{
    ChatMergeCache& cache = mergeCache();
    const ChatMergeCache::Columns& cols = cache.columns();
    const bool group = s.isGroup();

    QStringList names = {QStringLiteral("Z_ENT"),           QStringLiteral("Z_OPT"),
                         QStringLiteral("ZCONTACTABID"),    QStringLiteral("ZMESSAGECOUNTER"),
                         QStringLiteral("ZUNREADCOUNT"),    QStringLiteral("ZCONTACTJID"),
                         QStringLiteral("ZPARTNERNAME")};
    Sqlite3Sql values;
    values.addIntParam(entityId(QStringLiteral("WAChatSession"))).addIntParam(s.Z_OPT);
    values.addInt64Param(group || abId == 0 ? 0 : abId).addIntParam(0).addIntParam(0);
    values.addTextParam(s.ZCONTACTJID).addTextParam(s.ZPARTNERNAME);
    if (cols.chatFlags) {
        names << QStringLiteral("ZFLAGS");
        values.addIntParam(s.ZFLAGS);
    }
    if (cols.chatHidden) {
        names << QStringLiteral("ZHIDDEN");
        values.addIntParam(0);
    }
    if (cols.chatRemoved) {
        names << QStringLiteral("ZREMOVED");
        values.addIntParam(0);
    }
    if (cols.chatSessionType) {
        names << QStringLiteral("ZSESSIONTYPE");
        values.addIntParam(s.ZCONTACTJID.contains(QLatin1String("@broadcast")) ? 2 : group ? 1 : 0);
    }
    if (cols.chatIdentityEpoch) {
        names << QStringLiteral("ZIDENTITYVERIFICATIONEPOCH");
        values.addIntParam(0);
    }
    if (cols.chatIdentityState) {
        names << QStringLiteral("ZIDENTITYVERIFICATIONSTATE");
        values.addIntParam(0);
    }
    if (cols.chatContactIdentifier) {
        // An @lid chat keeps its own identifier (often the phone JID).
        const QString identifier = JidDirectory::isLidJid(s.ZCONTACTJID) && !s.ZCONTACTIDENTIFIER.isEmpty()
                                       ? s.ZCONTACTIDENTIFIER
                                       : contactIdentifierFromContactV2Db(jidUser(s.ZCONTACTJID));
        if (!identifier.isEmpty()) {
            names << QStringLiteral("ZCONTACTIDENTIFIER");
            values.addTextParam(identifier);
        }
    }
    Sqlite3Sql insert(QStringLiteral("insert into %1(%2) values(?%3)")
                          .arg(QStringLiteral("ZWACHATSESSION"), names.join(QLatin1Char(',')),
                               QStringLiteral(",?").repeated(names.size() - 1)));
    for (const Sqlite3Sql::Param& p : values.params()) {
        switch (p.kind) {
        case Sqlite3Sql::ParamKind::Text:
            insert.addTextParam(p.text);
            break;
        default:
            insert.addInt64Param(p.integer);
        }
    }
    m_db.executeThrow(insert);
    const qint64 chatId = m_db.lastInsertId();
    cache.noteInsert(QStringLiteral("WAChatSession"), chatId);

    ChatMergeCache::Chat entry;
    entry.pk = chatId;
    if (s.groupInfo) {
        const _GroupInfo& g = *s.groupInfo;
        Sqlite3Sql info(
            "insert into ZWAGROUPINFO(Z_ENT, Z_OPT, ZSTATE, ZCHATSESSION, ZCREATIONDATE, ZSUBJECTTIMESTAMP, ZOWNERJID, "
            "ZPICTUREID, ZPICTUREPATH, ZSUBJECTOWNERJID) values(?,?,?,?,?,?,?,?,?,?)");
        info.addIntParam(entityId(QStringLiteral("WAGroupInfo"))).addIntParam(g.Z_OPT).addIntParam(g.ZSTATE);
        info.addInt64Param(chatId).addDoubleParam(g.ZCREATIONDATE).addDoubleParam(g.ZSUBJECTTIMESTAMP);
        info.addTextParam(g.ZOWNERJID).addTextParam(g.ZPICTUREID).addTextParam(g.ZPICTUREPATH);
        info.addTextParam(g.ZSUBJECTOWNERJID);
        m_db.executeThrow(info);
        entry.groupInfo = m_db.lastInsertId();
        cache.noteInsert(QStringLiteral("WAGroupInfo"), entry.groupInfo);
        Sqlite3Sql link("update ZWACHATSESSION set ZGROUPINFO=? where Z_PK=?");
        link.addInt64Param(entry.groupInfo).addInt64Param(chatId);
        m_db.executeThrow(link);
    }
    // Members known by a phone JID or by an @lid JID.
    for (const PGroupMember& member : s.members) {
        if (!member || !(member->ZMEMBERJID.endsWith(QLatin1String("@s.whatsapp.net")) ||
                         member->ZMEMBERJID.endsWith(QLatin1String("@lid"))))
            continue;
        const qint64 memberId = insertMember(chatId, group || abId == 0 ? 0 : abId, *member, true);
        if (!entry.members.contains(member->ZMEMBERJID))
            entry.members.insert(member->ZMEMBERJID, memberId);
    }
    if (!cache.chat(s.ZCONTACTJID))
        cache.addChat(s.ZCONTACTJID, entry);
    return chatId;
}

qint64 IOSWhatsAppDb::insertMediaItem(qint64 messageId, const _MediaItem& item, const _Message& m)
{
    ChatMergeCache& cache = mergeCache();
    const ChatMergeCache::Columns& cols = cache.columns();
    const int type = m.ZMESSAGETYPE;
    MediaRow row;
    row.set(MediaColumn::Z_ENT, entityId(kMediaEntity));
    row.set(MediaColumn::Z_OPT, item.Z_OPT);
    row.set(MediaColumn::ZFILESIZE, item.ZFILESIZE);
    row.set(MediaColumn::ZMEDIAORIGIN, item.ZMEDIAORIGIN);
    row.set(MediaColumn::ZMOVIEDURATION, item.ZMOVIEDURATION);
    row.set(MediaColumn::ZMESSAGE, messageId);
    row.set(MediaColumn::ZHACCURACY, item.ZHACCURACY);
    row.set(MediaColumn::ZLATITUDE, item.ZLATITUDE);
    row.set(MediaColumn::ZLONGITUDE, item.ZLONGITUDE);
    if (!item.ZMEDIALOCALPATH.isEmpty())
        row.set(MediaColumn::ZMEDIALOCALPATH, item.ZMEDIALOCALPATH);
    if (!item.ZMEDIAURL.isEmpty())
        row.set(MediaColumn::ZMEDIAURL, item.ZMEDIAURL);
    if (!item.ZTHUMBNAILLOCALPATH.isEmpty())
        row.set(MediaColumn::ZTHUMBNAILLOCALPATH, item.ZTHUMBNAILLOCALPATH);

    // Card and document texts by the message's type.
    if (type == msgtype::kContact) {
        QString name = item.ZVCARDNAME;
        if (item.cardTexts.size() >= 2) {
            QStringList names;
            for (const QString& card : item.cardTexts)
                names << cardName(card);
            name = QStringLiteral("%1 contacts").arg(item.cardTexts.size()) + kNameSeparator +
                   names.join(kNameSeparator);
        }
        row.set(MediaColumn::ZVCARDNAME, name);
        if (!item.cardTexts.isEmpty())
            row.set(MediaColumn::ZVCARDSTRING, item.cardTexts.join(kVCardSeparator));
    } else if (type == msgtype::kDocument) {
        row.set(MediaColumn::ZVCARDNAME, item.ZVCARDNAME.isNull() ? QStringLiteral("") : item.ZVCARDNAME);
        if (!item.cardTexts.isEmpty())
            row.set(MediaColumn::ZVCARDSTRING, item.cardTexts.first());
    } else {
        if (type == msgtype::kSticker)
            row.set(MediaColumn::ZVCARDSTRING, QStringLiteral("image/webp"));
        if (!item.ZVCARDNAME.isEmpty())
            row.set(MediaColumn::ZVCARDNAME, item.ZVCARDNAME);
    }

    if (!item.ZXMPPTHUMBPATH.isEmpty())
        row.set(MediaColumn::ZXMPPTHUMBPATH, item.ZXMPPTHUMBPATH);
    if (cols.mediaAspectRatio)
        row.set(MediaColumn::ZASPECTRATIO, item.ZASPECTRATIO);
    const QString author = type == msgtype::kDocument ? item.ZTITLE : item.ZAUTHORNAME;
    if (cols.mediaAuthorName && !author.isEmpty())
        row.set(MediaColumn::ZAUTHORNAME, author);
    if (cols.mediaCollectionName && !item.ZCOLLECTIONNAME.isEmpty())
        row.set(MediaColumn::ZCOLLECTIONNAME, item.ZCOLLECTIONNAME);
    if (cols.mediaTitle && !item.ZTITLE.isEmpty())
        row.set(MediaColumn::ZTITLE, item.ZTITLE);

    if (cols.mediaKey && !item.ZMEDIAKEY.isEmpty())
        row.set(MediaColumn::ZMEDIAKEY, item.ZMEDIAKEY);

    // Metadata: stored bytes in the target's format travel as they are
    // (whatever else they hold: a media path, forwarding); otherwise a quote
    // is written in the target's format, built from the quote alone.
    if (cols.mediaMetadata) {
        const bool archive = targetKeepsKeyedArchives();
        if (!item.ZMETADATA.isEmpty() && isKeyedArchiveMetadata(item.ZMETADATA) == archive)
            row.set(MediaColumn::ZMETADATA, item.ZMETADATA);
        else if (item.hasQuote())
            row.set(MediaColumn::ZMETADATA, archive ? quoteMetadataArchive(item.quote)
                                                       : encodeReplyMetadata(item.quote, quotedPayloadBytes(item.quote)));
    } else {
        if (cols.mediaOwnMetadata && !item.ZMETADATA.isEmpty())
            row.set(MediaColumn::QM_METADATA, item.ZMETADATA);
        if (item.hasQuote() && cols.mediaQuotedData) {
            row.set(MediaColumn::QM_QUOTED_DATA, quotedPayloadBytes(item.quote));
            if (cols.mediaQuotedSender)
                row.set(MediaColumn::QM_QUOTED_SENDER, item.quote.senderJid);
            if (cols.mediaQuotedStanzaId)
                row.set(MediaColumn::QM_QUOTED_STANZAID, item.quote.stanzaId);
        }
    }
    m_db.executeThrow(row.statement(cache));
    const qint64 id = m_db.lastInsertId();
    cache.noteInsert(kMediaEntity, id);
    cache.rememberRowId(kMediaTable, id);
    return id;
}

bool IOSWhatsAppDb::targetKeepsKeyedArchives()
{
    ChatMergeCache& cache = mergeCache();
    if (!cache.metadataIsKeyedArchive) {
        // The newest stored metadata decides; a target without any gets
        // what today's app writes.
        Sqlite3Cursor c = m_db.queryThrow(
            "select ZMETADATA from ZWAMEDIAITEM where length(ZMETADATA)>0 order by Z_PK desc limit 1");
        cache.metadataIsKeyedArchive = c.moveNext() && isKeyedArchiveMetadata(c.getBlob(QStringLiteral("ZMETADATA")));
    }
    return *cache.metadataIsKeyedArchive;
}

bool IOSWhatsAppDb::copyMediaFile(const QString& mediaFolder, const QString& storedPath, const QString& sourceFile)
{
    return copyMediaFileChecked(mediaFolder, storedPath, sourceFile, nullptr) == CopyOutcome::Copied;
}

void IOSWhatsAppDb::copyMessageFiles(const _Message& m)
{
    // A chat's pictures are looked at once per transaction, not per message.
    if (m.session && mergeCache().firstPicturesOf(m.session->ZCONTACTJID)) {
        for (const QString& source : {m.session->picturePath, m.session->thumbnailPath}) {
            if (source.isEmpty() || !QFileInfo(source).isFile())
                continue;
            const QString name = QFileInfo(source).fileName();
            if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
                continue;
            const QString destination = QDir(profileFolder()).absoluteFilePath(name);
            const QFileInfo existing(destination);
            if (existing.exists() || existing.isSymLink())
                continue;
            QDir().mkpath(profileFolder());
            QString why;
            const bool mayLink =
                !m_linkableSourceFolder.isEmpty() && isInsideFolder(m_linkableSourceFolder, source);
            if (isInsideFolder(QDir(profileFolder()).absolutePath(), destination) &&
                copyThroughTemporary(source, destination, &why, mayLink) == CopyOutcome::WriteFailed)
                throw AppError(writeFailureText(source, destination, why));
        }
    }
    if (m.media) {
        const _MediaItem& item = *m.media;
        const std::pair<const QString*, const QString*> files[] = {{&item.ZMEDIALOCALPATH, &item.mediaFile},
                                                                   {&item.ZTHUMBNAILLOCALPATH, &item.thumbnailFile},
                                                                   {&item.ZXMPPTHUMBPATH, &item.xmppThumbnailFile}};
        for (const auto& [stored, file] : files) {
            if (stored->isEmpty())
                continue;
            // An attachment the source does not have is skipped but counted
            // (a missing thumbnail is not worth a word); a file that cannot
            // be written fails the job.
            const bool attachment = stored == &item.ZMEDIALOCALPATH;
            if (file->isEmpty() || !fileMatchesStoredName(*file, *stored)) {
                if (attachment)
                    ++m_missingMedia;
                continue;
            }
            QString why;
            const bool mayLink =
                !m_linkableSourceFolder.isEmpty() && isInsideFolder(m_linkableSourceFolder, *file);
            const QString folder = mediaFolder();
            switch (copyMediaFileChecked(folder, *stored, *file, &why, mayLink,
                                         &mergeCache().mediaResolver(folder))) {
            case CopyOutcome::SourceMissing:
                if (attachment)
                    ++m_missingMedia;
                break;
            case CopyOutcome::WriteFailed:
                throw AppError(why);
            case CopyOutcome::Copied:
            case CopyOutcome::Skipped:
                break;
            }
        }
    }
}

bool IOSWhatsAppDb::deleteMessage(const _Message& message)
{
    ensureOpen();
    if (m_merge)
        m_merge->forgetAfterDeletions();
    m_pageMark.valid = false;
    m_chatSizes.clear();
    // The row's current values: earlier deletions of the same job have
    // already moved the sort values that the message was read with.
    Sqlite3Sql read("select ZCHATSESSION,ZSORT,ZMEDIAITEM,ZBROADCAST from ZWAMESSAGE where Z_PK=?");
    read.addInt64Param(message.Z_PK);
    qint64 chat = 0, sort = 0, media = 0, broadcast = 0;
    {
        Sqlite3Cursor c = m_db.queryThrow(read);
        if (!c.moveNext())
            return false;
        chat = c.getInt64(0);
        sort = c.getInt64(QStringLiteral("ZSORT"));
        media = c.getInt64(QStringLiteral("ZMEDIAITEM"));
        broadcast = c.getInt64(QStringLiteral("ZBROADCAST"));
    }
    auto run = [this](const char* text, qint64 a, std::optional<qint64> b = std::nullopt) {
        Sqlite3Sql sql(text);
        sql.addInt64Param(a);
        if (b)
            sql.addInt64Param(*b);
        m_db.executeThrow(sql);
    };
    if (m_schema.hasTable(QStringLiteral("ZWAMESSAGEWORD")))
        run("delete from ZWAMESSAGEWORD where ZMESSAGE=?", message.Z_PK);
    if (media != 0)
        run("delete from ZWAMEDIAITEM where Z_PK=?", media);
    if (m_hasMessageInfoTable)
        run("delete from ZWAMESSAGEINFO where ZMESSAGE=?", message.Z_PK);
    if (m_hasParentColumn)
        run("update ZWAMESSAGE set ZPARENTMESSAGE=NULL where ZPARENTMESSAGE=?", message.Z_PK);
    run("delete from ZWAMESSAGE where Z_PK=?", message.Z_PK);
    if (chat != 0)
        run("update ZWAMESSAGE set ZSORT=ZSORT-1 where ZCHATSESSION=? and ZSORT > ?", chat, sort);
    if (broadcast != 0 && m_schema.hasTable(QStringLiteral("ZWABROADCAST")))
        run("delete from ZWABROADCAST where Z_PK=? and (select count(*) from ZWAMESSAGE where ZBROADCAST=?) = 0",
            broadcast, broadcast);
    return true;
}

int IOSWhatsAppDb::removeUnreferencedMediaFiles(const QStringList& storedPaths)
{
    ensureOpen();
    auto normalized = [](const QString& stored) {
        QString rel = stored;
        if (rel.startsWith(QLatin1Char('/')))
            rel.remove(0, 1);
        return rel.isEmpty() ? QString() : QDir::cleanPath(rel);
    };
    QHash<QString, QString> candidates;  // resolved file -> normalized stored path
    for (const QString& stored : storedPaths) {
        const QString norm = normalized(stored);
        if (norm.isEmpty())
            continue;
        const QString file = resolveMediaPath(stored);
        if (!file.isEmpty() && QFileInfo(file).isFile())
            candidates.insert(file, norm);
    }
    if (candidates.isEmpty())
        return 0;
    // Every file the remaining media items name, as stored and as the
    // program's encoded copy, in one pass over the table.
    const QString root = QDir::cleanPath(QDir(mediaFolder()).absolutePath());
    QSet<QString> used;
    {
        Sqlite3Cursor c =
            m_db.queryThrow("select ZMEDIALOCALPATH,ZTHUMBNAILLOCALPATH,ZXMPPTHUMBPATH from ZWAMEDIAITEM");
        while (c.moveNext()) {
            for (int i = 0; i < 3; ++i) {
                const QString norm = normalized(c.value(i).toString());
                if (norm.isEmpty())
                    continue;
                const QString path = QDir::cleanPath(root + QLatin1Char('/') + norm);
                used.insert(path);
                const QFileInfo info(path);
                used.insert(info.path() + QLatin1Char('/') + percentEncodedFileName(decomposedText(info.fileName())));
            }
        }
    }
    int removed = 0;
    for (auto it = candidates.cbegin(); it != candidates.cend(); ++it) {
        if (used.contains(QDir::cleanPath(it.key())))
            continue;
        if (QFile::remove(it.key()))
            ++removed;
    }
    return removed;
}

// ---- renumbering ------------------------------------------------------------

void IOSWhatsAppDb::orderSortItems(std::vector<SortItem>& items)
{
    // Date order first (ties by old sort value, then row id: row ids are
    // unique, so the order is total and needs no stable sort and its
    // buffer) ...
    std::sort(items.begin(), items.end(), [](const SortItem& a, const SortItem& b) {
        if (a.date != b.date)
            return a.date < b.date;
        if (a.sort != b.sort)
            return a.sort < b.sort;
        return a.pk < b.pk;
    });
    // ... then an item moves before its neighbour while the two are close in
    // both sort value (10) and date (60 s) and its sort value is smaller.
    // Every swap removes one pair out of sort-value order, so this ends
    // whatever cycles the rule forms; items never swapped directly (those
    // far apart in time) keep their date order.
    auto near = [](const SortItem& a, const SortItem& b) {
        return std::llabs(a.sort - b.sort) <= 10 && std::fabs(a.date - b.date) <= 60.0;
    };
    for (size_t i = 1; i < items.size(); ++i) {
        for (size_t j = i; j > 0; --j) {
            SortItem& before = items[j - 1];
            SortItem& after = items[j];
            if (!near(before, after) || !(after.sort < before.sort))
                break;
            std::swap(before, after);
        }
    }
}

namespace {

// The new sort value of each row of the chat being renumbered: the chat's
// items sorted by row id, each holding its new value.
struct ChatSortMap {
    const std::vector<IOSWhatsAppDb::SortItem>* byPk = nullptr;
};

void chatzsortFunction(sqlite3_context* context, int argc, sqlite3_value** argv)
{
    const auto* map = static_cast<const ChatSortMap*>(sqlite3_user_data(context));
    const qint64 pk = sqlite3_value_int64(argv[0]);
    const int old = sqlite3_value_int(argv[1]);
    if (argc == 2 && map && map->byPk && !map->byPk->empty()) {
        const auto it = std::lower_bound(map->byPk->begin(), map->byPk->end(), pk,
                                         [](const IOSWhatsAppDb::SortItem& item, qint64 key) { return item.pk < key; });
        if (it != map->byPk->end() && it->pk == pk) {
            sqlite3_result_int(context, int(it->sort));
            return;
        }
    }
    sqlite3_result_int(context, old);
}

}  // namespace

void IOSWhatsAppDb::renumberSort()
{
    closeDb();
    beginTransaction();
    ChatSortMap map;
    try {
        if (sqlite3_create_function_v2(m_db.db, "chatzsort", 2, SQLITE_ANY, &map, chatzsortFunction, nullptr,
                                       nullptr, nullptr) != SQLITE_OK)
            throw Sqlite3Error(QString::fromUtf8(sqlite3_errmsg(m_db.db)));

        QList<qint64> chats;
        {
            Sqlite3Cursor c = m_db.queryThrow(
                "select distinct ZCHATSESSION from ZWAMESSAGE where ZCHATSESSION>0 order by ZCHATSESSION asc");
            while (c.moveNext())
                chats << c.getInt64(0);
        }
        const bool groupInfoOwner = m_schema.hasColumn(QStringLiteral("ZWAGROUPINFO"), QStringLiteral("ZLASTMESSAGEOWNER"));
        const bool recentGroupChat =
            m_schema.hasColumn(QStringLiteral("ZWAGROUPMEMBER"), QStringLiteral("ZRECENTGROUPCHAT"));
        const bool lastSession = m_schema.hasColumn(QStringLiteral("ZWAMESSAGE"), QStringLiteral("ZLASTSESSION"));
        std::vector<SortItem> items;
        for (qint64 chat : chats) {
            items.clear();
            bool anyOddSort = false;  // NULL, or not stored as an integer
            {
                // Room for exactly the chat's rows: grown step by step, the
                // list of a big chat would hold twice its size and more.
                Sqlite3Sql count("select count(*) from ZWAMESSAGE where ZCHATSESSION=?");
                count.addInt64Param(chat);
                Sqlite3Cursor c = m_db.queryThrow(count);
                items.shrink_to_fit();
                items.reserve(c.moveNext() ? size_t(std::max<qint64>(0, c.getInt64(0))) : 0);
            }
            {
                Sqlite3Sql sql("select Z_PK,ZSORT,ZMESSAGEDATE,typeof(ZSORT)='integer' from ZWAMESSAGE "
                               "where ZCHATSESSION=?");
                sql.addInt64Param(chat);
                Sqlite3Cursor c = m_db.queryThrow(sql);
                while (c.moveNext()) {
                    anyOddSort = anyOddSort || c.getInt(3) == 0;
                    items.push_back({c.getInt64(0), c.getInt64(1), c.getDouble(2)});
                }
            }
            if (items.empty())
                continue;
            orderSortItems(items);
            // Rows already holding their number are left alone; a chat whose
            // rows all hold theirs (a new chat merged in order, say) is not
            // written at all.
            bool renumbered = !anyOddSort;
            for (size_t i = 0; renumbered && i < items.size(); ++i)
                renumbered = items[i].sort == qint64(i + 1);
            const SortItem last = items.back();
            const qint64 rows = qint64(items.size());
            if (!renumbered) {
                // The items become the map: each takes its new value and
                // they are put in row-id order, with no second list.
                for (size_t i = 0; i < items.size(); ++i)
                    items[i].sort = qint64(i + 1);
                std::sort(items.begin(), items.end(),
                          [](const SortItem& a, const SortItem& b) { return a.pk < b.pk; });
                map.byPk = &items;
                Sqlite3Sql renumber("update ZWAMESSAGE set ZSORT=chatzsort(Z_PK,ifnull(ZSORT,0)) "
                                    "where ZCHATSESSION=? and ZSORT is not chatzsort(Z_PK,ifnull(ZSORT,0))");
                renumber.addInt64Param(chat);
                m_db.executeThrow(renumber);
                map.byPk = nullptr;
            }
            qint64 lastMember = 0;
            {
                Sqlite3Sql member("select ifnull(ZGROUPMEMBER, 0) from ZWAMESSAGE where Z_PK=?");
                member.addInt64Param(last.pk);
                Sqlite3Cursor c = m_db.queryThrow(member);
                if (c.moveNext())
                    lastMember = c.getInt64(0);
            }

            Sqlite3Sql session(
                "update ZWACHATSESSION set ZLASTMESSAGE=?,ZLASTMESSAGEDATE=?,ZMESSAGECOUNTER=? where Z_PK=?");
            session.addInt64Param(last.pk).addDoubleParam(last.date).addInt64Param(rows);
            session.addInt64Param(chat);
            m_db.executeThrow(session);

            if (lastSession) {
                Sqlite3Sql clear(
                    "update ZWAMESSAGE set ZLASTSESSION=null where ZLASTSESSION is not null and ZCHATSESSION=?");
                clear.addInt64Param(chat);
                m_db.executeThrow(clear);
                Sqlite3Sql set("update ZWAMESSAGE set ZLASTSESSION=? where Z_PK=?");
                set.addInt64Param(chat).addInt64Param(last.pk);
                m_db.executeThrow(set);
            }
            if (lastMember > 0) {
                if (groupInfoOwner) {
                    Sqlite3Sql owner("update ZWAGROUPINFO set ZLASTMESSAGEOWNER=? where ZCHATSESSION=?");
                    owner.addInt64Param(lastMember).addInt64Param(chat);
                    m_db.executeThrow(owner);
                }
                if (recentGroupChat) {
                    Sqlite3Sql clear("update ZWAGROUPMEMBER set ZRECENTGROUPCHAT=null where ZCHATSESSION=?");
                    clear.addInt64Param(chat);
                    m_db.executeThrow(clear);
                    Sqlite3Sql set("update ZWAGROUPMEMBER set ZRECENTGROUPCHAT= (select Z_PK from ZWAGROUPINFO "
                                   "where ZCHATSESSION=? limit 1) where ZCHATSESSION=? and Z_PK=?");
                    set.addInt64Param(chat).addInt64Param(chat).addInt64Param(lastMember);
                    m_db.executeThrow(set);
                }
            }
        }
        items.clear();
        items.shrink_to_fit();

        // Key counters from the tables themselves.
        QList<QPair<QString, QString>> counters;
        {
            Sqlite3Cursor c = m_db.queryThrow(
                " select s.name as tb, p.Z_NAME as zname from sqlite_master as s inner join Z_PRIMARYKEY as p on "
                "s.name like 'Z'||p.z_name and s.type='table'");
            while (c.moveNext())
                counters.append({c.getText(QStringLiteral("tb")), c.getText(QStringLiteral("zname"))});
        }
        for (const auto& [table, entity] : counters) {
            QString quoted = table;
            quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
            Sqlite3Sql sql(
                QStringLiteral("update Z_PRIMARYKEY set Z_MAX=(select ifnull(max(Z_PK),0) from \"%1\") where z_name like ?")
                    .arg(quoted));
            sql.addTextParam(entity);
            m_db.executeThrow(sql);
        }

        // NULL flags that WhatsApp reads as numbers.
        if (m_schema.hasColumn(QStringLiteral("ZWACHATSESSION"), QStringLiteral("ZARCHIVED")))
            m_db.executeThrow("update zwachatsession set zarchived=0 where zarchived is null");
        if (m_schema.hasColumn(QStringLiteral("ZWAGROUPMEMBER"), QStringLiteral("ZISADMIN")))
            m_db.executeThrow("update ZWAGROUPMEMBER set ZISADMIN=0 where ZISADMIN is null");

        m_db.commitTran();
    } catch (...) {
        // Closing the connection also drops the function, which refers to
        // this frame's map.
        endTransaction(false);
        closeDb();
        throw;
    }
    closeDb();
}
