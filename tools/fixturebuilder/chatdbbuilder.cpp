#include "tools/fixturebuilder/chatdbbuilder.h"

#include "chatstore/chatschema.h"
#include "chatstore/ioswaftsdb.h"
#include "tools/fixturebuilder/modernschema.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>

#include <plist/plist.h>

#include <cstring>
#include <stdexcept>

namespace {

const QString kVCardSeparator = QStringLiteral("_$!<VCard-Separator>!$_");
const QSet<int> kLoadedTypes = {0, 1, 2, 3, 4, 5, 6, 7, 8, 11, 14, 15, 38, 39, 46, 53, 54, 59};

// A minimal protocol-buffers writer (proto2 wire format).
struct Pb {
    QByteArray b;
    void varint(quint64 v)
    {
        while (v >= 0x80) {
            b += char((v & 0x7f) | 0x80);
            v >>= 7;
        }
        b += char(v);
    }
    void tag(int field, int wire) { varint((quint64(field) << 3) | quint64(wire)); }
    void int32(int field, qint32 v)
    {
        tag(field, 0);
        varint(quint64(qint64(v)));  // a negative value takes ten bytes
    }
    void bytes(int field, const QByteArray& data)
    {
        tag(field, 2);
        varint(quint64(data.size()));
        b += data;
    }
    void string(int field, const QString& s) { bytes(field, s.toUtf8()); }
    void uint64(int field, quint64 v)
    {
        tag(field, 0);
        varint(v);
    }
    void message(int field, const Pb& inner) { bytes(field, inner.b); }
    void real(int field, double v)
    {
        tag(field, 1);
        char raw[8];
        std::memcpy(raw, &v, 8);  // little-endian machines only, as every target is
        b.append(raw, 8);
    }
};

void check(Sqlite3DB& db, const char* sql)
{
    QString error;
    if (db.exec(QString::fromUtf8(sql), &error) != 0)
        throw std::runtime_error(error.toStdString());
}

QString ensureFolder(const QString& path)
{
    QDir().mkpath(path);
    return QDir(path).absolutePath();
}

}  // namespace

// ---- payloads --------------------------------------------------------------

QByteArray ChatDbBuilder::quotedPayload(const QuoteSpec& q)
{
    Pb msg;
    if (!q.text.isEmpty())
        msg.string(1, q.text);
    Pb inner;
    switch (q.kind) {
    case QuoteSpec::Image:
        inner.string(1, QStringLiteral("image/jpeg"));
        inner.int32(5, 120);
        inner.int32(6, 90);
        msg.bytes(3, inner.b);
        break;
    case QuoteSpec::Card:
        inner.string(1, QStringLiteral("Anna"));
        inner.string(16, QStringLiteral("BEGIN:VCARD\nFN:Anna\nEND:VCARD"));
        msg.bytes(4, inner.b);
        break;
    case QuoteSpec::Location:
        inner.real(1, 52.52);
        inner.real(2, 13.405);
        msg.bytes(5, inner.b);
        break;
    case QuoteSpec::Audio:
        inner.string(1, QStringLiteral("audio/ogg"));
        inner.int32(4, 7);
        msg.bytes(8, inner.b);
        break;
    case QuoteSpec::Video:
        inner.string(1, QStringLiteral("video/mp4"));
        inner.int32(4, 12);
        msg.bytes(9, inner.b);
        break;
    case QuoteSpec::Cards: {
        inner.string(1, QStringLiteral("2 contacts"));
        Pb a, b;
        a.string(1, QStringLiteral("Anna"));
        b.string(1, QStringLiteral("Ben"));
        inner.bytes(2, a.b);
        inner.bytes(2, b.b);
        msg.bytes(13, inner.b);
        break;
    }
    case QuoteSpec::ExtendedText: {
        // The text lives inside the extended text, not in field 1.
        msg = Pb();
        inner.string(1, q.text);
        inner.string(2, QStringLiteral("https://example.org/"));
        msg.bytes(6, inner.b);
        break;
    }
    case QuoteSpec::Document:
        inner.string(1, QStringLiteral("https://mmg.whatsapp.net/d/f/doc.enc"));
        inner.string(2, QStringLiteral("application/pdf"));
        msg.bytes(7, inner.b);
        break;
    case QuoteSpec::Sticker:
        inner.string(1, QStringLiteral("https://mmg.whatsapp.net/d/f/sticker.enc"));
        inner.string(5, QStringLiteral("image/webp"));
        msg.bytes(26, inner.b);
        break;
    case QuoteSpec::Nothing:
        // No known field; a field the schema does not name keeps it non-empty.
        msg.int32(20, 1);
        break;
    case QuoteSpec::TextOnly:
        break;
    }
    return msg.b;
}

QByteArray ChatDbBuilder::receiptBlob(const QList<ReceiptSpec>& receipts)
{
    qint64 base = 0;
    for (const ReceiptSpec& r : receipts) {
        if (!r.phoneForm)
            continue;
        for (qint64 t : {r.time1, r.time2})
            if (t > 0 && (base == 0 || t - 1 < base))
                base = t - 1;
    }
    Pb info;
    for (const ReceiptSpec& r : receipts) {
        if (r.phoneForm)
            continue;
        Pb rec;
        rec.string(1, r.recipient);
        if (r.time1 > 0)
            rec.int32(2, qint32(r.time1));
        if (r.time2 > 0)
            rec.int32(3, qint32(r.time2));
        info.bytes(1, rec.b);
    }
    for (const ReceiptSpec& r : receipts) {
        if (!r.phoneForm)
            continue;
        QByteArray hex = "81" + r.recipient.toLatin1();
        if (hex.size() % 2)
            hex += 'f';
        Pb rec;
        rec.bytes(1, QByteArray::fromHex(hex));
        if (r.time1 > 0)
            rec.int32(4, qint32(r.time1 - base));
        if (r.time2 > 0)
            rec.int32(5, qint32(r.time2 - base));
        Pb unknown;
        unknown.int32(1, 0);
        unknown.int32(2, 2);
        rec.bytes(10, unknown.b);
        info.bytes(2, rec.b);
    }
    if (base > 0)
        info.int32(3, qint32(base));
    info.int32(4, 2);
    return info.b;
}

