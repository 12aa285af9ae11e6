#include "output/bubblepagebuilder.h"

#include "chatstore/displayrules.h"
#include "output/exportfilesfolder.h"

#include <QDate>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QUrl>

namespace {

const QString kFrameCells = QStringLiteral(
    "<div class=\"bb_bg top_left\"></div><div class=\"bb_bg top_middle\"></div><div class=\"bb_bg top_right\"></div>"
    "<div class=\"bb_bg middle_left\"></div><div class=\"bb_bg middle_middle\"></div><div class=\"bb_bg middle_right\"></div>"
    "<div class=\"bb_bg bottom_left\"></div><div class=\"bb_bg bottom_middle\"></div><div class=\"bb_bg bottom_right\"></div>");

// A URL taken from data, made safe inside a double-quoted attribute.
QString attributeText(const QString& text)
{
    QString out = text;
    out.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    out.replace(QLatin1Char('"'), QLatin1String("&quot;"));
    out.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    out.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return out;
}

// The local-file URL of a path, percent-encoded, for an attribute.
QString fileUrl(const QString& path)
{
    return attributeText(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
}

bool isNonEmptyFile(const QString& path)
{
    const QFileInfo info(path);
    return !path.isEmpty() && info.isFile() && info.size() > 0;
}

// A link around `html`, or `html` alone where there is nothing to open.
QString linkOrText(const QString& link, const QString& html)
{
    return link.isEmpty() ? html : QStringLiteral("<a href=\"%1\">%2</a>").arg(link, html);
}

QString suffixOr(const QString& path, const QString& fallback)
{
    const QString suffix = QFileInfo(path).suffix();
    return suffix.isEmpty() ? fallback : suffix;
}

}  // namespace

bool isShownMessageType(int type)
{
    switch (type) {
    case msgtype::kText:
    case msgtype::kLink:
    case msgtype::kImage:
    case msgtype::kVideo:
    case msgtype::kAudio:
    case msgtype::kContact:
    case msgtype::kLocation:
    case msgtype::kDocument:
    case msgtype::kGif:
    case msgtype::kSticker:
    case msgtype::kDeleted:
    case msgtype::kViewOnceImage:
    case msgtype::kViewOnceVideo:
    case msgtype::kViewOnceAudio:
    case msgtype::kRoundVideo:
    case msgtype::kPoll:
    case msgtype::kCall:
    case msgtype::kGroupEvent:
        return true;
    default:
        return false;
    }
}

BubblePageBuilder::BubblePageBuilder(BubblePageOptions options) : m_options(std::move(options)) {}

qint64 BubblePageBuilder::pageCount(qint64 total)
{
    return total <= 0 ? 0 : (total + kPageSize - 1) / kPageSize;
}

qint64 BubblePageBuilder::pageOfRow(qint64 row)
{
    return row < 0 ? 0 : row / kPageSize + 1;
}

QString BubblePageBuilder::escape(const QString& text) const
{
    // Emoji stay characters: the view draws them from the colour font.
    QString out = text;
    out.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    out.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    out.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    out.replace(QLatin1Char('\n'), QLatin1String("<br/>"));
    return out;
}

QString BubblePageBuilder::linkedText(const QString& text) const
{
    // An address runs to the next blank or markup-like character; closing
    // punctuation at its end belongs to the sentence.
    static const QRegularExpression address(QStringLiteral("https?://[^\\s<>\"]+"),
                                            QRegularExpression::CaseInsensitiveOption);
    QString out;
    qsizetype from = 0;
    QRegularExpressionMatchIterator it = address.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        QString url = match.captured();
        while (!url.isEmpty() && QStringLiteral(".,;:!?)]}'").contains(url.back()))
            url.chop(1);
        const QUrl parsed(url, QUrl::StrictMode);
        if (!parsed.isValid() || parsed.host().isEmpty())
            continue;
        out += escape(text.mid(from, match.capturedStart() - from));
        out += QStringLiteral("<a href=\"%1\">%2</a>")
                   .arg(attributeText(parsed.toString(QUrl::FullyEncoded)), escape(url));
        from = match.capturedStart() + url.size();
    }
    out += escape(text.mid(from));
    return out;
}

