// quillometry-cli export --format pdf as users run it, on databases written
// by the fixture builder, its files read back by poppler's tools: the text
// in order and as text, files of 100 pages under distinct names, and page
// one as pixels (paper, margins, bubbles, page number).
#include "clitest.h"

#include "support/requiretool.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

using clitest::Result;

const QString kAnnaJid = QStringLiteral("4915550001@s.whatsapp.net");

class CliExportPdf : public clitest::CliTest {
protected:
    void SetUp() override
    {
        clitest::CliTest::SetUp();
        for (const char* tool : {"pdftotext", "pdfinfo", "pdftoppm"})
            REQUIRE_TOOL(!QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty(),
                         std::string(tool) + " (poppler-utils)");
    }

    Result exportPdf(const QString& db, const QString& out, const QString& chat = {})
    {
        QStringList args = {QStringLiteral("export"), db, QStringLiteral("--format"), QStringLiteral("pdf"),
                            QStringLiteral("--out"), out};
        if (!chat.isEmpty())
            args << QStringLiteral("--chat") << chat;
        return run(args);
    }

    static QString tool(const QString& name, const QStringList& args)
    {
        QProcess p;
        p.start(QStandardPaths::findExecutable(name), args);
        EXPECT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << name.toStdString() << ": " << p.readAllStandardError().toStdString();
        return QString::fromUtf8(p.readAllStandardOutput());
    }

    static QString text(const QString& pdf)
    {
        return tool(QStringLiteral("pdftotext"), {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf,
                                                  QStringLiteral("-")});
    }

    static int pages(const QString& pdf)
    {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(tool(QStringLiteral("pdfinfo"), {pdf}));
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    }

    static MessageSpec message(qint64 chat, const QString& text, bool fromMe = false)
    {
        MessageSpec m;
        m.chat = chat;
        m.text = text;
        m.fromMe = fromMe;
        return m;
    }
};

bool near(QRgb pixel, int r, int g, int b, int tolerance = 6)
{
    return std::abs(qRed(pixel) - r) <= tolerance && std::abs(qGreen(pixel) - g) <= tolerance
           && std::abs(qBlue(pixel) - b) <= tolerance;
}

bool isPaper(QRgb pixel) { return near(pixel, 239, 233, 223, 3); }

}  // namespace

TEST_F(CliExportPdf, MessagesInOrderAsTextHostileOnesIncluded)
{
    ChatDbBuilder b(dir.filePath(QStringLiteral("db")), ChatDbLayout::Local);
    const qint64 anna = b.addChat(kAnnaJid, QStringLiteral("Anna"));
    QString longText;
    for (int i = 0; longText.size() < 30000; ++i)
        longText += QStringLiteral("filler%1 ").arg(i);
    longText += QStringLiteral("ZULUENDWORD");
    const QStringList texts = {QStringLiteral("alpha opens the chat"),
                               QStringLiteral("<b>bold</b> & <i>not italic</i>"),
                               QStringLiteral("<script>alert('x')</script>"),
                               QStringLiteral("&lt;kept as typed&gt; %1 %2"),
                               QStringLiteral("second line follows\nline two of it"),
                               longText,
                               QStringLiteral("omega closes the chat")};
    for (int i = 0; i < texts.size(); ++i)
        b.addMessage(message(anna, texts[i], i % 2 == 1));
    b.commit();

    const QString out = dir.filePath(QStringLiteral("pdf"));
    const Result r = exportPdf(b.folder().root, out, kAnnaJid);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("Successfully exported 7 Messages.")));
    EXPECT_TRUE(r.out.trimmed().endsWith(out));
    const QString pdf = out + QStringLiteral("/Anna(4915550001).pdf");
    ASSERT_TRUE(QFileInfo(pdf).isFile());
    EXPECT_EQ(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(), 1);

    const QString all = text(pdf);
    qsizetype at = -1;
    for (const QString& t : {texts[0], texts[1], texts[2], texts[3], QStringLiteral("second line follows"),
                             QStringLiteral("line two of it"), QStringLiteral("filler0 filler1"),
                             QStringLiteral("ZULUENDWORD"), texts[6]}) {
        const qsizetype found = all.indexOf(t, at + 1);
        EXPECT_GT(found, at) << t.left(60).toStdString() << " after: " << all.mid(at, 300).toStdString();
        if (found > at)
            at = found;
    }
    // 30,000 characters run over several pages.
    EXPECT_GE(pages(pdf), 6);

    // The frames come from the tiles beside the program.
    const Result version = run({QStringLiteral("--version")});
    const QRegularExpressionMatch wabb =
        QRegularExpression(QStringLiteral("^Bubble pages: (.*)$"), QRegularExpression::MultilineOption).match(version.out);
    ASSERT_TRUE(wabb.hasMatch()) << version.out.toStdString();
    for (const char* kind : {"r", "bb1", "bb2"})
        for (int n = 1; n <= 9; ++n)
            EXPECT_TRUE(QFileInfo(QStringLiteral("%1/%2_0%3.png").arg(wabb.captured(1).trimmed()).arg(kind).arg(n)).isFile())
                << kind << n;

    // A second export never writes into the first one's folder.
    const Result again = exportPdf(b.folder().root, out, kAnnaJid);
    EXPECT_EQ(again.code, 2);
    EXPECT_TRUE(again.err.contains(QStringLiteral("give the name of a new folder")));
}

