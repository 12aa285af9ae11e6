#include "chatstore/sqlite3db.h"

#include <QStringEncoder>
#include <QStringList>

#include <algorithm>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

// The error carries the path on its own; the text names no file, so that
// the text the user reads can put the file where it belongs.
QString movedText()
{
    return QStringLiteral("disk I/O error: the file was moved or deleted while it was open");
}

}  // namespace

// Prepared statements are kept per connection and reused by SQL text: the
// merge writer runs the same few statements hundreds of thousands of times.
// The cache is bounded: texts longer than kMaxCachedSql (one-off statements
// with values written into their text) are never kept, and beyond kMaxTexts
// distinct texts the least recently used one that no cursor holds is
// finalized, so that a long job that builds statements with changing texts
// does not grow the memory. A cursor keeps the entry it took its statement
// from (entries stay put in the map), so that giving the statement back
// costs no second look-up of the text.
struct StatementCacheEntry {
    std::vector<sqlite3_stmt*> statements;
    quint64 lastUse = 0;
    int taken = 0;  // statements of this text held by cursors
};

struct StatementCache {
    static constexpr size_t kMaxTexts = 64;
    static constexpr size_t kMaxCachedSql = 2048;
    using Entry = StatementCacheEntry;
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    sqlite3* db = nullptr;
    std::unordered_map<std::string, Entry, TextHash, std::equal_to<>> idle;
    quint64 clock = 0;

    ~StatementCache() { clear(); }
    void clear()
    {
        for (auto& [sql, entry] : idle) {
            for (sqlite3_stmt* s : entry.statements)
                sqlite3_finalize(s);
            entry.statements.clear();
        }
        // Entries that cursors still point to stay until they come back.
        std::erase_if(idle, [](const auto& item) { return item.second.taken == 0; });
    }
    // An idle statement of the text, or null; *entry is where it goes back
    // (null for a text that is not kept).
    sqlite3_stmt* take(std::string_view sql, Entry** entry)
    {
        *entry = nullptr;
        if (sql.size() > kMaxCachedSql)
            return nullptr;
        auto it = idle.find(sql);
        if (it == idle.end()) {
            if (idle.size() >= kMaxTexts)
                evictOldest();
            it = idle.emplace(std::string(sql), Entry{}).first;
        }
        Entry& e = it->second;
        e.lastUse = ++clock;
        ++e.taken;
        *entry = &e;
        if (e.statements.empty())
            return nullptr;
        sqlite3_stmt* stmt = e.statements.back();
        e.statements.pop_back();
        return stmt;
    }
    void release(Entry* entry, sqlite3_stmt* stmt)
    {
        if (entry)
            --entry->taken;
        if (!entry || !db || sqlite3_db_handle(stmt) != db) {
            sqlite3_finalize(stmt);
            return;
        }
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        entry->lastUse = ++clock;
        if (entry->statements.size() < 4)
            entry->statements.push_back(stmt);
        else
            sqlite3_finalize(stmt);
    }
    void evictOldest()
    {
        auto oldest = idle.end();
        for (auto it = idle.begin(); it != idle.end(); ++it)
            if (it->second.taken == 0 && (oldest == idle.end() || it->second.lastUse < oldest->second.lastUse))
                oldest = it;
        if (oldest == idle.end())
            return;
        for (sqlite3_stmt* s : oldest->second.statements)
            sqlite3_finalize(s);
        idle.erase(oldest);
    }
};

