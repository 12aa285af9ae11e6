#include "chatstore/chatschema.h"

#include "base/apperror.h"
#include "chatstore/sqlite3db.h"

#include <QFile>
#include <QFileInfo>
#include <QtDebug>

namespace {

const char* const kCreationScript = ":res/ios_whatsapp_db.sql";

}  // namespace

namespace {

QByteArray creationScript()
{
    QFile script(QString::fromLatin1(kCreationScript));
    if (!script.open(QIODevice::ReadOnly))
        throw AppError(script.errorString());
    return script.readAll();
}

// The whole script in one transaction, so that a failure leaves no
// half-made schema behind that a later open would take for a database.
// Returns the error text, empty on success.
QString runCreationScript(Sqlite3DB& db, const QByteArray& text)
{
    const QByteArray wrapped = "BEGIN;\n" + text + "\nCOMMIT;\n";
    char* message = nullptr;
    const int rc = sqlite3_exec(db.db, wrapped.constData(), nullptr, nullptr, &message);
    if (rc == SQLITE_OK)
        return {};
    const QString error = message ? QString::fromUtf8(message) : QString::fromUtf8(sqlite3_errstr(rc));
    sqlite3_free(message);
    db.exec(QStringLiteral("ROLLBACK;"));
    return error;
}

}  // namespace

