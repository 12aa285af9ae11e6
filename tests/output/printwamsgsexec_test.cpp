// The bubble painter on a PDF writer set up as the PDF export sets it up:
// where bubbles, pictures and day separators land, the page limit and what
// a following run starts with, bubbles taller than a page, the tile set.
#include "output/bubbletiles.h"
#include "output/printwamsgsexec.h"

#include "base/recordingmonitor.h"
#include "chatstore/displayrules.h"
#include "chatstore/wamsgslistsource.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <mutex>

namespace {

using Part = PrintWAMsgsExec::Placement::Part;

const QString kAssets = QStringLiteral(Q_SOURCE_DIR "/wabb");

PChatSession chat(qint64 pk, const QString& jid, const QString& name)
{
    auto s = std::make_shared<_ChatSession>();
    s->Z_PK = pk;
    s->ZCONTACTJID = jid;
    s->ZPARTNERNAME = name;
    return s;
}

const PChatSession kAnna = chat(1, QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));

// Message `pk`, one minute after the one before (all on 14 Mar 2023 unless
// the date is given).
_Message msg(qint64 pk, const QString& text, int fromMe = 0, int type = msgtype::kText, double date = 0)
{
    _Message m;
    m.Z_PK = pk;
    m.session = kAnna;
    m.ZCHATSESSION = kAnna->Z_PK;
    m.ZTEXT = text;
    m.ZISFROMME = fromMe;
    m.ZMESSAGETYPE = type;
    m.ZMESSAGEDATE = date != 0 ? date : 700500000.0 + pk * 60;
    return m;
}

_Message picture(qint64 pk, const QString& thumbnail, const QString& caption = {}, bool quoted = false)
{
    _Message m = msg(pk, QString(), 0, msgtype::kImage);
    auto media = std::make_shared<_MediaItem>();
    media->thumbnailFile = thumbnail;
    media->ZTITLE = caption;
    if (quoted) {
        media->quote.stanzaId = QStringLiteral("3EB0QUOTED");
        media->quote.senderJid = kAnna->ZCONTACTJID;
    }
    m.media = media;
    return m;
}

QList<_Message> shortMessages(int n, int from = 1)
{
    QList<_Message> list;
    for (int i = 0; i < n; ++i)
        list << msg(from + i, QStringLiteral("message %1").arg(from + i), i % 2);
    return list;
}

struct Painted {
    qint64 printed = 0;
    bool limit = false;
    int pages = 0;
    QRect content;
    std::vector<PrintWAMsgsExec::Placement> placed;
    QByteArray pdf;

    std::vector<PrintWAMsgsExec::Placement> of(qint64 index) const
    {
        std::vector<PrintWAMsgsExec::Placement> out;
        for (const auto& p : placed)
            if (p.index == index)
                out.push_back(p);
        return out;
    }
    int count(Part part) const
    {
        return int(std::count_if(placed.begin(), placed.end(), [&](const auto& p) { return p.part == part; }));
    }
};

// One run over `messages` into an A4 PDF with 20-point margins at 96 units
// per inch.
Painted print(const QList<_Message>& messages, qint64 start = 0, int maxPages = 0, int runIndex = 0,
          const QString& assets = kAssets, const std::function<void(PrintWAMsgsExec&)>& before = {})
{
    Painted r;
    QBuffer buffer(&r.pdf);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(96);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(20, 20, 20, 20),
                                     QPageLayout::Point));
    PrintWAMsgsExec exec(&writer, std::make_shared<WAMsgsListSource>(messages), start, nullptr, maxPages, runIndex);
    exec.setAssetFolder(assets);
    exec.setPlacementObserver([&](const PrintWAMsgsExec::Placement& p) { r.placed.push_back(p); });
    if (before)
        before(exec);
    r.printed = exec.run();
    r.limit = exec.limitReached();
    r.pages = exec.pageCount();
    r.content = exec.contentRect();
    return r;
}

QString writeImage(const QString& path, int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(40, 120, 200));
    EXPECT_TRUE(image.save(path));
    return path;
}

}  // namespace

