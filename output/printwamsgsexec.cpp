#include "output/printwamsgsexec.h"

#include "base/apperror.h"
#include "base/assetfolder.h"
#include "base/jobmonitor.h"
#include "chatstore/displayrules.h"
#include "chatstore/vcardreader.h"
#include "output/bubblepagebuilder.h"
#include "output/bubbletiles.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImageReader>
#include <QLocale>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QTextLayout>
#include <QThread>

#include <climits>
#include <cmath>

namespace {

using Part = PrintWAMsgsExec::Placement::Part;

// Every size below is in units of 1/96 inch: what the sizes were made for.
constexpr double kUnitsPerInch = 96.0;
constexpr int kGap = 10;           // below every bubble
constexpr int kLineGap = 6;        // between a name or time and the content
constexpr double kTextShare = 0.8; // of the content width, for text
constexpr int kPictureSide = 200;  // the longer side of a picture
constexpr int kCardSide = 64;      // card photos and place thumbnails
constexpr int kBesideGap = 8;      // between such a picture and its text
constexpr int kBesideLines = 4;    // at most, beside a card photo or a place
// A picture is read at twice its printed size, for sharp print.
constexpr int kPictureDensity = 2;
// Pictures with more pixels than this are not read at all.
constexpr qint64 kMaxPicturePixels = 64LL * 1024 * 1024;
// How often a run on the GUI thread lets pending events through.
constexpr int kEventIntervalMs = 50;

const QColor kPageColour = QColor::fromRgb(kPrintPageColour);
const QColor kTextColour(0, 0, 0);
const QColor kTimeColour(192, 188, 188);
const QColor kPageNumberColour(146, 146, 165);
const QColor kQuoteTextColour(0x55, 0x55, 0x55);
const QColor kQuoteGround(0, 0, 0, 13);

// The quote block: a coloured bar, the quoted sender, one line of preview.
constexpr int kQuoteBar = 4;
constexpr int kQuotePadX = 8;
constexpr int kQuotePadY = 3;
constexpr int kQuoteGap = 5;  // between the block and the text below it

// Text as a layout: line breaks of every kind become line separators, long
// words break anywhere, so that no line is wider than `width`. With
// maxLines, the lines after that many are left out.
std::shared_ptr<QTextLayout> layoutText(const QString& text, const QFont& font, int width, int maxLines = 0)
{
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    t.replace(QLatin1Char('\n'), QChar::LineSeparator);
    auto layout = std::make_shared<QTextLayout>(t, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout->setTextOption(option);
    layout->beginLayout();
    qreal y = 0;
    while (maxLines == 0 || layout->lineCount() < maxLines) {
        QTextLine line = layout->createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout->endLayout();
    return layout;
}

int linesWidth(const QTextLayout& layout, int first, int count)
{
    qreal w = 0;
    for (int i = first; i < first + count; ++i)
        w = std::max(w, layout.lineAt(i).naturalTextWidth());
    return int(std::ceil(w));
}

int linesHeight(const QTextLayout& layout, int first, int count)
{
    if (count <= 0)
        return 0;
    const QTextLine a = layout.lineAt(first);
    const QTextLine b = layout.lineAt(first + count - 1);
    return int(std::ceil(b.y() + b.height() - a.y()));
}

// `size` scaled so that its longer side is `side`.
QSize fitted(QSize size, int side)
{
    if (size.isEmpty())
        return {};
    return size.width() >= size.height()
               ? QSize(side, std::max(1, int(std::lround(double(side) * size.height() / size.width()))))
               : QSize(std::max(1, int(std::lround(double(side) * size.width() / size.height()))), side);
}

// A picture from `reader`, decoded at no more than `pixels` on its longer
// side; null when it cannot be read or is unreasonably large.
QImage readPicture(QImageReader& reader, int pixels)
{
    const QSize size = reader.size();
    if (size.isValid()) {
        if (qint64(size.width()) * size.height() > kMaxPicturePixels)
            return {};
        if (std::max(size.width(), size.height()) > pixels)
            reader.setScaledSize(fitted(size, pixels));
    }
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (std::max(image.width(), image.height()) > pixels)
        image = image.scaled(fitted(image.size(), pixels), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (image.hasAlphaChannel()) {
        // On white, as the bubbles show them: a viewer scaling a picture
        // with transparent parts would blend in their hidden colour.
        QImage opaque(image.size(), QImage::Format_RGB32);
        opaque.fill(Qt::white);
        QPainter p(&opaque);
        p.drawImage(0, 0, image);
        p.end();
        image = std::move(opaque);
    }
    return image;
}

QImage readPictureFile(const QString& path, int pixels)
{
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return {};
    QImageReader reader(path);
    reader.setAutoTransform(true);
    return readPicture(reader, pixels);
}

QImage readPictureBytes(const QByteArray& bytes, int pixels)
{
    if (bytes.isEmpty())
        return {};
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return readPicture(reader, pixels);
}

bool onGuiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

}  // namespace

struct PrintWAMsgsExec::Fonts {
    QFont text;
    QFont name;
    QFont time;
    int nameHeight = 0;
    int timeHeight = 0;
    int textLineHeight = 0;

    Fonts()
    {
        // 12 and 10 points at 96 units per inch, as pixel sizes so that the
        // painter's scale alone decides how large they come out.
        text = QGuiApplication::font();
        text.setPixelSize(16);
        // No ligatures where a script does without shaping: a PDF reader
        // would give "\uFB01" for the "fi" of a word that is searched or
        // copied.
        text.setStyleStrategy(QFont::StyleStrategy(QFont::PreferAntialias | QFont::PreferNoShaping));
        name = text;
        name.setBold(true);
        time = text;
        time.setPixelSize(13);
        nameHeight = QFontMetrics(name).height();
        timeHeight = QFontMetrics(time).height();
        textLineHeight = QFontMetrics(text).height();
    }
};

struct PrintWAMsgsExec::Bubble {
    BubbleKind kind = BubbleKind::Centre;
    Placement::Part part = Part::Text;
    qint64 index = 0;
    QString name;
    QColor nameColour;
    int nameWidth = 0;
    QString time;
    int timeWidth = 0;
    // Text content: lines [firstLine, firstLine + lineCount) of `text`.
    std::shared_ptr<QTextLayout> text;
    int firstLine = 0;
    int lineCount = 0;
    // A quote block above the text (or alone).
    bool quote = false;
    QString quoteSender;
    QString quotePreview;
    QColor quoteColour;
    QSize quoteSize;
    // A picture: alone (Picture), or with text beside it on white (Card).
    QImage picture;
    QSize pictureSize;
    std::shared_ptr<QTextLayout> beside;
    // Filled by measure().
    QSize content;
    QSize size;
};

struct PrintWAMsgsExec::Placed {
    Bubble bubble;
    int page = 1;
    int y = 0;
};

namespace {

int nameExtra(const PrintWAMsgsExec::Bubble& b, int nameHeight)
{
    return b.name.isEmpty() ? 0 : nameHeight + kLineGap;
}

int timeExtra(const PrintWAMsgsExec::Bubble& b, int timeHeight)
{
    return b.time.isEmpty() ? 0 : timeHeight + kLineGap;
}

}  // namespace

PrintWAMsgsExec::PrintWAMsgsExec(QPagedPaintDevice* printer, PAbsWAMsgsSource source, qint64 startIndex,
                                 JobMonitor* progress, int maxPages, int runIndex, QObject* parent)
    : QObject(parent),
      m_printer(printer),
      m_source(std::move(source)),
      m_startIndex(std::max<qint64>(0, startIndex)),
      m_progress(progress),
      m_maxPages(std::max(0, maxPages)),
      m_runIndex(std::max(0, runIndex))
{
}

PrintWAMsgsExec::~PrintWAMsgsExec() = default;

void PrintWAMsgsExec::setCancel()
{
    m_cancel.store(true, std::memory_order_release);
}

bool PrintWAMsgsExec::cancelRequested() const
{
    return m_cancel.load(std::memory_order_acquire) || (m_progress && m_progress->cancelled());
}

bool PrintWAMsgsExec::wasCancelled() const
{
    return cancelRequested();
}

void PrintWAMsgsExec::processEvents()
{
    if (onGuiThread())
        QCoreApplication::processEvents();
}

void PrintWAMsgsExec::beginPainting()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        throw AppError("PrintWAMsgsExec::run: printing needs the graphical toolkit (QGuiApplication).");
    m_tiles = BubbleTiles::of(m_assetFolder.isEmpty() ? product::wabbFolder() : m_assetFolder);
    m_fonts = std::make_unique<Fonts>();

    m_painter = std::make_unique<QPainter>();
    if (!m_painter->begin(m_printer))
        throw AppError("PrintWAMsgsExec::run: cannot start painting on the printer.");
    m_painter->setRenderHint(QPainter::Antialiasing);
    m_painter->setRenderHint(QPainter::TextAntialiasing);
    m_painter->setRenderHint(QPainter::SmoothPixmapTransform);

    // One unit = 1/96 inch on any device; the painter's origin moved to a
    // whole unit of the paper, so that frames and tiles fall on whole units.
    const QPageLayout layout = m_printer->pageLayout();
    const double scale = m_printer->logicalDpiX() / kUnitsPerInch;
    // Millimetres: points come rounded to whole ones.
    const double perMm = kUnitsPerInch / 25.4;
    const QRectF paint = layout.paintRect(QPageLayout::Millimeter);
    const QMarginsF margins = layout.margins(QPageLayout::Millimeter);
    const double dx = std::ceil(paint.left() * perMm) - paint.left() * perMm;
    const double dy = std::ceil(paint.top() * perMm) - paint.top() * perMm;
    m_painter->scale(scale, scale);
    m_painter->translate(dx, dy);
    const int width = int(std::floor(paint.width() * perMm - dx));
    const int height = int(std::floor(paint.height() * perMm - dy));
    const int left = int(std::lround(margins.left() * perMm));
    const int top = int(std::lround(margins.top() * perMm));
    const int right = int(std::lround(margins.right() * perMm));
    const int bottom = int(std::lround(margins.bottom() * perMm));
    m_content = QRect(left, top, std::max(1, width - left - right), std::max(1, height - top - bottom));
    m_textWidth = int(kTextShare * m_content.width());
    m_page = 0;
    startPage();
}

void PrintWAMsgsExec::startPage()
{
    if (m_page > 0)
        m_printer->newPage();
    ++m_page;
    m_y = m_content.top();
    m_painter->fillRect(m_content, kPageColour);
    paintPageNumber();
}

void PrintWAMsgsExec::paintPageNumber()
{
    const qint64 number = qint64(m_runIndex) * m_maxPages + m_page;
    const QRect band(m_content.left(), m_content.bottom() + 2, m_content.width(), 18);
    m_painter->setFont(m_fonts->text);
    m_painter->setPen(kPageNumberColour);
    m_painter->drawText(band, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, QString::number(number));
}

bool PrintWAMsgsExec::ensureSpace(Cursor& cursor, int height, bool mayPassLimit) const
{
    if (m_content.bottom() - cursor.y + 1 >= height)
        return true;
    if (m_maxPages > 0 && cursor.page >= m_maxPages && !mayPassLimit)
        return false;
    ++cursor.page;
    cursor.y = m_content.top();
    return true;
}

qint64 PrintWAMsgsExec::run()
{
    if (m_progress)
        m_progress->postProgress(QStringLiteral("Printing..."), 0, QString());
    beginPainting();
    qint64 printed = 0;
    try {
        const qint64 count = m_source->count();
        int lastValue = -1;
        QElapsedTimer sinceEvents;
        sinceEvents.start();
        Cursor cursor{m_page, m_y};
        std::vector<Placed> placed;
        for (qint64 i = m_startIndex; i < count; ++i) {
            if (cancelRequested())
                break;
            const int value = int(printed * 100 / std::max<qint64>(1, count));
            if (m_progress && value != lastValue)
                m_progress->postProgress(QString(), value, QString());
            lastValue = value;
            emit updateProgress(int(std::min<qint64>(printed, INT_MAX)), int(std::min<qint64>(count, INT_MAX)));

            const _Message message = m_source->at(i);
            placed.clear();
            Cursor next = cursor;
            // The first message of a run is painted even past the limit, so
            // that every run gets further.
            if (!layoutMessage(message, i, next, printed == 0, placed)) {
                m_limitReached = true;
                break;
            }
            for (const Placed& p : placed)
                paint(p);
            if (isShownMessageType(message.ZMESSAGETYPE))
                m_lastDay = coreDataToDateTime(message.ZMESSAGEDATE).date();
            cursor = next;
            ++printed;
            if (sinceEvents.elapsed() >= kEventIntervalMs) {
                processEvents();
                sinceEvents.restart();
            }
        }
        if (!cancelRequested())
            emit updateProgress(int(std::min<qint64>(printed, INT_MAX)), int(std::min<qint64>(count, INT_MAX)));
    } catch (...) {
        m_painter->end();
        throw;
    }
    m_painter->end();
    if (m_progress && !cancelRequested())
        m_progress->postSuccess(QString());
    return printed;
}

bool PrintWAMsgsExec::layoutMessage(const _Message& message, qint64 index, Cursor& cursor, bool mayPassLimit,
                                    std::vector<Placed>& out) const
{
    if (!isShownMessageType(message.ZMESSAGETYPE))
        return true;
    const QDate day = coreDataToDateTime(message.ZMESSAGEDATE).date();
    if (day != m_lastDay) {
        Bubble separator;
        separator.kind = BubbleKind::Centre;
        separator.part = Part::Day;
        separator.index = index;
        separator.text = layoutText(QLocale::c().toString(day, QStringLiteral("dd MMM yyyy")), m_fonts->text,
                                    m_textWidth);
        separator.lineCount = separator.text->lineCount();
        if (!place(std::move(separator), cursor, mayPassLimit, out))
            return false;
    }
    for (Bubble& b : messageBubbles(message, index)) {
        if (!place(std::move(b), cursor, mayPassLimit, out))
            return false;
    }
    return true;
}

std::vector<PrintWAMsgsExec::Bubble> PrintWAMsgsExec::messageBubbles(const _Message& m, qint64 index) const
{
    std::vector<Bubble> parts;
    Bubble base;
    base.index = index;
    if (m.ZMESSAGETYPE == msgtype::kGroupEvent) {
        base.kind = BubbleKind::Centre;
        base.part = Part::Event;
        base.text = layoutText(messageDisplayText(m, true), m_fonts->text, m_textWidth);
        base.lineCount = base.text->lineCount();
        parts.push_back(std::move(base));
        return parts;
    }

    base.kind = m.ZISFROMME == 1 ? BubbleKind::Outgoing : BubbleKind::Incoming;
    if (m.member) {
        base.name = memberDisplayName(*m.member, false);
        base.nameColour = QColor(BubblePageBuilder::senderColour(m.member->Z_PK));
    }
    if (!base.name.isEmpty()) {
        const QFontMetrics fm(m_fonts->name);
        base.name = fm.elidedText(base.name, Qt::ElideRight, m_textWidth);
        base.nameWidth = fm.horizontalAdvance(base.name);
    }
    base.time = QLocale::c().toString(coreDataToDateTime(m.ZMESSAGEDATE), QStringLiteral("hh:mm ap"));
    base.timeWidth = QFontMetrics(m_fonts->time).horizontalAdvance(base.time);

    const _MediaItem* media = m.media.get();
    const auto withQuote = [&](Bubble& b) {
        if (!media || !media->hasQuote() || m.ZMESSAGETYPE == msgtype::kDeleted)
            return;
        const QFontMetrics nameMetrics(m_fonts->name);
        const QFontMetrics textMetrics(m_fonts->text);
        const int inner = m_textWidth - kQuoteBar - 2 * kQuotePadX;
        b.quote = true;
        b.quoteColour = QColor(BubblePageBuilder::quoteColour(media->quote.senderJid));
        b.quoteSender = nameMetrics.elidedText(quotedSenderName(media->quote), Qt::ElideRight, inner);
        b.quotePreview = textMetrics.elidedText(quotedBodyText(media->quote), Qt::ElideRight, inner);
        const int w = std::max(nameMetrics.horizontalAdvance(b.quoteSender),
                               textMetrics.horizontalAdvance(b.quotePreview));
        b.quoteSize = QSize(std::min(m_textWidth, w + kQuoteBar + 2 * kQuotePadX),
                            2 * kQuotePadY + m_fonts->nameHeight + m_fonts->textLineHeight);
    };
    const auto textBubble = [&](const QString& text) {
        Bubble b = base;
        b.part = Part::Text;
        b.text = layoutText(text, m_fonts->text, m_textWidth);
        b.lineCount = b.text->lineCount();
        return b;
    };
    const auto quoteBubble = [&]() {
        Bubble b = base;
        b.part = Part::Quote;
        withQuote(b);
        if (b.quote)
            parts.push_back(std::move(b));
    };
    const auto picture = [&](const QString& path, int side) {
        QImage image = readPictureFile(path, side * kPictureDensity);
        if (image.isNull())
            image = m_tiles->emptyPhoto();
        return image;
    };

    switch (m.ZMESSAGETYPE) {
    case msgtype::kImage:
    case msgtype::kVideo:
    case msgtype::kGif:
    case msgtype::kRoundVideo: {
        quoteBubble();
        Bubble b = base;
        b.part = Part::Picture;
        b.picture = picture(media ? media->thumbnailFile : QString(), kPictureSide);
        b.pictureSize = fitted(b.picture.size(), kPictureSide);
        parts.push_back(std::move(b));
        if (media && !media->ZTITLE.isEmpty())
            parts.push_back(textBubble(media->ZTITLE));
        break;
    }
    case msgtype::kContact:
    case msgtype::kLocation: {
        quoteBubble();
        Bubble b = base;
        b.part = Part::Card;
        QString beside;
        if (m.ZMESSAGETYPE == msgtype::kContact) {
            if (media && !media->cardTexts.isEmpty()) {
                const QList<VCard> cards = parseVCards(media->cardTexts.first().toUtf8());
                if (!cards.isEmpty())
                    if (const VCardProperty* photo = cards.first().property(QStringLiteral("PHOTO")))
                        b.picture = readPictureBytes(photo->value, kCardSide * kPictureDensity);
            }
            if (b.picture.isNull())
                b.picture = m_tiles->contact();
            beside = media ? cardDisplayName(*media) : QString();
        } else {
            b.picture = picture(media ? media->thumbnailFile : QString(), kCardSide);
            if (media) {
                beside = media->ZVCARDNAME.trimmed();
                if (beside.isEmpty())
                    beside = m.ZTEXT.trimmed();
                if (media->ZLATITUDE != 0.0 || media->ZLONGITUDE != 0.0) {
                    const QString where = QStringLiteral("%1, %2").arg(QString::number(media->ZLATITUDE, 'f', 6),
                                                                      QString::number(media->ZLONGITUDE, 'f', 6));
                    beside = beside.isEmpty() ? where : beside + QLatin1Char('\n') + where;
                }
            }
        }
        b.pictureSize = fitted(b.picture.size(), kCardSide);
        b.beside = layoutText(beside, m_fonts->text, std::max(1, m_textWidth - kCardSide - kBesideGap), kBesideLines);
        parts.push_back(std::move(b));
        break;
    }
    default: {
        // The text as the list shows it, with emoji as characters; a quote
        // is drawn as a block above it, not as text.
        _Message plain = m;
        if (plain.media && plain.media->hasQuote()) {
            auto copy = std::make_shared<_MediaItem>(*plain.media);
            copy->quote = {};
            plain.media = std::move(copy);
        }
        // The labels of other types (" [AUDIO]") come with a blank that a
        // bubble does not need; a text is shown as it was written.
        QString text = messageDisplayText(plain, true);
        if (m.ZMESSAGETYPE != msgtype::kText && m.ZMESSAGETYPE != msgtype::kLink)
            text = text.trimmed();
        Bubble b = textBubble(text);
        withQuote(b);
        parts.push_back(std::move(b));
        break;
    }
    }
    return parts;
}

namespace {

// The content's size and the bubble's size for its kind.
void measure(PrintWAMsgsExec::Bubble& b, int nameHeight, int timeHeight)
{
    int w = 0;
    int h = 0;
    if (b.quote) {
        w = b.quoteSize.width();
        h = b.quoteSize.height();
    }
    if (b.text && b.lineCount > 0) {
        if (h > 0)
            h += kQuoteGap;
        w = std::max(w, linesWidth(*b.text, b.firstLine, b.lineCount));
        h += linesHeight(*b.text, b.firstLine, b.lineCount);
    }
    if (b.part == Part::Picture) {
        w = std::max(w, b.pictureSize.width());
        h += b.pictureSize.height();
    } else if (b.part == Part::Card) {
        const int besideWidth = b.beside ? linesWidth(*b.beside, 0, b.beside->lineCount()) : 0;
        const int besideHeight = b.beside ? linesHeight(*b.beside, 0, b.beside->lineCount()) : 0;
        w = std::max(w, kCardSide + kBesideGap + besideWidth);
        h += std::max(kCardSide, besideHeight);
    }
    b.content = QSize(w, h);
    const BubbleKindStyle& style = bubbleKindStyle(b.kind);
    const int padX = style.padding.left() + style.padding.right();
    const int padY = style.padding.top() + style.padding.bottom();
    int width = std::max(w + padX, style.minimum.width());
    if (!b.name.isEmpty())
        width = std::max(width, b.nameWidth + padX);
    if (!b.time.isEmpty())
        width = std::max(width, b.timeWidth + padX);
    const int height = std::max(h + padY, style.minimum.height()) + nameExtra(b, nameHeight) + timeExtra(b, timeHeight);
    b.size = QSize(width, height);
}

}  // namespace

bool PrintWAMsgsExec::place(Bubble bubble, Cursor& cursor, bool mayPassLimit, std::vector<Placed>& out) const
{
    measure(bubble, m_fonts->nameHeight, m_fonts->timeHeight);
    const int pageHeight = m_content.height();
    if (bubble.size.height() <= pageHeight || !bubble.text || bubble.lineCount < 2) {
        if (!ensureSpace(cursor, bubble.size.height(), mayPassLimit))
            return false;
        const int height = bubble.size.height();
        out.push_back({std::move(bubble), cursor.page, cursor.y});
        cursor.y += height + kGap;
        return true;
    }

    // Taller than a page: the text goes on in bubbles of its own over the
    // following pages, the name and quote in the first, the time in the
    // last; each piece fills the room left where it starts.
    const int first = bubble.firstLine;
    const int end = bubble.firstLine + bubble.lineCount;
    int line = first;
    while (line < end) {
        Bubble piece = bubble;
        piece.firstLine = line;
        if (line > first) {
            piece.name.clear();
            piece.quote = false;
        }
        piece.lineCount = 1;
        measure(piece, m_fonts->nameHeight, m_fonts->timeHeight);
        // Start where at least one line fits.
        if (!ensureSpace(cursor, piece.size.height(), mayPassLimit))
            return false;
        const int room = m_content.bottom() - cursor.y + 1;
        // As many lines as the room holds (the time's place is kept on
        // every piece, so that the last one needs no other measure).
        const int fixed = piece.size.height() - linesHeight(*piece.text, line, 1);
        int count = 1;
        while (line + count < end && fixed + linesHeight(*piece.text, line, count + 1) <= room)
            ++count;
        piece.lineCount = count;
        const bool last = line + count == end;
        if (!last)
            piece.time.clear();
        measure(piece, m_fonts->nameHeight, m_fonts->timeHeight);
        if (!last && !bubble.time.isEmpty())
            piece.size.rheight() += m_fonts->timeHeight + kLineGap;
        const int height = piece.size.height();
        out.push_back({std::move(piece), cursor.page, cursor.y});
        cursor.y += height + kGap;
        line += count;
    }
    return true;
}

void PrintWAMsgsExec::paint(const Placed& placed)
{
    while (m_page < placed.page)
        startPage();
    const Bubble& b = placed.bubble;
    QPainter& p = *m_painter;
    const BubbleKindStyle& style = bubbleKindStyle(b.kind);
    int x = m_content.left();
    if (b.kind == BubbleKind::Outgoing)
        x = m_content.right() - b.size.width() + 1;
    else if (b.kind == BubbleKind::Centre)
        x = m_content.left() + (m_content.width() - b.size.width()) / 2;
    const QRect rect(QPoint(x, placed.y), b.size);
    m_tiles->drawFrame(p, b.kind, rect);

    const int left = rect.left() + style.padding.left();
    int top = rect.top() + style.padding.top();
    if (!b.name.isEmpty()) {
        p.setFont(m_fonts->name);
        p.setPen(b.nameColour.isValid() ? b.nameColour : kTextColour);
        p.drawText(QRect(left, top, b.nameWidth + 2, m_fonts->nameHeight), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                   b.name);
        top += nameExtra(b, m_fonts->nameHeight);
    }

    QRect picture;
    if (b.quote) {
        const QRect block(left, top, b.quoteSize.width(), b.quoteSize.height());
        p.fillRect(block, kQuoteGround);
        p.fillRect(QRect(block.left(), block.top(), kQuoteBar, block.height()), b.quoteColour);
        const int textLeft = block.left() + kQuoteBar + kQuotePadX;
        const int textWidth = block.width() - kQuoteBar - 2 * kQuotePadX;
        p.setFont(m_fonts->name);
        p.setPen(b.quoteColour);
        p.drawText(QRect(textLeft, block.top() + kQuotePadY, textWidth + 2, m_fonts->nameHeight),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, b.quoteSender);
        p.setFont(m_fonts->text);
        p.setPen(kQuoteTextColour);
        p.drawText(QRect(textLeft, block.top() + kQuotePadY + m_fonts->nameHeight, textWidth + 2,
                         m_fonts->textLineHeight),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, b.quotePreview);
        top += block.height() + kQuoteGap;
    }
    if (b.text && b.lineCount > 0) {
        p.setPen(kTextColour);
        const qreal shift = b.text->lineAt(b.firstLine).y();
        for (int i = b.firstLine; i < b.firstLine + b.lineCount; ++i)
            b.text->lineAt(i).draw(&p, QPointF(left, top - shift));
        top += linesHeight(*b.text, b.firstLine, b.lineCount);
    }
    if (b.part == Part::Picture) {
        picture = QRect(QPoint(left, top), b.pictureSize);
        if (!b.picture.isNull())
            p.drawImage(picture, b.picture);
    } else if (b.part == Part::Card) {
        const int besideHeight = b.beside ? linesHeight(*b.beside, 0, b.beside->lineCount()) : 0;
        p.fillRect(QRect(left, top, b.content.width(), std::max(kCardSide, besideHeight)), Qt::white);
        picture = QRect(QPoint(left + (kCardSide - b.pictureSize.width()) / 2,
                               top + (kCardSide - b.pictureSize.height()) / 2),
                        b.pictureSize);
        if (!b.picture.isNull())
            p.drawImage(picture, b.picture);
        if (b.beside) {
            p.setPen(kTextColour);
            b.beside->draw(&p, QPointF(left + kCardSide + kBesideGap, top));
        }
    }
    if (!b.time.isEmpty()) {
        p.setFont(m_fonts->time);
        p.setPen(kTimeColour);
        const QRect timeRect(rect.right() + 1 - style.padding.right() - b.timeWidth,
                             rect.bottom() + 1 - style.padding.bottom() - m_fonts->timeHeight, b.timeWidth + 2,
                             m_fonts->timeHeight);
        p.drawText(timeRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, b.time);
    }
    if (m_observer)
        m_observer({b.part, placed.page, rect, picture, b.index});
}