QByteArray ChatDbBuilder::replyMetadata(const QuoteSpec& q, bool withMediaPath)
{
    Pb meta;
    if (withMediaPath)
        meta.string(4, QStringLiteral("Media/reply/thumb.jpg"));
    meta.string(5, q.stanzaId);
    if (!q.senderJid.isEmpty())
        meta.string(6, q.senderJid);
    if (!q.remoteJid.isEmpty())
        meta.string(7, q.remoteJid);
    meta.bytes(19, quotedPayload(q));
    // A field this program does not read, as real metadata has (forwarding score).
    meta.uint64(21, 0);
    return meta.b;
}

QByteArray ChatDbBuilder::receiptBlob(const QList<ReceiptSpec>& receipts, const QList<ReactionSpec>& reactions,
                                      const PollSpec* poll)
{
    QByteArray blob = receipts.isEmpty() ? QByteArray() : receiptBlob(receipts);
    Pb extra;
    if (!reactions.isEmpty()) {
        Pb all;
        int n = 0;
        for (const ReactionSpec& r : reactions) {
            Pb one;
            const QString key = r.keyId.isEmpty() ? QStringLiteral("3EB0REACT%1").arg(++n) : r.keyId;
            one.string(1, key);
            if (r.reactor.isEmpty()) {
                if (!r.emoji.isEmpty())
                    one.string(2, r.emoji);
                one.uint64(3, quint64(r.timeMs));
                all.message(2, one);
            } else {
                one.string(2, r.reactor);
                if (!r.emoji.isEmpty())
                    one.string(3, r.emoji);
                one.uint64(4, quint64(r.timeMs));
                all.message(1, one);
            }
        }
        extra.message(7, all);
    }
    if (poll) {
        Pb p;
        p.string(2, poll->question);
        for (const QString& option : poll->options) {
            Pb o;
            o.string(1, option);
            p.message(3, o);
        }
        for (const PollVoteSpec& v : poll->votes) {
            Pb vote;
            if (v.packed) {
                Pb packed;
                for (int i : v.options)
                    packed.varint(quint64(i));
                vote.bytes(1, packed.b);
            } else {
                for (int i : v.options)
                    vote.uint64(1, quint64(i));
            }
            if (!v.voter.isEmpty()) {
                vote.string(4, v.voter);
                p.message(5, vote);
            } else {
                p.message(6, vote);
            }
        }
        extra.message(8, p);
    }
    return blob + extra.b;
}

QByteArray ChatDbBuilder::quoteMetadata(const QByteArray& payload, const QString& senderJid, const QString& stanzaId)
{
    const bool withSender = !senderJid.isEmpty();
    const quint64 q = withSender ? 4 : 3;
    plist_t top = plist_new_dict();
    plist_dict_set_item(top, "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_dict_set_item(top, "$version", plist_new_uint(100000));
    plist_t topRef = plist_new_dict();
    plist_dict_set_item(topRef, "root", plist_new_uid(1));
    plist_dict_set_item(top, "$top", topRef);

    plist_t objects = plist_new_array();
    plist_array_append_item(objects, plist_new_string("$null"));
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "$class", plist_new_uid(q + 1));
    plist_dict_set_item(root, "quotedMessageData", plist_new_uid(q));
    plist_dict_set_item(root, "senderJID", plist_new_uid(withSender ? 3 : 0));
    plist_dict_set_item(root, "stanzaID", plist_new_uid(2));
    for (const char* key : {"backgroundColor", "canonicalURL", "matchedText", "mentions", "rawMessageData",
                            "rawMessageEncVer", "remoteJID", "snippet"})
        plist_dict_set_item(root, key, plist_new_uid(0));
    plist_dict_set_item(root, "textfontStyle", plist_new_uint(0));
    plist_array_append_item(objects, root);
    plist_array_append_item(objects, plist_new_string(stanzaId.toUtf8().constData()));
    if (withSender)
        plist_array_append_item(objects, plist_new_string(senderJid.toUtf8().constData()));
    plist_array_append_item(objects, plist_new_data(payload.constData(), uint64_t(payload.size())));
    plist_t cls = plist_new_dict();
    plist_dict_set_item(cls, "$classname", plist_new_string("WAMediaItemMetadata"));
    plist_t classes = plist_new_array();
    plist_array_append_item(classes, plist_new_string("WAMediaItemMetadata"));
    plist_array_append_item(classes, plist_new_string("NSObject"));
    plist_dict_set_item(cls, "$classes", classes);
    plist_array_append_item(objects, cls);
    plist_dict_set_item(top, "$objects", objects);

    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(top, &bin, &length);
    QByteArray out(bin, int(length));
    plist_to_bin_free(bin);
    plist_free(top);
    return out;
}

