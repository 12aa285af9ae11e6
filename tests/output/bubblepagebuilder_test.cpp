#include "output/bubblepagebuilder.h"

#include "chatstore/displayrules.h"
#include "chatstore/wamsgslistsource.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

double at(int y, int mo, int d, int h, int mi)
{
    return dateTimeToCoreData(QDateTime(QDate(y, mo, d), QTime(h, mi), Qt::LocalTime));
}

_Message text(qint64 pk, const QString& body, double date, int type = msgtype::kText)
{
    _Message m;
    m.Z_PK = pk;
    m.ZMESSAGETYPE = type;
    m.ZTEXT = body;
    m.ZMESSAGEDATE = date;
    return m;
}

_Message withMedia(qint64 pk, int type, _MediaItem media, double date = 0)
{
    _Message m = text(pk, QString(), date ? date : at(2024, 3, 5, 15, 7), type);
    m.media = std::make_shared<_MediaItem>(std::move(media));
    return m;
}

// n messages one minute apart on one day, Z_PK from 1.
QList<_Message> sameDay(int n, int type = msgtype::kText)
{
    QList<_Message> list;
    for (int i = 0; i < n; ++i)
        list << text(i + 1, QStringLiteral("m%1").arg(i + 1), at(2024, 3, 5, 8, 0) + 60.0 * i, type);
    return list;
}

QString page(QList<_Message> messages, qint64 p, BubblePageOptions options = {})
{
    WAMsgsListSource source(std::move(messages));
    return BubblePageBuilder(options).buildPage(source, source.count(), p);
}

int occurrences(const QString& html, const QString& what) { return html.count(what); }

QStringList anchors(const QString& html)
{
    QStringList names;
    static const QRegularExpression re(QStringLiteral("<a name=\"(sms_[0-9]+)\"></a>"));
    for (const auto& m : re.globalMatch(html))
        names << m.captured(1);
    return names;
}

const QString kDayBubble = QStringLiteral("<div style=\"text-align:center; margin-bottom:10px;\"><div class=\"r\">");
// The nine frame cells every bubble starts with.
const QString kCells = QStringLiteral(
    "<div class=\"bb_bg top_left\"></div><div class=\"bb_bg top_middle\"></div><div class=\"bb_bg top_right\"></div>"
    "<div class=\"bb_bg middle_left\"></div><div class=\"bb_bg middle_middle\"></div><div class=\"bb_bg middle_right\"></div>"
    "<div class=\"bb_bg bottom_left\"></div><div class=\"bb_bg bottom_middle\"></div><div class=\"bb_bg bottom_right\"></div>");

}  // namespace

TEST(BubblePageBuilder, OneTextMessageIsWrittenExactly)
{
    _Message m = text(7, QStringLiteral("hi"), at(2024, 3, 5, 15, 7));
    m.ZISFROMME = 1;
    const QString& cells = kCells;
    const QString expected =
        QStringLiteral("<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                       "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">"
                       "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head>"
                       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />"
                       "<title>Bubble</title><link href=\"wabb/style.css\" type=\"text/css\" rel=\"stylesheet\"/>"
                       "</head><body><a name=\"start\"></a><a name=\"sms_7\"></a>") +
        kDayBubble + cells + QStringLiteral("05 Mar 2024</div><div class=\"clear\"></div></div>") +
        QStringLiteral("<div class=\"bb2\" id=\"msg_7\">") + cells +
        QStringLiteral("hi<div class=\"bb_time\">03:07 pm</div></div><div class=\"clear\"></div>"
                       "<a name=\"end\"></a></body></html>");
    EXPECT_EQ(page({m}, 1).toStdString(), expected.toStdString());
}

