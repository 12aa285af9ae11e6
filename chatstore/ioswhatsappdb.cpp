#include "chatstore/ioswhatsappdb.h"

#include "base/apperror.h"
#include "base/fileutil.h"
#include "platform/osservices.h"
#include "chatstore/chatmergecache.h"
#include "chatstore/displayrules.h"
#include "chatstore/mediapaths.h"
#include "chatstore/plistcftype.h"
#include "chatstore/receiptcodec.h"
#include "chatstore/replymetadata.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kVCardSeparator = QStringLiteral("_$!<VCard-Separator>!$_");

// Chats whose JID is a personal address (a phone JID or an @lid one) or a
// group address; broadcast lists and status are left out everywhere.
const char kListedChats[] =
    "(ZCONTACTJID like '%@s.whatsapp.net' or ZCONTACTJID like '%@g.us' or ZCONTACTJID like '%@lid')";

// Chats marked removed are left out even where they are still stored (a
// source that is only read keeps them).
const char kNotRemoved[] = " and (ZREMOVED is null or ZREMOVED=0)";

// KiB of SQLite page cache of a connection while a job writes through it:
// the indexes a merge of many messages updates stay in memory. It fills only
// as far as the job touches the database, and goes back to SQLite's default
// when the job's transaction ends. A setting of the connection, nothing stored.
constexpr int kWritePageCacheKiB = 32768;
constexpr int kDefaultPageCache = -2000;  // SQLite's own default: 2,000 KiB

// The message types the program reads and shows.
const char kLoadedTypes[] = "m.ZMESSAGETYPE+0 in (0,1,2,3,4,5,6,7,8,11,14,15,38,39,46,53,54,59)";

// The rows of messageBody narrowed to one chat (all chats for none).
void scopeToChat(Sqlite3Sql& sql, const _ChatSession* session)
{
    if (session) {
        sql.appendSql(QStringLiteral(" and c.ZCONTACTJID=?"));
        sql.addTextParam(session->ZCONTACTJID);
    }
}

QString messageOrder(bool ascending)
{
    return ascending ? QStringLiteral(" order by m.ZMESSAGEDATE asc, m.ZSORT asc, m.Z_PK asc")
                     : QStringLiteral(" order by m.ZMESSAGEDATE desc, m.ZSORT desc, m.Z_PK desc");
}

// byDate: the chat's rows are found along the date index ("+" keeps SQLite
// off the chat index), already in the order pages are read in.
QString messageBody(bool hasRemovedColumn, bool byDate = false)
{
    return QStringLiteral(" from ZWAMESSAGE as m inner join ZWACHATSESSION as c on c.Z_PK=") +
           (byDate ? QLatin1String("+") : QLatin1String()) +
           QStringLiteral(
               "m.ZCHATSESSION and "
               "(c.ZCONTACTJID like '%@s.whatsapp.net' or c.ZCONTACTJID like '%@g.us' or c.ZCONTACTJID like '%@lid') "
               "and ") + QLatin1String(kLoadedTypes) +
           (hasRemovedColumn ? QStringLiteral(" and (c.ZREMOVED is null or c.ZREMOVED=0)") : QString());
}

bool nameIsJid(const QString& name)
{
    return name.isEmpty() || name.endsWith(QLatin1String("@s.whatsapp.net"), Qt::CaseInsensitive) ||
           name.endsWith(QLatin1String("@lid"), Qt::CaseInsensitive);
}

// True when SQLite would write beside the database even through a read-only
// connection: the file is in write-ahead-log mode (the log needs its -shm
// index), or a log or a hot journal lies beside it.
bool readingWritesBeside(const QString& path)
{
    if (QFileInfo::exists(path + QStringLiteral("-wal")) || QFileInfo::exists(path + QStringLiteral("-journal")))
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = file.read(20);
    // Bytes 18 and 19 of the header: file format write / read version, 2 = WAL.
    return header.size() == 20 && header.startsWith("SQLite format 3") && (header[18] == 2 || header[19] == 2);
}

// The object of a keyed archive's "$objects" that the root's key names.
PlistCFType archivedObject(const PlistCFType& objects, const PlistCFType& root, const char* key, bool* zero)
{
    const PlistCFType ref = root.value(QString::fromLatin1(key));
    const quint64 uid = ref.type() == PlistCFType::UidType ? ref.toUid() : 0;
    *zero = uid == 0;
    if (uid == 0 || uid >= quint64(objects.size()))
        return {};
    return objects.at(int(uid));
}

}  // namespace

IOSWhatsAppDb::IOSWhatsAppDb(const QString& databasePath, const QString& contactsPath, const QString& mediaFolder,
                             const QString& profileFolder, bool upgrade, std::optional<bool> createIfMissing)
    : AbsWhatsAppDb(databasePath, contactsPath, mediaFolder, profileFolder),
      m_upgrade(upgrade),
      m_createIfMissing(createIfMissing.value_or(upgrade))
{
}

IOSWhatsAppDb::~IOSWhatsAppDb()
{
    closeDb();
}

void IOSWhatsAppDb::ensureOpen()
{
    if (m_db.isOpen())
        return;
    const QString path = databasePath();
    // ContactsV2 and the JID directory (LID.sqlite, push names), only read.
    auto openSideDatabases = [this, &path] {
        openContactsV2();
        m_jids.load(m_db, m_schema, QFileInfo(path).absolutePath(), &m_contactsV2);
    };
    try {
        if (m_readOnly) {
            openReadOnly(path);
        } else if (QFileInfo(path).isFile()) {
            m_db.openThrow(path, SQLITE_OPEN_READWRITE);
            // A database this program makes and keeps that holds no table
            // at all was cut off while it was being made: it gets its schema.
            if (m_createIfMissing)
                repairEmptyDatabase(m_db);
        } else if (m_createIfMissing) {
            createDatabase(m_db, path);
        } else {
            throw AppError(QStringLiteral("The chat database %1 does not exist.").arg(QDir::toNativeSeparators(path)));
        }
        m_schema.buildSchemaCache(m_db);
        if (m_upgrade && !m_readOnly)
            applyUpgrades(m_db, m_schema);
        m_hasParentColumn = m_schema.hasColumn(QStringLiteral("ZWAMESSAGE"), QStringLiteral("ZPARENTMESSAGE"));
        m_hasMetadataColumn = m_schema.hasColumn(QStringLiteral("ZWAMEDIAITEM"), QStringLiteral("ZMETADATA"));
        m_hasQuotedDataColumn = m_schema.hasColumn(QStringLiteral("ZWAMEDIAITEM"), QStringLiteral("QM_QUOTED_DATA"));
        m_hasMessageInfoTable = m_schema.hasTable(QStringLiteral("ZWAMESSAGEINFO"));
        m_hasRemovedColumn = m_schema.hasColumn(QStringLiteral("ZWACHATSESSION"), QStringLiteral("ZREMOVED"));
        if (m_readOnly) {
            openSideDatabases();
            return;
        }

        // Chats the phone marked as removed go before anything is listed.
        m_db.beginTran();
        try {
            if (m_schema.hasColumn(QStringLiteral("ZWACHATSESSION"), QStringLiteral("ZREMOVED"))) {
                QList<qint64> removed;
                Sqlite3Cursor c = m_db.queryThrow("select Z_PK from ZWACHATSESSION where ZREMOVED=1");
                while (c.moveNext())
                    removed << c.getInt64(0);
                for (qint64 chat : removed)
                    deleteChat(chat);
            }
            m_db.commitTran();
        } catch (...) {
            try {
                m_db.rollbackTran();
            } catch (...) {
            }
            throw;
        }
    } catch (...) {
        m_db.close();
        m_schema.clear();
        throw;
    }
    openSideDatabases();
}

