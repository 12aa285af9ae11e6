#include "output/chatfilebasename.h"
#include "output/exportmessagescsv.h"
#include "output/exportmessagesthread.h"
#include "output/exportmessagestxt.h"

#include "base/recordingmonitor.h"
#include "chatstore/displayrules.h"
#include "chatstore/wamsgslistsource.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

PChatSession chat(qint64 pk, const QString& jid, const QString& name)
{
    auto s = std::make_shared<_ChatSession>();
    s->Z_PK = pk;
    s->ZCONTACTJID = jid;
    s->ZPARTNERNAME = name;
    return s;
}

_Message msg(qint64 pk, PChatSession s, const QString& text, int fromMe = 0)
{
    _Message m;
    m.Z_PK = pk;
    m.session = std::move(s);
    m.ZTEXT = text;
    m.ZISFROMME = fromMe;
    m.ZMESSAGEDATE = 700000000.0 + pk * 60;
    m.ZFROMJID = fromMe ? QString() : (m.session ? m.session->ZCONTACTJID : QString());
    m.ZTOJID = fromMe ? (m.session ? m.session->ZCONTACTJID : QString()) : QString();
    return m;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A small RTF reader: the plain text of a document as written by the export
// (groups, control words with optional numbers, \uN with one fallback
// character, escaped \ { }); \par and \line become line feeds.
QString rtfPlainText(const QByteArray& rtf)
{
    QString out;
    int skip = 0;
    int depth = 0;
    bool inFontTable = false;
    int fontDepth = 0;
    for (qsizetype i = 0; i < rtf.size(); ++i) {
        const char c = rtf[i];
        if (c == '{') {
            ++depth;
            continue;
        }
        if (c == '}') {
            if (inFontTable && depth == fontDepth)
                inFontTable = false;
            --depth;
            continue;
        }
        if (c == '\r' || c == '\n')
            continue;
        if (c == '\\') {
            const char n = rtf.at(i + 1);
            if (n == '\\' || n == '{' || n == '}') {
                if (!inFontTable)
                    out += QLatin1Char(n);
                ++i;
                continue;
            }
            qsizetype j = i + 1;
            QByteArray word;
            while (j < rtf.size() && std::isalpha(uchar(rtf[j])))
                word += rtf[j++];
            QByteArray num;
            while (j < rtf.size() && (rtf[j] == '-' || std::isdigit(uchar(rtf[j]))))
                num += rtf[j++];
            if (j < rtf.size() && rtf[j] == ' ')
                ++j;
            i = j - 1;
            if (word == "fonttbl") {
                inFontTable = true;
                fontDepth = depth;
            } else if (!inFontTable) {
                if (word == "par" || word == "line")
                    out += QLatin1Char('\n');
                else if (word == "tab")
                    out += QLatin1Char('\t');
                else if (word == "u") {
                    out += QChar(char16_t(qint16(num.toInt())));
                    skip = 1;
                }
            }
            continue;
        }
        if (inFontTable)
            continue;
        if (skip > 0) {
            --skip;
            continue;
        }
        out += QLatin1Char(c);
    }
    return out;
}

// Parses CSV as spreadsheets do: quoted fields may hold anything.
QList<QStringList> parseCsv(const QString& text)
{
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            row << field;
            field.clear();
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            row << field;
            field.clear();
            rows << row;
            row.clear();
        } else {
            field += c;
        }
    }
    return rows;
}

const QStringList kHostile = {
    QStringLiteral("a,b"),
    QStringLiteral("say \"hi\""),
    QStringLiteral("line\nbreak"),
    QStringLiteral("only\rCR"),
    QStringLiteral("<script>alert(1)</script>"),
    QStringLiteral("{\\rtf1 \\par} \\b bold"),
    QStringLiteral("tab\there and \u00e9 \u4e2d \U0001F600"),
};

// One message per hostile text in a chat of that name, alternately received and sent.
QList<_Message> hostileMessages(const QString& chatName)
{
    const PChatSession anna = chat(1, QStringLiteral("4915550001@s.whatsapp.net"), chatName);
    QList<_Message> list;
    for (int i = 0; i < kHostile.size(); ++i)
        list << msg(i + 1, anna, kHostile[i], i % 2);
    return list;
}

}  // namespace