TEST(BubblePageBuilder, PagesHoldFiftyMessagesWithPagingLinks)
{
    const QString previous = QStringLiteral("<a href=\"/pre_page\">&lt;&lt;Previous Page</a>");
    const QString next = QStringLiteral("<a href=\"/next_page\">&gt;&gt;Next Page</a>");
    struct Case { int total; qint64 page; int messages; bool hasPrevious; bool hasNext; };
    const Case cases[] = {
        {50, 1, 50, false, false},
        {51, 1, 50, false, true},
        {51, 2, 1, true, false},
        {120, 2, 50, true, true},
        {120, 3, 20, true, false},
    };
    for (const Case& c : cases) {
        const QString html = page(sameDay(c.total), c.page);
        const QStringList names = anchors(html);
        EXPECT_EQ(names.size(), c.messages) << c.total << "/" << c.page;
        EXPECT_EQ(names.value(0), QStringLiteral("sms_%1").arg((c.page - 1) * 50 + 1)) << c.total << "/" << c.page;
        EXPECT_EQ(html.contains(previous), c.hasPrevious) << c.total << "/" << c.page;
        EXPECT_EQ(html.contains(next), c.hasNext) << c.total << "/" << c.page;
        // First and last page links beside them, and where the reader is.
        EXPECT_EQ(html.contains(QStringLiteral("<a href=\"/first_page\">")), c.hasPrevious) << c.total << "/" << c.page;
        EXPECT_EQ(html.contains(QStringLiteral("<a href=\"/last_page\">")), c.hasNext) << c.total << "/" << c.page;
        const qint64 pages = BubblePageBuilder::pageCount(c.total);
        EXPECT_EQ(html.contains(QStringLiteral("Page %1 of %2").arg(c.page).arg(pages)), pages > 1)
            << c.total << "/" << c.page;
    }
    // Pages that do not exist give nothing.
    EXPECT_TRUE(page(sameDay(51), 0).isEmpty());
    EXPECT_TRUE(page(sameDay(51), 3).isEmpty());
    EXPECT_TRUE(page({}, 1).isEmpty());

    EXPECT_EQ(BubblePageBuilder::pageCount(0), 0);
    EXPECT_EQ(BubblePageBuilder::pageCount(50), 1);
    EXPECT_EQ(BubblePageBuilder::pageCount(51), 2);
    EXPECT_EQ(BubblePageBuilder::pageCount(120), 3);
    // Row 50 (0-based) of 120 is on page 2; rows 0 and 49 on page 1.
    EXPECT_EQ(BubblePageBuilder::pageOfRow(50), 2);
    EXPECT_EQ(BubblePageBuilder::pageOfRow(49), 1);
    EXPECT_EQ(BubblePageBuilder::pageOfRow(0), 1);
    EXPECT_EQ(BubblePageBuilder::pageOfRow(119), 3);
    EXPECT_TRUE(page(sameDay(120), 2).contains(QStringLiteral("<a name=\"sms_51\"></a>")));
}

TEST(BubblePageBuilder, DayBubbleWhenTheDayChangesAndAtTheTopOfEveryPage)
{
    // Two on one day, one the next day: two day bubbles.
    QList<_Message> three = {text(1, "a", at(2024, 3, 5, 9, 0)), text(2, "b", at(2024, 3, 5, 23, 59)),
                             text(3, "c", at(2024, 3, 6, 0, 1))};
    const QString html = page(three, 1);
    EXPECT_EQ(occurrences(html, kDayBubble), 2);
    EXPECT_EQ(occurrences(html, QStringLiteral(">05 Mar 2024</div>")), 1);
    EXPECT_EQ(occurrences(html, QStringLiteral(">06 Mar 2024</div>")), 1);
    EXPECT_TRUE(html.contains(QStringLiteral("<a name=\"sms_1\"></a>") + kDayBubble));
    EXPECT_FALSE(html.contains(QStringLiteral("<a name=\"sms_2\"></a>") + kDayBubble));
    EXPECT_TRUE(html.contains(QStringLiteral("<a name=\"sms_3\"></a>") + kDayBubble));

    // 51 messages on one day: page 2's only message still gets its day.
    EXPECT_EQ(occurrences(page(sameDay(51), 1), kDayBubble), 1);
    EXPECT_EQ(occurrences(page(sameDay(51), 2), kDayBubble), 1);
}

TEST(BubblePageBuilder, SkippedTypesGetNoBubbleButKeepTheirPlace)
{
    QList<_Message> list = sameDay(51);
    for (int i : {0, 3, 10, 20, 30, 49})
        list[i].ZMESSAGETYPE = QList<int>{17, 9, 10, 12, 66, 16}[i % 6];  // links (7) are shown
    list[3].ZMESSAGETYPE = 13;
    const QString one = page(list, 1);
    EXPECT_EQ(anchors(one).size(), 50);
    EXPECT_EQ(occurrences(one, QStringLiteral("<div class=\"bb1\"")), 44);
    for (int i : {0, 3, 10, 20, 30, 49})
        EXPECT_FALSE(one.contains(QStringLiteral(">m%1<").arg(i + 1))) << i;
    const QString two = page(list, 2);
    EXPECT_EQ(anchors(two), QStringList{QStringLiteral("sms_51")});
    EXPECT_TRUE(two.contains(QStringLiteral(">m51<")));
}