void IOSWhatsAppDb::openReadOnly(const QString& path)
{
    if (!QFileInfo(path).isFile())
        throw AppError(QStringLiteral("The chat database %1 does not exist.").arg(QDir::toNativeSeparators(path)));
    if (!readingWritesBeside(path)) {
        m_db.openThrow(path, SQLITE_OPEN_READONLY);
        return;
    }
    // The copy is made once and read again after a close; it goes with
    // this object.
    if (!m_privateCopy) {
        const QString temp = platform::privateTempFolder();
        if (temp.isEmpty())
            throw AppError(QStringLiteral("There is no private temporary folder to read a copy of the chat database %1 in.")
                               .arg(QDir::toNativeSeparators(path)));
        auto dir = std::make_shared<QTemporaryDir>(temp + QStringLiteral("/readonly-XXXXXX"));
        if (!dir->isValid())
            throw AppError(QStringLiteral("The private copy of the chat database %1 cannot be made: %2")
                               .arg(QDir::toNativeSeparators(path), dir->errorString()));
        const QString copy = dir->filePath(QStringLiteral("ChatStorage.sqlite"));
        for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-journal")}) {
            if (!QFileInfo::exists(path + suffix))
                continue;
            QFile source(path + suffix);
            if (!source.copy(copy + suffix))
                throw AppError(QStringLiteral("The private copy of the chat database %1 cannot be made: %2")
                                   .arg(QDir::toNativeSeparators(path + suffix), source.errorString()));
            QFile(copy + suffix).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
        m_privateCopy = dir;
    }
    // Read-only as well (a source is never written to), in a folder where
    // SQLite may create the log's index.
    m_db.openThrow(m_privateCopy->filePath(QStringLiteral("ChatStorage.sqlite")), SQLITE_OPEN_READONLY);
}

void IOSWhatsAppDb::openContactsV2()
{
    m_contactsV2.close();
    // Beside the contacts database; recent folders have no Contacts.sqlite
    // and keep ContactsV2.sqlite beside the chat database.
    QString v2;
    for (const QString& base : {contactsPath(), databasePath()}) {
        if (base.isEmpty())
            continue;
        v2 = QFileInfo(base).absolutePath() + QStringLiteral("/ContactsV2.sqlite");
        if (QFileInfo(v2).isFile())
            break;
    }
    const QFileInfo info(v2);
    if (v2.isEmpty() || !info.isFile() || info.size() <= 0)
        return;
    try {
        // Only ever read, and never written beside (not even a -shm index).
        openImmutable(m_contactsV2, v2);
    } catch (const std::exception& e) {
        qDebug("IOSWhatsAppDb::ensureOpen, open ContactsV2.sqlite failed. %s", e.what());
        m_contactsV2.close();
    }
}

void IOSWhatsAppDb::beginTransaction()
{
    ensureOpen();
    m_merge.reset();
    m_pageMark.valid = false;
    setJobPageCache(true);
    m_db.beginTran();
}

void IOSWhatsAppDb::setJobPageCache(bool on)
{
    if (m_db.isOpen())
        m_db.exec(on ? QStringLiteral("PRAGMA cache_size=-%1").arg(kWritePageCacheKiB)
                     : QStringLiteral("PRAGMA cache_size=%1").arg(kDefaultPageCache));
}

void IOSWhatsAppDb::endTransaction(bool commit)
{
    try {
        if (commit) {
            flushKeyCounters();
            m_db.commitTran();
        } else {
            m_db.rollbackTran();
        }
    } catch (const std::exception& e) {
        qDebug("IOSWhatsAppDb::endTransaction failed. %s", e.what());
    }
    setJobPageCache(false);
    // What the merge writer remembered may have been rolled back.
    m_merge.reset();
    m_pageMark.valid = false;
}

void IOSWhatsAppDb::closeDb()
{
    if (m_db.isOpen()) {
        if (m_db.inTransaction()) {
            try {
                m_db.rollbackTran();
            } catch (...) {
            }
        }
        sqlite3_wal_checkpoint(m_db.db, nullptr);
        m_db.close();
    }
    m_contactsV2.close();
    m_jids.clear();
    m_schema.clear();
    m_merge.reset();
    m_pageMark.valid = false;
    m_entityIdsRead = false;
    m_searchFunction = false;
    m_allMessageColumns.reset();
    m_allMediaColumns.reset();
}

