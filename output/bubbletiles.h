// The pictures printed bubbles are made of: for each bubble kind nine tiles
// (corners, edges, middle) that frame a bubble of any size, and the two
// stand-in pictures (a missing photo, a contact card without one). They are
// read from a wabb folder once per process and shared read-only by every
// thread that paints. Tiles are laid on the paper colour when they are read,
// so a frame has no transparency for a viewer to blend at its seams. A file
// that is missing or unreadable is logged once, when the folder is first
// read, and its part is left out of the frames.
#pragma once

#include <QImage>
#include <QMargins>
#include <QSize>
#include <QString>

#include <array>
#include <memory>

class QPainter;
class QRect;

// The paper colour of printed conversations, also the ground of every tile.
inline constexpr QRgb kPrintPageColour = 0xFFEFE9DF;  // (239, 233, 223)

// The three kinds of printed bubbles; the numbers are those of the tile
// files' prefixes' order (r, bb1, bb2).
enum class BubbleKind { Centre = 0, Incoming = 1, Outgoing = 2 };

// The frame and spacing of a bubble kind (QMargins: left, top, right, bottom).
struct BubbleKindStyle {
    QMargins border;   // the tiles' widths and heights at the frame's edges
    QMargins padding;  // from the bubble's edge to its content
    QSize minimum;
};

const BubbleKindStyle& bubbleKindStyle(BubbleKind kind);

class BubbleTiles {
public:
    // The set of the wabb folder `folder`, read on first use.
    static std::shared_ptr<const BubbleTiles> of(const QString& folder);

    // "bb1_01.png" ... for kind and tile 0..8 (top left to bottom right).
    static QString tileFileName(BubbleKind kind, int tile);

    // Fills `rect` with the kind's frame: corners at the border table's
    // size, edges and middle stretched. A frame smaller than its borders
    // shrinks the borders in proportion.
    void drawFrame(QPainter& painter, BubbleKind kind, const QRect& rect) const;

    const QImage& tile(BubbleKind kind, int tile) const { return m_tiles[std::size_t(kind)][std::size_t(tile)]; }
    const QImage& emptyPhoto() const { return m_emptyPhoto; }
    const QImage& contact() const { return m_contact; }
    // Files of the set that could not be read.
    const QStringList& missing() const { return m_missing; }

    explicit BubbleTiles(const QString& folder);

private:
    std::array<std::array<QImage, 9>, 3> m_tiles;
    QImage m_emptyPhoto;
    QImage m_contact;
    QStringList m_missing;
};