TEST_F(CliExportPdf, ALongChatFillsFilesOf100PagesAndSameNamedChatsGetTheirOwnFiles)
{
    ChatDbBuilder b(dir.filePath(QStringLiteral("db")), ChatDbLayout::Local);
    const qint64 family = b.addGroup(QStringLiteral("4915550001-1500000000@g.us"), QStringLiteral("Family"));
    const qint64 twin = b.addGroup(QStringLiteral("4915550002-1500000000@g.us"), QStringLiteral("Family"));
    const qint64 second = b.addGroup(QStringLiteral("4915550003-1500000000@g.us"), QStringLiteral("Family_2"));
    for (int i = 1; i <= 3000; ++i)
        b.addMessage(message(family, QStringLiteral("m%1").arg(i, 4, 10, QLatin1Char('0')), i % 3 == 0));
    b.addMessage(message(twin, QStringLiteral("twin family")));
    b.addMessage(message(second, QStringLiteral("second family")));
    b.commit();

    const QString out = dir.filePath(QStringLiteral("pdf"));
    const Result r = exportPdf(b.folder().root, out);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("Successfully exported 3002 Messages.")));
    // The big chat is Family.pdf, Family_2.pdf, ...; the twin's and the
    // chat named "Family_2" get names of their own.
    QStringList bigFiles;
    for (int n = 1; QFileInfo::exists(out + QStringLiteral("/Family%1.pdf").arg(n == 1 ? QString() : "_" + QString::number(n))); ++n)
        bigFiles << out + QStringLiteral("/Family%1.pdf").arg(n == 1 ? QString() : "_" + QString::number(n));
    ASSERT_GE(bigFiles.size(), 2);
    QStringList files = QDir(out).entryList(QDir::Files);
    EXPECT_EQ(files.size(), bigFiles.size() + 2) << files.join(' ').toStdString();
    EXPECT_TRUE(text(out + "/Family(1).pdf").contains("twin family"));
    EXPECT_TRUE(text(out + "/Family_2(1).pdf").contains("second family"));

    // Files of exactly 100 pages, the last one holding the rest; every
    // message once, in order, each file going on where the one before
    // stopped.
    for (int i = 0; i < bigFiles.size(); ++i) {
        const int n = pages(bigFiles[i]);
        if (i + 1 < bigFiles.size())
            EXPECT_EQ(n, 100) << bigFiles[i].toStdString();
        else
            EXPECT_TRUE(n >= 1 && n <= 100) << n;
    }
    const QRegularExpression number(QStringLiteral("\\bm(\\d{4})\\b"));
    QList<int> seen;
    for (const QString& file : bigFiles) {
        for (QRegularExpressionMatchIterator it = number.globalMatch(text(file)); it.hasNext();)
            seen << it.next().captured(1).toInt();
    }
    ASSERT_EQ(seen.size(), 3000);
    for (int i = 0; i < seen.size(); ++i)
        ASSERT_EQ(seen[i], i + 1);
    // Page numbers run on over the files.
    EXPECT_TRUE(text(bigFiles[1]).contains(QRegularExpression(QStringLiteral("\\b101\\b"))));
}