TEST(BubblePageBuilder, TextIsEscapedEverywhereAndNeverBecomesMarkup)
{
    const BubblePageBuilder builder;
    EXPECT_EQ(builder.escape(QStringLiteral("a<b & c\nd")), QStringLiteral("a&lt;b &amp; c<br/>d"));

    const QString hostile = QStringLiteral("<script>alert(1)</script>&amp;");
    const QString escaped = QStringLiteral("&lt;script&gt;alert(1)&lt;/script&gt;&amp;amp;");
    auto member = std::make_shared<_GroupMember>();
    member->Z_PK = 3;
    member->ZCONTACTNAME = hostile;
    member->ZMEMBERJID = QStringLiteral("4915550003@s.whatsapp.net");

    _Message plain = text(1, hostile, at(2024, 3, 5, 9, 0));
    plain.member = member;
    _Message event = text(2, hostile, at(2024, 3, 5, 9, 1), msgtype::kGroupEvent);
    event.ZGROUPEVENTTYPE = 1;  // the subject changed
    event.member = member;
    _Message caption = withMedia(3, msgtype::kImage, {.ZTITLE = hostile});
    _Message location = withMedia(4, msgtype::kLocation, {.ZVCARDNAME = hostile});
    _Message card = withMedia(5, msgtype::kContact, {.ZVCARDNAME = hostile});
    const QString html = page({plain, event, caption, location, card}, 1);
    EXPECT_FALSE(html.contains(QStringLiteral("<script"))) << html.toStdString();
    EXPECT_EQ(occurrences(html, escaped), 7) << html.toStdString();
    EXPECT_TRUE(html.contains(QStringLiteral("<div class=\"handle\" style=\"color:#d6bd5e\">") + escaped));
    EXPECT_TRUE(html.contains(kDayBubble + kCells + escaped + QStringLiteral(" changed the subject to \"") + escaped +
                              QStringLiteral("\"</div><div class=\"clear\"></div></div>")))
        << html.toStdString();
}

