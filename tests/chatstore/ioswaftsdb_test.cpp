// The phone's search index: the tokenizer the program registers as
// wa_tokenizer splits exactly like SQLite's simple tokenizer, documents get
// ICU words with one-letter words joined to their follower, and an index
// that is missing or not the app's is left alone with doc id 0.
#include "chatstore/ioswaftsdb.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Token {
    QString token;
    int start;
    int end;
    int position;
    bool operator==(const Token&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Token& t)
{
    return os << t.token.toStdString() << "@" << t.start << "-" << t.end << "#" << t.position;
}

// The tokens wa_tokenizer gives for a text, through SQLite's fts3tokenize.
std::vector<Token> tokensOf(sqlite3* db, const QString& text, const QString& args = {})
{
    const QString create = QStringLiteral("CREATE VIRTUAL TABLE temp.tok USING fts3tokenize(wa_tokenizer%1)").arg(args);
    sqlite3_exec(db, "DROP TABLE IF EXISTS temp.tok", nullptr, nullptr, nullptr);
    std::vector<Token> out;
    if (sqlite3_exec(db, create.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        return {{QStringLiteral("<create failed>"), 0, 0, 0}};
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, "SELECT token, start, \"end\", position FROM temp.tok WHERE input=?", -1, &st,
                                 nullptr),
              SQLITE_OK);
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(st, 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    while (sqlite3_step(st) == SQLITE_ROW)
        out.push_back({QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))),
                       sqlite3_column_int(st, 1), sqlite3_column_int(st, 2), sqlite3_column_int(st, 3)});
    sqlite3_finalize(st);
    return out;
}

TEST(IOSWaFtsDb, TokenizerSplitsLikeSqlitesSimpleTokenizer)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    ASSERT_TRUE(IOSWaFtsDb::registerTokenizer(db));
    struct Case {
        const char* text;
        QString args;
        std::vector<Token> expected;
    };
    const Case cases[] = {
        {"Hello,World", {}, {{"hello", 0, 5, 0}, {"world", 6, 11, 1}}},
        // Bytes of 128 and above belong to words: one token, ASCII lowered only.
        {"Grüße ÄRGER", {}, {{"grüße", 0, 7, 0}, {"Ärger", 8, 14, 1}}},
        {"  ", {}, {}},
        // A delimiter set of its own (the second argument): only those bytes split.
        {"a-b c", QStringLiteral(", x, '-'"), {{"a", 0, 1, 0}, {"b c", 2, 5, 1}}},
        // A long word grows the token buffer past its first size.
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnop", {}, {{"abcdefghijklmnopqrstuvwxyzabcdefghijklmnop", 0, 42, 0}}},
        // A delimiter of 128 or above is refused when the tokenizer is made.
        {"x", QStringLiteral(", x, 'é'"), {{"<create failed>", 0, 0, 0}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tokensOf(db, QString::fromUtf8(c.text), c.args), c.expected) << c.text;
    sqlite3_close(db);
}

TEST(IOSWaFtsDb, ContentsJoinOneLetterWordsWithTheirFollower)
{
    const struct {
        const char* text;
        const char* contents;
    } cases[] = {
        {"a bc d", "abc bc d"},
        {"Hello, world!", "Hello ,world world !"},
        {"x", "x"},
        {"", ""},
        // ICU's word breaks: a Thai phrase splits into its words.
        {"สวัสดีครับ", "สวัสดี ครับ"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IOSWaFtsDb::contentsOf(QString::fromUtf8(c.text)), QString::fromUtf8(c.contents)) << c.text;
}

TEST(IOSWaFtsDb, InsertsDocumentsFoundByMatch)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("ChatSearch.sqlite");
    ChatDbBuilder::writeSearchIndexFile(path, {QStringLiteral("older text")});
    IOSWaFtsDb index(path);
    const qint64 id = index.insertDoc(QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Meet at Bahnhof"),
                                      700000000.5);
    EXPECT_EQ(id, 2);
    Sqlite3Cursor c = index.queryThrow(Sqlite3Sql("select d.rowid as id, d.chatSession as chat, m.date as date "
                                                  "from docs d join metadata m on m.docID = d.rowid "
                                                  "where docs match 'bahnhof'"));
    ASSERT_TRUE(c.moveNext());
    EXPECT_EQ(c.getInt64(QStringLiteral("id")), id);
    EXPECT_EQ(c.getText(QStringLiteral("chat")), QStringLiteral("4915550001@s.whatsapp.net"));
    EXPECT_DOUBLE_EQ(c.getDouble(QStringLiteral("date")), 700000000.5);
    EXPECT_FALSE(c.moveNext());
}

TEST(IOSWaFtsDb, IndexesThatAreNotTheAppsGiveDocIdZero)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath("none/ChatSearch.sqlite");
    EXPECT_EQ(IOSWaFtsDb(missing).insertDoc(QString(), QStringLiteral("text"), 1), 0);
    EXPECT_FALSE(QFileInfo::exists(missing));

    const struct {
        const char* name;
        const char* schema;
    } cases[] = {
        {"plain table", "create table docs(messageID, chatSession, contents); create table metadata(docID, date, score)"},
        {"other tokenizer", "create virtual table docs using fts4(messageID, chatSession, contents, tokenize=porter); "
                            "create table metadata(docID, date, score)"},
        {"no metadata", "create virtual table docs using fts3(messageID, chatSession, contents, tokenize=wa_tokenizer)"},
    };
    for (const auto& c : cases) {
        const QString path = dir.filePath(QString::fromUtf8(c.name) + ".sqlite");
        {
            Sqlite3DB db;
            db.openThrow(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            ASSERT_TRUE(IOSWaFtsDb::registerTokenizer(db.db));
            ASSERT_EQ(db.exec(QString::fromUtf8(c.schema)), 0) << c.name;
        }
        IOSWaFtsDb index(path);
        EXPECT_FALSE(index.openCheck()) << c.name;
        EXPECT_EQ(index.insertDoc(QString(), QStringLiteral("text"), 1), 0) << c.name;
    }
}

}  // namespace