QString BubblePageBuilder::quoteColour(const QString& senderJid)
{
    if (senderJid.isEmpty())
        return QStringLiteral("#1fa855");
    // The same JID always gets the same colour, on every page and in
    // every export.
    quint32 h = 0;
    for (const QChar c : senderJid)
        h = h * 31 + c.unicode();
    return senderColour(qint64(h % 100003));
}

QString BubblePageBuilder::quoteBlock(const _QuotedRef& quote) const
{
    const QString colour = quoteColour(quote.senderJid);
    return QStringLiteral("<div class=\"quote\" style=\"border-left:4px solid %1;background:rgba(0,0,0,0.05);"
                          "border-radius:4px;padding:3px 8px;margin:2px 0 5px 0;text-align:left;\">"
                          "<div class=\"quote_sender\" style=\"color:%1;font-weight:bold;\">%2</div>"
                          "<div class=\"quote_text\" style=\"white-space:nowrap;overflow:hidden;"
                          "text-overflow:ellipsis;max-width:260px;color:#555;\">%3</div></div>")
        .arg(colour, escape(quotedSenderName(quote)), escape(quotedBodyText(quote)));
}

QString BubblePageBuilder::documentDisplayName(const _MediaItem& media)
{
    const QString title = media.ZTITLE.trimmed();
    if (!title.isEmpty())
        return title;
    return media.mediaFile.isEmpty() ? QString() : QFileInfo(media.mediaFile).fileName();
}

QString BubblePageBuilder::mapLink(double latitude, double longitude)
{
    const QString lat = QString::number(latitude, 'f', 6);
    const QString lon = QString::number(longitude, 'f', 6);
    return QStringLiteral("https://www.openstreetmap.org/?mlat=%1&mlon=%2#map=16/%1/%2").arg(lat, lon);
}

QString BubblePageBuilder::locationBody(const _MediaItem& media) const
{
    const bool placed = media.ZLATITUDE != 0.0 || media.ZLONGITUDE != 0.0;
    QString name = media.ZVCARDNAME.trimmed();
    if (name.isEmpty() && placed)
        name = QStringLiteral("%1, %2").arg(QString::number(media.ZLATITUDE, 'f', 6),
                                            QString::number(media.ZLONGITUDE, 'f', 6));
    QString html = QStringLiteral("<div style=\"text-align:left; min-width:150px;\">");
    html += QStringLiteral("<img width=\"64\" src=\"%1\" style=\"display:block; float:left;margin:5px;\"/>")
                .arg(thumbnailSource(media));
    html += QStringLiteral("<div>%1</div>").arg(escape(name));
    if (placed)
        html += QStringLiteral("<div><a href=\"%1\">%2</a></div>")
                    .arg(attributeText(mapLink(media.ZLATITUDE, media.ZLONGITUDE)),
                         escape(QStringLiteral("Open map")));
    html += QStringLiteral("<div class=\"clear\"></div></div>");
    return html;
}

QString BubblePageBuilder::pageNumberText(qint64 page, qint64 pages)
{
    return QStringLiteral("Page %1 of %2").arg(page).arg(pages);
}

QString BubblePageBuilder::pager(qint64 page, qint64 pages) const
{
    if (pages < 2)
        return {};
    QString html = QStringLiteral("<p class=\"pager\" style=\"text-align:center;\">");
    if (page > 1)
        html += QStringLiteral("<a href=\"/first_page\">|&lt;First Page</a> &nbsp; "
                               "<a href=\"/pre_page\">&lt;&lt;Previous Page</a> &nbsp; ");
    html += QStringLiteral("<span class=\"page_no\">") + pageNumberText(page, pages) + QStringLiteral("</span>");
    if (page < pages)
        html += QStringLiteral(" &nbsp; <a href=\"/next_page\">&gt;&gt;Next Page</a>"
                               " &nbsp; <a href=\"/last_page\">Last Page&gt;|</a>");
    html += QStringLiteral("</p>");
    return html;
}