TEST(ExportMessages, CsvQuotesEverySpecialCharacterAndReadsBackEqual)
{
    struct Case {
        QString value;
        QString written;
    };
    const Case cases[] = {
        {QStringLiteral("plain"), QStringLiteral("plain")},
        {QStringLiteral("a,b"), QStringLiteral("\"a,b\"")},
        {QStringLiteral("say \"hi\""), QStringLiteral("\"say \"\"hi\"\"\"")},
        {QStringLiteral("a\nb"), QStringLiteral("\"a\nb\"")},
        {QStringLiteral("a\rb"), QStringLiteral("\"a\rb\"")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExportMessagesCsv::quoted(c.value), c.written) << c.value.toStdString();

    QTemporaryDir dir;
    const QList<_Message> list = hostileMessages(QStringLiteral("Anna, \"A\""));
    const QString path = dir.filePath(QStringLiteral("out.csv"));
    ExportMessagesThread job(std::make_shared<WAMsgsListSource>(list), path, 1);
    RecordingMonitor monitor;
    job.run(monitor);
    ASSERT_TRUE(monitor.succeeded()) << monitor.errors().join(QLatin1Char(' ')).toStdString();
    const QByteArray bytes = readAll(path);
    ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF" "date,send,person,number,content\n"));
    const QList<QStringList> rows = parseCsv(QString::fromUtf8(bytes.mid(3)));
    ASSERT_EQ(rows.size(), kHostile.size() + 1);
    for (int i = 0; i < kHostile.size(); ++i) {
        ASSERT_EQ(rows[i + 1].size(), 5);
        EXPECT_EQ(rows[i + 1][1], i % 2 ? QStringLiteral("1") : QStringLiteral("0"));
        EXPECT_EQ(rows[i + 1][2], QStringLiteral("Anna, \"A\""));
        EXPECT_EQ(rows[i + 1][3], QStringLiteral("+4915550001"));
        EXPECT_EQ(rows[i + 1][4], messageDisplayText(list[i]));
    }
}

TEST(ExportMessages, CsvNumberColumn)
{
    const PChatSession one = chat(1, QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
    const PChatSession lid = chat(2, QStringLiteral("123456789@lid"), QStringLiteral("Linked"));
    _Message fromLid = msg(1, lid, QStringLiteral("x"));
    _Message mine = msg(2, one, QStringLiteral("x"), 1);
    _Message other = msg(3, one, QStringLiteral("x"));
    other.ZFROMJID = QStringLiteral("status@broadcast");
    EXPECT_EQ(ExportMessagesCsv::numberOf(fromLid), QStringLiteral("123456789@lid"));
    EXPECT_EQ(ExportMessagesCsv::numberOf(mine), QStringLiteral("+4915550001"));
    EXPECT_EQ(ExportMessagesCsv::numberOf(other), QStringLiteral("status@broadcast"));
    EXPECT_EQ(ExportMessagesCsv::numberOf(_Message{}), QString());
}

TEST(ExportMessages, DocIsRtfThatReadsBackAsTheTextExport)
{
    QTemporaryDir dir;
    const QList<_Message> list = hostileMessages(QStringLiteral("{Anna}\\"));
    const QString txt = dir.filePath(QStringLiteral("out.txt"));
    const QString doc = dir.filePath(QStringLiteral("out.doc"));
    for (const QString& path : {txt, doc}) {
        ExportMessagesThread job(std::make_shared<WAMsgsListSource>(list), path, 0);
        RecordingMonitor monitor;
        job.run(monitor);
        ASSERT_TRUE(monitor.succeeded());
    }
    const QByteArray rtf = readAll(doc);
    ASSERT_TRUE(rtf.startsWith("{\\rtf1"));
    for (char c : rtf)
        EXPECT_LT(uchar(c), 0x80);
    QString text = QString::fromUtf8(readAll(txt));
    EXPECT_TRUE(text.contains(QStringLiteral("<script>alert(1)</script>")));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    EXPECT_EQ(rtfPlainText(rtf), text);
}

TEST(ExportMessages, CountsOnlyMessagesWithChatAndAcceptsTheFormatNumbers)
{
    QTemporaryDir dir;
    const PChatSession anna = chat(1, QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
    const QList<_Message> list = {msg(1, anna, QStringLiteral("a")), msg(2, nullptr, QStringLiteral("orphan")),
                                  msg(3, anna, QStringLiteral("b"))};
    struct Case {
        int format;
        bool ok;
        QString error;
    };
    const Case cases[] = {{0, true, {}}, {1, true, {}}, {2, true, {}},
                          {5, false, QStringLiteral("not support export format.")},
                          {-1, false, QStringLiteral("not support export format.")}};
    for (const Case& c : cases) {
        const QString path = dir.filePath(QStringLiteral("f%1").arg(c.format));
        ExportMessagesThread job(std::make_shared<WAMsgsListSource>(list), path, c.format);
        RecordingMonitor monitor;
        job.run(monitor);
        EXPECT_EQ(monitor.succeeded(), c.ok) << c.format;
        if (c.ok) {
            EXPECT_EQ(monitor.successes(), QStringList{QStringLiteral("Successfully exported 2 Messages.")});
            EXPECT_TRUE(QFileInfo::exists(path));
        } else {
            EXPECT_EQ(monitor.errors(), QStringList{c.error});
            EXPECT_FALSE(QFileInfo::exists(path));
        }
    }
    EXPECT_FALSE(QString::fromUtf8(readAll(dir.filePath(QStringLiteral("f0")))).contains(QStringLiteral("orphan")));
}

TEST(ExportMessages, CancelAndErrorsLeaveNothingBehindAndKeepTheOldFile)
{
    QTemporaryDir dir;
    const PChatSession anna = chat(1, QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
    const QList<_Message> list = {msg(1, anna, QStringLiteral("a"))};
    const QString path = dir.filePath(QStringLiteral("old.txt"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("keep me");
    }
    RecordingMonitor cancelled;
    cancelled.requestCancel();
    ExportMessagesThread job(std::make_shared<WAMsgsListSource>(list), path, 0);
    job.run(cancelled);
    EXPECT_TRUE(job.wasCancelled());
    EXPECT_EQ(readAll(path), QByteArray("keep me"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("old.txt")});

    // A file that cannot be created: an error, and no folder is left behind.
    ExportMessagesThread fail(std::make_shared<WAMsgsListSource>(list),
                              dir.filePath(QStringLiteral("old.txt/x.csv")), 1);
    RecordingMonitor failed;
    fail.run(failed);
    EXPECT_FALSE(failed.succeeded());
    EXPECT_EQ(failed.errors().size(), 1);
    EXPECT_EQ(readAll(path), QByteArray("keep me"));
}

TEST(ExportMessages, ChatFileBaseNames)
{
    const QString emoji200 = QString::fromUtf8("\xF0\x9F\x98\x80").repeated(200);
    struct Case {
        PChatSession session;
        int n;
        QString expected;
    };
    const Case cases[] = {
        {nullptr, 1, QStringLiteral("unknown-chat")},
        {nullptr, 3, QStringLiteral("unknown-chat_3")},
        {chat(1, QStringLiteral("49@s.whatsapp.net"), QStringLiteral("Anna\tB\u00a0C")), 1,
         QStringLiteral("AnnaBC(49)")},
        {chat(2, QStringLiteral("..@s.whatsapp.net"), QString()), 1, QStringLiteral("__")},
        {chat(3, QStringLiteral("a/b@s.whatsapp.net"), QString()), 2, QStringLiteral("a%2fb_2")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(chatFileBaseName(c.session, c.n), c.expected) << c.expected.toStdString();
    for (int n : {1, 12}) {
        const QString cut = chatFileBaseName(chat(4, QStringLiteral("1@s.whatsapp.net"), emoji200), n);
        EXPECT_LE(cut.toUtf8().size(), 150);
        EXPECT_GT(cut.toUtf8().size(), 140);
        EXPECT_EQ(QString::fromUtf8(cut.toUtf8()), cut);  // no half character
        EXPECT_FALSE(cut.contains(QChar(0xFFFD)));
        if (n > 1)
            EXPECT_TRUE(cut.endsWith(QStringLiteral("_12")));
    }
    auto group = [](qint64 pk, const QString& subject) {
        PChatSession s = chat(pk, QStringLiteral("1-%1@g.us").arg(pk), subject);
        s->groupInfo = std::make_shared<_GroupInfo>();
        return s;
    };
    const auto names = distinctChatFileBaseNames({group(9, QStringLiteral("Team")), group(4, QStringLiteral("team")),
                                                  group(7, QStringLiteral("Team")), group(5, QString())});
    EXPECT_EQ(names.at(4), QStringLiteral("team"));
    EXPECT_EQ(names.at(7), QStringLiteral("Team(1)"));
    EXPECT_EQ(names.at(9), QStringLiteral("Team(2)"));
    EXPECT_EQ(names.at(5), QStringLiteral("Group1-5"));
}