void IOSWhatsAppDb::listSessions(ChatIndex& index)
{
    ensureOpen();
    Sqlite3Cursor c = m_db.queryThrow(QStringLiteral("select * from ZWACHATSESSION where ") +
                                      QLatin1String(kListedChats) +
                                      (m_hasRemovedColumn ? QLatin1String(kNotRemoved) : QLatin1String()));
    while (c.moveNext()) {
        auto session = std::make_shared<_ChatSession>();
        session->Z_PK = c.getInt64(QStringLiteral("Z_PK"));
        session->Z_OPT = c.getInt(QStringLiteral("Z_OPT"));
        session->ZFLAGS = c.getInt(QStringLiteral("ZFLAGS"));
        session->ZGROUPINFO = c.getInt64(QStringLiteral("ZGROUPINFO"));
        session->ZLASTMESSAGEDATE = c.getDouble(QStringLiteral("ZLASTMESSAGEDATE"));
        session->ZCONTACTJID = c.getText(QStringLiteral("ZCONTACTJID"));
        session->ZPARTNERNAME = c.getText(QStringLiteral("ZPARTNERNAME"));
        if (JidDirectory::isLidJid(session->ZCONTACTJID))
            session->contactPhone = m_jids.phoneOf(session->ZCONTACTJID);
        session->contactPushName = m_jids.pushNameOf(session->ZCONTACTJID);
        session->contactTwinJid = m_jids.twinOf(session->ZCONTACTJID);
        session->ZCONTACTIDENTIFIER = c.getText(QStringLiteral("ZCONTACTIDENTIFIER"));
        const QString user = jidUser(session->ZCONTACTJID);
        session->picturePath = pathInsideFolder(profileFolder(), user + QStringLiteral(".jpg"));
        session->thumbnailPath = pathInsideFolder(profileFolder(), user + QStringLiteral(".thumb"));
        index.sessions[session->Z_PK] = session;

        if (session->ZGROUPINFO > 0) {
            if (PGroupInfo known = index.group(session->ZGROUPINFO)) {
                session->groupInfo = known;
            } else {
                Sqlite3Cursor g = m_db.queryThrow(
                    QStringLiteral("select * from ZWAGROUPINFO where Z_PK=%1").arg(session->ZGROUPINFO));
                if (g.moveNext()) {
                    auto info = std::make_shared<_GroupInfo>();
                    info->Z_PK = g.getInt64(QStringLiteral("Z_PK"));
                    info->Z_OPT = g.getInt(QStringLiteral("Z_OPT"));
                    info->ZSTATE = g.getInt(QStringLiteral("ZSTATE"));
                    info->ZCHATSESSION = g.getInt64(QStringLiteral("ZCHATSESSION"));
                    info->ZLASTMESSAGEOWNER = g.getInt64(QStringLiteral("ZLASTMESSAGEOWNER"));
                    info->ZCREATIONDATE = g.getDouble(QStringLiteral("ZCREATIONDATE"));
                    info->ZSUBJECTTIMESTAMP = g.getDouble(QStringLiteral("ZSUBJECTTIMESTAMP"));
                    info->ZOWNERJID = g.getText(QStringLiteral("ZOWNERJID"));
                    info->ZPICTUREID = g.getText(QStringLiteral("ZPICTUREID"));
                    info->ZPICTUREPATH = g.getText(QStringLiteral("ZPICTUREPATH"));
                    info->ZSUBJECTOWNERJID = g.getText(QStringLiteral("ZSUBJECTOWNERJID"));
                    info->session = session;
                    session->groupInfo = info;
                    index.groups[session->ZGROUPINFO] = info;
                }
            }
        }

        Sqlite3Cursor m = m_db.queryThrow(
            QStringLiteral("select * from ZWAGROUPMEMBER where ZCHATSESSION=%1").arg(session->Z_PK));
        while (m.moveNext()) {
            auto member = std::make_shared<_GroupMember>();
            member->Z_PK = m.getInt64(QStringLiteral("Z_PK"));
            member->Z_OPT = m.getInt(QStringLiteral("Z_OPT"));
            member->ZISACTIVE = m.getInt(QStringLiteral("ZISACTIVE"));
            member->ZCHATSESSION = m.getInt64(QStringLiteral("ZCHATSESSION"));
            member->ZCONTACTNAME = m.getText(QStringLiteral("ZCONTACTNAME"));
            member->ZMEMBERJID = m.getText(QStringLiteral("ZMEMBERJID"));
            if (JidDirectory::isLidJid(member->ZMEMBERJID))
                member->phone = m_jids.phoneOf(member->ZMEMBERJID);
            member->pushName = m_jids.pushNameOf(member->ZMEMBERJID);
            member->twinJid = m_jids.twinOf(member->ZMEMBERJID);
            index.members[member->Z_PK] = member;
            session->members[member->ZMEMBERJID] = member;
        }
    }
}

Sqlite3Sql IOSWhatsAppDb::countQuery(const _ChatSession* session) const
{
    if (session) {
        Sqlite3Sql sql(QStringLiteral("select count(*) ") + messageBody(m_hasRemovedColumn));
        scopeToChat(sql, session);
        return sql;
    }
    // Every chat: the rows of messageBody, counted in one pass over the
    // messages against the listed chats, picked once. Joined, SQLite tests
    // the chat's conditions again for every message, or reads the messages
    // in chat order through the chat index with one look-up each; either
    // costs several times the pass on a big history.
    return Sqlite3Sql(QStringLiteral("select count(*) from ZWAMESSAGE as m where ") + QLatin1String(kLoadedTypes) +
                      QStringLiteral(" and +m.ZCHATSESSION in (select Z_PK from ZWACHATSESSION where ") +
                      QLatin1String(kListedChats) +
                      (m_hasRemovedColumn ? QLatin1String(kNotRemoved) : QLatin1String()) + QStringLiteral(")"));
}

qint64 IOSWhatsAppDb::countMessages(const _ChatSession* session)
{
    ensureOpen();
    Sqlite3Cursor c = m_db.queryThrow(countQuery(session));
    return c.moveNext() ? c.getInt64(0) : 0;
}

MessageCountRun IOSWhatsAppDb::countMessagesApart(const _ChatSession* session)
{
    ensureOpen();
    // The file the shared connection reads (a read-only source's private
    // copy, which stays while the count needs it), opened read-only.
    return [sql = countQuery(session), path = m_db.path(), copy = m_privateCopy](const std::atomic<bool>& stop) {
        const auto stopped = [](void* flag) { return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0; };
        Sqlite3DB db;
        db.openThrow(path, SQLITE_OPEN_READONLY);
        void* flag = const_cast<std::atomic<bool>*>(&stop);
        // A writer holding the file waits this count, but a stop does not
        // wait for the writer.
        sqlite3_busy_handler(
            db.db,
            [](void* flag, int tries) {
                if (static_cast<const std::atomic<bool>*>(flag)->load() || tries >= 500)
                    return 0;
                sqlite3_sleep(10);
                return 1;
            },
            flag);
        sqlite3_progress_handler(db.db, 4096, stopped, flag);
        Sqlite3Cursor c = db.queryThrow(sql);
        return c.moveNext() ? c.getInt64(0) : qint64(0);
    };
}

Sqlite3Sql IOSWhatsAppDb::messageQuery(const _ChatSession* session, qint64 rowsToWalk)
{
    const bool byDate = session && walksChatByDate(*session, rowsToWalk);
    Sqlite3Sql sql(QStringLiteral("select m.* ") + messageBody(m_hasRemovedColumn, byDate));
    scopeToChat(sql, session);
    return sql;
}

bool IOSWhatsAppDb::walksChatByDate(const _ChatSession& session, qint64 rowsToWalk)
{
    // Through the chat index SQLite reads every row of the chat and sorts
    // them for each page: a page of a big chat costs the whole chat. Along
    // the date index it passes the other chats' rows in between, about
    // rowsToWalk * all / chat rows. The cheaper of the two is taken; the
    // rows and their order are the same either way.
    Sqlite3Cursor top = m_db.queryThrow("select max(Z_PK) from ZWAMESSAGE");
    const qint64 all = top.moveNext() ? top.getInt64(0) : 0;
    if (all <= 0)
        return false;
    auto it = m_chatSizes.find(session.ZCONTACTJID);
    if (it == m_chatSizes.end() || it->tableTop != all) {
        Sqlite3Sql sql("select count(*) from ZWAMESSAGE where ZCHATSESSION in "
                       "(select Z_PK from ZWACHATSESSION where ZCONTACTJID=?)");
        sql.addTextParam(session.ZCONTACTJID);
        Sqlite3Cursor c = m_db.queryThrow(sql);
        it = m_chatSizes.insert(session.ZCONTACTJID, {all, c.moveNext() ? c.getInt64(0) : 0});
    }
    const double rows = double(it->rows);
    return double(std::max<qint64>(rowsToWalk, 1)) * double(all) < rows * rows;
}