namespace {

std::unordered_map<sqlite3*, std::shared_ptr<StatementCache>>& caches()
{
    // One cache per open connection; a connection is used by one thread at a
    // time, and open/close happen on that thread, but the map itself is
    // shared, so guard it.
    static std::unordered_map<sqlite3*, std::shared_ptr<StatementCache>> map;
    return map;
}
std::mutex& cachesMutex()
{
    static std::mutex m;
    return m;
}

std::shared_ptr<StatementCache> cacheFor(sqlite3* db)
{
    std::lock_guard<std::mutex> lock(cachesMutex());
    auto& slot = caches()[db];
    if (!slot) {
        slot = std::make_shared<StatementCache>();
        slot->db = db;
    }
    return slot;
}

void dropCache(sqlite3* db)
{
    std::shared_ptr<StatementCache> cache;
    {
        std::lock_guard<std::mutex> lock(cachesMutex());
        auto it = caches().find(db);
        if (it == caches().end())
            return;
        cache = it->second;
        caches().erase(it);
    }
    cache->clear();
    cache->db = nullptr;  // statements still held by cursors are finalized on release
}

// Texts are bound from `texts`, one buffer for all of them that the caller
// keeps until the statement's bindings are cleared: SQLite reads them where
// they are instead of copying each. They are encoded as QString::toUtf8
// encodes them; a text with a lone surrogate, which the encoder would write
// differently, takes that route.
void bindParams(sqlite3_stmt* stmt, const Sqlite3Sql& sql, std::unique_ptr<char[]>& texts)
{
    qsizetype room = 0;
    for (const auto& p : sql.params())
        if (p.kind == Sqlite3Sql::ParamKind::Text)
            room += p.text.size() * 3;
    if (room > 0)
        texts = std::make_unique_for_overwrite<char[]>(size_t(room));
    char* next = texts.get();
    int i = 1;
    for (const auto& p : sql.params()) {
        switch (p.kind) {
        case Sqlite3Sql::ParamKind::Text: {
            if (p.text.isEmpty()) {
                sqlite3_bind_text(stmt, i, "", 0, SQLITE_STATIC);
                break;
            }
            QStringEncoder encoder(QStringEncoder::Utf8, QStringConverter::Flag::Stateless);
            char* end = encoder.appendToBuffer(next, p.text);
            if (encoder.hasError()) {
                const QByteArray utf8 = p.text.toUtf8();
                sqlite3_bind_text(stmt, i, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
                break;
            }
            sqlite3_bind_text(stmt, i, next, int(end - next), SQLITE_STATIC);
            next = end;
            break;
        }
        case Sqlite3Sql::ParamKind::Int:
        case Sqlite3Sql::ParamKind::Int64:
            sqlite3_bind_int64(stmt, i, p.integer);
            break;
        case Sqlite3Sql::ParamKind::Double:
            sqlite3_bind_double(stmt, i, p.real);
            break;
        case Sqlite3Sql::ParamKind::Blob:
            // A null QByteArray binds as an empty blob, not as NULL.
            sqlite3_bind_blob(stmt, i, p.blob.isNull() ? "" : p.blob.constData(), int(p.blob.size()),
                              SQLITE_TRANSIENT);
            break;
        case Sqlite3Sql::ParamKind::Null:
            sqlite3_bind_null(stmt, i);
            break;
        }
        ++i;
    }
}

}  // namespace

// ---- Sqlite3Sql ------------------------------------------------------------

Sqlite3Sql& Sqlite3Sql::addTextParam(const QString& value)
{
    Param p;
    p.kind = ParamKind::Text;
    p.text = value;
    m_params.append(p);
    return *this;
}

Sqlite3Sql& Sqlite3Sql::addIntParam(int value)
{
    Param p;
    p.kind = ParamKind::Int;
    p.integer = value;
    m_params.append(p);
    return *this;
}

Sqlite3Sql& Sqlite3Sql::addInt64Param(qint64 value)
{
    Param p;
    p.kind = ParamKind::Int64;
    p.integer = value;
    m_params.append(p);
    return *this;
}

Sqlite3Sql& Sqlite3Sql::addDoubleParam(double value)
{
    Param p;
    p.kind = ParamKind::Double;
    p.real = value;
    m_params.append(p);
    return *this;
}

Sqlite3Sql& Sqlite3Sql::addBlobParam(const QByteArray& value)
{
    Param p;
    p.kind = ParamKind::Blob;
    p.blob = value;
    m_params.append(p);
    return *this;
}

Sqlite3Sql& Sqlite3Sql::addNullParam()
{
    m_params.append(Param{});
    return *this;
}

Sqlite3Sql& Sqlite3Sql::addParam(const Param& param)
{
    m_params.append(param);
    return *this;
}

Sqlite3Sql& Sqlite3Sql::appendSql(const QString& sql)
{
    m_sql = this->sql() + sql;
    m_utf8.clear();
    return *this;
}

// ---- Sqlite3Cursor ---------------------------------------------------------

struct Sqlite3Cursor::Statement {
    sqlite3_stmt* stmt = nullptr;
    StatementCache::Entry* entry = nullptr;  // where the statement goes back, if its text is kept
    std::shared_ptr<StatementCache> cache;
    // The bound texts: released only after the bindings are cleared (the
    // destructor's body runs before members go).
    std::unique_ptr<char[]> texts;
    ~Statement()
    {
        if (!stmt)
            return;
        if (cache)
            cache->release(entry, stmt);
        else
            sqlite3_finalize(stmt);
    }
};

Sqlite3Cursor::Sqlite3Cursor(std::unique_ptr<Statement> stmt) : m_stmt(std::move(stmt)) {}

Sqlite3Cursor::~Sqlite3Cursor() = default;

namespace {

// SQLite's message, except for a file that was deleted or replaced under
// the open connection, which SQLite reports as a read-only database.
QString errorMessage(sqlite3* handle)
{
    if (sqlite3_extended_errcode(handle) == SQLITE_READONLY_DBMOVED)
        return movedText();
    return QString::fromUtf8(sqlite3_errmsg(handle));
}

}  // namespace

bool Sqlite3Cursor::moveNext()
{
    if (!m_stmt || m_done)
        return false;
    int rc = sqlite3_step(m_stmt->stmt);
    if (rc == SQLITE_ROW)
        return true;
    m_done = true;
    if (rc == SQLITE_DONE)
        return false;
    sqlite3* handle = sqlite3_db_handle(m_stmt->stmt);
    const char* file = sqlite3_db_filename(handle, "main");
    const QString path = file ? QString::fromUtf8(file) : QString();
    throw Sqlite3Error(errorMessage(handle), path);
}

int Sqlite3Cursor::columnIndex(const QString& column) const
{
    if (!m_columnsRead && m_stmt) {
        // Each name is kept as the result spells it and in lower case:
        // callers mostly ask with the result's own spelling, found without
        // converting.
        m_columnsRead = true;
        const int n = sqlite3_column_count(m_stmt->stmt);
        for (int i = 0; i < n; ++i) {
            const QString name = QString::fromUtf8(sqlite3_column_name(m_stmt->stmt, i));
            const QString lower = name.toLower();
            if (!m_columns.contains(lower))
                m_columns.insert(lower, i);
            if (!m_columns.contains(name))
                m_columns.insert(name, i);
        }
    }
    auto it = m_columns.constFind(column);
    if (it == m_columns.constEnd())
        it = m_columns.constFind(column.toLower());
    return it == m_columns.constEnd() ? -1 : it.value();
}

bool Sqlite3Cursor::validIndex(int index) const
{
    return m_stmt && index >= 0 && index < sqlite3_column_count(m_stmt->stmt);
}

QString Sqlite3Cursor::getText(int index) const
{
    if (!validIndex(index))
        return {};
    const unsigned char* text = sqlite3_column_text(m_stmt->stmt, index);
    if (!text)
        return {};
    return QString::fromUtf8(reinterpret_cast<const char*>(text), sqlite3_column_bytes(m_stmt->stmt, index));
}

int Sqlite3Cursor::getInt(int index) const
{
    return validIndex(index) ? sqlite3_column_int(m_stmt->stmt, index) : 0;
}

qint64 Sqlite3Cursor::getInt64(int index) const
{
    return validIndex(index) ? sqlite3_column_int64(m_stmt->stmt, index) : 0;
}

double Sqlite3Cursor::getDouble(int index) const
{
    return validIndex(index) ? sqlite3_column_double(m_stmt->stmt, index) : 0.0;
}

QByteArray Sqlite3Cursor::getBlob(int index) const
{
    if (!validIndex(index))
        return {};
    const void* data = sqlite3_column_blob(m_stmt->stmt, index);
    int size = sqlite3_column_bytes(m_stmt->stmt, index);
    if (!data || size <= 0)
        return {};
    return QByteArray(static_cast<const char*>(data), size);
}

bool Sqlite3Cursor::isNull(int index) const
{
    return !validIndex(index) || sqlite3_column_type(m_stmt->stmt, index) == SQLITE_NULL;
}

QString Sqlite3Cursor::getText(const QString& column) const { return getText(columnIndex(column)); }
int Sqlite3Cursor::getInt(const QString& column) const { return getInt(columnIndex(column)); }
qint64 Sqlite3Cursor::getInt64(const QString& column) const { return getInt64(columnIndex(column)); }
double Sqlite3Cursor::getDouble(const QString& column) const { return getDouble(columnIndex(column)); }
QByteArray Sqlite3Cursor::getBlob(const QString& column) const { return getBlob(columnIndex(column)); }
bool Sqlite3Cursor::isNull(const QString& column) const { return isNull(columnIndex(column)); }

int Sqlite3Cursor::columnCount() const { return m_stmt ? sqlite3_column_count(m_stmt->stmt) : 0; }

QStringList Sqlite3Cursor::columnNames() const
{
    QStringList names;
    if (!m_stmt)
        return names;
    int n = sqlite3_column_count(m_stmt->stmt);
    for (int i = 0; i < n; ++i)
        names << QString::fromUtf8(sqlite3_column_name(m_stmt->stmt, i));
    return names;
}

QVariant Sqlite3Cursor::value(int index) const
{
    if (!m_stmt || index < 0 || index >= sqlite3_column_count(m_stmt->stmt))
        return {};
    sqlite3_stmt* s = m_stmt->stmt;
    switch (sqlite3_column_type(s, index)) {
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(s, index)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(s, index));
    case SQLITE_TEXT:
        return QVariant(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, index)),
                                          sqlite3_column_bytes(s, index)));
    case SQLITE_BLOB: {
        const void* data = sqlite3_column_blob(s, index);
        return QVariant(QByteArray(static_cast<const char*>(data), sqlite3_column_bytes(s, index)));
    }
    default:
        return {};
    }
}