QString BubblePageBuilder::centreBubble(const QString& text) const
{
    return QStringLiteral("<div style=\"text-align:center; margin-bottom:10px;\"><div class=\"r\">") + kFrameCells +
           escape(text) + QStringLiteral("</div><div class=\"clear\"></div></div>");
}

QString BubblePageBuilder::senderColour(qint64 memberPk)
{
    const qint64 b = memberPk + 1;
    const auto channel = [b](qint64 factor) {
        const qint64 v = (b * factor) % 255;
        return v < 0 ? v + 255 : v;
    };
    return QStringLiteral("#%1%2%3")
        .arg(channel(181), 2, 16, QLatin1Char('0'))
        .arg(channel(111), 2, 16, QLatin1Char('0'))
        .arg(channel(151), 2, 16, QLatin1Char('0'));
}

QString BubblePageBuilder::attachmentLink(const QString& path, const QString& suffix)
{
    return QStringLiteral("atta:///?ph=%1&sf=%2")
        .arg(QString::fromLatin1(path.toUtf8().toHex()), QString::fromLatin1(QUrl::toPercentEncoding(suffix)));
}

QString BubblePageBuilder::durationText(int seconds)
{
    return QStringLiteral("%1' %2''").arg(seconds / 60).arg(seconds % 60);
}

QString BubblePageBuilder::asset(const char* name) const
{
    return m_options.exportFiles ? ExportFilesFolder::asset(name) : QStringLiteral("wabb/") + QLatin1String(name);
}

QString BubblePageBuilder::thumbnailSource(const _MediaItem& media) const
{
    const QString& thumb = media.thumbnailFile;
    if (m_options.exportFiles) {
        // Only a copy inside the export: never a web address or a local file.
        const QString copy = thumb.startsWith(QLatin1String("http://")) ? QString()
                                                                         : m_options.exportFiles->copied(thumb);
        return copy.isEmpty() ? asset("empty_photo.jpg") : copy;
    }
    if (thumb.startsWith(QLatin1String("http://")))
        return attributeText(thumb);
    if (!thumb.isEmpty() && QFileInfo(thumb).isFile())
        return fileUrl(thumb);
    return asset("empty_photo.jpg");
}

QString BubblePageBuilder::mediaLink(const _MediaItem& media, const char* fallbackSuffix) const
{
    if (m_options.exportFiles)
        return m_options.exportFiles->copied(media.mediaFile);
    // Documents and stickers open by their own name: no suffix.
    return attachmentLink(media.mediaFile,
                          fallbackSuffix ? suffixOr(media.mediaFile, QLatin1String(fallbackSuffix)) : QString());
}

QString BubblePageBuilder::thumbnailElement(const QString& link, int limit, const QString& source) const
{
    const QString image = QStringLiteral("<img style=\"max-width:%1px;max-height:%1px;\" src=\"%2\" />")
                              .arg(QString::number(limit), source);
    if (link.isEmpty())
        return image;
    const QString target = m_options.exportFiles ? QStringLiteral(" target=\"_blank\"") : QString();
    return QStringLiteral("<a href=\"%1\"%2>%3</a>").arg(link, target, image);
}

QString BubblePageBuilder::senderLine(const _Message& m) const
{
    QString colour;
    QString name;
    if (m.member) {
        colour = senderColour(m.member->Z_PK);
        name = memberDisplayName(*m.member, m_options.exportFiles != nullptr);
    } else if (m_options.exportFiles && m.session) {
        colour = m.ZISFROMME == 1 ? QStringLiteral("#50AA62") : QStringLiteral("#FFD22D");
        name = sessionDisplayName(*m.session, true, false);
    } else {
        return {};
    }
    return QStringLiteral("<div class=\"handle\" style=\"color:%1\">%2</div><div class=\"clear\"></div>")
        .arg(colour, escape(name));
}