bool IOSWhatsAppDb::readMessages(const Sqlite3Sql& sql, const ChatIndex& index, QList<_Message>& messages)
{
    bool lastKeyed = false;
    Sqlite3Cursor c = m_db.queryThrow(sql);
    const MessageColumns cols(c);
    while (c.moveNext()) {
        QSet<qint64> chain;
        messages.append(readMessage(c, cols, index, chain, false));
        lastKeyed = !c.isNull(cols.date) && !c.isNull(cols.sort);
    }
    return lastKeyed;
}

QList<_Message> IOSWhatsAppDb::pageMessages(const ChatIndex& index, const _ChatSession* session, int page,
                                            int pageSize, bool ascending)
{
    ensureOpen();
    QList<_Message> messages;
    if (page < 1 || pageSize < 1)
        return messages;
    // A page that continues the previous page of the same request starts
    // right after that page's last row (found through the date index)
    // instead of skipping all earlier rows: reading a whole chat page by
    // page stays linear in either order. Both forms give the same rows in
    // the same order; the row id breaks ties of date and sort value.
    const QString scope = session ? session->ZCONTACTJID : QString();
    const bool continues = m_pageMark.valid && m_pageMark.ascending == ascending && m_pageMark.page + 1 == page &&
                           m_pageMark.pageSize == pageSize && m_pageMark.scope == scope &&
                           m_pageMark.hasSession == (session != nullptr);
    const PageMark mark = m_pageMark;
    m_pageMark.valid = false;

    const QString order = messageOrder(ascending);
    messages.reserve(pageSize);

    Sqlite3Sql sql = messageQuery(session, continues ? pageSize : qint64(pageSize) * page);
    if (continues) {
        // NULL sorts first: in oldest-first order every row without a date
        // or sort value lies before the mark and was read already.
        if (ascending)
            sql.appendSql(QStringLiteral(" and m.ZMESSAGEDATE>=? and (m.ZMESSAGEDATE>? or m.ZSORT>? or "
                                         "(m.ZSORT=? and m.Z_PK>?))"));
        else
            sql.appendSql(QStringLiteral(" and m.ZMESSAGEDATE<=? and (m.ZMESSAGEDATE<? or m.ZSORT<? or "
                                         "m.ZSORT is null or (m.ZSORT=? and m.Z_PK<?))"));
        sql.addDoubleParam(mark.date).addDoubleParam(mark.date);
        sql.addInt64Param(mark.sort).addInt64Param(mark.sort).addInt64Param(mark.pk);
        sql.appendSql(order + QStringLiteral(" limit %1").arg(pageSize));
    } else {
        sql.appendSql(order + QStringLiteral(" limit %1 offset %2").arg(pageSize).arg(qint64(pageSize) * (page - 1)));
    }
    bool lastKeyed = readMessages(sql, index, messages);
    if (continues && !ascending && messages.size() < pageSize) {
        // Newest first, rows without a date come last, after every dated
        // one; the range above cannot reach them.
        Sqlite3Sql rest = messageQuery(session, pageSize);
        rest.appendSql(QStringLiteral(" and m.ZMESSAGEDATE is null") + order +
                       QStringLiteral(" limit %1").arg(pageSize - messages.size()));
        const qsizetype before = messages.size();
        const bool restKeyed = readMessages(rest, index, messages);
        if (messages.size() > before)
            lastKeyed = restKeyed;
    }
    // A row without date or sort value cannot be continued from by key.
    if (lastKeyed && messages.size() == pageSize) {
        const _Message& last = messages.constLast();
        m_pageMark = {true, ascending, session != nullptr, scope, pageSize, page, last.ZMESSAGEDATE, last.ZSORT,
                      last.Z_PK};
    }
    addPageDetails(messages);
    return messages;
}

QList<_Message> IOSWhatsAppDb::rangeMessages(const ChatIndex& index, const _ChatSession* session, qint64 offset,
                                             int limit, bool ascending)
{
    ensureOpen();
    m_pageMark.valid = false;
    QList<_Message> messages;
    if (offset < 0 || limit < 1)
        return messages;
    messages.reserve(limit);
    Sqlite3Sql sql = messageQuery(session, offset + limit);
    sql.appendSql(messageOrder(ascending) + QStringLiteral(" limit %1 offset %2").arg(limit).arg(offset));
    readMessages(sql, index, messages);
    addPageDetails(messages);
    return messages;
}

namespace {

// qm_has_keyword(text): whether the text contains the search's keyword,
// ignoring case as the program's display rule does (full Unicode case
// folding, which SQLite's LIKE and lower() do not do beyond ASCII).
void hasKeywordFunction(sqlite3_context* context, int, sqlite3_value** argv)
{
    const auto* keyword = static_cast<const QString*>(sqlite3_user_data(context));
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const int size = sqlite3_value_bytes(argv[0]);
    const QString value = text ? QString::fromUtf8(text, size) : QString();
    sqlite3_result_int(context, value.contains(*keyword, Qt::CaseInsensitive) ? 1 : 0);
}

}  // namespace

