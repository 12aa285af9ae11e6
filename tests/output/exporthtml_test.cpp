// The HTML export and the attachment extraction on message lists built
// here: file names, copied attachments, paging, clean-up, file times.
#include "output/exportmessageshtml.h"
#include "output/exportmessagesthread.h"
#include "output/extractmediafilesthread.h"

#include "base/recordingmonitor.h"
#include "chatstore/displayrules.h"
#include "chatstore/wamsgslistsource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {

const QString kAssets = QStringLiteral(Q_SOURCE_DIR "/wabb");

PChatSession chat(qint64 pk, const QString& jid, const QString& name, bool group = false)
{
    auto s = std::make_shared<_ChatSession>();
    s->Z_PK = pk;
    s->ZCONTACTJID = jid;
    s->ZPARTNERNAME = name;
    if (group)
        s->groupInfo = std::make_shared<_GroupInfo>();
    return s;
}

_Message msg(qint64 pk, PChatSession s, const QString& text, int type = msgtype::kText)
{
    _Message m;
    m.Z_PK = pk;
    m.session = std::move(s);
    m.ZCHATSESSION = m.session ? m.session->Z_PK : 0;
    m.ZTEXT = text;
    m.ZMESSAGETYPE = type;
    m.ZMESSAGEDATE = 700000000.0 + pk * 60;
    m.ZFROMJID = m.session ? m.session->ZCONTACTJID : QString();
    return m;
}

_Message withMedia(_Message m, const QString& file, const QString& thumb = {})
{
    auto media = std::make_shared<_MediaItem>();
    media->Z_PK = m.Z_PK;
    media->mediaFile = file;
    media->thumbnailFile = thumb;
    m.media = media;
    return m;
}

QString writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(data);
    return path;
}

QString readText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

struct HtmlRun {
    bool ok = false;
    QString folder;
    QStringList successes;
    QStringList errors;
};

HtmlRun exportHtml(const QList<_Message>& list, const QString& out, RecordingMonitor* monitor = nullptr)
{
    RecordingMonitor own;
    RecordingMonitor& m = monitor ? *monitor : own;
    ExportMessagesThread job(std::make_shared<WAMsgsListSource>(list), out, ExportMessagesThread::kHtml);
    job.setAssetFolder(kAssets);
    job.run(m);
    return {m.succeeded(), job.outputPath(), m.successes(), m.errors()};
}

// Every src and href value of a page.
QStringList references(const QString& html)
{
    static const QRegularExpression re(QStringLiteral("(?:src|href)=\"([^\"]*)\""));
    QStringList out;
    for (const auto& m : re.globalMatch(html))
        out << m.captured(1);
    return out;
}

QStringList files(const QString& folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    names.sort();
    return names;
}

}  // namespace

