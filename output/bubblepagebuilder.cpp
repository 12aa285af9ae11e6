#include "output/bubblepagebuilder.h"

#include "chatstore/displayrules.h"

#include <QDate>
#include <QFileInfo>
#include <QLocale>
#include <QUrl>

namespace {

const QString kFrameCells = QStringLiteral(
    "<div class=\"bb_bg top_left\"></div><div class=\"bb_bg top_middle\"></div><div class=\"bb_bg top_right\"></div>"
    "<div class=\"bb_bg middle_left\"></div><div class=\"bb_bg middle_middle\"></div><div class=\"bb_bg middle_right\"></div>"
    "<div class=\"bb_bg bottom_left\"></div><div class=\"bb_bg bottom_middle\"></div><div class=\"bb_bg bottom_right\"></div>");

const QString kEmptyPhoto = QStringLiteral("wabb/empty_photo.jpg");

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

QString thumbnailElement(const QString& link, int limit, const QString& source)
{
    return QStringLiteral("<a href=\"%1\"><img style=\"max-width:%2px;max-height:%3px;\" src=\"%4\" %5/></a>")
        .arg(link, QString::number(limit), QString::number(limit), source, QString());
}

QString suffixOr(const QString& path, const QString& fallback)
{
    const QString suffix = QFileInfo(path).suffix();
    return suffix.isEmpty() ? fallback : suffix;
}

}  // namespace

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
    QString out = text;
    out.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    out.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    out.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    out.replace(QLatin1Char('\n'), QLatin1String("<br/>"));
    if (m_options.vendorHost.isEmpty())
        return out;  // no server to fetch pictures from: the view draws the emoji itself
    const QString host = m_options.vendorHost;
    return emojiRewrite(out, [&host](const QString& code) {
        return QStringLiteral("<img src=\"http://%1/app_res/emoji/%2.png\" />").arg(host, code);
    });
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

QString BubblePageBuilder::thumbnailSource(const _MediaItem& media) const
{
    const QString& thumb = media.thumbnailFile;
    if (thumb.startsWith(QLatin1String("http://")))
        return attributeText(thumb);
    if (!thumb.isEmpty() && QFileInfo(thumb).isFile())
        return fileUrl(thumb);
    return kEmptyPhoto;
}

QString BubblePageBuilder::cardBody(const _Message& message) const
{
    const _MediaItem& media = *message.media;
    QString photo;
    QString card;
    if (!m_options.cardFolder.isEmpty()) {
        const QString base = m_options.cardFolder + QLatin1Char('/') + cardTempBaseName(media, message.Z_PK);
        photo = base + QStringLiteral(".jpg");
        card = base + QStringLiteral(".vcf");
        writeCardFiles(media, photo, card);
    }
    QString html = QStringLiteral("<div style=\"text-align:left; min-width:150px;\">");
    html += QStringLiteral("<img width=\"64\" src=\"%1\" style=\"display:block; float:left;margin:5px;\"/>")
                .arg(isNonEmptyFile(photo) ? fileUrl(photo) : QStringLiteral("wabb/contact.png"));
    if (card.isEmpty())
        html += QStringLiteral("<div>%1</div>").arg(escape(cardDisplayName(media)));
    else
        html += QStringLiteral("<div><a href=\"%1\">%2</a></div>").arg(fileUrl(card), escape(cardDisplayName(media)));
    html += QStringLiteral("<div class=\"clear\"></div></div>");
    return html;
}