QList<IOSWhatsAppDb::SearchCandidate> IOSWhatsAppDb::searchCandidates(const _ChatSession* session, bool ascending,
                                                                      const QString& keyword,
                                                                      const std::function<bool()>& cancelled)
{
    ensureOpen();
    if (!m_searchFunction) {
        if (sqlite3_create_function_v2(m_db.db, "qm_has_keyword", 1, SQLITE_UTF8, &m_searchKeyword,
                                       hasKeywordFunction, nullptr, nullptr, nullptr) != SQLITE_OK)
            throw Sqlite3Error(QString::fromUtf8(sqlite3_errmsg(m_db.db)), databasePath());
        m_searchFunction = true;
    }
    m_searchKeyword = keyword;

    // What messageDisplayText makes of each type, in SQL, for the types whose
    // text is the stored text, the caption and a fixed label; a quote in
    // front (decoded from the media item) and the other types' names and
    // payloads are left to the display rule itself.
    const QString t = QStringLiteral("ifnull(m.ZTEXT,'')");
    const QString caption = QStringLiteral("(case when ifnull(i.ZTITLE,'')<>'' then ' '||i.ZTITLE else '' end)");
    auto labelled = [&](const char* label) {
        return QStringLiteral("qm_has_keyword(%1||'%2'||%3)").arg(t, QLatin1String(label), caption);
    };
    const QString quote = m_hasMetadataColumn      ? QStringLiteral("length(i.ZMETADATA)>0")
                          : m_hasQuotedDataColumn ? QStringLiteral("length(i.QM_QUOTED_DATA)>0")
                                                  : QStringLiteral("0");
    using namespace msgtype;
    const QString candidate =
        QStringLiteral("case m.ZMESSAGETYPE+0 when %1 then qm_has_keyword('[MESSAGE DELETED]') ").arg(kDeleted) +
        QStringLiteral("when %1 then 1 else case when i.Z_PK is not null and %2 then 1 else case m.ZMESSAGETYPE+0 ")
            .arg(kGroupEvent)
            .arg(quote) +
        QStringLiteral("when %1 then qm_has_keyword(%2) ").arg(kText).arg(t) +
        QStringLiteral("when %1 then %2 ").arg(kImage).arg(labelled("[IMAGE]")) +
        QStringLiteral("when %1 then %2 ").arg(kVideo).arg(labelled("[VIDEO]")) +
        QStringLiteral("when %1 then %2 ").arg(kRoundVideo).arg(labelled("[VIDEO]")) +
        QStringLiteral("when %1 then %2 ").arg(kGif).arg(labelled("[GIF]")) +
        QStringLiteral("when %1 then %2 ").arg(kSticker).arg(labelled("[STICKER]")) +
        QStringLiteral("when %1 then qm_has_keyword(' [AUDIO]') ").arg(kAudio) +
        QStringLiteral("when %1 then qm_has_keyword(' [VCARD]') ").arg(kContact) +
        QStringLiteral("when %1 then qm_has_keyword(%2||' [LOCATION]') ").arg(kLocation).arg(t) +
        QStringLiteral("when %1 then qm_has_keyword(%2||'[VIEW ONCE IMAGE]') ").arg(kViewOnceImage).arg(t) +
        QStringLiteral("when %1 then qm_has_keyword(%2||'[VIEW ONCE VIDEO]') ").arg(kViewOnceVideo).arg(t) +
        QStringLiteral("when %1 then qm_has_keyword(' [VIEW ONCE AUDIO]') ").arg(kViewOnceAudio) +
        QStringLiteral("when %1 then qm_has_keyword('[CALL]') ").arg(kCall) +
        QStringLiteral("else 1 end end end");

    // The same rows in the same order as pageMessages, with its media
    // item beside each (the page reader takes the first row of that id).
    Sqlite3Sql sql(QStringLiteral("select m.Z_PK, ") + candidate + QStringLiteral(" ") +
                   messageBody(m_hasRemovedColumn)
                       .replace(QStringLiteral(" from ZWAMESSAGE as m "),
                                QStringLiteral(" from ZWAMESSAGE as m left join ZWAMEDIAITEM as i on "
                                               "i.rowid=(select min(rowid) from ZWAMEDIAITEM where "
                                               "Z_PK=m.ZMEDIAITEM and m.ZMEDIAITEM>0) ")));
    scopeToChat(sql, session);
    sql.appendSql(messageOrder(ascending));
    QList<SearchCandidate> out;
    Sqlite3Cursor c = m_db.queryThrow(sql);
    for (qint64 row = 0; c.moveNext(); ++row) {
        if (cancelled && (row & 1023) == 0 && cancelled())
            break;
        if (c.getInt64(1) != 0)
            out.append({row, c.getInt64(0)});
    }
    return out;
}

_Message IOSWhatsAppDb::messageByPk(const ChatIndex& index, qint64 pk)
{
    ensureOpen();
    Sqlite3Sql sql("select * from ZWAMESSAGE where Z_PK=? limit 1");
    sql.addInt64Param(pk);
    Sqlite3Cursor c = m_db.queryThrow(sql);
    if (!c.moveNext())
        return _Message();
    QSet<qint64> chain;
    return readMessage(c, allMessageColumns(c), index, chain, true);
}

namespace {

// Row ids go into these statements as parameters, a fixed number per run
// (the rest NULL, which matches nothing), so that each text is prepared
// once per connection instead of once per page.
constexpr int kIdsPerStatement = 100;

std::string idListSql(const char* head, const char* tail)
{
    std::string sql(head);
    sql += " in (?";
    for (int i = 1; i < kIdsPerStatement; ++i)
        sql += ",?";
    sql += ')';
    sql += tail;
    return sql;
}

// Runs `sql` for `ids` in runs of kIdsPerStatement, handing every row to
// `row`.
template <typename RowFn>
void forIdRuns(Sqlite3DB& db, const std::string& sql, const QList<qint64>& ids, RowFn row)
{
    for (qsizetype first = 0; first < ids.size(); first += kIdsPerStatement) {
        Sqlite3Sql run(sql.c_str());
        const qsizetype end = std::min<qsizetype>(first + kIdsPerStatement, ids.size());
        for (qsizetype i = first; i < end; ++i)
            run.addInt64Param(ids.at(i));
        for (qsizetype i = end; i < first + kIdsPerStatement; ++i)
            run.addNullParam();
        Sqlite3Cursor c = db.queryThrow(run);
        row(c);
    }
}

}  // namespace

// The media items and receipts of a whole page in a few statements instead
// of two per message; what each message gets is the same as rowToMessage
// gives.
void IOSWhatsAppDb::addPageDetails(QList<_Message>& messages)
{
    QHash<qint64, QList<int>> byMedia;
    QHash<qint64, int> byId;
    QList<qint64> mediaIds;
    QList<qint64> messageIds;
    messageIds.reserve(messages.size());
    for (int i = 0; i < messages.size(); ++i) {
        const _Message& m = messages.at(i);
        if (m.ZMEDIAITEM > 0) {
            auto& list = byMedia[m.ZMEDIAITEM];
            if (list.isEmpty())
                mediaIds << m.ZMEDIAITEM;
            list << i;
        }
        byId.insert(m.Z_PK, i);
        messageIds << m.Z_PK;
    }
    if (!mediaIds.isEmpty()) {
        static const std::string kMediaSql = idListSql("select * from ZWAMEDIAITEM where Z_PK", "");
        QSet<qint64> seen;
        // The folders of a page's files are resolved once for the page.
        FolderResolver folder(mediaFolder());
        forIdRuns(m_db, kMediaSql, mediaIds, [&](Sqlite3Cursor& c) {
            const MediaColumns& cols = allMediaColumns(c);
            while (c.moveNext()) {
                const qint64 pk = c.getInt64(cols.pk);
                if (seen.contains(pk))
                    continue;
                seen.insert(pk);
                for (int i : byMedia.value(pk))
                    applyMediaRow(messages[i], c, cols, folder);
            }
        });
    }
    if (m_hasMessageInfoTable && !messageIds.isEmpty()) {
        // A message's rows all come in the run that names it, in row order.
        static const std::string kInfoSql =
            idListSql("select ZMESSAGE, ZRECEIPTINFO from ZWAMESSAGEINFO where ZMESSAGE", " order by Z_PK");
        forIdRuns(m_db, kInfoSql, messageIds, [&](Sqlite3Cursor& c) {
            while (c.moveNext()) {
                const auto it = byId.constFind(c.getInt64(0));
                if (it != byId.constEnd())
                    addReceiptInfo(messages[*it], c.getBlob(1));
            }
        });
    }
}

void IOSWhatsAppDb::addReceiptInfo(_Message& m, const QByteArray& blob)
{
    m.receiptInfos.append(blob);
    m.receipts += decodeReceipts(blob);
    ReceiptExtras extras = decodeReceiptExtras(blob);
    for (_Reaction& r : extras.reactions) {
        if (!r.fromOwner)
            fillJidName(r.reactor, m.session.get());
        m.reactions.append(r);
    }
    if (extras.poll) {
        for (_PollVote& v : extras.poll->votes)
            if (!v.fromOwner)
                fillJidName(v.voter, m.session.get());
        m.poll = extras.poll;
    }
}