QString BubblePageBuilder::cardBody(const _Message& message) const
{
    const _MediaItem& media = *message.media;
    QString photo;
    QString card;
    if (ExportFilesFolder* files = m_options.exportFiles) {
        const QString base = cardTempBaseName(media, message.Z_PK);
        photo = files->freshPath(base + QStringLiteral(".jpg"));
        card = files->freshPath(base + QStringLiteral(".vcf"));
        writeCardFiles(media, photo, card);
    } else if (!m_options.cardFolder.isEmpty()) {
        const QString base = m_options.cardFolder + QLatin1Char('/') + cardTempBaseName(media, message.Z_PK);
        photo = base + QStringLiteral(".jpg");
        card = base + QStringLiteral(".vcf");
        writeCardFiles(media, photo, card);
    }
    QString html = QStringLiteral("<div style=\"text-align:left; min-width:150px;\">");
    const auto where = [this](const QString& path) {
        return m_options.exportFiles ? ExportFilesFolder::reference(QFileInfo(path).fileName()) : fileUrl(path);
    };
    html += QStringLiteral("<img width=\"64\" src=\"%1\" style=\"display:block; float:left;margin:5px;\"/>")
                .arg(isNonEmptyFile(photo) ? where(photo) : asset("contact.png"));
    if (card.isEmpty() || (m_options.exportFiles && !QFileInfo(card).isFile()))
        html += QStringLiteral("<div>%1</div>").arg(escape(cardDisplayName(media)));
    else
        html += QStringLiteral("<div><a href=\"%1\">%2</a></div>").arg(where(card), escape(cardDisplayName(media)));
    html += QStringLiteral("<div class=\"clear\"></div></div>");
    return html;
}

QString BubblePageBuilder::messageBubble(const _Message& m) const
{
    QString html = QStringLiteral("<div class=\"%1\" id=\"msg_%2\">")
                       .arg(m.ZISFROMME == 1 ? QStringLiteral("bb2") : QStringLiteral("bb1"))
                       .arg(m.Z_PK);
    html += kFrameCells;
    html += senderLine(m);
    const _MediaItem* media = m.media.get();
    // A deleted message shows no quote.
    if (media && media->hasQuote() && m.ZMESSAGETYPE != msgtype::kDeleted)
        html += quoteBlock(media->quote);

    switch (m.ZMESSAGETYPE) {
    case msgtype::kImage:
    case msgtype::kVideo:
    case msgtype::kRoundVideo:
    case msgtype::kGif:
        if (media) {
            const bool image = m.ZMESSAGETYPE == msgtype::kImage;
            const QString link = mediaLink(*media, image ? "jpg" : "mp4");
            html += QStringLiteral("<div>") + thumbnailElement(link, image ? 200 : 128, thumbnailSource(*media)) +
                    QStringLiteral("</div>");
            if (!media->ZTITLE.isEmpty())
                html += QStringLiteral("<div>%1</div>").arg(escape(media->ZTITLE));
        }
        break;
    case msgtype::kAudio:
        if (media) {
            html += QStringLiteral("<img width=\"32px\" src=\"%1\" align=\"middle\" />").arg(asset("voice.png"));
            html += linkOrText(mediaLink(*media, "aac"), durationText(media->ZMOVIEDURATION));
        }
        break;
    case msgtype::kContact:
        if (media)
            html += cardBody(m);
        break;
    case msgtype::kLocation:
        if (media)
            html += locationBody(*media);
        break;
    case msgtype::kDocument:
        if (media) {
            // The name comes from the chat (a title or a file name): text,
            // never markup; shown as the sender wrote it, not file-name safe.
            html += linkOrText(mediaLink(*media, nullptr), QStringLiteral("Document: ") + escape(documentDisplayName(*media)));
        }
        break;
    case msgtype::kSticker:
        if (media)
            html += linkOrText(mediaLink(*media, nullptr), QStringLiteral("[STICKER]"));
        break;
    case msgtype::kDeleted:
    case msgtype::kViewOnceImage:
    case msgtype::kViewOnceVideo:
    case msgtype::kViewOnceAudio:
    case msgtype::kCall: {
        // Nothing to open: a deleted message and a call have no content, a
        // view-once item is gone once seen.
        _Message plain = m;
        plain.media.reset();
        html += QStringLiteral("<div><i>%1</i></div>").arg(escape(messageDisplayText(plain).trimmed()));
        break;
    }
    case msgtype::kPoll:
        html += pollBody(m);
        break;
    default: {
        // Text and links (type 7): a link shows its own words and its
        // address; web addresses are clickable.
        const QString address = messageBodyText(m);
        if (address == m.ZTEXT || m.ZTEXT.trimmed().isEmpty() || m.ZTEXT.contains(address))
            html += linkedText(m.ZTEXT.trimmed().isEmpty() ? address : m.ZTEXT);
        else
            html += linkedText(m.ZTEXT) + QStringLiteral("<br/>") + linkedText(address);
        break;
    }
        break;
    }

    // Reactions: emoji as characters, names and emoji as text.
    const QString reactions = reactionsText(m);
    if (!reactions.isEmpty())
        html += QStringLiteral("<div class=\"bb_reactions\">%1</div>").arg(escape(reactions));

    const QDateTime time = coreDataToDateTime(m.ZMESSAGEDATE);
    const QString star = m.ZSTARRED != 0 ? QStringLiteral("<span class=\"star\" title=\"Starred\">\u2605</span> ")
                                         : QString();
    html += QStringLiteral("<div class=\"bb_time\">%1%2</div>")
                .arg(star, QLocale::c().toString(time, QStringLiteral("hh:mm ap")));
    html += QStringLiteral("</div><div class=\"clear\"></div>");
    return html;
}

