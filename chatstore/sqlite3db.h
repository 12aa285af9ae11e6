// A thin layer over SQLite 3 with prepared statements: one connection
// (Sqlite3DB), a statement with its parameters (Sqlite3Sql), a forward-only
// cursor (Sqlite3Cursor), a row to insert (Sqlite3Row) and the column record
// (_SqliteCol). Operations ending in Throw raise Sqlite3Error carrying
// SQLite's own message; exec() never throws. Reading a NULL, or a column the
// result does not have, yields 0 / 0.0 / empty without failing.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QVarLengthArray>
#include <QVariant>

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>
#include <stdexcept>

// SQLite's message, and the file of the database it concerns when known.
class Sqlite3Error : public std::runtime_error {
public:
    explicit Sqlite3Error(const QString& message, const QString& databasePath = {})
        : std::runtime_error(message.toUtf8().toStdString()), m_databasePath(databasePath)
    {
    }
    const QString& databasePath() const { return m_databasePath; }

private:
    QString m_databasePath;
};

struct _SqliteCol {
    QString name;
    QString type;
    bool notNull = false;
    QString defaultValue;
    int primaryKey = 0;  // position in the primary key, 0 when not part of it
};

class Sqlite3Sql {
public:
    enum class ParamKind { Text, Int, Int64, Double, Blob, Null };
    struct Param {
        ParamKind kind = ParamKind::Null;
        QString text;
        qint64 integer = 0;
        double real = 0.0;
        QByteArray blob;
    };

    Sqlite3Sql() = default;
    // A text given as UTF-8 is kept as it is: the statement cache looks it
    // up without converting it twice on every run.
    Sqlite3Sql(const char* sql) : m_utf8(sql) {}
    Sqlite3Sql(const QString& sql) : m_sql(sql) {}

    Sqlite3Sql& addTextParam(const QString& value);
    Sqlite3Sql& addIntParam(int value);
    Sqlite3Sql& addInt64Param(qint64 value);
    Sqlite3Sql& addDoubleParam(double value);
    Sqlite3Sql& addBlobParam(const QByteArray& value);
    Sqlite3Sql& addNullParam();
    Sqlite3Sql& addParam(const Param& param);
    Sqlite3Sql& appendSql(const QString& sql);

    const QString& sql() const
    {
        if (!m_utf8.empty() && m_sql.isEmpty())
            m_sql = QString::fromStdString(m_utf8);
        return m_sql;
    }
    // The text as UTF-8, as SQLite takes it.
    std::string utf8() const { return m_utf8.empty() ? m_sql.toStdString() : m_utf8; }
    // The UTF-8 text without a copy where it is kept as such; otherwise
    // converted into `buffer`, which must outlive the view.
    std::string_view utf8View(std::string& buffer) const
    {
        if (!m_utf8.empty())
            return m_utf8;
        buffer = m_sql.toStdString();
        return buffer;
    }
    // Room for the parameters of most statements in place, so that a
    // statement run costs no allocation for its list.
    static constexpr int kReservedParams = 16;
    using Params = QVarLengthArray<Param, kReservedParams>;
    const Params& params() const { return m_params; }

private:
    mutable QString m_sql;
    std::string m_utf8;  // set when the text was given as UTF-8 and not changed since
    Params m_params;
};

class Sqlite3Cursor {
public:
    Sqlite3Cursor() = default;
    Sqlite3Cursor(Sqlite3Cursor&&) noexcept = default;
    Sqlite3Cursor& operator=(Sqlite3Cursor&&) noexcept = default;
    ~Sqlite3Cursor();

    // True while a row is current; the first call moves to the first row.
    // A step error throws Sqlite3Error.
    bool moveNext();

    QString getText(const QString& column) const;
    int getInt(const QString& column) const;
    qint64 getInt64(const QString& column) const;
    double getDouble(const QString& column) const;
    QByteArray getBlob(const QString& column) const;
    bool isNull(const QString& column) const;
    // The same by the column's position, as columnIndex() found it once for
    // a whole result: readers of many rows skip the name look-up per value.
    // A position outside the result (-1) reads as NULL.
    int columnIndex(const QString& column) const;
    QString getText(int index) const;
    int getInt(int index) const;
    qint64 getInt64(int index) const;
    double getDouble(int index) const;
    QByteArray getBlob(int index) const;
    bool isNull(int index) const;
    // Column names of the result, in order, and their number.
    QStringList columnNames() const;
    int columnCount() const;
    QVariant value(int index) const;

private:
    friend class Sqlite3DB;
    struct Statement;
    explicit Sqlite3Cursor(std::unique_ptr<Statement> stmt);
    bool validIndex(int index) const;

    std::unique_ptr<Statement> m_stmt;
    // Name as spelled and lower-cased -> index (first column wins); made on
    // the first look-up by name, so that writes and reads by position never
    // pay for it.
    mutable QHash<QString, int> m_columns;
    mutable bool m_columnsRead = false;
    bool m_done = false;
};

class Sqlite3DB {
public:
    Sqlite3DB() = default;
    virtual ~Sqlite3DB();
    Sqlite3DB(const Sqlite3DB&) = delete;
    Sqlite3DB& operator=(const Sqlite3DB&) = delete;

    // flags: SQLITE_OPEN_* (2 = read/write, the file must exist;
    // 6 = read/write, created when missing).
    void openThrow(const QString& path, int flags);
    bool isOpen() const { return db != nullptr; }
    void close();
    QString path() const { return m_path; }

    void beginTran();
    void commitTran();
    void rollbackTran();
    bool inTransaction() const;

    void executeThrow(const Sqlite3Sql& sql);
    Sqlite3Cursor queryThrow(const Sqlite3Sql& sql);
    // 0 on success, otherwise SQLite's code with its message in *error.
    int exec(const QString& sql, QString* error = nullptr) noexcept;
    qint64 lastInsertId() const;
    int changes() const;
    QList<_SqliteCol> tbCols(const QString& table);

    // The native handle, for raw calls (scripts, checkpoints, functions).
    sqlite3* db = nullptr;

private:
    sqlite3_stmt* prepareThrow(std::string_view text, struct StatementCache& cache,
                               struct StatementCacheEntry** entry);
    [[noreturn]] void throwLastError(const QString& context = {});
    QString m_path;
    std::shared_ptr<StatementCache> m_cache;  // this connection's prepared statements
};

class Sqlite3Row {
public:
    QVariant& operator[](const QString& column);
    QVariant value(const QString& column) const { return m_values.value(column); }
    bool contains(const QString& column) const { return m_values.contains(column); }
    QStringList columns() const { return m_order; }
    // "insert into table(c1,c2,...) values(?,?,...)" with every set column
    // not in `excluded` (compared without regard to case), in the order the
    // columns were first set.
    Sqlite3Sql insertSql(const QString& table, const QSet<QString>& excluded = {}) const;

private:
    QStringList m_order;
    QHash<QString, QVariant> m_values;
};