const _GroupMember* IOSWhatsAppDb::memberFor(const _ChatSession& session, const QString& jid) const
{
    auto it = session.members.constFind(jid);
    if (it == session.members.constEnd()) {
        const QString twin = m_jids.twinOf(jid);
        if (!twin.isEmpty())
            it = session.members.constFind(twin);
    }
    return it != session.members.constEnd() ? it->get() : nullptr;
}

void IOSWhatsAppDb::fillJidName(_JidName& who, const _ChatSession* session) const
{
    if (who.jid.isEmpty())
        return;
    if (JidDirectory::isLidJid(who.jid))
        who.phone = m_jids.phoneOf(who.jid);
    who.pushName = m_jids.pushNameOf(who.jid);
    if (!session)
        return;
    if (session->isGroup()) {
        if (const _GroupMember* member = memberFor(*session, who.jid))
            if (!nameIsJid(member->ZCONTACTNAME))
                who.name = member->ZCONTACTNAME;
    } else if (!nameIsJid(session->ZPARTNERNAME)) {
        who.name = session->ZPARTNERNAME;
    }
}

_Message IOSWhatsAppDb::rowToMessage(const Sqlite3Cursor& cursor, const ChatIndex& index)
{
    ensureOpen();
    QSet<qint64> chain;
    return readMessage(cursor, MessageColumns(cursor), index, chain, true);
}

IOSWhatsAppDb::MessageColumns::MessageColumns(const Sqlite3Cursor& c)
    : pk(c.columnIndex(QStringLiteral("Z_PK"))),
      opt(c.columnIndex(QStringLiteral("Z_OPT"))),
      flags(c.columnIndex(QStringLiteral("ZFLAGS"))),
      groupEventType(c.columnIndex(QStringLiteral("ZGROUPEVENTTYPE"))),
      isFromMe(c.columnIndex(QStringLiteral("ZISFROMME"))),
      status(c.columnIndex(QStringLiteral("ZMESSAGESTATUS"))),
      type(c.columnIndex(QStringLiteral("ZMESSAGETYPE"))),
      broadcast(c.columnIndex(QStringLiteral("ZBROADCAST"))),
      chatSession(c.columnIndex(QStringLiteral("ZCHATSESSION"))),
      groupMember(c.columnIndex(QStringLiteral("ZGROUPMEMBER"))),
      mediaItem(c.columnIndex(QStringLiteral("ZMEDIAITEM"))),
      date(c.columnIndex(QStringLiteral("ZMESSAGEDATE"))),
      fromJid(c.columnIndex(QStringLiteral("ZFROMJID"))),
      pushName(c.columnIndex(QStringLiteral("ZPUSHNAME"))),
      stanzaId(c.columnIndex(QStringLiteral("ZSTANZAID"))),
      text(c.columnIndex(QStringLiteral("ZTEXT"))),
      toJid(c.columnIndex(QStringLiteral("ZTOJID"))),
      sort(c.columnIndex(QStringLiteral("ZSORT"))),
      starred(c.columnIndex(QStringLiteral("ZSTARRED"))),
      parent(c.columnIndex(QStringLiteral("ZPARENTMESSAGE")))
{
}

IOSWhatsAppDb::MediaColumns::MediaColumns(const Sqlite3Cursor& c, bool metadataColumn)
    : pk(c.columnIndex(QStringLiteral("Z_PK"))),
      opt(c.columnIndex(QStringLiteral("Z_OPT"))),
      fileSize(c.columnIndex(QStringLiteral("ZFILESIZE"))),
      origin(c.columnIndex(QStringLiteral("ZMEDIAORIGIN"))),
      movieDuration(c.columnIndex(QStringLiteral("ZMOVIEDURATION"))),
      message(c.columnIndex(QStringLiteral("ZMESSAGE"))),
      aspectRatio(c.columnIndex(QStringLiteral("ZASPECTRATIO"))),
      hAccuracy(c.columnIndex(QStringLiteral("ZHACCURACY"))),
      latitude(c.columnIndex(QStringLiteral("ZLATITUDE"))),
      longitude(c.columnIndex(QStringLiteral("ZLONGITUDE"))),
      authorName(c.columnIndex(QStringLiteral("ZAUTHORNAME"))),
      collectionName(c.columnIndex(QStringLiteral("ZCOLLECTIONNAME"))),
      localPath(c.columnIndex(QStringLiteral("ZMEDIALOCALPATH"))),
      url(c.columnIndex(QStringLiteral("ZMEDIAURL"))),
      thumbnailPath(c.columnIndex(QStringLiteral("ZTHUMBNAILLOCALPATH"))),
      title(c.columnIndex(QStringLiteral("ZTITLE"))),
      vcardName(c.columnIndex(QStringLiteral("ZVCARDNAME"))),
      vcardString(c.columnIndex(QStringLiteral("ZVCARDSTRING"))),
      xmppThumbPath(c.columnIndex(QStringLiteral("ZXMPPTHUMBPATH"))),
      // Stored metadata: the phone's column, else the local database's own.
      metadata(c.columnIndex(metadataColumn ? QStringLiteral("ZMETADATA") : QStringLiteral("QM_METADATA"))),
      mediaKey(c.columnIndex(QStringLiteral("ZMEDIAKEY"))),
      quotedData(c.columnIndex(QStringLiteral("QM_QUOTED_DATA"))),
      quotedSender(c.columnIndex(QStringLiteral("QM_QUOTED_SENDER"))),
      quotedStanzaId(c.columnIndex(QStringLiteral("QM_QUOTED_STANZAID")))
{
}

const IOSWhatsAppDb::MessageColumns& IOSWhatsAppDb::allMessageColumns(const Sqlite3Cursor& c)
{
    if (!m_allMessageColumns || m_allMessageColumns->first != c.columnCount())
        m_allMessageColumns.emplace(c.columnCount(), MessageColumns(c));
    return m_allMessageColumns->second;
}

const IOSWhatsAppDb::MediaColumns& IOSWhatsAppDb::allMediaColumns(const Sqlite3Cursor& c)
{
    if (!m_allMediaColumns || m_allMediaColumns->first != c.columnCount())
        m_allMediaColumns.emplace(c.columnCount(), MediaColumns(c, m_hasMetadataColumn));
    return m_allMediaColumns->second;
}