QByteArray ChatDbBuilder::imageBytes(int width, int height, const char* format, const QColor& color)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    {
        QPainter p(&image);
        p.fillRect(0, 0, width / 2, height / 2, Qt::white);
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format))
        throw std::runtime_error(std::string("cannot encode an image as ") + format);
    return data;
}

QString ChatDbBuilder::vcard(const QString& name, const QString& phone, bool withPhoto)
{
    QString text = QStringLiteral("BEGIN:VCARD\nVERSION:3.0\nN:;%1;;;\nFN:%1\nTEL;type=CELL;waid=%2:+%2\n")
                       .arg(name, phone);
    if (withPhoto) {
        const QByteArray b64 = imageBytes(16, 16, "JPEG", QColor(200, 80, 40)).toBase64();
        text += QStringLiteral("PHOTO;ENCODING=b;TYPE=JPEG:");
        // Folded like phones do: continuation lines begin with a blank.
        const int first = 40;
        text += QString::fromLatin1(b64.left(first));
        for (int i = first; i < b64.size(); i += 72)
            text += QStringLiteral("\n ") + QString::fromLatin1(b64.mid(i, 72));
        text += QLatin1Char('\n');
    }
    text += QStringLiteral("END:VCARD");
    return text;
}

// ---- the builder -----------------------------------------------------------

