// Paints messages of a message source as a conversation of chat bubbles
// onto consecutive pages of a printer or PDF writer: days and group events
// as centred bubbles, incoming bubbles on the left, outgoing ones on the
// right, each framed by the nine tiles of its kind, with the sender's name
// in the member's colour and the time. One run paints from a start index
// until the source ends, the page limit is reached or the run is cancelled;
// the print preview and the PDF export repeat runs.
//
// Sizes are in units of 1/96 inch whatever the device's resolution. Text
// is painted as text (searchable in a PDF, sharp at any resolution) over
// the frames and pictures; chat content is never read as markup. A bubble
// taller than a page goes on over the following pages, and a message is
// painted whole or not at all: one that would pass the page limit ends the
// run uncounted, except the first of a run, which is always painted so that
// every run gets further.
//
// A run does not need the GUI thread; on it, pending events are processed
// while painting so that a progress dialog stays usable.
#pragma once

#include "chatstore/abswamsgssource.h"

#include <QDate>
#include <QObject>
#include <QRect>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class BubbleTiles;
class JobMonitor;
class QPagedPaintDevice;
class QPainter;

class PrintWAMsgsExec : public QObject {
    Q_OBJECT
public:
    // `printer` must outlive the run; `progress` (may be null) gets
    // "Printing...", the percentage and, at the end, success without text,
    // and its cancel stops the run. `maxPages` 0: no limit. Page numbers
    // start at runIndex * maxPages + 1.
    PrintWAMsgsExec(QPagedPaintDevice* printer, PAbsWAMsgsSource source, qint64 startIndex, JobMonitor* progress,
                    int maxPages, int runIndex, QObject* parent = nullptr);
    ~PrintWAMsgsExec() override;

    // Paints and returns how many messages were painted (types that are not
    // shown count as painted). What the source throws goes to the caller,
    // after painting has ended. Throws AppError when painting cannot start.
    qint64 run();

    // True when the run stopped because the next message would not fit
    // within the page limit.
    bool limitReached() const { return m_limitReached; }
    bool wasCancelled() const;
    // Pages the run painted.
    int pageCount() const { return m_page; }

    // The wabb folder the tiles and stand-in pictures come from;
    // product::wabbFolder() unless set before run().
    void setAssetFolder(const QString& folder) { m_assetFolder = folder; }

    // Where a run put things, told as it paints them (tests, previews).
    struct Placement {
        enum class Part { Day, Event, Text, Quote, Picture, Card };
        Part part;
        int page;        // 1-based within the run
        QRect rect;      // the bubble, in units on the page
        QRect picture;   // a picture's rectangle inside it (Picture, Card)
        qint64 index;    // the message's index in the source
    };
    void setPlacementObserver(std::function<void(const Placement&)> observer) { m_observer = std::move(observer); }

    // The content rectangle the run paints into, in units (valid after run()).
    QRect contentRect() const { return m_content; }

signals:
    void updateProgress(int printed, int total);

public slots:
    // Stops the run before its next message; safe from any thread.
    void setCancel();

public:
    struct Bubble;
    struct Placed;

private:
    struct Cursor {
        int page = 1;
        int y = 0;
    };

    void beginPainting();
    void startPage();
    void paintPageNumber();
    // Room check of the layout: true when `height` fits at the cursor, on
    // this page or on a new one (the cursor moves there); false when a new
    // page would pass the limit (and passing it is not allowed).
    bool ensureSpace(Cursor& cursor, int height, bool mayPassLimit) const;
    // Lays out the day separator (when due) and the message's bubbles from
    // the cursor on; false when they do not fit within the page limit.
    bool layoutMessage(const _Message& message, qint64 index, Cursor& cursor, bool mayPassLimit,
                       std::vector<Placed>& out) const;
    bool place(Bubble bubble, Cursor& cursor, bool mayPassLimit, std::vector<Placed>& out) const;
    void paint(const Placed& placed);
    std::vector<Bubble> messageBubbles(const _Message& message, qint64 index) const;
    bool cancelRequested() const;
    void processEvents();

    QPagedPaintDevice* m_printer;
    PAbsWAMsgsSource m_source;
    qint64 m_startIndex;
    JobMonitor* m_progress;
    int m_maxPages;
    int m_runIndex;
    QString m_assetFolder;
    std::shared_ptr<const BubbleTiles> m_tiles;
    std::unique_ptr<QPainter> m_painter;
    QRect m_content;
    int m_textWidth = 0;
    int m_y = 0;
    int m_page = 0;
    QDate m_lastDay;
    bool m_limitReached = false;
    std::atomic<bool> m_cancel{false};
    std::function<void(const Placement&)> m_observer;
    struct Fonts;
    std::unique_ptr<Fonts> m_fonts;
};