QString BubblePageBuilder::messageBubble(const _Message& m) const
{
    QString html = QStringLiteral("<div class=\"%1\">").arg(m.ZISFROMME == 1 ? QStringLiteral("bb2") : QStringLiteral("bb1"));
    html += kFrameCells;
    if (m.member) {
        html += QStringLiteral("<div class=\"handle\" style=\"color:%1\">%2</div><div class=\"clear\"></div>")
                    .arg(senderColour(m.member->Z_PK), escape(memberDisplayName(*m.member, false)));
    }
    const _MediaItem* media = m.media.get();
    // A deleted message shows no quote.
    if (media && media->hasQuote() && m.ZMESSAGETYPE != msgtype::kDeleted)
        html += QStringLiteral("<div>") + escape(quotedPreviewText(media->quote)) + QStringLiteral("</div>");

    switch (m.ZMESSAGETYPE) {
    case msgtype::kImage:
    case msgtype::kVideo:
    case msgtype::kRoundVideo:
    case msgtype::kGif:
        if (media) {
            const bool image = m.ZMESSAGETYPE == msgtype::kImage;
            const QString link = attachmentLink(media->mediaFile, suffixOr(media->mediaFile, image ? "jpg" : "mp4"));
            html += QStringLiteral("<div>") + thumbnailElement(link, image ? 200 : 128, thumbnailSource(*media)) +
                    QStringLiteral("</div>");
            if (!media->ZTITLE.isEmpty())
                html += QStringLiteral("<div>%1</div>").arg(escape(media->ZTITLE));
        }
        break;
    case msgtype::kAudio:
        if (media) {
            html += QStringLiteral("<img width=\"32px\" src=\"wabb/voice.png\" align=\"middle\" />");
            html += QStringLiteral("<a href=\"%1\">%2</a>")
                        .arg(attachmentLink(media->mediaFile, suffixOr(media->mediaFile, "aac")),
                             durationText(media->ZMOVIEDURATION));
        }
        break;
    case msgtype::kContact:
        if (media)
            html += cardBody(m);
        break;
    case msgtype::kLocation:
        if (media) {
            html += QStringLiteral("<div style=\"text-align:left; min-width:150px;\">");
            html += QStringLiteral("<img width=\"64\" src=\"%1\" style=\"display:block; float:left;margin:5px;\"/>")
                        .arg(thumbnailSource(*media));
            html += QStringLiteral("<div>%1</div>").arg(escape(media->ZVCARDNAME));
            html += QStringLiteral("<div class=\"clear\"></div></div>");
        }
        break;
    case msgtype::kDocument:
        if (media) {
            // The name comes from the chat (a title or a file name): text, never markup.
            html += QStringLiteral("<a href=\"%1\">Document: %2</a>")
                        .arg(attachmentLink(media->mediaFile, QString()), escape(documentName(*media)));
        }
        break;
    case msgtype::kSticker:
        if (media)
            html += QStringLiteral("<a href=\"%1\">[STICKER]</a>").arg(attachmentLink(media->mediaFile, QString()));
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
    default:
        html += escape(messageBodyText(m));
        break;
    }

    // Reactions: emoji as characters, names and emoji as text.
    const QString reactions = reactionsText(m);
    if (!reactions.isEmpty())
        html += QStringLiteral("<div class=\"bb_reactions\">%1</div>").arg(escape(reactions));

    const QDateTime time = coreDataToDateTime(m.ZMESSAGEDATE);
    html += QStringLiteral("<div class=\"bb_time\">%1</div>").arg(QLocale::c().toString(time, QStringLiteral("hh:mm ap")));
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

QString BubblePageBuilder::buildPage(AbsWAMsgsSource& source, qint64 total, qint64 page) const
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
    if (page != 1)
        html += QStringLiteral("<p><a href=\"/pre_page\">&lt;&lt;Previous Page</a></p>");

    const qint64 first = (page - 1) * kPageSize;
    const qint64 n = std::min<qint64>(kPageSize, total - first);
    QDate previousDay;
    for (qint64 i = first; i < first + n; ++i) {
        const _Message m = source.at(i);
        html += QStringLiteral("<a name=\"sms_%1\"></a>").arg(m.Z_PK);
        const QDateTime time = coreDataToDateTime(m.ZMESSAGEDATE);
        if (i == first || time.date() != previousDay)
            html += centreBubble(QLocale::c().toString(time, QStringLiteral("dd MMM yyyy")));
        previousDay = time.date();
        switch (m.ZMESSAGETYPE) {
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
            html += messageBubble(m);
            break;
        case msgtype::kGroupEvent:
            html += centreBubble(groupEventText(m));
            break;
        default:
            break;  // not shown, but it keeps its place among the 50
        }
    }

    if (page != pages)
        html += QStringLiteral("<p><a href=\"/next_page\">&gt;&gt;Next Page</a></p>");
    html += QStringLiteral("<a name=\"end\"></a></body></html>");
    return html;
}
