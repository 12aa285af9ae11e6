// quillometry-cli export --format html and extract on databases written by
// the fixture builder: what lands in the folders, names from hostile chats,
// many chats under a low open-file limit, long chats, refusals.
#include "clitest.h"

#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using clitest::Result;

class CliExportHtml : public clitest::CliTest {
protected:
    // The folder the command printed as its last line.
    static QString printedPath(const Result& r)
    {
        const QStringList l = clitest::lines(r.out);
        return l.isEmpty() ? QString() : l.last();
    }
};

QString readText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QStringList entries(const QString& folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    names.sort();
    return names;
}

}  // namespace

TEST_F(CliExportHtml, SampleDatabaseAsPagesAndAttachments)
{
    const SampleChatDb s = buildSampleChatDb(dir.filePath(QStringLiteral("phone")), ChatDbLayout::Local);
    const QString out = dir.filePath(QStringLiteral("pages"));
    const Result r = run({QStringLiteral("export"), s.folder.root, QStringLiteral("--format"), QStringLiteral("html"),
                          QStringLiteral("--out"), out});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("Successfully exported")));
    EXPECT_EQ(printedPath(r), out);
    const QStringList files = entries(out + QStringLiteral("/files"));
    for (const char* name : {"style.css", "IMG_1.jpg", "IMG_2.png", "VID_1.thumb", "PTT_1.opus", "report.pdf"})
        EXPECT_TRUE(files.contains(QLatin1String(name))) << name << " in " << files.join(' ').toStdString();
    EXPECT_FALSE(files.contains(QStringLiteral("outside.jpg")));  // its stored path leaves the media folder
    const QString anna = readText(out + QStringLiteral("/Anna(4915550001).html"));
    EXPECT_TRUE(anna.contains(QStringLiteral("href=\"files/report.pdf\">Document: ")));
    EXPECT_TRUE(anna.contains(QStringLiteral("Hello Anna \U0001F600")));

    // The folder exists now: refused, and left as it is.
    const Result again = run({QStringLiteral("export"), s.folder.root, QStringLiteral("--format"),
                              QStringLiteral("html"), QStringLiteral("--out"), out});
    EXPECT_EQ(again.code, 2);
    EXPECT_FALSE(QFileInfo::exists(out + QStringLiteral("(1)")));

    // Extraction: one file per attachment, cards as .vcf (with the photo
    // when the card has one), nothing for text.
    const QString target = dir.filePath(QStringLiteral("attach"));
    QDir().mkpath(target);
    const Result x = run({QStringLiteral("extract"), s.folder.root, QStringLiteral("--out"), target});
    ASSERT_EQ(x.code, 0) << x.err.toStdString();
    const QString made = printedPath(x);
    EXPECT_TRUE(QFileInfo(made).fileName().startsWith(QStringLiteral("attachments(")));
    EXPECT_EQ(QFileInfo(made).absolutePath(), target);
    EXPECT_TRUE(x.out.contains(QStringLiteral("Successfully extracted attachments to ") + made));
    const QStringList got = entries(made);
    for (const char* name : {"IMG_1.jpg", "IMG_2.png", "PTT_1.opus", "report.pdf"})
        EXPECT_TRUE(got.contains(QLatin1String(name))) << name << " in " << got.join(' ').toStdString();
    EXPECT_EQ(got.filter(QRegularExpression(QStringLiteral("Fiona\\.(vcf|jpg)$"))).size(), 2);
    EXPECT_EQ(got.filter(QRegularExpression(QStringLiteral("Gus.*\\.vcf$"))).size() +
                  got.filter(QRegularExpression(QStringLiteral("2 contacts.*\\.vcf$"))).size(),
              1);
    EXPECT_TRUE(got.filter(QRegularExpression(QStringLiteral("\\.jpg$"))).filter(QStringLiteral("contacts")).isEmpty());
    EXPECT_TRUE(got.filter(QStringLiteral(".partial")).isEmpty());
    EXPECT_FALSE(got.contains(QStringLiteral("outside.jpg")));
}

