#include "chatstore/chatdberrortext.h"
#include "chatstore/chatschema.h"

#include "base/apperror.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray fileHash(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
}

QStringList primaryKeyRows(Sqlite3DB& db)
{
    QStringList rows;
    Sqlite3Cursor c = db.queryThrow("select Z_ENT, Z_NAME, Z_SUPER, Z_MAX from Z_PRIMARYKEY order by Z_ENT");
    while (c.moveNext())
        rows << QStringLiteral("%1 %2 %3 %4")
                    .arg(c.getInt64("Z_ENT"))
                    .arg(c.getText("Z_NAME"))
                    .arg(c.getInt64("Z_SUPER"))
                    .arg(c.getInt64("Z_MAX"));
    return rows;
}

}  // namespace

TEST(ChatSchema, CreatedDatabaseHasTheTablesIndexesAndEntities)
{
    QTemporaryDir dir;
    Sqlite3DB db;
    createDatabase(db, dir.filePath("ChatStorage.sqlite"));
    ChatSchema schema;
    schema.buildSchemaCache(db);

    EXPECT_EQ(schema.tableNames(),
              QStringList({"ZWABLACKLISTITEM", "ZWABROADCAST", "ZWACHATPROPERTIES", "ZWACHATSESSION",
                           "ZWAGROUPINFO", "ZWAGROUPMEMBER", "ZWAMEDIAITEM", "ZWAMESSAGE", "ZWAMESSAGEWORD",
                           "Z_METADATA", "Z_PRIMARYKEY"}));
    ASSERT_NE(schema.table("zwamediaitem"), nullptr);
    EXPECT_EQ(schema.table("ZWAMEDIAITEM")->columns.size(), 22);
    EXPECT_EQ(schema.table("ZWAMEDIAITEM")->columns.value("zthumbnaildata").type, "BLOB");
    EXPECT_EQ(schema.table("ZWAMESSAGE")->columns.size(), 20);

    for (const char* index : {"ZWAMESSAGE_ZSORT_INDEX", "ZWAMESSAGE_ZMEDIAITEM_INDEX", "ZWAMESSAGEWORD_ZWORD_INDEX",
                              "ZWACHATSESSION_ZPROPERTIES_INDEX", "ZWAGROUPMEMBER_ZRECENTGROUPCHAT_INDEX",
                              "ZWACHATPROPERTIES_ZCHATSESSION_INDEX"})
        EXPECT_TRUE(schema.hasIndex(index)) << index;

    EXPECT_EQ(primaryKeyRows(db),
              QStringList({"1 WABlackListItem 0 0", "2 WABroadcast 0 1", "3 WAChatProperties 0 0",
                           "4 WAChatSession 0 5", "5 WAGroupInfo 0 1", "6 WAGroupMember 0 3", "7 WAMediaItem 0 12",
                           "8 WAMessage 0 41", "9 WAMessageWord 0 231"}));
    Sqlite3Cursor meta = db.queryThrow("select count(*) from Z_METADATA");
    ASSERT_TRUE(meta.moveNext());
    EXPECT_EQ(meta.getInt64(0), 0);
}