TEST(BubblePageBuilder, HostileDocumentNameStaysText)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A name taken from the file on disk (no title), and one from the title.
    const QString file = dir.filePath(QStringLiteral("<img src=x onerror=alert(1)>&lt;b&gt;.pdf"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("%PDF");
    f.close();
    _Message fromFile = withMedia(1, msgtype::kDocument, {.mediaFile = file});
    _Message fromTitle = withMedia(2, msgtype::kDocument, {.ZTITLE = QStringLiteral("Q&A <b>.pdf"), .mediaFile = file});
    const QString html = page({fromFile, fromTitle}, 1);
    EXPECT_FALSE(html.contains(QStringLiteral("<img src=x"))) << html.toStdString();
    EXPECT_TRUE(html.contains(QStringLiteral(">Document: &lt;img src=x onerror=alert(1)&gt;&amp;lt;b&amp;gt;.pdf</a>")))
        << html.toStdString();
    // Shown as the sender wrote it, not in its file-name-safe form.
    EXPECT_TRUE(html.contains(QStringLiteral(">Document: Q&amp;A &lt;b&gt;.pdf</a>"))) << html.toStdString();
    // The link names the file by the hex of its UTF-8 path and no suffix.
    EXPECT_TRUE(html.contains(QStringLiteral("<a href=\"atta:///?ph=%1&sf=\">Document: ")
                                  .arg(QString::fromLatin1(file.toUtf8().toHex()))));
}

TEST(BubblePageBuilder, LinkTargetsFromDataAreEncoded)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString thumb = dir.filePath(QStringLiteral("a \"b\" <c> & d'é.jpg"));
    QFile f(thumb);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("x");
    f.close();
    const QString media = dir.filePath(QStringLiteral("clip.m p&4\"x"));
    _Message video = withMedia(1, msgtype::kVideo, {.mediaFile = media, .thumbnailFile = thumb});
    _Message web = withMedia(2, msgtype::kImage,
                             {.mediaFile = dir.filePath("p.png"), .thumbnailFile = QStringLiteral("http://h/x\"onerror=\"y.jpg")});
    const QString html = page({video, web}, 1);

    // Every attribute value is one piece: no quote, angle bracket or space inside.
    static const QRegularExpression attr(QStringLiteral("(href|src)=\"([^\"]*)\""));
    int links = 0;
    for (const auto& m : attr.globalMatch(html)) {
        const QString value = m.captured(2);
        EXPECT_FALSE(value.contains(QLatin1Char('<')) || value.contains(QLatin1Char('>')) ||
                     value.contains(QLatin1Char(' ')))
            << value.toStdString();
        ++links;
    }
    EXPECT_GE(links, 5);
    EXPECT_FALSE(html.contains(QStringLiteral("onerror=\"y")));
    // The suffix is URL-encoded, the path hex-encoded, and both read back.
    const QString link = BubblePageBuilder::attachmentLink(media, QStringLiteral("m p&4\"x"));
    EXPECT_EQ(link, QStringLiteral("atta:///?ph=%1&sf=m%20p%264%22x").arg(QString::fromLatin1(media.toUtf8().toHex())));
    EXPECT_TRUE(html.contains(QStringLiteral("<a href=\"%1\">").arg(link)));
    // The thumbnail's file URL decodes back to the file.
    static const QRegularExpression img(QStringLiteral("src=\"(file:[^\"]*)\""));
    const auto m = img.match(html);
    ASSERT_TRUE(m.hasMatch());
    QString url = m.captured(1);
    url.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    EXPECT_EQ(QUrl(url).toLocalFile(), thumb);
}

TEST(BubblePageBuilder, MediaBodiesByType)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString thumb = dir.filePath(QStringLiteral("t.jpg"));
    QFile f(thumb);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("x");
    f.close();
    const QString thumbUrl = QUrl::fromLocalFile(thumb).toString(QUrl::FullyEncoded);
    const QString hex = QString::fromLatin1(dir.filePath("IMG").toUtf8().toHex());
    const BubblePageBuilder b;
    struct Case { _Message message; QString body; };
    const Case cases[] = {
        // A picture without suffix defaults to jpg; its thumbnail is there.
        {withMedia(1, msgtype::kImage, {.mediaFile = dir.filePath("IMG"), .thumbnailFile = thumb}),
         QStringLiteral("<div><a href=\"atta:///?ph=%1&sf=jpg\"><img style=\"max-width:200px;max-height:200px;\" "
                        "src=\"%2\" /></a></div>").arg(hex, thumbUrl)},
        // Missing thumbnail: the empty photo; video limit 128, default mp4.
        {withMedia(2, msgtype::kVideo, {.mediaFile = dir.filePath("IMG"), .thumbnailFile = dir.filePath("gone.jpg")}),
         QStringLiteral("<div><a href=\"atta:///?ph=%1&sf=mp4\"><img style=\"max-width:128px;max-height:128px;\" "
                        "src=\"wabb/empty_photo.jpg\" /></a></div>").arg(hex)},
        // A thumbnail on the web is used as it is.
        {withMedia(3, msgtype::kGif, {.mediaFile = dir.filePath("IMG"), .thumbnailFile = QStringLiteral("http://h/t.jpg")}),
         QStringLiteral("src=\"http://h/t.jpg\" /></a></div>")},
        // Voice of 125 seconds: 2' 5''.
        {withMedia(4, msgtype::kAudio, {.ZMOVIEDURATION = 125, .mediaFile = dir.filePath("IMG")}),
         QStringLiteral("<img width=\"32px\" src=\"wabb/voice.png\" align=\"middle\" /><a href=\"atta:///?ph=%1&sf=aac\">"
                        "2' 5''</a>").arg(hex)},
        {withMedia(5, msgtype::kSticker, {.mediaFile = dir.filePath("IMG")}),
         QStringLiteral("<a href=\"atta:///?ph=%1&sf=\">[STICKER]</a>").arg(hex)},
        {withMedia(6, msgtype::kLocation, {.ZVCARDNAME = QStringLiteral("Berlin"), .thumbnailFile = thumb}),
         QStringLiteral("<div style=\"text-align:left; min-width:150px;\"><img width=\"64\" src=\"%1\" "
                        "style=\"display:block; float:left;margin:5px;\"/><div>Berlin</div><div class=\"clear\"></div></div>")
             .arg(thumbUrl)},
        {withMedia(7, msgtype::kImage, {.ZTITLE = QStringLiteral("Beach"), .mediaFile = dir.filePath("a.png")}),
         QStringLiteral("/></a></div><div>Beach</div><div class=\"bb_time\">")},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(b.messageBubble(c.message).contains(c.body))
            << c.message.Z_PK << "\n" << b.messageBubble(c.message).toStdString();
    EXPECT_EQ(BubblePageBuilder::durationText(125), QStringLiteral("2' 5''"));
    EXPECT_EQ(BubblePageBuilder::durationText(59), QStringLiteral("0' 59''"));

    // Media types without a media item have no body; the text is not shown.
    for (int type : {1, 2, 3, 4, 5, 8, 11, 15}) {
        _Message bare = text(9, QStringLiteral("hidden text"), at(2024, 3, 5, 9, 0), type);
        EXPECT_FALSE(b.messageBubble(bare).contains(QStringLiteral("hidden text"))) << type;
    }
    // A reply shows the quote block first, then its own text.
    _MediaItem quoted;
    quoted.quote.stanzaId = QStringLiteral("Q1");
    quoted.quote.senderName = QStringLiteral("Dora");
    quoted.quote.senderJid = QStringLiteral("4915550004@s.whatsapp.net");
    quoted.quote.payload.set_text("see <i>this</i>");
    _Message reply = withMedia(10, msgtype::kText, quoted);
    reply.ZTEXT = QStringLiteral("Nice");
    EXPECT_TRUE(b.messageBubble(reply).contains(b.quoteBlock(quoted.quote) + QStringLiteral("Nice")));
    // The preview is escaped text inside the block, whatever the block's markup.
    EXPECT_TRUE(b.quoteBlock(quoted.quote).contains(QStringLiteral(">see &lt;i&gt;this&lt;/i&gt;<")))
        << b.quoteBlock(quoted.quote).toStdString();
    EXPECT_FALSE(b.messageBubble(reply).contains(QStringLiteral("[QUOTED]")));
}

