#include "chatstore/chatmergecache.h"

#include "chatstore/displayrules.h"
#include "chatstore/sqlite3db.h"

#include <QDateTime>
#include <QStringList>

ChatMergeCache::ChatMergeCache(const ChatSchema& schema)
{
    auto has = [&schema](const char* table, const char* column) {
        return schema.hasColumn(QString::fromLatin1(table), QString::fromLatin1(column));
    };
    Columns& c = m_columns;
    c.msgFlags = has("ZWAMESSAGE", "ZFLAGS");
    c.msgMediaSectionId = has("ZWAMESSAGE", "ZMEDIASECTIONID");
    c.msgFilteredRecipientCount = has("ZWAMESSAGE", "ZFILTEREDRECIPIENTCOUNT");
    c.msgDocId = has("ZWAMESSAGE", "ZDOCID");
    c.msgStarred = has("ZWAMESSAGE", "ZSTARRED");
    c.msgDataItemVersion = has("ZWAMESSAGE", "ZDATAITEMVERSION");
    c.msgErrorStatus = has("ZWAMESSAGE", "ZMESSAGEERRORSTATUS");
    c.msgParent = has("ZWAMESSAGE", "ZPARENTMESSAGE");
    c.msgMessageInfo = has("ZWAMESSAGE", "ZMESSAGEINFO");
    c.messageInfoTable = schema.hasTable(QStringLiteral("ZWAMESSAGEINFO"));
    c.chatFlags = has("ZWACHATSESSION", "ZFLAGS");
    c.chatHidden = has("ZWACHATSESSION", "ZHIDDEN");
    c.chatRemoved = has("ZWACHATSESSION", "ZREMOVED");
    c.chatSessionType = has("ZWACHATSESSION", "ZSESSIONTYPE");
    c.chatIdentityEpoch = has("ZWACHATSESSION", "ZIDENTITYVERIFICATIONEPOCH");
    c.chatIdentityState = has("ZWACHATSESSION", "ZIDENTITYVERIFICATIONSTATE");
    c.chatContactIdentifier = has("ZWACHATSESSION", "ZCONTACTIDENTIFIER");
    c.memberContactIdentifier = has("ZWAGROUPMEMBER", "ZCONTACTIDENTIFIER");
    c.mediaAspectRatio = has("ZWAMEDIAITEM", "ZASPECTRATIO");
    c.mediaAuthorName = has("ZWAMEDIAITEM", "ZAUTHORNAME");
    c.mediaCollectionName = has("ZWAMEDIAITEM", "ZCOLLECTIONNAME");
    c.mediaTitle = has("ZWAMEDIAITEM", "ZTITLE");
    c.mediaMetadata = has("ZWAMEDIAITEM", "ZMETADATA");
    c.mediaQuotedData = has("ZWAMEDIAITEM", "QM_QUOTED_DATA");
    c.mediaQuotedSender = has("ZWAMEDIAITEM", "QM_QUOTED_SENDER");
    c.mediaQuotedStanzaId = has("ZWAMEDIAITEM", "QM_QUOTED_STANZAID");
    c.mediaOwnMetadata = has("ZWAMEDIAITEM", "QM_METADATA");
    c.mediaKey = has("ZWAMEDIAITEM", "ZMEDIAKEY");
    c.memberIsActive = has("ZWAGROUPMEMBER", "ZISACTIVE");
    c.lidMapTable = has("QM_LIDMAP", "ZLID");

    // The message row: the fixed columns, then the optional ones the target
    // has, then the links to chat and sender (known before the insert).
    QStringList cols = {QStringLiteral("Z_ENT"),          QStringLiteral("Z_OPT"),         QStringLiteral("ZSORT"),
                        QStringLiteral("ZGROUPEVENTTYPE"), QStringLiteral("ZISFROMME"),     QStringLiteral("ZMESSAGESTATUS"),
                        QStringLiteral("ZMESSAGETYPE"),    QStringLiteral("ZMESSAGEDATE"),  QStringLiteral("ZFROMJID"),
                        QStringLiteral("ZPUSHNAME"),       QStringLiteral("ZSTANZAID"),     QStringLiteral("ZTEXT"),
                        QStringLiteral("ZTOJID")};
    if (c.msgFlags)
        cols << QStringLiteral("ZFLAGS");
    if (c.msgMediaSectionId)
        cols << QStringLiteral("ZMEDIASECTIONID");
    if (c.msgFilteredRecipientCount)
        cols << QStringLiteral("ZFILTEREDRECIPIENTCOUNT");
    if (c.msgDocId)
        cols << QStringLiteral("ZDOCID");
    if (c.msgStarred)
        cols << QStringLiteral("ZSTARRED");
    if (c.msgDataItemVersion)
        cols << QStringLiteral("ZDATAITEMVERSION");
    if (c.msgErrorStatus)
        cols << QStringLiteral("ZMESSAGEERRORSTATUS");
    cols << QStringLiteral("ZCHATSESSION") << QStringLiteral("ZGROUPMEMBER");
    for (int shape = 0; shape < 4; ++shape) {
        QStringList names = cols;
        if (shape & 1)
            names << QStringLiteral("ZMEDIAITEM");
        if (shape & 2)
            names << QStringLiteral("ZMESSAGEINFO");
        m_messageInsert[shape] = QStringLiteral("insert into ZWAMESSAGE(%1) values(?%2)")
                                     .arg(names.join(QLatin1Char(',')), QStringLiteral(",?").repeated(names.size() - 1));
    }
}