TEST(ExportHtml, CopiesAttachmentsOnceUnderSafeUniqueNamesAndReferencesOnlyThem)
{
    QTemporaryDir dir;
    const QString media = dir.filePath(QStringLiteral("media"));
    const QString photoA = writeFile(media + QStringLiteral("/a/photo.jpg"), "A");
    const QString photoB = writeFile(media + QStringLiteral("/b/photo.jpg"), "B");
    const QString hostile = writeFile(media + QStringLiteral("/a\" onerror=\"b #1 100%.jpg"), "H");
    const QString voice = writeFile(media + QStringLiteral("/v.opus"), "V");

    const PChatSession anna = chat(1, QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna <b>"));
    QList<_Message> list;
    list << withMedia(msg(1, anna, {}, msgtype::kImage), photoA, photoA);
    list << withMedia(msg(2, anna, {}, msgtype::kImage), photoB, photoB);
    list << withMedia(msg(3, anna, {}, msgtype::kImage), photoA, photoA);  // the same file again
    list << withMedia(msg(4, anna, {}, msgtype::kImage), hostile, hostile);
    list << withMedia(msg(5, anna, {}, msgtype::kImage), media + QStringLiteral("/gone.jpg"),
                      QStringLiteral("http://example.com/t.jpg"));
    list << withMedia(msg(6, anna, {}, msgtype::kAudio), voice);
    list << withMedia(msg(7, anna, {}, msgtype::kDocument), hostile);
    list << msg(8, anna, QStringLiteral("<script>alert(1)</script> & \U0001F600"));
    list << msg(9, nullptr, QStringLiteral("orphan"));

    const HtmlRun run = exportHtml(list, dir.filePath(QStringLiteral("out-html")));
    ASSERT_TRUE(run.ok) << run.errors.join(' ').toStdString();
    EXPECT_EQ(run.successes, QStringList{QStringLiteral("Successfully exported 8 Messages.")});
    // "<" and ">" cannot be in names on every file system: escaped.
    EXPECT_EQ(files(run.folder), QStringList{QStringLiteral("Anna %3cb%3e(4915550001).html")});
    const QString filesFolder = run.folder + QStringLiteral("/files");
    const QStringList copied = files(filesFolder);
    for (const char* asset : {"style.css", "voice.png", "contact.png", "empty_photo.jpg"})
        EXPECT_TRUE(copied.contains(QLatin1String(asset))) << asset;
    EXPECT_TRUE(copied.contains(QStringLiteral("photo.jpg")));
    EXPECT_TRUE(copied.contains(QStringLiteral("photo(1).jpg")));
    EXPECT_FALSE(copied.contains(QStringLiteral("photo(2).jpg")));  // photoA copied once
    EXPECT_EQ(copied.size(), 4 + 4) << copied.join(' ').toStdString();  // assets, 2 photos, hostile, voice

    const QString html = readText(run.folder + QStringLiteral("/Anna %3cb%3e(4915550001).html"));
    EXPECT_TRUE(html.startsWith(QStringLiteral("<!DOCTYPE html PUBLIC")));
    EXPECT_TRUE(html.contains(QStringLiteral("<title>Quillometry Chat Transfer</title>")));
    EXPECT_FALSE(html.contains(QStringLiteral("<script")));
    EXPECT_TRUE(html.contains(QStringLiteral("&lt;script&gt;alert(1)&lt;/script&gt; &amp; \U0001F600")));
    EXPECT_FALSE(html.contains(QStringLiteral("orphan")));
    EXPECT_TRUE(html.contains(QStringLiteral("target=\"_blank\"")));
    EXPECT_TRUE(html.contains(QStringLiteral("<div class=\"handle\" style=\"color:#FFD22D\">Anna &lt;b&gt;(4915550001)</div>")));
    EXPECT_TRUE(html.contains(QStringLiteral("src=\"files/voice.png\"")));
    EXPECT_TRUE(html.contains(QStringLiteral("src=\"files/empty_photo.jpg\"")));  // missing file, web thumbnail
    EXPECT_FALSE(html.contains(QStringLiteral("example.com")));
    EXPECT_FALSE(html.contains(QStringLiteral("file:")));
    EXPECT_FALSE(html.contains(QStringLiteral("atta:")));
    // Every reference names a file of the export (the style sheet link and
    // the pages included), percent-encoded.
    for (const QString& ref : references(html)) {
        ASSERT_TRUE(ref.startsWith(QStringLiteral("files/"))) << ref.toStdString();
        EXPECT_FALSE(ref.contains(QLatin1Char(' ')) || ref.contains(QLatin1Char('#')) || ref.contains(QLatin1Char('"')));
        const QString name = QUrl::fromPercentEncoding(ref.mid(6).toUtf8());
        EXPECT_TRUE(QFileInfo(filesFolder + QLatin1Char('/') + name).isFile()) << name.toStdString();
    }
    int hostileRefs = 0;
    for (const QString& ref : references(html))
        hostileRefs += QUrl::fromPercentEncoding(ref.toUtf8()).contains(QStringLiteral("onerror")) ? 1 : 0;
    EXPECT_EQ(hostileRefs, 3);  // image link and thumbnail, document link
}

TEST(ExportHtml, ChatNamesAreSafeAndDistinctAndLongChatsAreLinkedPages)
{
    QTemporaryDir dir;
    const PChatSession team1 = chat(3, QStringLiteral("1-3@g.us"), QStringLiteral("Team"), true);
    const PChatSession team2 = chat(5, QStringLiteral("1-5@g.us"), QStringLiteral("TEAM"), true);
    const PChatSession empty = chat(6, QStringLiteral("1-6@g.us"), QString(), true);
    const PChatSession emoji = chat(7, QStringLiteral("49@s.whatsapp.net"),
                                    QString::fromUtf8("\xF0\x9F\x98\x80").repeated(200));
    const PChatSession dots = chat(8, QStringLiteral("../../x@s.whatsapp.net"), QStringLiteral("../../evil"));
    const PChatSession big = chat(9, QStringLiteral("4915550009@s.whatsapp.net"), QStringLiteral("Big"));
    QList<_Message> list;
    qint64 pk = 1;
    for (const PChatSession& s : {team1, team2, empty, emoji, dots})
        list << msg(pk++, s, QStringLiteral("hello"));
    for (int i = 0; i < 12000; ++i)
        list << msg(pk++, big, QStringLiteral("m%1").arg(i));

    const HtmlRun run = exportHtml(list, dir.filePath(QStringLiteral("out")));
    ASSERT_TRUE(run.ok) << run.errors.join(' ').toStdString();
    const QStringList pages = files(run.folder);
    ASSERT_EQ(pages.size(), 8) << pages.join(' ').toStdString();
    EXPECT_TRUE(pages.contains(QStringLiteral("Team.html")));
    EXPECT_TRUE(pages.contains(QStringLiteral("TEAM(1).html")));
    EXPECT_TRUE(pages.contains(QStringLiteral("Big(4915550009).html")));
    EXPECT_TRUE(pages.contains(QStringLiteral("Big(4915550009)_2.html")));
    EXPECT_TRUE(pages.contains(QStringLiteral("Big(4915550009)_3.html")));
    for (const QString& p : pages) {
        EXPECT_FALSE(p.startsWith(QLatin1Char('.'))) << p.toStdString();
        EXPECT_LE(p.toUtf8().size(), 150 + 5) << p.toStdString();
    }
    // Nothing was written outside the export folder.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{QStringLiteral("out")});

    const QString first = readText(run.folder + QStringLiteral("/Big(4915550009).html"));
    const QString second = readText(run.folder + QStringLiteral("/Big(4915550009)_2.html"));
    const QString third = readText(run.folder + QStringLiteral("/Big(4915550009)_3.html"));
    EXPECT_EQ(first.count(QStringLiteral("class=\"bb1\"")), 5000);
    EXPECT_EQ(second.count(QStringLiteral("class=\"bb1\"")), 5000);
    EXPECT_EQ(third.count(QStringLiteral("class=\"bb1\"")), 2000);
    EXPECT_TRUE(first.contains(QStringLiteral("href=\"Big%284915550009%29_2.html\">Next")));
    EXPECT_FALSE(first.contains(QStringLiteral("Previous")));
    EXPECT_TRUE(second.contains(QStringLiteral("href=\"Big%284915550009%29.html\">&lt;&lt; Previous")));
    EXPECT_TRUE(second.contains(QStringLiteral("href=\"Big%284915550009%29_3.html\">Next")));
    EXPECT_FALSE(third.contains(QStringLiteral("Next")));
    // Each file starts with its day.
    EXPECT_TRUE(second.contains(QStringLiteral("<div class=\"r\">")));
}

TEST(ExportHtml, ExistingFolderGetsAFreshNameAndCancelOrErrorRemoveOnlyThisRun)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("chats-html"));
    writeFile(out + QStringLiteral("/keep.txt"), "mine");
    const PChatSession anna = chat(1, QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
    const QList<_Message> list = {msg(1, anna, QStringLiteral("a")), msg(2, anna, QStringLiteral("b"))};

    const HtmlRun fresh = exportHtml(list, out);
    ASSERT_TRUE(fresh.ok);
    EXPECT_EQ(fresh.folder, dir.filePath(QStringLiteral("chats-html(1)")));
    EXPECT_EQ(files(out), QStringList{QStringLiteral("keep.txt")});

    RecordingMonitor cancelled;
    cancelled.requestCancel();
    const HtmlRun c = exportHtml(list, out, &cancelled);
    EXPECT_FALSE(c.ok);
    EXPECT_TRUE(c.errors.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("chats-html(2)"))));

    // No style set: an error, and the new folder goes again.
    RecordingMonitor failed;
    ExportMessagesThread job(std::make_shared<WAMsgsListSource>(list), out, ExportMessagesThread::kHtmlAlso);
    job.setAssetFolder(dir.filePath(QStringLiteral("nowhere")));
    job.run(failed);
    EXPECT_FALSE(failed.succeeded());
    ASSERT_EQ(failed.errors().size(), 1);
    EXPECT_TRUE(failed.errors().first().contains(QStringLiteral("style")));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("chats-html"), QStringLiteral("chats-html(1)")}));
    EXPECT_EQ(readText(out + QStringLiteral("/keep.txt")), QStringLiteral("mine"));
}