TEST(BubblePageBuilder, QuoteBlockNamesTheSenderInItsColourOverAOneLinePreview)
{
    const BubblePageBuilder b;
    struct Case {
        QString jid;
        QString name;
        QString expectedName;
        QString pushName;
    } cases[] = {
        {QStringLiteral("4915550004@s.whatsapp.net"), QStringLiteral("Dora <b>"), QStringLiteral("Dora &lt;b&gt;")},
        {QStringLiteral("4915550005@s.whatsapp.net"), QString(), QStringLiteral("4915550005")},
        // Someone behind a LID without a known phone: their push name, never the LID digits.
        {QStringLiteral("77001@lid"), QString(), QStringLiteral("~Eve &lt;i&gt;"), QStringLiteral("Eve <i>")},
        {QString(), QString(), QStringLiteral("You")},
    };
    for (const Case& c : cases) {
        _QuotedRef quote;
        quote.stanzaId = QStringLiteral("Q");
        quote.senderJid = c.jid;
        quote.senderName = c.name;
        quote.senderPushName = c.pushName;
        const QString block = b.quoteBlock(quote);
        const QString colour = BubblePageBuilder::quoteColour(c.jid);
        EXPECT_TRUE(block.contains(QStringLiteral("color:%1;font-weight:bold;\">%2</div>").arg(colour, c.expectedName)))
            << block.toStdString();
        EXPECT_TRUE(block.contains(QStringLiteral("class=\"quote_text\""))) << block.toStdString();
        EXPECT_FALSE(block.contains(QStringLiteral("<b>")));
        EXPECT_EQ(BubblePageBuilder::quoteColour(c.jid), colour);  // the same every time
    }
    EXPECT_NE(BubblePageBuilder::quoteColour(QStringLiteral("4915550004@s.whatsapp.net")),
              BubblePageBuilder::quoteColour(QStringLiteral("4915550005@s.whatsapp.net")));
}