ChatDbBuilder::ChatDbBuilder(const QString& root, ChatDbLayout layout, bool deviceStyle) : m_layout(layout)
{
    m_folder.root = ensureFolder(root);
    if (deviceStyle) {
        m_folder.appFolder = ensureFolder(m_folder.root + QStringLiteral("/net.whatsapp.WhatsApp"));
        const QString documents = ensureFolder(m_folder.appFolder + QStringLiteral("/Documents"));
        m_folder.databasePath = documents + QStringLiteral("/ChatStorage.sqlite");
        m_folder.contactsPath = documents + QStringLiteral("/Contacts.sqlite");
    } else {
        m_folder.appFolder = m_folder.root;
        m_folder.databasePath = m_folder.root + QStringLiteral("/ChatStorage.sqlite");
    }
    m_folder.mediaFolder = ensureFolder(m_folder.appFolder + QStringLiteral("/Library"));
    m_folder.profileFolder = ensureFolder(m_folder.mediaFolder + QStringLiteral("/Media/Profile"));
    QFile::remove(m_folder.databasePath);

    switch (layout) {
    case ChatDbLayout::Script:
    case ChatDbLayout::Local:
        createDatabase(m_db, m_folder.databasePath);
        if (layout == ChatDbLayout::Local) {
            ChatSchema schema;
            schema.buildSchemaCache(m_db);
            applyUpgrades(m_db, schema);
        }
        break;
    case ChatDbLayout::Modern:
    case ChatDbLayout::Today:
        m_db.openThrow(m_folder.databasePath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        check(m_db, kModernChatSchema);
        break;
    }
    Sqlite3Cursor c = m_db.queryThrow("select Z_NAME, Z_ENT from Z_PRIMARYKEY");
    while (c.moveNext())
        m_entities.insert(c.getText(QStringLiteral("Z_NAME")), c.getInt(QStringLiteral("Z_ENT")));
}

ChatDbBuilder::~ChatDbBuilder()
{
    try {
        commit();
    } catch (...) {
    }
}

int ChatDbBuilder::ent(const char* name) const
{
    return m_entities.value(QString::fromLatin1(name), 0);
}

void ChatDbBuilder::ensureTransaction()
{
    if (!m_db.inTransaction())
        m_db.beginTran();
}

void ChatDbBuilder::commit()
{
    if (!m_db.inTransaction())
        return;
    // The bookkeeping a phone keeps per chat: last message, its date, the counter.
    m_db.executeThrow(
        "update ZWACHATSESSION set "
        "ZLASTMESSAGEDATE=(select max(ZMESSAGEDATE) from ZWAMESSAGE where ZCHATSESSION=ZWACHATSESSION.Z_PK), "
        "ZMESSAGECOUNTER=(select count(*) from ZWAMESSAGE where ZCHATSESSION=ZWACHATSESSION.Z_PK), "
        "ZLASTMESSAGE=(select Z_PK from ZWAMESSAGE where ZCHATSESSION=ZWACHATSESSION.Z_PK "
        "order by ZMESSAGEDATE desc, ZSORT desc limit 1) "
        "where ifnull(ZLASTMESSAGEDATE,0)=0");
    m_db.commitTran();
}

bool ChatDbBuilder::hasColumn(const QString& table, const QString& column)
{
    auto it = m_columns.find(table.toLower());
    if (it == m_columns.end()) {
        QHash<QString, bool> cols;
        for (const _SqliteCol& col : m_db.tbCols(table))
            cols.insert(col.name.toLower(), true);
        it = m_columns.insert(table.toLower(), cols);
    }
    return it->contains(column.toLower());
}

qint64 ChatDbBuilder::addChat(const QString& jid, const QString& partnerName, const ChatOptions& options)
{
    ensureTransaction();
    Sqlite3Row row;
    row[QStringLiteral("Z_ENT")] = ent("WAChatSession");
    row[QStringLiteral("Z_OPT")] = 4;
    row[QStringLiteral("ZCONTACTABID")] = 0;
    row[QStringLiteral("ZFLAGS")] = options.flags;
    row[QStringLiteral("ZMESSAGECOUNTER")] = 0;
    row[QStringLiteral("ZUNREADCOUNT")] = 0;
    row[QStringLiteral("ZLASTMESSAGEDATE")] = options.lastMessageDate;
    row[QStringLiteral("ZCONTACTJID")] = jid;
    row[QStringLiteral("ZPARTNERNAME")] = partnerName;
    if (hasColumn(QStringLiteral("ZWACHATSESSION"), QStringLiteral("ZREMOVED")))
        row[QStringLiteral("ZREMOVED")] = options.removed ? 1 : 0;
    if (hasColumn(QStringLiteral("ZWACHATSESSION"), QStringLiteral("ZSESSIONTYPE")))
        row[QStringLiteral("ZSESSIONTYPE")] = jid.contains(QLatin1String("@broadcast")) ? 2
                                              : jid.endsWith(QLatin1String("@g.us"))   ? 1
                                                                                       : 0;
    m_db.executeThrow(row.insertSql(QStringLiteral("ZWACHATSESSION")));
    const qint64 pk = m_db.lastInsertId();
    ChatInfo info;
    info.jid = jid;
    info.listed = jid.endsWith(QLatin1String("@s.whatsapp.net")) || jid.endsWith(QLatin1String("@g.us")) ||
                  jid.endsWith(QLatin1String("@lid"));
    info.removed = options.removed && hasColumn(QStringLiteral("ZWACHATSESSION"), QStringLiteral("ZREMOVED"));
    m_chats.insert(pk, info);
    return pk;
}

qint64 ChatDbBuilder::addGroup(const QString& jid, const QString& subject, const QString& ownerJid)
{
    const qint64 chat = addChat(jid, subject);
    Sqlite3Sql sql(
        "insert into ZWAGROUPINFO(Z_ENT, Z_OPT, ZSTATE, ZCHATSESSION, ZCREATIONDATE, ZSUBJECTTIMESTAMP, ZOWNERJID, "
        "ZPICTUREID, ZPICTUREPATH, ZSUBJECTOWNERJID) values(?,?,?,?,?,?,?,?,?,?)");
    sql.addIntParam(ent("WAGroupInfo")).addIntParam(1).addIntParam(0).addInt64Param(chat);
    sql.addDoubleParam(m_lastDate).addDoubleParam(m_lastDate).addTextParam(ownerJid);
    sql.addTextParam(QStringLiteral("1590000000")).addTextParam(QString()).addTextParam(ownerJid);
    m_db.executeThrow(sql);
    const qint64 group = m_db.lastInsertId();
    m_db.executeThrow(Sqlite3Sql(QStringLiteral("update ZWACHATSESSION set ZGROUPINFO=%1 where Z_PK=%2")
                                     .arg(group)
                                     .arg(chat)));
    return chat;
}

qint64 ChatDbBuilder::addMember(qint64 chat, const QString& memberJid, const QString& contactName, bool active)
{
    ensureTransaction();
    Sqlite3Sql sql("insert into ZWAGROUPMEMBER(Z_ENT, Z_OPT, ZCONTACTABID, ZISACTIVE, ZCHATSESSION, ZCONTACTNAME, "
                   "ZMEMBERJID) values(?,?,?,?,?,?,?)");
    sql.addIntParam(ent("WAGroupMember")).addIntParam(1).addIntParam(0).addIntParam(active ? 1 : 0);
    sql.addInt64Param(chat).addTextParam(contactName).addTextParam(memberJid);
    m_db.executeThrow(sql);
    return m_db.lastInsertId();
}

qint64 ChatDbBuilder::addMessage(const MessageSpec& spec)
{
    ensureTransaction();
    auto it = m_chats.find(spec.chat);
    const QString chatJid = it != m_chats.end() ? it->jid : QString();
    const double date = spec.date != 0 ? spec.date : m_lastDate + 60;
    m_lastDate = date;
    qint64 sort = spec.sort;
    if (it != m_chats.end()) {
        sort = sort > 0 ? sort : it->sort + 1;
        it->sort = qMax(it->sort, sort);
        if (it->listed && kLoadedTypes.contains(spec.type))
            ++it->counted;
    }
    const QString stanza = spec.stanzaId.isEmpty() ? QStringLiteral("3EB0%1").arg(++m_stanza, 12, 16, QLatin1Char('0'))
                                                   : spec.stanzaId;
    const bool withStarred = hasColumn(QStringLiteral("ZWAMESSAGE"), QStringLiteral("ZSTARRED"));
    const bool withBroadcast = hasColumn(QStringLiteral("ZWAMESSAGE"), QStringLiteral("ZBROADCAST"));
    // One statement text per layout, so that the prepared statement is reused.
    QString columns = QStringLiteral(
        "Z_ENT, Z_OPT, ZFLAGS, ZGROUPEVENTTYPE, ZISFROMME, ZMESSAGESTATUS, ZMESSAGETYPE, ZSORT, ZCHATSESSION, "
        "ZGROUPMEMBER, ZMESSAGEDATE, ZFROMJID, ZPUSHNAME, ZSTANZAID, ZTEXT, ZTOJID");
    int n = 16;
    if (withStarred) {
        columns += QStringLiteral(", ZSTARRED");
        ++n;
    }
    if (withBroadcast) {
        columns += QStringLiteral(", ZBROADCAST");
        ++n;
    }
    QStringList marks;
    for (int i = 0; i < n; ++i)
        marks << QStringLiteral("?");
    Sqlite3Sql sql(QStringLiteral("insert into ZWAMESSAGE(%1) values(%2)").arg(columns, marks.join(QLatin1Char(','))));
    sql.addIntParam(ent("WAMessage")).addIntParam(4).addIntParam(0).addIntParam(spec.groupEventType);
    sql.addIntParam(spec.fromMe ? 1 : 0).addIntParam(spec.status).addIntParam(spec.type).addInt64Param(sort);
    sql.addInt64Param(spec.chat);
    if (spec.member > 0)
        sql.addInt64Param(spec.member);
    else
        sql.addNullParam();
    sql.addDoubleParam(date);
    const QString from = !spec.fromJid.isEmpty() ? spec.fromJid : (spec.fromMe ? QString() : chatJid);
    const QString to = !spec.toJid.isEmpty() ? spec.toJid : (spec.fromMe ? chatJid : QString());
    auto textOrNull = [&sql](const QString& s) {
        if (s.isEmpty())
            sql.addNullParam();
        else
            sql.addTextParam(s);
    };
    textOrNull(from);
    textOrNull(spec.pushName);
    textOrNull(stanza);
    textOrNull(spec.text);
    textOrNull(to);
    if (withStarred)
        sql.addIntParam(spec.starred);
    if (withBroadcast) {
        if (spec.broadcast > 0)
            sql.addInt64Param(spec.broadcast);
        else
            sql.addNullParam();
    }
    m_db.executeThrow(sql);
    return m_db.lastInsertId();
}

qint64 ChatDbBuilder::addMediaItem(qint64 message, const MediaSpec& s)
{
    ensureTransaction();
    Sqlite3Sql sql(
        "insert into ZWAMEDIAITEM(Z_ENT, Z_OPT, ZFILESIZE, ZMEDIAORIGIN, ZMOVIEDURATION, ZMESSAGE, ZASPECTRATIO, "
        "ZHACCURACY, ZLATITUDE, ZLONGITUDE, ZAUTHORNAME, ZCOLLECTIONNAME, ZMEDIALOCALPATH, ZMEDIAURL, "
        "ZTHUMBNAILLOCALPATH, ZTITLE, ZVCARDNAME, ZVCARDSTRING, ZXMPPTHUMBPATH) "
        "values(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    sql.addIntParam(ent("WAMediaItem")).addIntParam(4).addInt64Param(s.fileSize).addIntParam(0).addIntParam(0);
    sql.addInt64Param(message).addDoubleParam(0).addDoubleParam(0).addDoubleParam(s.latitude);
    sql.addDoubleParam(s.longitude);
    for (const QString& text : {s.authorName, QString(), s.localPath, s.mediaUrl, s.thumbnailPath, s.title,
                                s.vcardName, s.vcards.join(kVCardSeparator), s.xmppThumbPath}) {
        if (text.isEmpty())
            sql.addNullParam();
        else
            sql.addTextParam(text);
    }
    m_db.executeThrow(sql);
    const qint64 media = m_db.lastInsertId();
    Sqlite3Sql link("update ZWAMESSAGE set ZMEDIAITEM=? where Z_PK=?");
    link.addInt64Param(media).addInt64Param(message);
    m_db.executeThrow(link);
    return media;
}

void ChatDbBuilder::setQuoteColumns(qint64 mediaItem, const QByteArray& payload, const QString& senderJid,
                                    const QString& stanzaId)
{
    ensureTransaction();
    Sqlite3Sql sql("update ZWAMEDIAITEM set QM_QUOTED_DATA=?, QM_QUOTED_SENDER=?, QM_QUOTED_STANZAID=? where Z_PK=?");
    sql.addBlobParam(payload);
    if (senderJid.isEmpty())
        sql.addNullParam();
    else
        sql.addTextParam(senderJid);
    sql.addTextParam(stanzaId).addInt64Param(mediaItem);
    m_db.executeThrow(sql);
}

void ChatDbBuilder::setMetadata(qint64 mediaItem, const QByteArray& metadata)
{
    ensureTransaction();
    Sqlite3Sql sql("update ZWAMEDIAITEM set ZMETADATA=? where Z_PK=?");
    sql.addBlobParam(metadata).addInt64Param(mediaItem);
    m_db.executeThrow(sql);
}

bool ChatDbBuilder::setQuote(qint64 mediaItem, const QuoteSpec& quote)
{
    const QByteArray payload = quotedPayload(quote);
    if (hasColumn(QStringLiteral("ZWAMEDIAITEM"), QStringLiteral("ZMETADATA"))) {
        setMetadata(mediaItem, quoteMetadata(payload, quote.senderJid, quote.stanzaId));
        return true;
    }
    if (hasColumn(QStringLiteral("ZWAMEDIAITEM"), QStringLiteral("QM_QUOTED_DATA"))) {
        setQuoteColumns(mediaItem, payload, quote.senderJid, quote.stanzaId);
        return true;
    }
    return false;
}

bool ChatDbBuilder::addReceipts(qint64 message, const QList<ReceiptSpec>& receipts)
{
    if (!hasColumn(QStringLiteral("ZWAMESSAGEINFO"), QStringLiteral("ZRECEIPTINFO")))
        return false;
    ensureTransaction();
    Sqlite3Sql sql("insert into ZWAMESSAGEINFO(Z_ENT, Z_OPT, ZMESSAGE, ZRECEIPTINFO) values(?,?,?,?)");
    sql.addIntParam(ent("WAMessageInfo")).addIntParam(1).addInt64Param(message).addBlobParam(receiptBlob(receipts));
    m_db.executeThrow(sql);
    if (hasColumn(QStringLiteral("ZWAMESSAGE"), QStringLiteral("ZMESSAGEINFO"))) {
        Sqlite3Sql link("update ZWAMESSAGE set ZMESSAGEINFO=? where Z_PK=?");
        link.addInt64Param(m_db.lastInsertId()).addInt64Param(message);
        m_db.executeThrow(link);
    }
    return true;
}

bool ChatDbBuilder::addReceiptInfo(qint64 message, const QByteArray& blob)
{
    if (!hasColumn(QStringLiteral("ZWAMESSAGEINFO"), QStringLiteral("ZRECEIPTINFO")))
        return false;
    ensureTransaction();
    Sqlite3Sql sql("insert into ZWAMESSAGEINFO(Z_ENT, Z_OPT, ZMESSAGE, ZRECEIPTINFO) values(?,?,?,?)");
    sql.addIntParam(ent("WAMessageInfo")).addIntParam(1).addInt64Param(message).addBlobParam(blob);
    m_db.executeThrow(sql);
    return true;
}

void ChatDbBuilder::setReplyMetadata(qint64 mediaItem, const QuoteSpec& quote)
{
    setMetadata(mediaItem, replyMetadata(quote));
}

namespace {

void writeLidPairs(Sqlite3DB& db, const QList<QPair<QString, QString>>& lidToPhone, bool accountShape)
{
    if (accountShape) {
        check(db, "CREATE TABLE IF NOT EXISTS ZWAZACCOUNT (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
                  "ZIDENTIFIER VARCHAR, ZPHONENUMBER VARCHAR, ZUSERNAME VARCHAR)");
    } else {
        check(db, "CREATE TABLE IF NOT EXISTS ZWAPHONENUMBERLIDPAIR (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, "
                  "Z_OPT INTEGER, ZLID VARCHAR, ZPHONENUMBER VARCHAR)");
    }
    bool blob = false;
    for (const auto& [lid, phone] : lidToPhone) {
        Sqlite3Sql sql(accountShape ? "insert into ZWAZACCOUNT(ZIDENTIFIER, ZPHONENUMBER) values(?,?)"
                                    : "insert into ZWAPHONENUMBERLIDPAIR(ZLID, ZPHONENUMBER) values(?,?)");
        sql.addTextParam(lid);
        // Real stores hold some values as UTF-8 blobs: every other row is one.
        if (blob)
            sql.addBlobParam(phone.toUtf8());
        else
            sql.addTextParam(phone);
        blob = !blob;
        db.executeThrow(sql);
    }
}

}  // namespace

void ChatDbBuilder::writeLidDatabase(const QList<QPair<QString, QString>>& lidToPhone, bool accountShape)
{
    writeLidDatabaseFile(QFileInfo(m_folder.databasePath).absolutePath() + QStringLiteral("/LID.sqlite"), lidToPhone,
                         accountShape);
}

void ChatDbBuilder::writeLidDatabaseFile(const QString& path, const QList<QPair<QString, QString>>& lidToPhone,
                                         bool accountShape)
{
    Sqlite3DB db;
    db.openThrow(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.beginTran();
    writeLidPairs(db, lidToPhone, accountShape);
    // The Core Data bookkeeping a phone's file has: the entity's number and
    // its highest row id.
    check(db, "CREATE TABLE IF NOT EXISTS Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, "
              "Z_MAX INTEGER)");
    const QString entity = accountShape ? QStringLiteral("WAZAccount") : QStringLiteral("WAPhoneNumberLIDPair");
    const QString table = accountShape ? QStringLiteral("ZWAZACCOUNT") : QStringLiteral("ZWAPHONENUMBERLIDPAIR");
    Sqlite3Sql ent(QStringLiteral("insert into Z_PRIMARYKEY(Z_ENT, Z_NAME, Z_SUPER, Z_MAX) select ?, ?, 0, 0 "
                                  "where not exists (select 1 from Z_PRIMARYKEY where Z_NAME=?)"));
    ent.addIntParam(accountShape ? 3 : 4).addTextParam(entity).addTextParam(entity);
    db.executeThrow(ent);
    Sqlite3Sql fill(QStringLiteral("update %1 set Z_ENT=(select Z_ENT from Z_PRIMARYKEY where Z_NAME=?), Z_OPT=1 "
                                   "where Z_ENT is null").arg(table));
    fill.addTextParam(entity);
    db.executeThrow(fill);
    Sqlite3Sql max(QStringLiteral("update Z_PRIMARYKEY set Z_MAX=(select ifnull(max(Z_PK),0) from %1) where Z_NAME=?")
                       .arg(table));
    max.addTextParam(entity);
    db.executeThrow(max);
    db.commitTran();
}

void ChatDbBuilder::writeSearchIndexFile(const QString& path, const QStringList& texts)
{
    Sqlite3DB db;
    db.openThrow(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (!IOSWaFtsDb::registerTokenizer(db.db))
        throw std::runtime_error("wa_tokenizer cannot be registered");
    db.beginTran();
    check(db, "CREATE VIRTUAL TABLE docs USING fts3(messageID, chatSession, contents, tokenize=wa_tokenizer)");
    check(db, "CREATE TABLE metadata (docID INTEGER PRIMARY KEY, date REAL, score INTEGER)");
    for (const QString& text : texts) {
        db.executeThrow(Sqlite3Sql("insert into docs(messageID,chatSession,contents) values(NULL,'',?)")
                            .addTextParam(IOSWaFtsDb::contentsOf(text)));
        db.executeThrow(Sqlite3Sql("insert into metadata(docID,date,score) values(?,0,1)").addInt64Param(db.lastInsertId()));
    }
    db.commitTran();
}

void ChatDbBuilder::addLidPairsToChatDb(const QList<QPair<QString, QString>>& lidToPhone)
{
    // Schema statements end a pending transaction of the builder first.
    if (m_db.inTransaction())
        m_db.commitTran();
    writeLidPairs(m_db, lidToPhone, false);
    m_columns.clear();
}

void ChatDbBuilder::addPushName(const QString& jid, const QString& pushName)
{
    ensureTransaction();
    Sqlite3Sql sql("insert into ZWAPROFILEPUSHNAME(Z_ENT, Z_OPT, ZJID, ZPUSHNAME) values(?,?,?,?)");
    sql.addIntParam(ent("WAProfilePushName")).addIntParam(1).addTextParam(jid).addTextParam(pushName);
    m_db.executeThrow(sql);
}

void ChatDbBuilder::setContactIdentifier(qint64 chat, const QString& identifier)
{
    ensureTransaction();
    Sqlite3Sql sql("update ZWACHATSESSION set ZCONTACTIDENTIFIER=? where Z_PK=?");
    sql.addTextParam(identifier).addInt64Param(chat);
    m_db.executeThrow(sql);
}

void ChatDbBuilder::writeContactsV2(const QList<ContactV2Spec>& contacts)
{
    Sqlite3DB db;
    db.openThrow(QFileInfo(m_folder.databasePath).absolutePath() + QStringLiteral("/ContactsV2.sqlite"),
                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    check(db, "CREATE TABLE IF NOT EXISTS ZWAADDRESSBOOKCONTACT (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, "
              "Z_OPT INTEGER, ZWHATSAPPID VARCHAR, ZIDENTIFIER VARCHAR, ZFULLNAME VARCHAR, ZLID VARCHAR)");
    for (const ContactV2Spec& c : contacts) {
        Sqlite3Sql sql("insert into ZWAADDRESSBOOKCONTACT(ZWHATSAPPID, ZIDENTIFIER, ZLID) values(?,?,?)");
        sql.addTextParam(c.whatsAppId).addTextParam(c.identifier);
        if (c.lid.isEmpty())
            sql.addNullParam();
        else
            sql.addTextParam(c.lid);
        db.executeThrow(sql);
    }
}

void ChatDbBuilder::setParent(qint64 message, qint64 parent)
{
    ensureTransaction();
    Sqlite3Sql sql("update ZWAMESSAGE set ZPARENTMESSAGE=? where Z_PK=?");
    sql.addInt64Param(parent).addInt64Param(message);
    m_db.executeThrow(sql);
}

void ChatDbBuilder::setRemoved(qint64 chat, bool removed)
{
    ensureTransaction();
    Sqlite3Sql sql("update ZWACHATSESSION set ZREMOVED=? where Z_PK=?");
    sql.addIntParam(removed ? 1 : 0).addInt64Param(chat);
    m_db.executeThrow(sql);
    auto it = m_chats.find(chat);
    if (it != m_chats.end())
        it->removed = removed;
}

QString ChatDbBuilder::writeMediaFile(const QString& relativePath, const QByteArray& data)
{
    QString rel = relativePath;
    if (rel.startsWith(QLatin1Char('/')))
        rel.remove(0, 1);
    const QString path = m_folder.mediaFolder + QLatin1Char('/') + rel;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
        throw std::runtime_error("cannot write " + path.toStdString());
    return path;
}

QString ChatDbBuilder::writeImage(const QString& relativePath, int width, int height, const char* format,
                                  const QColor& color)
{
    return writeMediaFile(relativePath, imageBytes(width, height, format, color));
}

QString ChatDbBuilder::writeProfilePicture(const QString& jid, const char* suffix)
{
    const QString user = jid.section(QLatin1Char('@'), 0, 0);
    const QString path = m_folder.profileFolder + QLatin1Char('/') + user + QLatin1String(suffix);
    QFile f(path);
    const QByteArray data = imageBytes(32, 32, "JPEG", QColor(90, 160, 90));
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
        throw std::runtime_error("cannot write " + path.toStdString());
    return path;
}

void ChatDbBuilder::writeContacts(const QList<QPair<QString, qint64>>& nameToAbUserId,
                                  const QList<QPair<QString, QString>>& whatsAppIdToIdentifier)
{
    const QString documents = m_folder.appFolder + QStringLiteral("/Documents");
    QDir().mkpath(documents);
    {
        Sqlite3DB db;
        db.openThrow(documents + QStringLiteral("/Contacts.sqlite"), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        check(db, "CREATE TABLE IF NOT EXISTS ZWACONTACT (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
                  "ZABUSERID INTEGER, ZFULLNAME VARCHAR)");
        for (const auto& [name, id] : nameToAbUserId) {
            Sqlite3Sql sql("insert into ZWACONTACT(ZABUSERID, ZFULLNAME) values(?,?)");
            sql.addInt64Param(id).addTextParam(name);
            db.executeThrow(sql);
        }
    }
    Sqlite3DB db;
    db.openThrow(documents + QStringLiteral("/ContactsV2.sqlite"), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    check(db, "CREATE TABLE IF NOT EXISTS ZWAADDRESSBOOKCONTACT (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, "
              "Z_OPT INTEGER, ZWHATSAPPID VARCHAR, ZIDENTIFIER VARCHAR, ZFULLNAME VARCHAR)");
    for (const auto& [waId, identifier] : whatsAppIdToIdentifier) {
        Sqlite3Sql sql("insert into ZWAADDRESSBOOKCONTACT(ZWHATSAPPID, ZIDENTIFIER) values(?,?)");
        sql.addTextParam(waId).addTextParam(identifier);
        db.executeThrow(sql);
    }
}

qint64 ChatDbBuilder::addBulkMessages(qint64 count, const QList<qint64>& chats, quint32 seed)
{
    if (chats.isEmpty() || count <= 0)
        return 0;
    // A few real files that the bulk images share.
    const QString sharedImages[] = {QStringLiteral("Media/bulk/IMG_0001.jpg"), QStringLiteral("Media/bulk/IMG_0002.png")};
    writeImage(sharedImages[0], 24, 16, "JPEG");
    writeImage(sharedImages[1], 16, 24, "PNG");
    QHash<qint64, QList<qint64>> membersOf;
    for (qint64 chat : chats) {
        if (!m_chats.value(chat).jid.endsWith(QLatin1String("@g.us")))
            continue;
        Sqlite3Cursor c = m_db.queryThrow(
            QStringLiteral("select Z_PK from ZWAGROUPMEMBER where ZCHATSESSION=%1 order by Z_PK").arg(chat));
        while (c.moveNext())
            membersOf[chat] << c.getInt64(0);
    }
    const bool receipts = hasColumn(QStringLiteral("ZWAMESSAGEINFO"), QStringLiteral("ZRECEIPTINFO"));
    quint32 state = seed ? seed : 1;
    auto next = [&state](quint32 n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    };
    static const char* const words[] = {"hello", "see you", "ok", "tomorrow at eight", "thanks!", "ça va?",
                                        "on my way", "Grüße", "lunch?", "call me"};
    qint64 listed = 0;
    for (qint64 i = 0; i < count; ++i) {
        const qint64 chat = chats.at(int(i % chats.size()));
        const ChatInfo info = m_chats.value(chat);
        const QList<qint64> members = membersOf.value(chat);
        MessageSpec m;
        m.chat = chat;
        m.fromMe = next(2) == 0;
        if (!members.isEmpty() && !m.fromMe)
            m.member = members.at(int(next(quint32(members.size()))));
        const quint32 roll = next(100);
        m.type = roll < 80 ? 0 : roll < 88 ? 1 : roll < 91 ? 5 : roll < 94 ? 8 : roll < 97 ? 3 : 6;
        if (m.type == 6 && members.isEmpty())
            m.type = 0;
        m.text = QString::fromUtf8(words[next(10)]) + QStringLiteral(" #%1").arg(i);
        if (m.type == 6) {
            m.groupEventType = 2;
            m.text.clear();
        }
        m.starred = next(50) == 0 ? 1 : 0;
        const qint64 id = addMessage(m);
        if (info.listed && !info.removed && kLoadedTypes.contains(m.type))
            ++listed;
        MediaSpec media;
        switch (m.type) {
        case 1:
            media.localPath = sharedImages[next(2)];
            media.title = next(3) == 0 ? QStringLiteral("caption %1").arg(i) : QString();
            addMediaItem(id, media);
            break;
        case 3:
            media.localPath = QStringLiteral("Media/bulk/missing-%1.opus").arg(i);
            addMediaItem(id, media);
            break;
        case 5:
            media.latitude = 52.5;
            media.longitude = 13.4;
            addMediaItem(id, media);
            break;
        case 8:
            media.localPath = QStringLiteral("Media/bulk/doc-%1.pdf").arg(i);
            media.authorName = QStringLiteral("Report %1.pdf").arg(i);
            addMediaItem(id, media);
            break;
        default:
            break;
        }
        if (receipts && m.fromMe && next(4) == 0) {
            const qint64 t = qint64(978307200 + m_lastDate);
            addReceipts(id, {ReceiptSpec{QStringLiteral("4915550001@s.whatsapp.net"), t + 5, t + 60, false},
                             ReceiptSpec{QStringLiteral("4915550002"), t + 7, 0, true}});
        }
    }
    return listed;
}

qint64 ChatDbBuilder::expectedCount(qint64 chat) const
{
    if (chat > 0) {
        const ChatInfo info = m_chats.value(chat);
        return info.removed ? 0 : info.counted;
    }
    qint64 total = 0;
    for (const ChatInfo& info : m_chats)
        if (!info.removed)
            total += info.counted;
    return total;
}

void leaveLiveWal(const QString& databasePath, const QStringList& writes)
{
    const QString wal = databasePath + QStringLiteral("-wal");
    const QString savedMain = databasePath + QStringLiteral(".live");
    const QString savedWal = wal + QStringLiteral(".live");
    QFile::remove(savedMain);
    QFile::remove(savedWal);
    {
        Sqlite3DB db;
        db.openThrow(databasePath, 2);
        check(db, "pragma journal_mode=WAL");
        check(db, "pragma wal_autocheckpoint=0");
        check(db, "begin");
        for (const QString& sql : writes)
            check(db, sql.toUtf8().constData());
        check(db, "commit");
        // The frames are committed in the log; copy both files before the
        // closing connection checkpoints the log into the main file.
        if (!QFile::copy(databasePath, savedMain) || !QFile::copy(wal, savedWal))
            throw std::runtime_error("leaveLiveWal: copy failed");
        db.close();
    }
    QFile::remove(databasePath);
    QFile::remove(wal);
    QFile::remove(databasePath + QStringLiteral("-shm"));
    if (!QFile::rename(savedMain, databasePath) || !QFile::rename(savedWal, wal))
        throw std::runtime_error("leaveLiveWal: rename failed");
}