TEST_F(CliExportPdf, PageOneOnPaper)
{
    ChatDbBuilder b(dir.filePath(QStringLiteral("db")), ChatDbLayout::Local);
    const qint64 anna = b.addChat(kAnnaJid, QStringLiteral("Anna"));
    b.addMessage(message(anna, QStringLiteral("hello")));
    b.addMessage(message(anna, QStringLiteral("a reply from this side"), true));
    b.commit();
    const QString out = dir.filePath(QStringLiteral("pdf"));
    const Result r = exportPdf(b.folder().root, out);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();

    tool(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("96"), QStringLiteral("-f"),
                                      QStringLiteral("1"), QStringLiteral("-l"), QStringLiteral("1"),
                                      QStringLiteral("-png"), QStringLiteral("-singlefile"),
                                      out + QStringLiteral("/Anna(4915550001).pdf"), dir.filePath("page")});
    const QImage page(dir.filePath(QStringLiteral("page.png")));
    ASSERT_FALSE(page.isNull());
    EXPECT_NEAR(page.width(), 794, 1);  // A4 at 96 dots per inch
    EXPECT_NEAR(page.height(), 1123, 1);

    // The paper colour fills the content rectangle: 40 points (53.3 units)
    // in from every edge, the printer's margin and as much again; outside
    // it the page is white.
    // (Rows and columns that no bubble crosses: the day is centred at the
    // top, the outgoing bubble on the right.)
    const int midY = page.height() / 2;
    const int midX = page.width() * 5 / 8;
    int left = -1, right = -1, top = -1, bottom = -1;
    for (int x = 0; x < page.width(); ++x)
        if (isPaper(page.pixel(x, midY))) {
            if (left < 0)
                left = x;
            right = x;
        }
    for (int y = 0; y < page.height(); ++y)
        if (isPaper(page.pixel(midX, y))) {
            if (top < 0)
                top = y;
            bottom = y;
        }
    EXPECT_NEAR(left, 54, 1);
    EXPECT_NEAR(top, 54, 1);
    EXPECT_NEAR(right, page.width() - 55, 1);
    EXPECT_NEAR(bottom, 1067, 1);
    for (const QPoint& p : {QPoint(5, 5), QPoint(left - 3, midY), QPoint(right + 3, midY), QPoint(midX, top - 3),
                            QPoint(page.width() - 5, page.height() - 5)})
        EXPECT_TRUE(near(page.pixel(p), 255, 255, 255, 1)) << p.x() << "," << p.y();

    // The outgoing bubble's green reaches the right edge of the content.
    bool greenAtTheEdge = false;
    bool greenBeyond = false;
    for (int y = top; y < top + 300; ++y) {
        greenAtTheEdge = greenAtTheEdge || near(page.pixel(right, y), 217, 253, 211, 10);
        greenBeyond = greenBeyond || near(page.pixel(right + 2, y), 217, 253, 211, 10);
    }
    EXPECT_TRUE(greenAtTheEdge);
    EXPECT_FALSE(greenBeyond);
    // The incoming bubble is white on the left.
    bool whiteBubble = false;
    for (int y = top; y < top + 300 && !whiteBubble; ++y)
        whiteBubble = near(page.pixel(left + 30, y), 255, 255, 255, 1);
    EXPECT_TRUE(whiteBubble);

    // The page number: grey-blue glyphs in the band 2 to 19 units below the
    // content, at its right end only.
    int darkest = 255 * 3;
    QRgb darkestPixel = 0;
    bool inkOnTheLeft = false;
    for (int y = bottom + 2; y <= bottom + 20 && y < page.height(); ++y) {
        for (int x = left; x <= right; ++x) {
            const QRgb p = page.pixel(x, y);
            const int sum = qRed(p) + qGreen(p) + qBlue(p);
            if (x < midX && sum < 700)
                inkOnTheLeft = true;
            if (sum < darkest) {
                darkest = sum;
                darkestPixel = p;
                EXPECT_GT(x, right - 40);
            }
        }
    }
    EXPECT_FALSE(inkOnTheLeft);
    EXPECT_LT(darkest, 600);
    EXPECT_GT(qBlue(darkestPixel), qRed(darkestPixel));
}
