#include "chatstore/ioswaftsdb.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QtDebug>

#include <unicode/ubrk.h>
#include <unicode/utypes.h>

#include <memory>

namespace {

// Reads the module pointer of a tokenizer registered under `name`; null
// when there is none or the call is not allowed.
const void* tokenizerModule(sqlite3* db, const char* name)
{
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT fts3_tokenizer(?)", -1, &st, nullptr) != SQLITE_OK)
        return nullptr;
    sqlite3_bind_text(st, 1, name, -1, SQLITE_STATIC);
    const void* module = nullptr;
    if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_bytes(st, 0) == int(sizeof(void*)))
        module = *static_cast<const void* const*>(sqlite3_column_blob(st, 0));
    sqlite3_finalize(st);
    return module;
}

}  // namespace

bool IOSWaFtsDb::registerTokenizer(sqlite3* db)
{
    // The two-argument form of fts3_tokenizer is off by default; it is
    // allowed on this connection only, and SQLite keeps it out of reach of
    // triggers and views stored in the file.
    int enabled = 0;
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER, 1, &enabled);
    const void* simple = tokenizerModule(db, "simple");
    if (!simple)
        return false;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT fts3_tokenizer(?, ?)", -1, &st, nullptr) != SQLITE_OK)
        return false;
    sqlite3_bind_text(st, 1, "wa_tokenizer", -1, SQLITE_STATIC);
    sqlite3_bind_blob(st, 2, &simple, int(sizeof(simple)), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(st);
    sqlite3_finalize(st);
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

bool IOSWaFtsDb::checkTables()
{
    Sqlite3Cursor c = queryThrow(Sqlite3Sql("select name, lower(sql) as sql from sqlite_master where type='table' "
                                            "and name in ('docs','metadata')"));
    bool docs = false, metadata = false;
    while (c.moveNext()) {
        const QString sql = c.getText(QStringLiteral("sql")).simplified();
        if (c.getText(QStringLiteral("name")) == QLatin1String("metadata"))
            metadata = true;
        else
            docs = (sql.contains(QLatin1String("using fts3")) || sql.contains(QLatin1String("using fts4")))
                && sql.contains(QLatin1String("wa_tokenizer"));
    }
    if (!docs)
        qDebug().noquote() << QStringLiteral("error: IOSFtsDb::openCheck, %1: docs is not an FTS3/FTS4 table over "
                                             "wa_tokenizer")
                                  .arg(m_searchPath);
    if (!metadata)
        qDebug().noquote() << QStringLiteral("error: IOSFtsDb::openCheck, %1: no metadata table").arg(m_searchPath);
    return docs && metadata;
}

bool IOSWaFtsDb::openCheck()
{
    if (isOpen())
        return true;
    if (!QFileInfo(m_searchPath).isFile())
        return false;
    try {
        openThrow(m_searchPath, SQLITE_OPEN_READWRITE);
        if (!registerTokenizer(db))
            qDebug().noquote() << QStringLiteral("error: IOSFtsDb::openCheck, %1: wa_tokenizer could not be "
                                                 "registered")
                                      .arg(m_searchPath);
        if (!checkTables()) {
            close();
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        qDebug().noquote() << QStringLiteral("error: IOSFtsDb::openCheck, %1").arg(QString::fromUtf8(e.what()));
        close();
        return false;
    }
}

QStringList IOSWaFtsDb::words(const QString& text)
{
    QStringList out;
    if (text.isEmpty())
        return out;
    UErrorCode status = U_ZERO_ERROR;
    const auto* utf16 = reinterpret_cast<const UChar*>(text.utf16());
    std::unique_ptr<UBreakIterator, void (*)(UBreakIterator*)> it(
        ubrk_open(UBRK_WORD, "", utf16, int32_t(text.size()), &status), ubrk_close);
    if (U_FAILURE(status) || !it)
        return text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    int32_t start = ubrk_first(it.get());
    for (int32_t end = ubrk_next(it.get()); end != UBRK_DONE; start = end, end = ubrk_next(it.get())) {
        const QString segment = text.mid(start, end - start);
        if (segment.size() == 1 && segment.at(0).isSpace())
            continue;
        out << segment;
    }
    return out;
}

QString IOSWaFtsDb::contentsOf(const QString& text)
{
    const QStringList w = words(text);
    QStringList parts;
    parts.reserve(w.size());
    for (qsizetype i = 0; i < w.size(); ++i)
        parts << (w.at(i).size() == 1 && i + 1 < w.size() ? w.at(i) + w.at(i + 1) : w.at(i));
    return parts.join(QLatin1Char(' '));
}

qint64 IOSWaFtsDb::insertDoc(const QString& chatJid, const QString& text, double coreDataDate)
{
    if (!openCheck())
        return 0;
    try {
        executeThrow(Sqlite3Sql("insert into docs(messageID,chatSession,contents) values(?,?,?)")
                         .addNullParam()
                         .addTextParam(chatJid)
                         .addTextParam(contentsOf(text)));
        const qint64 id = lastInsertId();
        executeThrow(Sqlite3Sql("insert into metadata(docID,date,score) values(?,?,1)")
                         .addInt64Param(id)
                         .addDoubleParam(coreDataDate));
        return id;
    } catch (const std::exception& e) {
        qDebug().noquote() << QStringLiteral("error: IOSFtsDb::insertDoc, %1").arg(QString::fromUtf8(e.what()));
        return 0;
    }
}
