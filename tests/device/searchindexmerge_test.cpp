// A merge into a phone's copy adds a search document for every new text:
// the message's ZDOCID is the document's row id in docs, the document's
// metadata date is the message's date, and Python's sqlite3 (with its own
// "simple" tokenizer under WhatsApp's name) finds the merged words. A
// cancelled merge leaves the index as it was.
#include "base/recordingmonitor.h"
#include "chatstore/ioswaftsdb.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/loadwhatsappdbthread.h"
#include "chatstore/wamsgsdatasource.h"
#include "device/iosrestorewamessagesthread.h"
#include "support/requiretool.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Merge {
    QTemporaryDir dir;
    ChatDbFolder target;
    PAbsWAMsgsSource source;
    QString searchPath;

    Merge()
    {
        ChatDbBuilder b(dir.filePath("target"), ChatDbLayout::Modern, true);
        b.commit();
        target = b.folder();
        searchPath = target.appFolder + "/Documents/ChatSearch.sqlite";
        ChatDbBuilder::writeSearchIndexFile(searchPath, {QStringLiteral("indexed before")});
        const SampleChatDb src = buildSampleChatDb(dir.filePath("source"), ChatDbLayout::Modern, 40);
        LoadWhatsAppDbThread read(std::make_shared<IOSWhatsAppDb>(src.folder.databasePath, QString(),
                                                                  src.folder.mediaFolder, src.folder.profileFolder,
                                                                  false, false));
        RecordingMonitor monitor;
        read.run(monitor);
        source = std::make_shared<WAMsgsDataSource>(read.takeResult(false), nullptr, true);
    }
    bool run(RecordingMonitor& monitor)
    {
        auto device = std::make_shared<IOSDeviceInfo>();
        device->udid = QStringLiteral("index-test");
        IOSRestoreWAMessagesThread merge(device, source, target.appFolder);
        merge.run(monitor);
        return merge.succeeded();
    }
    qint64 count(const char* sql)
    {
        IOSWaFtsDb index(searchPath);
        EXPECT_TRUE(index.openCheck());
        Sqlite3Cursor c = index.queryThrow(Sqlite3Sql(sql));
        return c.moveNext() ? c.getInt64(0) : -1;
    }
};

TEST(SearchIndexMerge, NewTextsGetDocumentsWhoseIdsTheMessagesKeep)
{
    Merge m;
    RecordingMonitor monitor;
    ASSERT_TRUE(m.run(monitor));

    Sqlite3DB db;
    db.openThrow(m.target.databasePath, SQLITE_OPEN_READWRITE);
    ASSERT_EQ(db.exec(QStringLiteral("attach database '%1' as idx").arg(m.searchPath)), 0);
    ASSERT_TRUE(IOSWaFtsDb::registerTokenizer(db.db));
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(
        "select m.ZMESSAGETYPE as type, m.ZDOCID as doc, m.ZMESSAGEDATE as date, m.ZTEXT as text, "
        "d.contents as contents, md.date as docdate, s.ZCONTACTJID as jid, d.chatSession as docchat "
        "from ZWAMESSAGE m left join idx.docs d on d.rowid = m.ZDOCID left join idx.metadata md on md.docID = m.ZDOCID "
        "left join ZWACHATSESSION s on s.Z_PK = m.ZCHATSESSION"));
    int texts = 0;
    while (c.moveNext()) {
        const QString text = c.getText("text");
        // Other types, and a text first written as the quoted parent of
        // another message, have no document.
        if (c.getInt("type") != 0 || c.getInt64("doc") == -2) {
            EXPECT_EQ(c.getInt64("doc"), -2) << text.toStdString();
            continue;
        }
        ++texts;
        EXPECT_GT(c.getInt64("doc"), 1) << text.toStdString();
        EXPECT_EQ(c.getText("contents"), IOSWaFtsDb::contentsOf(text));
        EXPECT_DOUBLE_EQ(c.getDouble("docdate"), c.getDouble("date"));
        EXPECT_EQ(c.getText("docchat"), c.getText("jid"));
    }
    EXPECT_GT(texts, 0);
    EXPECT_EQ(m.count("select count(*) from docs"), texts + 1);

    // Read with another program's SQLite and its own "simple" tokenizer.
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    REQUIRE_TOOL(!python.isEmpty(), "python3");
    Sqlite3Cursor word = db.queryThrow(Sqlite3Sql("select ZTEXT from ZWAMESSAGE where ZMESSAGETYPE=0 and "
                                                  "length(ZTEXT) > 3 limit 1"));
    ASSERT_TRUE(word.moveNext());
    const QString needle = word.getText("ZTEXT").section(QLatin1Char(' '), 0, 0).toLower().remove(QRegularExpression("[^a-z0-9]"));
    ASSERT_FALSE(needle.isEmpty());
    db.close();
    QProcess p;
    p.start(python, {"-c",
                     "import sqlite3, sys\n"
                     "c = sqlite3.connect(sys.argv[1])\n"
                     "try:\n"
                     "    c.setconfig(sqlite3.SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER, True)\n"
                     "except AttributeError:\n"
                     "    pass\n"
                     "ptr = c.execute(\"select fts3_tokenizer('simple')\").fetchone()[0]\n"
                     "c.execute(\"select fts3_tokenizer('wa_tokenizer', ?)\", (ptr,))\n"
                     "print(c.execute('select count(*) from docs where docs match ?', (sys.argv[2],)).fetchone()[0])\n",
                     m.searchPath, needle});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_GT(QString::fromUtf8(p.readAllStandardOutput()).trimmed().toInt(), 0) << needle.toStdString();
}

TEST(SearchIndexMerge, ACancelledMergeLeavesTheIndexAsItWas)
{
    Merge m;
    QFile f(m.searchPath);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();
    RecordingMonitor monitor;
    monitor.cancelAfterReports(3);
    EXPECT_FALSE(m.run(monitor));
    EXPECT_EQ(m.count("select count(*) from docs"), 1);
    EXPECT_EQ(m.count("select count(*) from metadata"), 1);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll() == before);
}

}  // namespace