TEST(ChatSchema, QuestionsIgnoreCaseAndAutomaticIndexesDoNotCount)
{
    QTemporaryDir dir;
    Sqlite3DB db;
    db.openThrow(dir.filePath("t.sqlite"), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.executeThrow("create table ZWAMessage(Z_PK integer primary key, ZText varchar unique)");
    db.executeThrow("create index Z_WAMessage_messageDate on ZWAMessage(ZText)");
    ChatSchema schema;
    schema.buildSchemaCache(db);

    struct Case { const char* table; const char* column; bool table_exists; bool column_exists; };
    const Case cases[] = {
        {"zwamessage", "ztext", true, true},
        {"ZWAMESSAGE", "ZTEXT", true, true},
        {"ZwaMessage", "z_pk", true, true},
        {"ZWAMESSAGE", "ZSTARRED", true, false},
        {"ZWAMEDIAITEM", "ZTEXT", false, false},
        {"", "", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(schema.hasTable(c.table), c.table_exists) << c.table;
        EXPECT_EQ(schema.hasColumn(c.table, c.column), c.column_exists) << c.table << "." << c.column;
    }
    EXPECT_TRUE(schema.hasIndex("z_wamessage_messagedate"));
    EXPECT_TRUE(schema.hasIndex("Z_WAMESSAGE_MESSAGEDATE"));
    // The UNIQUE constraint makes an automatic index that has no SQL.
    EXPECT_FALSE(schema.hasIndex("sqlite_autoindex_ZWAMessage_1"));
    EXPECT_FALSE(schema.hasIndex("nosuch_index"));
}

TEST(ChatSchema, UpgradeRunsOnceAndRebuildsTheCache)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("ChatStorage.sqlite");
    {
        Sqlite3DB db;
        createDatabase(db, path);
        ChatSchema schema;
        schema.buildSchemaCache(db);
        EXPECT_FALSE(schema.hasColumn("ZWAMESSAGE", "ZSTARRED"));

        EXPECT_EQ(applyUpgrades(db, schema), 13);
        for (auto [table, column] : {std::pair{"ZWAMESSAGE", "ZFILTEREDRECIPIENTCOUNT"}, {"zwamessage", "zparentmessage"},
                                     {"ZWAMEDIAITEM", "QM_QUOTED_SENDER"}, {"ZWAMEDIAITEM", "QM_QUOTED_DATA"},
                                     {"ZWAMEDIAITEM", "qm_quoted_stanzaid"}, {"ZWAMESSAGE", "ZSTARRED"},
                                     {"ZWAMESSAGEINFO", "ZRECEIPTINFO"}, {"ZWAMEDIAITEM", "QM_METADATA"},
                                     {"QM_LIDMAP", "ZLID"}, {"QM_LIDMAP", "ZPHONE"}, {"QM_LIDMAP", "ZPUSHNAME"},
                                     {"ZWACHATSESSION", "ZCONTACTIDENTIFIER"}})
            EXPECT_TRUE(schema.hasColumn(table, column)) << table << "." << column;
        EXPECT_TRUE(schema.hasIndex("Z_WAMessage_messageDate"));
        EXPECT_TRUE(schema.hasIndex("ZWAMESSAGEINFO_ZMESSAGE_INDEX"));
        EXPECT_EQ(primaryKeyRows(db).last(), "11 WAMessageInfo 0 0");
    }
    const QByteArray before = fileHash(path);
    Sqlite3DB db;
    db.openThrow(path, SQLITE_OPEN_READWRITE);
    ChatSchema schema;
    schema.buildSchemaCache(db);
    EXPECT_EQ(applyUpgrades(db, schema), 0);
    db.close();
    EXPECT_EQ(fileHash(path), before);
}

TEST(ChatSchema, AFailingStepNamesTheFileAndKeepsItsStatementForTheLog)
{
    QTemporaryDir dir;
    Sqlite3DB db;
    const QString path = dir.filePath("t.sqlite");
    db.openThrow(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    // A database whose message table has every column, but no media table.
    db.executeThrow("create table ZWAMESSAGE(Z_PK integer primary key, ZFILTEREDRECIPIENTCOUNT integer, "
                    "ZPARENTMESSAGE integer, ZMESSAGEDATE timestamp)");
    ChatSchema schema;
    schema.buildSchemaCache(db);
    try {
        applyUpgrades(db, schema);
        FAIL() << "an upgrade of a database without ZWAMEDIAITEM must fail";
    } catch (const Sqlite3Error& e) {
        EXPECT_EQ(e.databasePath(), path);
        const QString text = chatDatabaseErrorText(QString(), e);
        EXPECT_TRUE(text.startsWith("The file " + QDir::toNativeSeparators(path) + " is not a WhatsApp chat database"))
            << text.toStdString();
        EXPECT_TRUE(text.contains("no such table: ZWAMEDIAITEM"));
        EXPECT_FALSE(text.contains("ALTER TABLE")) << text.toStdString();
    }
}

// Each kind of SQLite failure reads as which file, what is wrong, and what
// to do; a message that names its file already is kept as it is.
TEST(ChatSchema, SqliteFailuresReadInTheUsersWords)
{
    const QString db = "/data/Anna/ChatStorage.sqlite";
    const struct {
        const char* message;
        const char* expectedStart;
        const char* advice;
    } cases[] = {
        {"no such table: ZWACHATSESSION", "The file /data/Anna/ChatStorage.sqlite is not a WhatsApp chat database",
         "Choose the ChatStorage.sqlite"},
        {"disk I/O error", "The chat database /data/Anna/ChatStorage.sqlite could not be read or written any more",
         "run it again"},
        {"file is not a database", "The chat database /data/Anna/ChatStorage.sqlite is damaged", "another copy"},
        {"database or disk is full", "The chat database /data/Anna/ChatStorage.sqlite could not be written",
         "free some space"},
        {"unable to open database file", "The chat database /data/Anna/ChatStorage.sqlite cannot be opened",
         "Check that it exists"},
    };
    for (const auto& c : cases) {
        const QString text = chatDatabaseErrorText(db, QString::fromLatin1(c.message));
        EXPECT_TRUE(text.startsWith(QString::fromLatin1(c.expectedStart))) << text.toStdString();
        EXPECT_TRUE(text.contains(QString::fromLatin1(c.message))) << text.toStdString();
        EXPECT_TRUE(text.contains(QString::fromLatin1(c.advice))) << text.toStdString();
    }
    EXPECT_EQ(chatDatabaseErrorText(db, QString("cannot read " + db)), "cannot read " + db);
}

TEST(ChatSchema, ReadingTheSchemaOfADeviceDatabaseNeverAltersIt)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("ChatStorage.sqlite");
    {
        Sqlite3DB db;
        createDatabase(db, path);
    }
    const QByteArray before = fileHash(path);
    ASSERT_FALSE(before.isEmpty());
    {
        Sqlite3DB db;
        db.openThrow(path, SQLITE_OPEN_READWRITE);
        ChatSchema schema;
        schema.buildSchemaCache(db);
        EXPECT_FALSE(schema.hasColumn("ZWAMEDIAITEM", "QM_QUOTED_DATA"));
        EXPECT_FALSE(schema.hasTable("ZWAMESSAGEINFO"));
    }
    EXPECT_EQ(fileHash(path), before);
}

TEST(ChatSchema, FailedCreationLeavesNothingHalfMade)
{
    QTemporaryDir dir;
    const QString garbage = dir.filePath("garbage.sqlite");
    {
        QFile f(garbage);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
    }
    Sqlite3DB db;
    EXPECT_THROW(createDatabase(db, garbage), AppError);
    EXPECT_FALSE(db.isOpen());
    EXPECT_TRUE(QFile::exists(garbage));  // not made by us: left alone

    // A clashing table stops the script half-way; the tables made before it
    // are rolled back with the rest.
    const QString clash = dir.filePath("clash.sqlite");
    {
        Sqlite3DB pre;
        pre.openThrow(clash, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        pre.executeThrow("create table ZWAMESSAGE(x)");
    }
    try {
        createDatabase(db, clash);
        FAIL() << "the script must fail on an existing table";
    } catch (const AppError& e) {
        EXPECT_EQ(e.text(), "table ZWAMESSAGE already exists");
    }
    db.openThrow(clash, SQLITE_OPEN_READWRITE);
    ChatSchema schema;
    schema.buildSchemaCache(db);
    EXPECT_EQ(schema.tableNames(), QStringList({"ZWAMESSAGE"}));
}
