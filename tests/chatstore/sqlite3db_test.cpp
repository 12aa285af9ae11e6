#include "chatstore/sqlite3db.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct TempDb {
    QTemporaryDir dir;
    Sqlite3DB db;
    TempDb() { db.openThrow(dir.filePath("t.sqlite"), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE); }
};

}  // namespace

TEST(Sqlite3DB, OpenWithoutCreateFailsWithSqliteMessage)
{
    QTemporaryDir dir;
    Sqlite3DB db;
    try {
        db.openThrow(dir.filePath("missing.sqlite"), SQLITE_OPEN_READWRITE);
        FAIL() << "opening a missing file without the create flag must throw";
    } catch (const Sqlite3Error& e) {
        EXPECT_NE(std::string(e.what()).find("unable to open"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(db.isOpen());
}

TEST(Sqlite3DB, ParametersBindInOrderAndNullsReadAsEmpty)
{
    TempDb t;
    t.db.executeThrow("create table t(a integer, b text, c real, d blob, e integer)");
    Sqlite3Sql ins("insert into t(a,b,c,d,e) values(?,?,?,?,");
    ins.addInt64Param(Q_INT64_C(9000000000)).addTextParam(QString::fromUtf8("h\xc3\xa9llo")).addDoubleParam(2.5);
    ins.appendSql("?)");
    ins.addBlobParam(QByteArray("\x00\x01", 2)).addNullParam();
    t.db.executeThrow(ins);
    EXPECT_EQ(t.db.lastInsertId(), 1);

    Sqlite3Cursor c = t.db.queryThrow("select a, b, c, d, e from t");
    ASSERT_TRUE(c.moveNext());
    EXPECT_EQ(c.getInt64("A"), Q_INT64_C(9000000000));
    EXPECT_EQ(c.getText("b"), QString::fromUtf8("h\xc3\xa9llo"));
    EXPECT_DOUBLE_EQ(c.getDouble("c"), 2.5);
    EXPECT_EQ(c.getBlob("d"), QByteArray("\x00\x01", 2));
    EXPECT_EQ(c.getInt("e"), 0);
    EXPECT_EQ(c.getText("e"), QString());
    EXPECT_EQ(c.getInt("ZSTARRED"), 0);  // a column the result lacks
    EXPECT_FALSE(c.moveNext());
    EXPECT_FALSE(c.moveNext());
}

// Texts reach SQLite as the bytes QString::toUtf8 makes of them, lone
// surrogates and NULs included; an empty text stays text. The statement's
// texts belong to its cursor: a statement object gone before the first step
// does not take them along.
TEST(Sqlite3DB, TextsAreStoredAsTheirUtf8Bytes)
{
    TempDb t;
    t.db.executeThrow("create table t(i integer, b text)");
    QList<QString> texts = {QString(), QStringLiteral(""), QStringLiteral("abc"),
                            QString::fromUtf8("h\xc3\xa9llo \xe2\x9c\x93 \xf0\x9f\x98\x80")};
    for (const char16_t* units : {u"\xD800", u"a\xDC00" "b", u"\xD83D" "x", u"\xFEFF\xFFFF"})
        texts << QString::fromUtf16(units);
    texts << QString(QChar(0)) + QStringLiteral("after");
    texts << QString(100000, QChar(0x4E2D));
    // More parameters than a statement keeps in place.
    QString sql = QStringLiteral("insert into t(i,b) values");
    for (int i = 0; i < texts.size(); ++i)
        sql += QStringLiteral("%1(?,?)").arg(i ? QStringLiteral(",") : QString());
    Sqlite3Sql insert(sql);
    for (int i = 0; i < texts.size(); ++i)
        insert.addIntParam(i).addTextParam(texts[i]);
    t.db.executeThrow(insert);

    Sqlite3Cursor c = t.db.queryThrow("select i, typeof(b), cast(b as blob) from t order by i");
    for (int i = 0; i < texts.size(); ++i) {
        ASSERT_TRUE(c.moveNext());
        EXPECT_EQ(c.getText(1), QStringLiteral("text")) << i;
        EXPECT_EQ(c.getBlob(2), texts[i].toUtf8()) << i;
    }
    EXPECT_FALSE(c.moveNext());

    Sqlite3Cursor kept = t.db.queryThrow(Sqlite3Sql("select ? || ?").addTextParam(texts[3]).addTextParam(texts.last()));
    ASSERT_TRUE(kept.moveNext());
    EXPECT_EQ(kept.getText(0), texts[3] + texts.last());
}

TEST(Sqlite3DB, ExecNeverThrowsAndReportsTheMessage)
{
    TempDb t;
    QString err;
    EXPECT_NE(t.db.exec("alter table nosuch add column x", &err), 0);
    EXPECT_TRUE(err.contains("nosuch")) << err.toStdString();
    EXPECT_THROW(t.db.executeThrow("select * from nosuch"), Sqlite3Error);
}

TEST(Sqlite3DB, RollbackUndoesAndReusedStatementsRebind)
{
    TempDb t;
    t.db.executeThrow("create table t(a integer)");
    t.db.beginTran();
    for (int i = 0; i < 3; ++i)
        t.db.executeThrow(Sqlite3Sql("insert into t(a) values(?)").addIntParam(i));
    t.db.rollbackTran();
    EXPECT_FALSE(t.db.inTransaction());
    Sqlite3Cursor c = t.db.queryThrow("select count(*) from t");
    ASSERT_TRUE(c.moveNext());
    EXPECT_EQ(c.getInt64(0), 0);

    // The same statement text twice at once (nested cursors) must not share
    // one prepared statement.
    t.db.executeThrow("insert into t(a) values(1),(2)");
    Sqlite3Cursor outer = t.db.queryThrow("select a from t order by a");
    ASSERT_TRUE(outer.moveNext());
    Sqlite3Cursor inner = t.db.queryThrow("select a from t order by a");
    ASSERT_TRUE(inner.moveNext());
    ASSERT_TRUE(inner.moveNext());
    EXPECT_EQ(inner.getInt("a"), 2);
    EXPECT_EQ(outer.getInt("a"), 1);
}

TEST(Sqlite3DB, TbColsAndRowInsert)
{
    TempDb t;
    t.db.executeThrow("create table ZT(Z_PK integer primary key, ZTEXT varchar, ZDATA blob, ZDATE timestamp)");
    QList<_SqliteCol> cols = t.db.tbCols("zt");
    ASSERT_EQ(cols.size(), 4);
    EXPECT_EQ(cols[0].name, "Z_PK");
    EXPECT_EQ(cols[3].name, "ZDATE");

    Sqlite3Row row;
    row["Z_PK"] = 7;
    row["ZTEXT"] = QStringLiteral("x");
    row["ZDATA"] = QByteArray("ab");
    row["ZDATE"] = 1.5;
    Sqlite3Sql sql = row.insertSql("ZT", {"z_pk"});
    EXPECT_EQ(sql.sql(), "insert into ZT(ZTEXT,ZDATA,ZDATE) values(?,?,?)");
    t.db.executeThrow(sql);
    Sqlite3Cursor c = t.db.queryThrow("select * from ZT");
    ASSERT_TRUE(c.moveNext());
    EXPECT_EQ(c.getBlob("ZDATA"), QByteArray("ab"));
    EXPECT_DOUBLE_EQ(c.getDouble("ZDATE"), 1.5);
}