_Message IOSWhatsAppDb::readMessage(const Sqlite3Cursor& c, const MessageColumns& cols, const ChatIndex& index,
                                    QSet<qint64>& chain, bool withDetails)
{
    _Message m;
    m.Z_PK = c.getInt64(cols.pk);
    m.Z_OPT = c.getInt(cols.opt);
    m.ZFLAGS = c.getInt(cols.flags);
    m.ZGROUPEVENTTYPE = c.getInt(cols.groupEventType);
    m.ZISFROMME = c.getInt(cols.isFromMe);
    m.ZMESSAGESTATUS = c.getInt(cols.status);
    m.ZMESSAGETYPE = c.getInt(cols.type);
    m.ZBROADCAST = c.getInt64(cols.broadcast);
    m.ZCHATSESSION = c.getInt64(cols.chatSession);
    m.ZGROUPMEMBER = c.getInt64(cols.groupMember);
    m.ZMEDIAITEM = c.getInt64(cols.mediaItem);
    m.ZMESSAGEDATE = c.getDouble(cols.date);
    m.ZFROMJID = c.getText(cols.fromJid);
    m.ZPUSHNAME = c.getText(cols.pushName);
    m.ZSTANZAID = c.getText(cols.stanzaId);
    m.ZTEXT = c.getText(cols.text);
    m.ZTOJID = c.getText(cols.toJid);
    m.ZSORT = c.getInt64(cols.sort);
    m.ZSTARRED = c.getInt(cols.starred);
    m.session = index.session(m.ZCHATSESSION);
    if (m.ZGROUPMEMBER > 0)
        m.member = index.member(m.ZGROUPMEMBER);

    if (withDetails) {
        if (m.ZMEDIAITEM > 0) {
            Sqlite3Sql sql("select * from ZWAMEDIAITEM where Z_PK=?");
            sql.addInt64Param(m.ZMEDIAITEM);
            Sqlite3Cursor media = m_db.queryThrow(sql);
            if (media.moveNext()) {
                FolderResolver folder(mediaFolder());
                applyMediaRow(m, media, allMediaColumns(media), folder);
            }
        }
    }

    // Parents are read recursively; a chain that comes back to a message
    // already on it, or that runs too deep, ends there.
    if (m_hasParentColumn) {
        const qint64 parentId = c.getInt64(cols.parent);
        if (parentId != 0 && parentId != m.Z_PK && !chain.contains(parentId) && chain.size() < kMaxParentDepth) {
            chain.insert(m.Z_PK);
            Sqlite3Sql sql("select * from ZWAMESSAGE where Z_PK=? limit 1");
            sql.addInt64Param(parentId);
            Sqlite3Cursor p = m_db.queryThrow(sql);
            if (p.moveNext())
                m.parent = std::make_shared<_Message>(readMessage(p, allMessageColumns(p), index, chain, true));
            chain.remove(m.Z_PK);
        }
    }

    if (withDetails && m_hasMessageInfoTable) {
        Sqlite3Sql sql("select ZRECEIPTINFO from ZWAMESSAGEINFO where ZMESSAGE=? order by Z_PK");
        sql.addInt64Param(m.Z_PK);
        Sqlite3Cursor r = m_db.queryThrow(sql);
        while (r.moveNext())
            addReceiptInfo(m, r.getBlob(QStringLiteral("ZRECEIPTINFO")));
    }
    return m;
}

// A link message keeps its type, its own text and its media item (with the
// URL) as stored: the URL takes the text's place only on display.
void IOSWhatsAppDb::applyMediaRow(_Message& m, const Sqlite3Cursor& c, const MediaColumns& cols,
                                  FolderResolver& mediaFolder)
{
    auto media = std::make_shared<_MediaItem>();
    media->Z_PK = c.getInt64(cols.pk);
    media->Z_OPT = c.getInt(cols.opt);
    media->ZFILESIZE = c.getInt64(cols.fileSize);
    media->ZMEDIAORIGIN = c.getInt(cols.origin);
    media->ZMOVIEDURATION = c.getInt(cols.movieDuration);
    media->ZMESSAGE = c.getInt64(cols.message);
    media->ZASPECTRATIO = c.getDouble(cols.aspectRatio);
    media->ZHACCURACY = c.getDouble(cols.hAccuracy);
    media->ZLATITUDE = c.getDouble(cols.latitude);
    media->ZLONGITUDE = c.getDouble(cols.longitude);
    media->ZAUTHORNAME = c.getText(cols.authorName);
    media->ZCOLLECTIONNAME = c.getText(cols.collectionName);
    media->ZMEDIALOCALPATH = c.getText(cols.localPath);
    media->ZMEDIAURL = c.getText(cols.url);
    media->ZTHUMBNAILLOCALPATH = c.getText(cols.thumbnailPath);
    media->ZTITLE = c.getText(cols.title);
    media->ZVCARDNAME = c.getText(cols.vcardName);
    const QString cards = c.getText(cols.vcardString);
    if (!cards.isEmpty())
        media->cardTexts = cards.split(kVCardSeparator);
    media->ZXMPPTHUMBPATH = c.getText(cols.xmppThumbPath);
    media->ZMETADATA = c.getBlob(cols.metadata);
    media->ZMEDIAKEY = c.getBlob(cols.mediaKey);
    if (m.ZMESSAGETYPE == msgtype::kDocument) {
        const QString author = media->ZAUTHORNAME.trimmed();
        media->ZTITLE = author.isEmpty() ? m.ZTEXT.trimmed() : author;
    }

    // Files: the media file, the XMPP thumbnail and the thumbnail, which
    // falls back to the XMPP thumbnail or the media file.
    media->mediaFile = resolveMediaPath(media->ZMEDIALOCALPATH, mediaFolder);
    media->xmppThumbnailFile = resolveMediaPath(media->ZXMPPTHUMBPATH, mediaFolder);
    if (!media->ZTHUMBNAILLOCALPATH.isEmpty())
        media->thumbnailFile = resolveMediaPath(media->ZTHUMBNAILLOCALPATH, mediaFolder);
    else if (!media->ZXMPPTHUMBPATH.isEmpty())
        media->thumbnailFile = media->xmppThumbnailFile;
    else
        media->thumbnailFile = media->mediaFile;
    const bool thumbExists = !media->thumbnailFile.isEmpty() && QFileInfo(media->thumbnailFile).isFile();
    if (!thumbExists)
        media->thumbnailFile = media->mediaFile;
    if ((media->mediaFile.isEmpty() || !QFileInfo(media->mediaFile).isFile()) && !media->thumbnailFile.isEmpty() &&
        QFileInfo(media->thumbnailFile).isFile())
        media->mediaFile = media->thumbnailFile;

    readQuote(*media, c, cols, m);
    m.media = media;
}

void IOSWhatsAppDb::readQuote(_MediaItem& media, const Sqlite3Cursor& row, const MediaColumns& cols,
                              const _Message& m)
{
    _QuotedRef& quote = media.quote;
    if (m_hasMetadataColumn) {
        const QByteArray& metadata = media.ZMETADATA;
        if (metadata.isEmpty())
            return;
        if (!isKeyedArchiveMetadata(metadata)) {
            // A recent app's reply metadata; bytes that do not parse are no quote.
            _QuotedRef decoded;
            if (!decodeReplyMetadata(metadata, decoded))
                return;
            quote = decoded;
        } else {
            const PlistCFType archive = PlistCFType::parse(metadata);
            const PlistCFType objects = archive.value(QStringLiteral("$objects"));
            if (objects.type() != PlistCFType::ArrayType || objects.size() < 2)
                return;
            const PlistCFType root = objects.at(1);
            if (root.type() != PlistCFType::DictionaryType)
                return;
            bool zero = false;
            const PlistCFType data = archivedObject(objects, root, "quotedMessageData", &zero);
            if (zero)
                return;
            quote.payload = parseQuotedPayload(data.toBytes());
            const PlistCFType sender = archivedObject(objects, root, "senderJID", &zero);
            if (!zero)
                quote.senderJid = sender.toText();
            quote.stanzaId = archivedObject(objects, root, "stanzaID", &zero).toText();
        }
    } else if (m_hasQuotedDataColumn) {
        const QByteArray data = row.getBlob(cols.quotedData);
        if (data.isEmpty())
            return;
        quote.payload = parseQuotedPayload(data);
        quote.senderJid = row.getText(cols.quotedSender);
        quote.stanzaId = row.getText(cols.quotedStanzaId);
    } else {
        return;
    }
    if (quote.senderJid.isEmpty())
        return;
    _JidName sender;
    sender.jid = quote.senderJid;
    fillJidName(sender, m.session.get());
    quote.senderName = sender.name;
    quote.senderPhone = sender.phone;
    quote.senderPushName = sender.pushName;
}

