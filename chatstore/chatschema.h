// The schema of a WhatsApp iOS chat database: creating a new one from the
// embedded script, the cache through which readers and writers ask which
// tables, columns and indexes a database has, and the upgrades applied to
// the databases the program owns. Nothing here alters a database unless it
// is asked to create or upgrade it; building the cache only reads.
#pragma once

#include "chatstore/sqlite3db.h"

#include <QHash>
#include <QString>

// Runs the embedded creation script on a new database file: opens `path`
// with create and builds every table, index and entity row. On failure the
// connection is closed, a file this call created is removed, and the error
// (the resource's error text or SQLite's message) is thrown as AppError.
void createDatabase(Sqlite3DB& db, const QString& path);

// An open database without a single table (a file left empty by a process
// that ended while making it) gets the creation script's schema. Returns
// true when it did; throws AppError when the script fails.
bool repairEmptyDatabase(Sqlite3DB& db);

// The schema cache of one open chat database, built from sqlite_master.
// Every question ignores letter case.
class ChatSchema {
public:
    struct Table {
        QString name;
        QString sql;
        QHash<QString, _SqliteCol> columns;  // lower-cased column name -> column
    };

    // Reads the tables, their columns and the indexes of `db` (read only).
    void buildSchemaCache(Sqlite3DB& db);
    void clear();

    bool hasTable(const QString& table) const;
    // False when the table itself is missing.
    bool hasColumn(const QString& table, const QString& column) const;
    // True when the index is known and was created by a statement (automatic
    // indexes have no SQL and do not count).
    bool hasIndex(const QString& index) const;

    const Table* table(const QString& name) const;
    QStringList tableNames() const;

private:
    QHash<QString, Table> m_tables;     // lower-cased table name
    QHash<QString, QString> m_indexes;  // lower-cased index name -> sql
};

// Brings a database the program owns (a local database) up to the columns,
// index and table its readers and writers expect. Each step runs only when
// its condition holds; a failing step throws AppError with the text
// "line:<step>, sql:<statement>, error:<SQLite message>" and leaves the
// steps already run in place. When any step ran, `schema` is rebuilt.
// Returns the number of steps run. Never call it on a phone's or a backup's
// database.
int applyUpgrades(Sqlite3DB& db, ChatSchema& schema);