TEST(PrintWAMsgsExec, PageGeometryAndPlacementByKind)
{
    const Painted r = print({msg(1, QStringLiteral("hello"), 0), msg(2, QStringLiteral("hi"), 1),
                         msg(3, QStringLiteral("Anna joined"), 0, msgtype::kGroupEvent)});
    // A4 at 96 units per inch, 20 points (26.7 units) of printer margin and
    // as much again around the content: whole units, rounded.
    EXPECT_EQ(r.content, QRect(27, 27, 686, 1014));
    EXPECT_EQ(r.printed, 3);
    EXPECT_FALSE(r.limit);
    EXPECT_EQ(r.pages, 1);

    ASSERT_EQ(r.of(0).size(), 2u);  // the day, then the bubble
    EXPECT_EQ(r.of(0)[0].part, Part::Day);
    const QRect day = r.of(0)[0].rect;
    EXPECT_EQ(day.top(), r.content.top());
    EXPECT_LE(std::abs((day.left() - r.content.left()) - (r.content.right() - day.right())), 1);
    const QRect incoming = r.of(0)[1].rect;
    EXPECT_EQ(incoming.left(), r.content.left());
    EXPECT_EQ(incoming.top(), day.bottom() + 1 + 10);
    EXPECT_GE(incoming.width(), 150);  // the kind's minimum width
    ASSERT_EQ(r.of(1).size(), 1u);
    const QRect outgoing = r.of(1)[0].rect;
    EXPECT_EQ(outgoing.right(), r.content.right());
    EXPECT_EQ(outgoing.top(), incoming.bottom() + 1 + 10);
    ASSERT_EQ(r.of(2).size(), 1u);
    const QRect event = r.of(2)[0].rect;
    EXPECT_EQ(r.of(2)[0].part, Part::Event);
    EXPECT_LE(std::abs((event.left() - r.content.left()) - (r.content.right() - event.right())), 1);
    EXPECT_GE(event.width(), 80);
}

TEST(PrintWAMsgsExec, PicturesAreScaledTo200OnTheirLongerSideAndBadOnesShowTheEmptyPhoto)
{
    QTemporaryDir dir;
    // A PNG header that claims 60000 x 60000 pixels, and nothing else.
    const QString huge = dir.filePath(QStringLiteral("huge.png"));
    QFile f(huge);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray::fromHex("89504e470d0a1a0a0000000d494844520000ea600000ea6008020000000fb0e215"
                                "0000000049454e44ae426082"));
    f.close();
    const QString garbage = dir.filePath(QStringLiteral("garbage.jpg"));
    QFile g(garbage);
    ASSERT_TRUE(g.open(QIODevice::WriteOnly));
    g.write("not a picture");
    g.close();

    const struct {
        QString file;
        QSize expected;
    } cases[] = {
        {writeImage(dir.filePath(QStringLiteral("landscape.png")), 800, 200), QSize(200, 50)},
        {writeImage(dir.filePath(QStringLiteral("portrait.jpg")), 60, 300), QSize(40, 200)},
        {writeImage(dir.filePath(QStringLiteral("small.png")), 32, 24), QSize(200, 150)},
        {dir.filePath(QStringLiteral("missing.jpg")), QSize(200, 150)},  // wabb/empty_photo.jpg is 200 x 150
        {garbage, QSize(200, 150)},
        {huge, QSize(200, 150)},
    };
    QList<_Message> list;
    for (const auto& c : cases)
        list << picture(list.size() + 1, c.file);
    const Painted r = print(list);
    ASSERT_EQ(r.printed, qint64(std::size(cases)));
    for (qsizetype i = 0; i < list.size(); ++i) {
        const auto parts = r.of(i);
        const auto it = std::find_if(parts.begin(), parts.end(), [](const auto& p) { return p.part == Part::Picture; });
        ASSERT_NE(it, parts.end()) << i;
        EXPECT_EQ(it->picture.size(), cases[i].expected) << cases[i].file.toStdString();
        EXPECT_TRUE(it->rect.contains(it->picture)) << i;
    }
}

