#include "output/bubbletiles.h"

#include <QDir>
#include <QHash>
#include <QImageReader>
#include <QPainter>
#include <QRect>

#include <mutex>

namespace {

// Pictures of the set are small; anything larger is not one of ours.
constexpr qint64 kMaxPixels = 1024 * 1024;

// The picture at `path` laid on `ground`: opaque, in one format for all.
QImage readImage(const QString& path, QRgb ground)
{
    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > kMaxPixels)
        return {};
    const QImage image = reader.read();
    if (image.isNull())
        return {};
    QImage opaque(image.size(), QImage::Format_RGB32);
    opaque.fill(ground);
    QPainter p(&opaque);
    p.drawImage(0, 0, image);
    p.end();
    return opaque;
}

const char* const kPrefixes[] = {"r", "bb1", "bb2"};

}  // namespace

const BubbleKindStyle& bubbleKindStyle(BubbleKind kind)
{
    // Border and padding tables in the order top, right, bottom, left:
    //   centre    5, 7, 7, 7     5, 15, 7, 15    at least  80 x 20
    //   incoming  6, 7, 19, 22   8, 7, 8, 22     at least 150 x 16
    //   outgoing  7, 19, 19, 8   8, 22, 8, 9     at least 150 x 16
    static const BubbleKindStyle styles[] = {
        {QMargins(7, 5, 7, 7), QMargins(15, 5, 15, 7), QSize(80, 20)},
        {QMargins(22, 6, 7, 19), QMargins(22, 8, 7, 8), QSize(150, 16)},
        {QMargins(8, 7, 19, 19), QMargins(9, 8, 22, 8), QSize(150, 16)},
    };
    return styles[int(kind)];
}

QString BubbleTiles::tileFileName(BubbleKind kind, int tile)
{
    return QStringLiteral("%1_%2.png").arg(QLatin1String(kPrefixes[int(kind)])).arg(tile + 1, 2, 10, QLatin1Char('0'));
}

BubbleTiles::BubbleTiles(const QString& folder)
{
    const QDir dir(folder);
    const auto load = [&](const QString& name, QRgb ground = kPrintPageColour) {
        QImage image = readImage(dir.filePath(name), ground);
        if (image.isNull())
            m_missing << name;
        return image;
    };
    for (int kind = 0; kind < 3; ++kind)
        for (int t = 0; t < 9; ++t)
            m_tiles[std::size_t(kind)][std::size_t(t)] = load(tileFileName(BubbleKind(kind), t));
    m_emptyPhoto = load(QStringLiteral("empty_photo.jpg"));
    // Drawn where cards are: on white.
    m_contact = load(QStringLiteral("contact.png"), 0xFFFFFFFF);
}

std::shared_ptr<const BubbleTiles> BubbleTiles::of(const QString& folder)
{
    static std::mutex mutex;
    static QHash<QString, std::shared_ptr<const BubbleTiles>> sets;
    const QString key = QDir::cleanPath(QDir(folder).absolutePath());
    std::lock_guard<std::mutex> lock(mutex);
    auto& set = sets[key];
    if (!set) {
        set = std::make_shared<const BubbleTiles>(key);
        if (!set->missing().isEmpty())
            qWarning("Printed bubbles are drawn without %s: not readable in %s",
                     qUtf8Printable(set->missing().join(QStringLiteral(", "))), qUtf8Printable(key));
    }
    return set;
}

void BubbleTiles::drawFrame(QPainter& painter, BubbleKind kind, const QRect& rect) const
{
    QMargins b = bubbleKindStyle(kind).border;
    // A frame smaller than its borders: the borders shrink in proportion.
    if (b.left() + b.right() > rect.width()) {
        const int left = rect.width() * b.left() / std::max(1, b.left() + b.right());
        b.setLeft(left);
        b.setRight(rect.width() - left);
    }
    if (b.top() + b.bottom() > rect.height()) {
        const int top = rect.height() * b.top() / std::max(1, b.top() + b.bottom());
        b.setTop(top);
        b.setBottom(rect.height() - top);
    }
    const int xs[] = {rect.left(), rect.left() + b.left(), rect.left() + rect.width() - b.right(),
                      rect.left() + rect.width()};
    const int ys[] = {rect.top(), rect.top() + b.top(), rect.top() + rect.height() - b.bottom(),
                      rect.top() + rect.height()};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            const QImage& image = tile(kind, row * 3 + col);
            const QRect cell(xs[col], ys[row], xs[col + 1] - xs[col], ys[row + 1] - ys[row]);
            if (!image.isNull() && !cell.isEmpty())
                painter.drawImage(cell, image);
        }
    }
}
