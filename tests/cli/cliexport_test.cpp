// quillometry-cli export as users run it, its files read back by readers of
// their own: Python's csv module for the CSV, the text export for the .doc.
#include "clitest.h"

#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

using clitest::Result;

class CliExport : public clitest::CliTest {};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST_F(CliExport, CsvReadsBackInPythonAsTheMessageList)
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        GTEST_SKIP() << "python3 is not installed";
    const SampleChatDb s = buildSampleChatDb(dir.filePath(QStringLiteral("phone")), ChatDbLayout::Local, 50);
    const QString out = dir.filePath(QStringLiteral("all.csv"));
    const Result r = run({QStringLiteral("export"), s.folder.root, QStringLiteral("--format"), QStringLiteral("csv"),
                          QStringLiteral("--out"), out});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("Successfully exported")));
    EXPECT_TRUE(r.out.contains(out));

    QProcess py;
    py.start(python, {QStringLiteral("-c"),
                      QStringLiteral("import csv,json,sys\n"
                                     "with open(sys.argv[1], encoding='utf-8-sig', newline='') as f:\n"
                                     "    print(json.dumps(list(csv.reader(f))))\n"),
                      out});
    ASSERT_TRUE(py.waitForFinished(30000));
    ASSERT_EQ(py.exitCode(), 0) << py.readAllStandardError().toStdString();
    const QJsonArray rows = QJsonDocument::fromJson(py.readAllStandardOutput()).array();

    const Result list = run({QStringLiteral("messages"), s.folder.root, QStringLiteral("--json")});
    ASSERT_EQ(list.code, 0);
    const QJsonArray messages = QJsonDocument::fromJson(list.out.toUtf8()).array();
    QJsonArray withChat;
    for (const auto& m : messages)
        if (!m.toObject().value(QStringLiteral("chat")).toString().isEmpty())
            withChat.append(m);
    ASSERT_EQ(rows.size(), withChat.size() + 1);
    EXPECT_EQ(rows[0].toArray().size(), 5);
    for (qsizetype i = 0; i < withChat.size(); ++i) {
        const QJsonObject m = withChat[i].toObject();
        QString content = m.value(QStringLiteral("content")).toString();
        if (m.value(QStringLiteral("starred")).toBool())
            content.remove(0, 1);
        const QJsonArray row = rows[i + 1].toArray();
        ASSERT_EQ(row.size(), 5) << i;
        EXPECT_EQ(row[4].toString(), content) << i;
        EXPECT_EQ(row[1].toString(), m.value(QStringLiteral("flag")).toString() == QLatin1String("To")
                                         ? QStringLiteral("1")
                                         : QStringLiteral("0"));
    }
}

TEST_F(CliExport, FormatsOneChatAndRefusals)
{
    const SampleChatDb s = buildSampleChatDb(dir.filePath(QStringLiteral("phone")), ChatDbLayout::Local);
    const QString anna = QStringLiteral("4915550001@s.whatsapp.net");
    for (const QString format : {QStringLiteral("txt"), QStringLiteral("doc"), QStringLiteral("csv")}) {
        const Result r = run({QStringLiteral("export"), s.folder.root, QStringLiteral("--chat"), anna,
                              QStringLiteral("--format"), format, QStringLiteral("--out"),
                              dir.filePath(QStringLiteral("anna"))});
        ASSERT_EQ(r.code, 0) << format.toStdString() << r.err.toStdString();
        EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("anna.") + format)));
    }
    EXPECT_TRUE(readAll(dir.filePath(QStringLiteral("anna.doc"))).startsWith("{\\rtf1"));
    const QString txt = QString::fromUtf8(readAll(dir.filePath(QStringLiteral("anna.txt"))));
    EXPECT_TRUE(txt.startsWith(QStringLiteral("Date: ")));

    // An existing file stays unless --overwrite; unknown formats and missing
    // options are usage errors; nothing is left behind by a failed run.
    struct Case {
        QStringList extra;
        int code;
    };
    const Case cases[] = {
        {{QStringLiteral("--format"), QStringLiteral("txt"), QStringLiteral("--out"), dir.filePath(QStringLiteral("anna.txt"))}, 2},
        {{QStringLiteral("--format"), QStringLiteral("xls"), QStringLiteral("--out"), dir.filePath(QStringLiteral("x"))}, 2},
        {{QStringLiteral("--format"), QStringLiteral("txt")}, 2},
        {{QStringLiteral("--format"), QStringLiteral("txt"), QStringLiteral("--out"), dir.filePath(QStringLiteral("no/such/x.txt"))}, 1},
        {{QStringLiteral("--format"), QStringLiteral("txt"), QStringLiteral("--chat"), QStringLiteral("x@g.us"), QStringLiteral("--out"), dir.filePath(QStringLiteral("y.txt"))}, 1},
    };
    for (const Case& c : cases) {
        const Result e = run(QStringList{QStringLiteral("export"), s.folder.root} + c.extra);
        EXPECT_EQ(e.code, c.code) << c.extra.join(QLatin1Char(' ')).toStdString();
        EXPECT_FALSE(e.err.isEmpty());
    }
    EXPECT_EQ(QString::fromUtf8(readAll(dir.filePath(QStringLiteral("anna.txt")))), txt);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("x.xls"))));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("x"))));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("y.txt"))));
    const Result again = run({QStringLiteral("export"), s.folder.root, QStringLiteral("--format"), QStringLiteral("txt"),
                              QStringLiteral("--out"), dir.filePath(QStringLiteral("anna.txt")),
                              QStringLiteral("--overwrite")});
    EXPECT_EQ(again.code, 0) << again.err.toStdString();
    EXPECT_GT(readAll(dir.filePath(QStringLiteral("anna.txt"))).size(), txt.toUtf8().size());
}