TEST(PrintWAMsgsExec, OneDaySeparatorPerDayAndOneAtTheStartOfEveryRun)
{
    const double day1 = 700500000.0;
    const double day2 = day1 + 86400;
    const QList<_Message> list = {msg(1, QStringLiteral("a"), 0, msgtype::kText, day1),
                                  msg(2, QStringLiteral("b"), 1, msgtype::kText, day1 + 60),
                                  msg(3, QStringLiteral("c"), 0, msgtype::kText, day2),
                                  msg(4, QStringLiteral("d"), 0, msgtype::kText, day2 + 60)};
    const Painted all = print(list);
    EXPECT_EQ(all.count(Part::Day), 2);
    EXPECT_EQ(all.of(0).front().part, Part::Day);
    EXPECT_EQ(all.of(1).size(), 1u);
    EXPECT_EQ(all.of(2).front().part, Part::Day);
    EXPECT_EQ(all.of(3).size(), 1u);

    const Painted second = print(list, 1);
    EXPECT_EQ(second.printed, 3);
    EXPECT_EQ(second.count(Part::Day), 2);
    EXPECT_EQ(second.of(1).front().part, Part::Day);
}

TEST(PrintWAMsgsExec, AMessageThatDoesNotFitOnTheLastPageStartsTheNextRunUncounted)
{
    const QList<_Message> list = shortMessages(60);
    const Painted first = print(list, 0, 1, 0);
    EXPECT_TRUE(first.limit);
    EXPECT_GT(first.printed, 5);
    EXPECT_LT(first.printed, 60);
    EXPECT_EQ(first.pages, 1);
    for (const auto& p : first.placed) {
        EXPECT_EQ(p.page, 1);
        EXPECT_LT(p.index, first.printed);
        EXPECT_LE(p.rect.bottom(), first.content.bottom());
    }
    const Painted second = print(list, first.printed, 1, 1);
    ASSERT_FALSE(second.placed.empty());
    EXPECT_EQ(second.placed.front().index, first.printed);
    EXPECT_EQ(second.placed.front().part, Part::Day);

    // Runs of at most one page each cover the list exactly once.
    qint64 done = 0;
    for (int run = 0; done < list.size() && run < 20; ++run)
        done += print(list, done, 1, run).printed;
    EXPECT_EQ(done, list.size());
}

TEST(PrintWAMsgsExec, AMessageOfSeveralPartsIsPaintedWholeOrNotAtAll)
{
    QTemporaryDir dir;
    const QString photo = writeImage(dir.filePath(QStringLiteral("p.png")), 300, 200);
    // The quote's bubble alone, to know when it would still have fitted.
    const Painted probe = print({picture(1, photo, QStringLiteral("caption"), true)});
    int quoteHeight = 0;
    for (const auto& p : probe.placed)
        if (p.part == Part::Quote)
            quoteHeight = p.rect.height();
    ASSERT_GT(quoteHeight, 0);

    bool heldBackWithRoomForAPart = false;
    for (int k = 1; k <= 20; ++k) {
        QList<_Message> list = shortMessages(k);
        list << picture(k + 1, photo, QStringLiteral("caption"), true) << msg(k + 2, QStringLiteral("after"));
        const Painted r = print(list, 0, 1, 0);
        if (r.printed < k)
            break;  // the page is full of short ones
        const auto parts = r.of(k);
        if (parts.empty()) {
            EXPECT_EQ(r.printed, k);
            EXPECT_TRUE(r.limit);
            int bottom = r.content.top();
            for (const auto& p : r.placed)
                bottom = std::max(bottom, p.rect.bottom() + 1 + 10);
            if (r.content.bottom() - bottom + 1 >= quoteHeight)
                heldBackWithRoomForAPart = true;
        } else {
            EXPECT_EQ(parts.size(), 3u) << k;  // quote, picture, caption
            for (const auto& p : parts)
                EXPECT_EQ(p.page, 1);
        }
    }
    EXPECT_TRUE(heldBackWithRoomForAPart);
}