// ---- Sqlite3DB -------------------------------------------------------------

Sqlite3DB::~Sqlite3DB() { close(); }

void Sqlite3DB::openThrow(const QString& path, int flags)
{
    close();
    sqlite3* handle = nullptr;
    int rc = sqlite3_open_v2(path.toUtf8().constData(), &handle, flags, nullptr);
    if (rc != SQLITE_OK) {
        QString message = handle ? QString::fromUtf8(sqlite3_errmsg(handle)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close_v2(handle);
        throw Sqlite3Error(message, path);
    }
    db = handle;
    m_path = path;
    sqlite3_busy_timeout(db, 5000);
    sqlite3_extended_result_codes(db, 0);
}

void Sqlite3DB::close()
{
    if (!db)
        return;
    m_cache.reset();
    dropCache(db);
    sqlite3_close_v2(db);
    db = nullptr;
    m_path.clear();
}

void Sqlite3DB::beginTran() { executeThrow("BEGIN IMMEDIATE"); }
void Sqlite3DB::commitTran()
{
    // A file deleted or replaced while it is open takes the commit with it:
    // SQLite would write into the removed file and report success.
    int moved = 0;
    if (db && sqlite3_file_control(db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved)
        throw Sqlite3Error(movedText(), m_path);
    executeThrow("COMMIT");
}
void Sqlite3DB::rollbackTran()
{
    if (inTransaction())
        executeThrow("ROLLBACK");
}

bool Sqlite3DB::inTransaction() const { return db && sqlite3_get_autocommit(db) == 0; }

sqlite3_stmt* Sqlite3DB::prepareThrow(std::string_view text, StatementCache& cache, StatementCacheEntry** entry)
{
    if (sqlite3_stmt* stmt = cache.take(text, entry))
        return stmt;
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, text.data(), int(text.size()), &stmt, nullptr);
    if (rc != SQLITE_OK || !stmt) {
        if (stmt)
            sqlite3_finalize(stmt);
        if (*entry)
            --(*entry)->taken;
        throwLastError();
    }
    return stmt;
}

void Sqlite3DB::throwLastError(const QString& context)
{
    QString message = db ? errorMessage(db) : QStringLiteral("database is not open");
    if (!context.isEmpty())
        message = context + message;
    throw Sqlite3Error(message, m_path);
}

void Sqlite3DB::executeThrow(const Sqlite3Sql& sql)
{
    Sqlite3Cursor cursor = queryThrow(sql);
    while (cursor.moveNext()) {
    }
}

Sqlite3Cursor Sqlite3DB::queryThrow(const Sqlite3Sql& sql)
{
    if (!db)
        throw Sqlite3Error(QStringLiteral("database is not open"));
    // The cache is looked up once per statement run; a text given as UTF-8
    // is not copied.
    std::string converted;
    const std::string_view text = sql.utf8View(converted);
    if (!m_cache)
        m_cache = cacheFor(db);
    StatementCache::Entry* entry = nullptr;
    sqlite3_stmt* stmt = prepareThrow(text, *m_cache, &entry);
    auto holder = std::make_unique<Sqlite3Cursor::Statement>();
    holder->stmt = stmt;
    holder->entry = entry;
    holder->cache = m_cache;
    bindParams(stmt, sql, holder->texts);
    return Sqlite3Cursor(std::move(holder));
}

int Sqlite3DB::exec(const QString& sql, QString* error) noexcept
{
    if (!db) {
        if (error)
            *error = QStringLiteral("database is not open");
        return SQLITE_MISUSE;
    }
    char* message = nullptr;
    int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK && error)
        *error = message ? QString::fromUtf8(message) : QString::fromUtf8(sqlite3_errstr(rc));
    sqlite3_free(message);
    return rc;
}