QString IOSWhatsAppDb::resolveMediaPath(const QString& stored) const
{
    FolderResolver folder(mediaFolder());
    return resolveMediaPath(stored, folder);
}

QString IOSWhatsAppDb::resolveMediaPath(const QString& stored, FolderResolver& folder)
{
    const QString path = folder.pathInside(stored);
    if (path.isEmpty() || QFileInfo(path).isFile())
        return path;
    // The program stores its own copies under an encoded file name.
    const QFileInfo info(path);
    const QString candidate =
        info.absolutePath() + QLatin1Char('/') + percentEncodedFileName(decomposedText(info.fileName()));
    if (candidate != path && QFileInfo(candidate).isFile() && folder.isInside(candidate))
        return candidate;
    return path;
}

const QHash<QString, int>& IOSWhatsAppDb::entityIds()
{
    ensureOpen();
    if (!m_entityIdsRead) {
        Sqlite3Cursor c = m_db.queryThrow("select * from Z_PRIMARYKEY");
        QHash<QString, int> ids;
        while (c.moveNext())
            ids.insert(c.getText(QStringLiteral("Z_NAME")), c.getInt(QStringLiteral("Z_ENT")));
        m_entityIds = ids;
        m_entityIdsRead = true;
    }
    return m_entityIds;
}

int IOSWhatsAppDb::entityId(const QString& name)
{
    return entityIds().value(name, 0);
}

const QHash<QString, qint64>& IOSWhatsAppDb::abUserIdByName()
{
    ensureOpen();
    if (m_abUserIdsRead)
        return m_abUserIdByName;
    m_abUserIdsRead = true;
    if (contactsPath().isEmpty() || m_readOnly || !QFileInfo(contactsPath()).isFile())
        return m_abUserIdByName;
    try {
        Sqlite3DB contacts;
        contacts.openThrow(contactsPath(), SQLITE_OPEN_READWRITE);
        Sqlite3Cursor c = contacts.queryThrow("select ZABUSERID,ZFULLNAME from ZWACONTACT");
        while (c.moveNext())
            m_abUserIdByName.insert(c.getText(QStringLiteral("ZFULLNAME")), c.getInt64(QStringLiteral("ZABUSERID")));
    } catch (const std::exception& e) {
        qDebug("IOSWhatsAppDb::abUserIdByName, read Contacts.sqlite failed. %s", e.what());
    }
    return m_abUserIdByName;
}

QString IOSWhatsAppDb::contactIdentifierFromContactV2Db(const QString& whatsAppId)
{
    ensureOpen();
    if (!m_contactsV2.isOpen())
        return {};
    try {
        // Old stores keep the digits, recent ones the whole JID: try both.
        QStringList ids{whatsAppId};
        const qsizetype at = whatsAppId.indexOf(QLatin1Char('@'));
        if (at < 0 && !whatsAppId.isEmpty())
            ids << whatsAppId + QStringLiteral("@s.whatsapp.net");
        else if (whatsAppId.endsWith(QLatin1String("@s.whatsapp.net"), Qt::CaseInsensitive))
            ids << whatsAppId.left(at);
        for (const QString& id : ids) {
            Sqlite3Sql sql("select ZIDENTIFIER from ZWAADDRESSBOOKCONTACT where ZWHATSAPPID=? limit 1");
            sql.addTextParam(id);
            Sqlite3Cursor c = m_contactsV2.queryThrow(sql);
            if (c.moveNext())
                return c.getText(QStringLiteral("ZIDENTIFIER"));
        }
        return {};
    } catch (const std::exception& e) {
        qDebug("IOSWhatsAppDb::contactIdentifierFromContactV2Db, query contact identifier from ContactsV2.sqlite "
               "failed. %s",
               e.what());
        return {};
    }
}

void IOSWhatsAppDb::deleteChat(qint64 chatId)
{
    ensureOpen();
    if (m_merge)
        m_merge->forgetAfterDeletions();
    m_pageMark.valid = false;
    m_chatSizes.clear();
    const QString c = QString::number(chatId);
    auto run = [&](const QString& sql) { m_db.executeThrow(Sqlite3Sql(sql.arg(c))); };
    const QString ofChat = QStringLiteral("(select Z_PK from ZWAMESSAGE where ZCHATSESSION=%1)");
    if (m_schema.hasTable(QStringLiteral("ZWABROADCAST")))
        run(QStringLiteral("delete from ZWABROADCAST where Z_PK in (select ZBROADCAST from ZWAMESSAGE where "
                           "ZCHATSESSION=%1)"));
    run(QStringLiteral("delete from ZWAMEDIAITEM where ZMESSAGE in ") + ofChat);
    if (m_schema.hasTable(QStringLiteral("ZWAMESSAGEWORD")))
        run(QStringLiteral("delete from ZWAMESSAGEWORD where ZMESSAGE in ") + ofChat);
    // No receipts or parent links may point at the removed rows: SQLite
    // hands their row ids out again, and a later message would inherit them.
    if (m_schema.hasTable(QStringLiteral("ZWAMESSAGEINFO")))
        run(QStringLiteral("delete from ZWAMESSAGEINFO where ZMESSAGE in ") + ofChat);
    if (m_schema.hasColumn(QStringLiteral("ZWAMESSAGE"), QStringLiteral("ZPARENTMESSAGE")))
        run(QStringLiteral("update ZWAMESSAGE set ZPARENTMESSAGE=NULL where ZPARENTMESSAGE in ") + ofChat +
            QStringLiteral(" and (ZCHATSESSION is null or ZCHATSESSION<>%1)"));
    run(QStringLiteral("delete from ZWAMESSAGE where ZCHATSESSION=%1"));
    if (m_schema.hasTable(QStringLiteral("ZWACHATPROPERTIES")))
        run(QStringLiteral("delete from ZWACHATPROPERTIES where ZCHATSESSION=%1"));
    run(QStringLiteral("delete from ZWAGROUPINFO where ZCHATSESSION=%1"));
    run(QStringLiteral("delete from ZWAGROUPMEMBER where ZCHATSESSION=%1"));
    run(QStringLiteral("delete from ZWACHATSESSION where Z_PK=%1"));
}