TEST(PrintWAMsgsExec, ABubbleTallerThanAPageGoesOnOverTheFollowingPages)
{
    QString words;
    for (int i = 0; words.size() < 30000; ++i)
        words += QStringLiteral("word%1 ").arg(i);
    words += QStringLiteral("LASTWORD");
    const QList<_Message> list = {msg(1, words, 1), msg(2, QStringLiteral("after"), 0)};

    const Painted r = print(list);
    EXPECT_EQ(r.printed, 2);
    std::vector<PrintWAMsgsExec::Placement> pieces;
    for (const auto& p : r.of(0))
        if (p.part == Part::Text)
            pieces.push_back(p);
    ASSERT_GE(pieces.size(), 4u);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        EXPECT_EQ(pieces[i].page, pieces.front().page + int(i));
        EXPECT_GE(pieces[i].rect.top(), r.content.top());
        EXPECT_LE(pieces[i].rect.bottom(), r.content.bottom());
        EXPECT_EQ(pieces[i].rect.right(), r.content.right());
        if (i > 0)
            EXPECT_EQ(pieces[i].rect.top(), r.content.top());
    }
    EXPECT_EQ(r.pages, r.of(1).back().page);

    // The first message of a run is painted even past the page limit; what
    // follows fills its last page, and the run stops before another.
    const QList<_Message> more = QList<_Message>{list.first()} + shortMessages(40, 2);
    const Painted limited = print(more, 0, 2, 0);
    EXPECT_TRUE(limited.limit);
    EXPECT_GT(limited.printed, 1);
    EXPECT_LT(limited.printed, more.size());
    const int last = limited.of(0).back().page;
    EXPECT_GT(last, 2);
    EXPECT_EQ(limited.pages, last);
    for (const auto& p : limited.placed)
        EXPECT_LE(p.page, last);
}

TEST(PrintWAMsgsExec, CancelStopsBeforeTheNextMessage)
{
    const QList<_Message> list = shortMessages(5);
    const Painted direct = print(list, 0, 0, 0, kAssets, [](PrintWAMsgsExec& e) { e.setCancel(); });
    EXPECT_EQ(direct.printed, 0);
    EXPECT_TRUE(direct.placed.empty());

    RecordingMonitor monitor;
    monitor.cancelAfterReports(3);
    QByteArray pdf;
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    PrintWAMsgsExec exec(&writer, std::make_shared<WAMsgsListSource>(list), 0, &monitor, 0, 0);
    exec.setAssetFolder(kAssets);
    const qint64 printed = exec.run();
    EXPECT_TRUE(exec.wasCancelled());
    EXPECT_EQ(printed, 2);
    EXPECT_TRUE(monitor.successes().isEmpty());
    ASSERT_FALSE(monitor.reports().isEmpty());
    EXPECT_EQ(monitor.reports().first().status, "Printing...");
}

TEST(PrintWAMsgsExec, MissingTilesAreLoggedOnceAndTheMessagesStillPrint)
{
    QTemporaryDir empty;
    static std::mutex mutex;
    static QStringList warnings;
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&,
                                                                const QString& text) {
        std::lock_guard<std::mutex> lock(mutex);
        if (type == QtWarningMsg)
            warnings << text;
    });
    const Painted first = print(shortMessages(3), 0, 0, 0, empty.path());
    const Painted second = print(shortMessages(3), 0, 0, 0, empty.path());
    qInstallMessageHandler(previous);

    EXPECT_EQ(first.printed, 3);
    EXPECT_EQ(second.printed, 3);
    const QStringList about = warnings.filter(QStringLiteral("bb1_01.png"));
    ASSERT_EQ(about.size(), 1) << warnings.join('\n').toStdString();
    EXPECT_TRUE(about.first().contains(QStringLiteral("empty_photo.jpg")));

    // The installed set is complete.
    EXPECT_TRUE(BubbleTiles::of(kAssets)->missing().isEmpty());
}
