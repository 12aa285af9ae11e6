// The checks a merged chat database passes before a transfer writes it
// anywhere: each fault named in the message, a sound database passing.
#include "chatstore/sqlite3db.h"
#include "device/iosdevicetransfer.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

QString makeDb(const QTemporaryDir& dir, const char* name, const char* change)
{
    const QString path = dir.filePath(name);
    Sqlite3DB db;
    db.openThrow(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    QString error;
    EXPECT_EQ(db.exec(QStringLiteral(
                          "create table Z_PRIMARYKEY (Z_ENT integer primary key, Z_NAME varchar, Z_SUPER integer, "
                          "Z_MAX integer);"
                          "create table ZWAMESSAGE (Z_PK integer primary key, Z_ENT integer, ZCHATSESSION integer, "
                          "ZSORT integer, ZTEXT varchar);"
                          "create index ZWAMESSAGE_ZSORT_INDEX on ZWAMESSAGE (ZSORT);"
                          "insert into Z_PRIMARYKEY values (9, 'WAMessage', 0, 5), (10, 'WASubMessage', 9, 0), "
                          "(11, 'WAGone', 0, 0);"
                          "insert into ZWAMESSAGE values (1, 9, 1, 1, 'a'), (2, 9, 1, 2, 'b'), (3, 9, 2, 1, 'c'), "
                          "(4, 9, 1, 3, 'd'), (5, 10, 2, 2, 'e'), (6, 9, 0, 0, 'no chat');"
                          "update Z_PRIMARYKEY set Z_MAX = 6 where Z_NAME = 'WAMessage';")
                          + QString::fromUtf8(change),
                      &error),
              0)
        << error.toStdString();
    return path;
}

TEST(TransferChecks, MergedDatabasesAreCheckedBeforeTheyAreWritten)
{
    QTemporaryDir dir;
    const struct {
        const char* name;
        const char* change;
        const char* error;  // empty: passes
    } cases[] = {
        {"sound", "", ""},
        {"gap in a chat's order", "update ZWAMESSAGE set ZSORT = 4 where Z_PK = 4;", "numbers the messages of chat 1"},
        {"twice the same place", "update ZWAMESSAGE set ZSORT = 1 where Z_PK = 5;", "numbers the messages of chat 2"},
        {"not starting at 1", "update ZWAMESSAGE set ZSORT = ZSORT + 1 where ZCHATSESSION = 2;",
         "numbers the messages of chat 2"},
        {"key counter behind", "update Z_PRIMARYKEY set Z_MAX = 5 where Z_NAME = 'WAMessage';",
         "key counter of WAMessage (5) is below its largest key (6)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = makeDb(dir, c.name, c.change);
        if (!*c.error) {
            EXPECT_NO_THROW(IOSDeviceTransfer::checkMergedDatabasesThrow(path, dir.filePath("no-search.sqlite")));
            continue;
        }
        try {
            IOSDeviceTransfer::checkMergedDatabasesThrow(path);
            ADD_FAILURE() << "passed";
        } catch (const std::exception& e) {
            EXPECT_TRUE(QString::fromUtf8(e.what()).contains(c.error)) << e.what();
            EXPECT_TRUE(QString::fromUtf8(e.what()).contains("nothing was written to the iPhone")) << e.what();
        }
    }

    // An index page overwritten: the integrity check names the file, for the
    // database and for the search index beside it.
    const QString sound = makeDb(dir, "sound2", "");
    const QString damaged = makeDb(dir, "damaged", "");
    qint64 root = 0;
    {
        Sqlite3DB db;
        db.openThrow(damaged, SQLITE_OPEN_READWRITE);
        Sqlite3Cursor cur = db.queryThrow(Sqlite3Sql("select rootpage from sqlite_master where name = "
                                                     "'ZWAMESSAGE_ZSORT_INDEX'"));
        ASSERT_TRUE(cur.moveNext());
        root = cur.getInt64(0);
    }
    {
        QFile f(damaged);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.seek((root - 1) * 4096 + 8));
        f.write(QByteArray(64, '\x11'));
    }
    for (const auto& [db, search] : {std::pair{damaged, QString()}, std::pair{sound, damaged}}) {
        try {
            IOSDeviceTransfer::checkMergedDatabasesThrow(db, search);
            ADD_FAILURE() << "passed";
        } catch (const std::exception& e) {
            EXPECT_TRUE(QString::fromUtf8(e.what()).startsWith("The merged database damaged is damaged")) << e.what();
        }
    }
}

}  // namespace