qint64 Sqlite3DB::lastInsertId() const { return db ? sqlite3_last_insert_rowid(db) : 0; }
int Sqlite3DB::changes() const { return db ? sqlite3_changes(db) : 0; }

QList<_SqliteCol> Sqlite3DB::tbCols(const QString& table)
{
    QList<_SqliteCol> cols;
    QString quoted = table;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    Sqlite3Cursor c = queryThrow(Sqlite3Sql(QStringLiteral("PRAGMA table_info(\"%1\")").arg(quoted)));
    while (c.moveNext()) {
        _SqliteCol col;
        col.name = c.getText(QStringLiteral("name"));
        col.type = c.getText(QStringLiteral("type"));
        col.notNull = c.getInt(QStringLiteral("notnull")) != 0;
        col.defaultValue = c.getText(QStringLiteral("dflt_value"));
        col.primaryKey = c.getInt(QStringLiteral("pk"));
        cols.append(col);
    }
    return cols;
}

// ---- Sqlite3Row ------------------------------------------------------------

QVariant& Sqlite3Row::operator[](const QString& column)
{
    if (!m_values.contains(column))
        m_order.append(column);
    return m_values[column];
}

Sqlite3Sql Sqlite3Row::insertSql(const QString& table, const QSet<QString>& excluded) const
{
    QSet<QString> lowerExcluded;
    for (const QString& e : excluded)
        lowerExcluded.insert(e.toLower());
    QStringList names;
    for (const QString& column : m_order)
        if (!lowerExcluded.contains(column.toLower()))
            names << column;
    QStringList marks(names.size(), QStringLiteral("?"));
    Sqlite3Sql sql(QStringLiteral("insert into %1(%2) values(%3)")
                       .arg(table, names.join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
    for (const QString& column : names) {
        const QVariant& v = m_values[column];
        switch (v.isNull() ? QMetaType::UnknownType : v.typeId()) {
        case QMetaType::UnknownType:
            sql.addNullParam();
            break;
        case QMetaType::QByteArray:
            sql.addBlobParam(v.toByteArray());
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            sql.addDoubleParam(v.toDouble());
            break;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Bool:
            sql.addInt64Param(v.toLongLong());
            break;
        default:
            sql.addTextParam(v.toString());
        }
    }
    return sql;
}