void createDatabase(Sqlite3DB& db, const QString& path)
{
    const QByteArray text = creationScript();
    const bool existed = QFileInfo::exists(path);
    db.openThrow(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    const QString error = runCreationScript(db, text);
    if (!error.isEmpty()) {
        db.close();
        if (!existed)
            QFile::remove(path);
        throw AppError(error);
    }
}

bool repairEmptyDatabase(Sqlite3DB& db)
{
    {
        Sqlite3Cursor c = db.queryThrow("select count(*) from sqlite_master");
        if (!c.moveNext() || c.getInt64(0) != 0)
            return false;
    }
    const QString error = runCreationScript(db, creationScript());
    if (!error.isEmpty())
        throw AppError(error);
    return true;
}

void ChatSchema::clear()
{
    m_tables.clear();
    m_indexes.clear();
}

void ChatSchema::buildSchemaCache(Sqlite3DB& db)
{
    clear();
    QList<Table> tables;
    {
        Sqlite3Cursor c = db.queryThrow("select type, name, tbl_name, sql from sqlite_master");
        while (c.moveNext()) {
            const QString type = c.getText(QStringLiteral("type"));
            if (type == QLatin1String("table")) {
                Table t;
                t.name = c.getText(QStringLiteral("tbl_name"));
                t.sql = c.getText(QStringLiteral("sql"));
                tables.append(t);
            } else if (type == QLatin1String("index")) {
                m_indexes.insert(c.getText(QStringLiteral("name")).toLower(), c.getText(QStringLiteral("sql")));
            }
        }
    }
    for (Table& t : tables) {
        for (const _SqliteCol& col : db.tbCols(t.name))
            t.columns.insert(col.name.toLower(), col);
        m_tables.insert(t.name.toLower(), t);
    }
}

bool ChatSchema::hasTable(const QString& table) const
{
    return m_tables.contains(table.toLower());
}

bool ChatSchema::hasColumn(const QString& table, const QString& column) const
{
    auto it = m_tables.constFind(table.toLower());
    return it != m_tables.constEnd() && it->columns.contains(column.toLower());
}

bool ChatSchema::hasIndex(const QString& index) const
{
    auto it = m_indexes.constFind(index.toLower());
    return it != m_indexes.constEnd() && !it->isEmpty();
}

const ChatSchema::Table* ChatSchema::table(const QString& name) const
{
    auto it = m_tables.constFind(name.toLower());
    return it == m_tables.constEnd() ? nullptr : &*it;
}

QStringList ChatSchema::tableNames() const
{
    QStringList names;
    for (const Table& t : m_tables)
        names.append(t.name);
    names.sort();
    return names;
}

int applyUpgrades(Sqlite3DB& db, ChatSchema& schema)
{
    int ran = 0;
    auto step = [&](int line, const char* sql) {
        QString error;
        const QString text = QString::fromLatin1(sql);
        if (db.exec(text, &error) != 0) {
            // The statement is for the log; the user reads which file
            // failed and why.
            qWarning("Upgrading %s failed at step %d (%s): %s", qUtf8Printable(db.path()), line, sql,
                     qUtf8Printable(error));
            throw Sqlite3Error(error, db.path());
        }
        ++ran;
    };

    if (!schema.hasColumn(QStringLiteral("ZWAMESSAGE"), QStringLiteral("ZFILTEREDRECIPIENTCOUNT")))
        step(561, "ALTER TABLE ZWAMESSAGE ADD COLUMN ZFILTEREDRECIPIENTCOUNT INTEGER;");
    if (!schema.hasColumn(QStringLiteral("ZWAMESSAGE"), QStringLiteral("ZPARENTMESSAGE")))
        step(565, "ALTER TABLE ZWAMESSAGE ADD COLUMN ZPARENTMESSAGE INTEGER;");
    if (!schema.hasColumn(QStringLiteral("ZWAMEDIAITEM"), QStringLiteral("QM_QUOTED_SENDER")))
        step(569, "ALTER TABLE ZWAMEDIAITEM ADD COLUMN QM_QUOTED_SENDER TEXT;");
    if (!schema.hasColumn(QStringLiteral("ZWAMEDIAITEM"), QStringLiteral("QM_QUOTED_DATA")))
        step(573, "ALTER TABLE ZWAMEDIAITEM ADD COLUMN QM_QUOTED_DATA BLOB;");
    if (!schema.hasColumn(QStringLiteral("ZWAMEDIAITEM"), QStringLiteral("QM_QUOTED_STANZAID")))
        step(577, "ALTER TABLE ZWAMEDIAITEM ADD COLUMN QM_QUOTED_STANZAID TEXT;");
    if (!schema.hasColumn(QStringLiteral("ZWAMESSAGE"), QStringLiteral("ZSTARRED")))
        step(581, "ALTER TABLE ZWAMESSAGE ADD COLUMN ZSTARRED INTEGER;");
    if (!schema.hasIndex(QStringLiteral("Z_WAMessage_messageDate")))
        step(585, "CREATE INDEX Z_WAMessage_messageDate ON ZWAMESSAGE (ZMESSAGEDATE COLLATE BINARY ASC);");
    if (!schema.hasTable(QStringLiteral("ZWAMESSAGEINFO"))) {
        step(589, "CREATE TABLE ZWAMESSAGEINFO ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZMESSAGE INTEGER, ZRECEIPTINFO BLOB );");
        step(590, "CREATE INDEX ZWAMESSAGEINFO_ZMESSAGE_INDEX ON ZWAMESSAGEINFO (ZMESSAGE);");
        step(591, "INSERT INTO Z_PRIMARYKEY(Z_ENT, Z_NAME, Z_SUPER, Z_MAX) VALUES(11, 'WAMessageInfo', 0, 0);");
    }
    // The program's own: a media item's metadata bytes as a phone stored
    // them (a local database has no ZMETADATA), and what the merged rows
    // tell about the people behind @lid JIDs.
    if (!schema.hasColumn(QStringLiteral("ZWAMEDIAITEM"), QStringLiteral("QM_METADATA")))
        step(595, "ALTER TABLE ZWAMEDIAITEM ADD COLUMN QM_METADATA BLOB;");
    if (!schema.hasTable(QStringLiteral("QM_LIDMAP")))
        step(599, "CREATE TABLE QM_LIDMAP ( ZLID TEXT PRIMARY KEY, ZPHONE TEXT, ZPUSHNAME TEXT );");
    // Recent phones name the contact behind a chat in its own column (for
    // an @lid chat the phone's JID); kept so that it reaches a phone again.
    if (!schema.hasColumn(QStringLiteral("ZWACHATSESSION"), QStringLiteral("ZCONTACTIDENTIFIER")))
        step(603, "ALTER TABLE ZWACHATSESSION ADD COLUMN ZCONTACTIDENTIFIER VARCHAR;");

    if (ran > 0)
        schema.buildSchemaCache(db);
    return ran;
}