qint64 ChatMergeCache::nextRowId(Sqlite3DB& db, const QString& table)
{
    auto it = m_lastRowIds.find(table);
    if (it == m_lastRowIds.end()) {
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(QStringLiteral("select max(rowid) from %1").arg(table)));
        it = m_lastRowIds.insert(table, c.moveNext() ? c.getInt64(0) : 0);
    }
    return *it + 1;
}

ChatMergeCache::Chat* ChatMergeCache::chat(const QString& jid)
{
    auto it = m_chats.find(jid);
    return it == m_chats.end() ? nullptr : &*it;
}

ChatMergeCache::Chat& ChatMergeCache::addChat(const QString& jid, const Chat& chat)
{
    return *m_chats.insert(jid, chat);
}

void ChatMergeCache::noteInsert(const QString& entity, qint64 rowId)
{
    qint64& max = m_pendingMax[entity];
    if (rowId > max)
        max = rowId;
}

void ChatMergeCache::noteLid(const QString& jid, const QString& phone, const QString& pushName)
{
    if (!jid.endsWith(QLatin1String("@lid"), Qt::CaseInsensitive))
        return;
    LidInfo& info = m_lids[jid];
    if (info.phone.isEmpty())
        info.phone = phone;
    if (info.pushName.isEmpty())
        info.pushName = pushName;
}

QString ChatMergeCache::localMonth(double coreDataDate)
{
    const QDateTime utc = coreDataToDateTime(coreDataDate);
    const qint64 at = utc.toMSecsSinceEpoch();
    if (!m_month.isEmpty() && at >= m_monthStart && at < m_monthEnd)
        return m_month;
    const QDateTime local = utc.toLocalTime();
    const QString month = local.toString(QStringLiteral("yyyy-MM"));
    const QDate first(local.date().year(), local.date().month(), 1);
    const QDateTime start(first, QTime(0, 0), Qt::LocalTime);
    const QDateTime end(first.addMonths(1), QTime(0, 0), Qt::LocalTime);
    // Kept only where the bounds are plainly right (a month whose first
    // midnight a clock change skips is worked out every time).
    if (start.isValid() && end.isValid() && start.toString(QStringLiteral("yyyy-MM")) == month &&
        start.toMSecsSinceEpoch() <= at && at < end.toMSecsSinceEpoch() &&
        end.addMSecs(-1).toString(QStringLiteral("yyyy-MM")) == month) {
        m_monthStart = start.toMSecsSinceEpoch();
        m_monthEnd = end.toMSecsSinceEpoch();
        m_month = month;
    }
    return month;
}