TEST_F(CliExportHtml, HostileNamesAndTextsStayTextAndNamesStayDistinct)
{
    ChatDbBuilder b(dir.filePath(QStringLiteral("db")), ChatDbLayout::Modern);
    const qint64 g1 = b.addGroup(QStringLiteral("1-1@g.us"), QStringLiteral("Club"));
    const qint64 g2 = b.addGroup(QStringLiteral("1-2@g.us"), QStringLiteral("club"));
    const qint64 g3 = b.addGroup(QStringLiteral("1-3@g.us"), QString());
    const qint64 emoji = b.addChat(QStringLiteral("4915550004@s.whatsapp.net"),
                                   QString::fromUtf8("\xF0\x9F\x8E\x89").repeated(200));
    const qint64 evil = b.addChat(QStringLiteral("4915550005@s.whatsapp.net"), QStringLiteral("<script>x</script>"));
    const QStringList texts = {QStringLiteral("<script>alert(1)</script>"), QStringLiteral("{\\rtf1\\b bold} \\par"),
                               QStringLiteral("lone\rCR"), QStringLiteral("a,\"b\"\nc")};
    for (qint64 c : {g1, g2, g3, emoji, evil})
        for (const QString& t : texts)
            b.addMessage({.chat = c, .type = 0, .text = t});
    const QString name = QStringLiteral("a\" onerror=\"x #1 50%.jpg");
    b.writeImage(QStringLiteral("Media/x/") + name, 8, 8, "JPEG");
    const qint64 img = b.addMessage({.chat = evil, .type = 1});
    b.addMediaItem(img, {.localPath = QStringLiteral("Media/x/") + name,
                         .thumbnailPath = QStringLiteral("Media/x/") + name});
    b.commit();

    const QString out = dir.filePath(QStringLiteral("h"));
    const Result r = run({QStringLiteral("export"), b.folder().root, QStringLiteral("--format"),
                          QStringLiteral("html"), QStringLiteral("--out"), out});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QStringList pages = entries(out);
    pages.removeAll(QStringLiteral("files"));
    ASSERT_EQ(pages.size(), 5) << pages.join(' ').toStdString();
    EXPECT_TRUE(pages.contains(QStringLiteral("Club.html")));
    EXPECT_TRUE(pages.contains(QStringLiteral("club(1).html")));
    for (const QString& p : pages) {
        EXPECT_LE(p.toUtf8().size(), 160) << p.toStdString();
        const QString html = readText(out + QLatin1Char('/') + p);
        EXPECT_FALSE(html.contains(QStringLiteral("<script")));
        EXPECT_TRUE(html.contains(QStringLiteral("&lt;script&gt;alert(1)&lt;/script&gt;")));
        EXPECT_TRUE(html.contains(QStringLiteral("lone\rCR")));
    }
    const QString evilPage = readText(out + QLatin1Char('/') + pages.filter(QStringLiteral("4915550005")).value(0));
    EXPECT_FALSE(evilPage.contains(QStringLiteral("onerror=\"")));
    EXPECT_TRUE(evilPage.contains(QStringLiteral("src=\"files/a%2522%20onerror%3D%2522x%20%231%2050%2525.jpg\"")))
        << evilPage.toStdString();
    EXPECT_TRUE(QFileInfo(out + QStringLiteral("/files/a%22 onerror=%22x #1 50%25.jpg")).isFile());
}

TEST_F(CliExportHtml, ManyChatsUnderALowOpenFileLimitAndALongChatInLinkedFiles)
{
    ChatDbBuilder b(dir.filePath(QStringLiteral("db")), ChatDbLayout::Local);
    for (int i = 0; i < 1100; ++i) {
        const qint64 c = b.addChat(QStringLiteral("49155%1@s.whatsapp.net").arg(i, 6, 10, QLatin1Char('0')),
                                   QStringLiteral("Chat %1").arg(i));
        b.addMessage({.chat = c, .type = 0, .text = QStringLiteral("hi")});
    }
    const qint64 big = b.addChat(QStringLiteral("4915559999@s.whatsapp.net"), QStringLiteral("Long"));
    for (int i = 0; i < 12000; ++i)
        b.addMessage({.chat = big, .type = 0, .text = QStringLiteral("m%1").arg(i)});
    b.commit();

    const QString out = dir.filePath(QStringLiteral("many"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"), QStringLiteral("ulimit -n 256 && exec \"$0\" \"$@\""), QStringLiteral(Q_CLI_PATH),
             QStringLiteral("export"), b.folder().root, QStringLiteral("--format"), QStringLiteral("html"),
             QStringLiteral("--out"), out});
    ASSERT_TRUE(p.waitForFinished(300000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_TRUE(p.readAllStandardOutput().contains("Successfully exported 13100 Messages."));
    QStringList pages = entries(out);
    pages.removeAll(QStringLiteral("files"));
    EXPECT_EQ(pages.size(), 1103);
    const QStringList longPages = pages.filter(QStringLiteral("Long("));
    ASSERT_EQ(longPages, (QStringList{QStringLiteral("Long(4915559999).html"), QStringLiteral("Long(4915559999)_2.html"),
                                      QStringLiteral("Long(4915559999)_3.html")}));
    const QString second = readText(out + QStringLiteral("/Long(4915559999)_2.html"));
    EXPECT_TRUE(second.contains(QStringLiteral("href=\"Long%284915559999%29.html\"")));
    EXPECT_TRUE(second.contains(QStringLiteral("href=\"Long%284915559999%29_3.html\"")));
}

TEST_F(CliExportHtml, ExtractionIntoAFolderThatCannotBeWrittenFails)
{
    const SampleChatDb s = buildSampleChatDb(dir.filePath(QStringLiteral("phone")), ChatDbLayout::Local);
    // Permissions do not stop the superuser; /proc refuses new folders to
    // everyone.
    QString folder = QStringLiteral("/proc");
    if (geteuid() != 0) {
        folder = dir.filePath(QStringLiteral("locked"));
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    const Result r = run({QStringLiteral("extract"), s.folder.root, QStringLiteral("--out"), folder});
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(r.err.isEmpty());
    EXPECT_FALSE(r.out.contains(QStringLiteral("Successfully")));
    const Result missing = run({QStringLiteral("extract"), s.folder.root, QStringLiteral("--out"),
                                dir.filePath(QStringLiteral("no/such"))});
    EXPECT_EQ(missing.code, 1);
    const Result usage = run({QStringLiteral("extract"), s.folder.root});
    EXPECT_EQ(usage.code, 2);
}