TEST(BubblePageBuilder, LinksLocationsStarsAndChatNames)
{
    const BubblePageBuilder b;
    // Web addresses in text become links (http and https only), escaped.
    const QString linked = b.linkedText(QStringLiteral("see https://example.org/a?b=1&c=<2> or ftp://x.y, (http://h.example/p)."));
    EXPECT_TRUE(linked.contains(QStringLiteral("<a href=\"https://example.org/a?b=1&amp;c=\">https://example.org/a?b=1&amp;c=</a>&lt;2&gt;")))
        << linked.toStdString();
    EXPECT_TRUE(linked.contains(QStringLiteral("<a href=\"http://h.example/p\">http://h.example/p</a>).")))
        << linked.toStdString();
    EXPECT_FALSE(linked.contains(QStringLiteral("href=\"ftp")));

    // A link message (type 7) is a bubble with its own text.
    _Message link = text(1, QStringLiteral("Look: https://example.org"), at(2024, 3, 5, 9, 0), msgtype::kLink);
    const QString page1 = page({link}, 1);
    EXPECT_TRUE(page1.contains(QStringLiteral("Look: <a href=\"https://example.org\">https://example.org</a>")))
        << page1.toStdString();

    // A place without a name shows its coordinates and a map link.
    _Message place = withMedia(2, msgtype::kLocation, {.ZLATITUDE = 52.52, .ZLONGITUDE = 13.405});
    const QString placed = b.messageBubble(place);
    EXPECT_TRUE(placed.contains(QStringLiteral("<div>52.520000, 13.405000</div>"))) << placed.toStdString();
    EXPECT_TRUE(placed.contains(QStringLiteral("href=\"https://www.openstreetmap.org/?mlat=52.520000&amp;mlon=13.405000")))
        << placed.toStdString();

    // A starred message carries its star.
    _Message starred = text(3, QStringLiteral("keep"), at(2024, 3, 5, 9, 0));
    starred.ZSTARRED = 1;
    EXPECT_TRUE(b.messageBubble(starred).contains(QStringLiteral("\u2605")));
    EXPECT_FALSE(b.messageBubble(text(4, QStringLiteral("plain"), at(2024, 3, 5, 9, 0))).contains(QStringLiteral("\u2605")));
}

TEST(BubblePageBuilder, SenderColourFollowsTheMemberRowId)
{
    struct Case { qint64 pk; const char* colour; };
    // b = pk + 1; (b*181, b*111, b*151) mod 255.
    const Case cases[] = {{1, "#6bde2f"}, {0, "#b56f97"}, {254, "#000000"}, {2, "#214ec6"}};
    for (const Case& c : cases)
        EXPECT_EQ(BubblePageBuilder::senderColour(c.pk), QLatin1String(c.colour)) << c.pk;
}

TEST(BubblePageBuilder, EmojiStayCharactersEvenWithAVendorHost)
{
    // No request per emoji: a server would learn what people write.
    const QString withEmoji = QStringLiteral("hi \U0001F600 ") + QChar(0xE415);
    EXPECT_EQ(BubblePageBuilder().escape(withEmoji), withEmoji);
    EXPECT_EQ(BubblePageBuilder({.vendorHost = QStringLiteral("vendor.example:8080")}).escape(withEmoji), withEmoji);
}

TEST(BubblePageBuilder, ContactCardWritesItsFilesAndLinksTheCard)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString vcard = QStringLiteral("BEGIN:VCARD\nVERSION:3.0\nFN:Fiona\nTEL:4915550006\nEND:VCARD");
    _Message card = withMedia(42, msgtype::kContact, {.ZVCARDNAME = QStringLiteral("Fiona"), .cardTexts = {vcard}});
    const BubblePageBuilder b({.cardFolder = dir.path()});
    const QString html = b.messageBubble(card);
    // Named after the message, the media item and the card's name.
    const QString base = dir.filePath(QStringLiteral("quillometry-wavcard-42-0-Fiona"));
    ASSERT_TRUE(QFile::exists(base + QStringLiteral(".vcf")));
    EXPECT_TRUE(html.contains(QStringLiteral("<div><a href=\"%1\">Fiona</a></div>")
                                  .arg(QUrl::fromLocalFile(base + ".vcf").toString(QUrl::FullyEncoded))))
        << html.toStdString();
    // No photo in the card: the stand-in picture.
    EXPECT_TRUE(html.contains(QStringLiteral("src=\"wabb/contact.png\"")));
}