TEST(ExportHtml, ManyChatsNeedOnlyOneOpenFile)
{
    // More chats than the process may open files: each chat's page is
    // closed before the next one opens.
    QTemporaryDir dir;
    QList<_Message> list;
    for (int i = 0; i < 300; ++i) {
        const PChatSession s = chat(i + 1, QStringLiteral("49%1@s.whatsapp.net").arg(i), QStringLiteral("C%1").arg(i));
        list << msg(i + 1, s, QStringLiteral("x"));
    }
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit low = old;
    low.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    const HtmlRun run = exportHtml(list, dir.filePath(QStringLiteral("many")));
    setrlimit(RLIMIT_NOFILE, &old);
    ASSERT_TRUE(run.ok) << run.errors.join(' ').toStdString();
    EXPECT_EQ(files(run.folder).size(), 300);
}

TEST(ExtractMedia, OneFilePerAttachmentDatedAsTheMessage)
{
    QTemporaryDir dir;
    const QString media = dir.filePath(QStringLiteral("media"));
    const QString photoA = writeFile(media + QStringLiteral("/a/photo.jpg"), "A");
    const QString photoB = writeFile(media + QStringLiteral("/b/photo.jpg"), "B");
    const QString map = writeFile(media + QStringLiteral("/map.jpg"), "M");
    const QString place = writeFile(media + QStringLiteral("/place.bin"), "P");
    const PChatSession anna = chat(1, QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));

    QList<_Message> list;
    list << withMedia(msg(1, anna, {}, msgtype::kImage), photoA);
    list << withMedia(msg(2, anna, {}, msgtype::kImage), photoB);
    list << msg(3, anna, QStringLiteral("just text"));
    list << withMedia(msg(4, anna, {}, msgtype::kLocation), place, map);
    _Message card = withMedia(msg(5, anna, {}, msgtype::kContact), {});
    card.media->ZVCARDNAME = QStringLiteral("Bob");
    card.media->cardTexts = {QStringLiteral("BEGIN:VCARD\nVERSION:3.0\nFN:Bob\nEND:VCARD")};
    list << card;
    list << withMedia(msg(6, anna, {}, msgtype::kVideo), media + QStringLiteral("/missing.mp4"));
    _Message far = withMedia(msg(7, anna, {}, msgtype::kDocument), writeFile(media + QStringLiteral("/far.pdf"), "F"));
    far.ZMESSAGEDATE = 5e9;  // beyond the 32-bit range
    list << far;

    const QString out = ExtractMediaFilesThread::outputFolderIn(dir.filePath(QStringLiteral("x")),
                                                                QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
    EXPECT_TRUE(out.endsWith(QStringLiteral("/x/attachments(20260102-030405)")));
    ExtractMediaFilesThread job(std::make_shared<WAMsgsListSource>(list), out);
    RecordingMonitor monitor;
    job.run(monitor);
    ASSERT_TRUE(monitor.succeeded()) << monitor.errors().join(' ').toStdString();
    EXPECT_EQ(monitor.successes(),
              QStringList{QStringLiteral("Successfully extracted attachments to %1.").arg(QDir::toNativeSeparators(out))});
    const QString vcf = QStringLiteral("quillometry-wavcard-5-5-Bob.vcf");
    EXPECT_EQ(files(out), (QStringList{QStringLiteral("far.pdf"), QStringLiteral("map.jpg"), QStringLiteral("photo(1).jpg"),
                                       QStringLiteral("photo.jpg"), vcf}));
    EXPECT_EQ(readText(out + QStringLiteral("/photo.jpg")), QStringLiteral("A"));
    EXPECT_EQ(readText(out + QStringLiteral("/photo(1).jpg")), QStringLiteral("B"));
    EXPECT_TRUE(readText(out + QLatin1Char('/') + vcf).contains(QStringLiteral("FN:Bob")));

    struct TimeCase {
        QString name;
        double date;
    };
    for (const TimeCase& c : {TimeCase{QStringLiteral("photo.jpg"), list[0].ZMESSAGEDATE},
                              TimeCase{QStringLiteral("map.jpg"), list[3].ZMESSAGEDATE},
                              TimeCase{vcf, list[4].ZMESSAGEDATE}}) {
        EXPECT_EQ(QFileInfo(out + QLatin1Char('/') + c.name).lastModified().toSecsSinceEpoch(),
                  qint64(c.date) + 978307200)
            << c.name.toStdString();
    }
    // Out of range: the time of the copy, not a wrapped-around date.
    EXPECT_GT(QFileInfo(out + QStringLiteral("/far.pdf")).lastModified().toSecsSinceEpoch(),
              QDateTime::currentSecsSinceEpoch() - 3600);

    struct RangeCase {
        double date;
        bool set;
        qint64 unix;
    };
    for (const RangeCase& c : {RangeCase{0, true, 978307200}, RangeCase{2147483647.9, true, 2147483647LL + 978307200},
                               RangeCase{-2147483648.0, true, -2147483648LL + 978307200},
                               RangeCase{2147483648.0, false, 0}, RangeCase{std::nan(""), false, 0}}) {
        qint64 t = 0;
        EXPECT_EQ(ExtractMediaFilesThread::fileTimeOf(c.date, &t), c.set) << c.date;
        if (c.set)
            EXPECT_EQ(t, c.unix) << c.date;
    }
}

TEST(ExtractMedia, AFileThatCannotBeWrittenFailsTheJobAndLeavesNoPart)
{
    QTemporaryDir dir;
    const QString big = writeFile(dir.filePath(QStringLiteral("media/big.bin")), QByteArray(64 * 1024, 'x'));
    const PChatSession anna = chat(1, QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
    const QList<_Message> list = {withMedia(msg(1, anna, {}, msgtype::kDocument), big)};
    const QString out = dir.filePath(QStringLiteral("out"));

    // Files may grow to 1 KiB only: the copy fails as on a full disk.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit low = old;
    low.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
    ExtractMediaFilesThread job(std::make_shared<WAMsgsListSource>(list), out);
    RecordingMonitor monitor;
    job.run(monitor);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(monitor.succeeded());
    ASSERT_EQ(monitor.errors().size(), 1);
    EXPECT_TRUE(monitor.errors().first().contains(QStringLiteral("big.bin")));
    EXPECT_TRUE(files(out).isEmpty()) << files(out).join(' ').toStdString();
}