QString BubblePageBuilder::pollBody(const _Message& m) const
{
    if (!m.poll)
        return QStringLiteral("<div>%1</div>").arg(escape(messageDisplayText(m)));
    const QList<int> counts = pollCounts(*m.poll);
    QString html = QStringLiteral("<div class=\"bb_poll\"><div><b>%1</b></div>").arg(escape(m.poll->question));
    for (qsizetype i = 0; i < m.poll->options.size(); ++i)
        html += QStringLiteral("<div>%1: %2</div>").arg(escape(m.poll->options.at(i)), QString::number(counts.value(i)));
    return html + QStringLiteral("</div>");
}

QString BubblePageBuilder::messageBlock(const _Message& m) const
{
    if (!isShownMessageType(m.ZMESSAGETYPE))
        return {};
    return m.ZMESSAGETYPE == msgtype::kGroupEvent ? centreBubble(groupEventText(m)) : messageBubble(m);
}

QString BubblePageBuilder::buildPage(AbsWAMsgsSource& source, qint64 total, qint64 page, bool nameChats) const
{
    const qint64 pages = pageCount(total);
    if (page < 1 || page > pages)
        return {};
    QString html = QStringLiteral(
        "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
        "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">"
        "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head>"
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />"
        "<title>Bubble</title>"
        "<link href=\"wabb/style.css\" type=\"text/css\" rel=\"stylesheet\"/>"
        "</head><body><a name=\"start\"></a>");
    html += pager(page, pages);

    const qint64 first = (page - 1) * kPageSize;
    const qint64 n = std::min<qint64>(kPageSize, total - first);
    QDate previousDay;
    qint64 previousChat = -1;
    for (qint64 i = first; i < first + n; ++i) {
        const _Message m = source.at(i);
        html += QStringLiteral("<a name=\"sms_%1\"></a>").arg(m.Z_PK);
        if (nameChats && m.ZCHATSESSION != previousChat) {
            const QString chat = m.session ? sessionDisplayName(*m.session, false, false) : QString();
            html += QStringLiteral("<div class=\"chat_name\" style=\"text-align:center;margin:8px 0 4px 0;"
                                   "font-weight:bold;color:#075e54;\">%1</div>")
                        .arg(escape(chat));
            previousChat = m.ZCHATSESSION;
        }
        const QDateTime time = coreDataToDateTime(m.ZMESSAGEDATE);
        if (i == first || time.date() != previousDay)
            html += centreBubble(QLocale::c().toString(time, QStringLiteral("dd MMM yyyy")));
        previousDay = time.date();
        // A type that is not shown keeps its place among the 50.
        html += messageBlock(m);
    }

    html += pager(page, pages);
    html += QStringLiteral("<a name=\"end\"></a></body></html>");
    return html;
}