TEST(BubblePageBuilder, NewerTypesAndReactionsAreDrawnAsText)
{
    const QString hostile = QStringLiteral("<b>x</b>");
    const QString escaped = QStringLiteral("&lt;b&gt;x&lt;/b&gt;");
    _QuotedRef quote;
    quote.stanzaId = QStringLiteral("S");
    quote.senderJid = QStringLiteral("123@lid");
    quote.senderPushName = hostile;
    quote.payload.set_text("quoted");

    _Message deleted = withMedia(1, msgtype::kDeleted, {});
    deleted.media->quote = quote;
    _Message viewOnce = text(2, hostile, at(2024, 3, 5, 9, 1), msgtype::kViewOnceImage);
    _Message call = text(3, QString(), at(2024, 3, 5, 9, 2), msgtype::kCall);
    _Message poll = text(4, QString(), at(2024, 3, 5, 9, 3), msgtype::kPoll);
    _PollVote vote;
    vote.voter.jid = QStringLiteral("1@lid");
    vote.options = {1};
    poll.poll = std::make_shared<_Poll>(_Poll{hostile, {QStringLiteral("A"), hostile}, {vote}});
    _Message reacted = text(5, QStringLiteral("hi"), at(2024, 3, 5, 9, 4));
    reacted.media = std::make_shared<_MediaItem>();
    reacted.media->quote = quote;
    _Reaction r;
    r.reactor = {QStringLiteral("9@lid"), hostile, QString(), QString()};
    r.emoji = QStringLiteral("\U0001F44D");
    _Reaction withdrawn;
    withdrawn.fromOwner = true;
    reacted.reactions = {r, withdrawn};

    const QString html = page({deleted, viewOnce, call, poll, reacted}, 1);
    EXPECT_FALSE(html.contains(hostile)) << html.toStdString();
    EXPECT_EQ(occurrences(html, QStringLiteral("<div class=\"bb1\" id=\"msg_")), 5);
    EXPECT_TRUE(html.contains(QStringLiteral("<i>[MESSAGE DELETED]</i>")));
    EXPECT_TRUE(html.contains(QStringLiteral("<i>") + escaped + QStringLiteral("[VIEW ONCE IMAGE]</i>")));
    EXPECT_TRUE(html.contains(QStringLiteral("<i>[CALL]</i>")));
    EXPECT_TRUE(html.contains(QStringLiteral("<div><b>") + escaped + QStringLiteral("</b></div><div>A: 0</div><div>") +
                              escaped + QStringLiteral(": 1</div>")));
    // The deleted message shows no quote; the reply does, its sender by push name.
    EXPECT_EQ(occurrences(html, QStringLiteral("<div class=\"quote\"")), 1);
    EXPECT_TRUE(html.contains(QStringLiteral("font-weight:bold;\">~") + escaped + QStringLiteral("</div>"))) << html.toStdString();
    EXPECT_TRUE(html.contains(QStringLiteral(";\">quoted</div></div>"))) << html.toStdString();
    EXPECT_TRUE(html.contains(QStringLiteral("<div class=\"bb_reactions\">") + escaped + QStringLiteral(" \U0001F44D</div>")));
}

TEST(BubblePageBuilder, ALinkIsDrawnWithItsTextAndItsClickableUrl)
{
    _Message link = withMedia(1, msgtype::kLink, {.ZMEDIAURL = QStringLiteral("https://example.org/a?b&c")});
    link.ZTEXT = QStringLiteral("see");
    _Message bare = text(2, QStringLiteral("only text"), at(2024, 3, 5, 15, 8), msgtype::kLink);
    const QString html = page({link, bare}, 1);
    // Its own words, then its address as a link.
    EXPECT_TRUE(html.contains(QStringLiteral("see<br/><a href=\"https://example.org/a?b&amp;c\">"
                                             "https://example.org/a?b&amp;c</a><div class=\"bb_time\">")))
        << html.toStdString();
    EXPECT_TRUE(html.contains(QStringLiteral("only text<div class=\"bb_time\">"))) << html.toStdString();
}
