// The message list: one row per message of the current source (a chat, or
// every chat of a database). The model reports every row at once, so the
// scroll bar covers the whole history, but builds rows only for the pages of
// 500 that the view asks about, and keeps a bounded number of such pages:
// memory stays small however long the history is. Each row keeps only the
// texts the list shows. The order comes from the source; the model itself
// never sorts.
//
// A long history is not counted before it is shown: the model starts with
// the rows the source can give at once (its first page) and counts the rest
// on another thread; the rows grow to the total when the count arrives.
// Whatever needs the real end (the last row, select all, the search) calls
// completeCount first.
#pragma once

#include "chatstore/abswamsgssource.h"
#include "chatstore/messagecounter.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QList>

class ItemModelSms : public QAbstractItemModel {
    Q_OBJECT
public:
    static constexpr int kBatchSize = 500;
    // Pages of rows kept at most; the least recently used goes first.
    static constexpr int kMaxCachedPages = 16;

    // A summary of one message, made when its row is loaded.
    struct Row {
        double date = 0;
        bool fromMe = false;
        int type = 0;
        QString contact;
        QString content;
        bool broadcast = false;  // never set; would show the broadcast icon
        QList<_Receipt> receipts;
    };

    explicit ItemModelSms(QObject* parent = nullptr);

    // Replaces the source; the rows start again at 0. The source is asked
    // for what it knows first, so a source that throws there leaves the
    // model as it was. A count still running for the previous source is
    // stopped.
    void setSource(PAbsWAMsgsSource source);
    const PAbsWAMsgsSource& source() const { return m_source; }
    // The rows the model has: the source's count, or while it is being
    // counted, the rows known so far.
    qint64 total() const { return m_total; }
    bool isCounting() const { return m_counting; }
    // Ends the counting at once (counting on this thread when the count has
    // not arrived yet), so that total() is the source's count. A count that
    // fails is reported through fetchFailed and leaves the rows as they are.
    void completeCount();

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Rows held in memory now, and whether a row is among them.
    int cachedRows() const;
    bool isRowCached(int row) const;

    // The row record of a row, built with its page when needed; null when
    // the row does not exist or its page could not be read. A source that
    // fails while reading stops the reading (until the next setSource) and
    // reports once through fetchFailed.
    const Row* rowAt(int row) const;

    // The tool tip of a sent message's date: who read it and who got it.
    static QString receiptsText(const QList<_Receipt>& receipts);
    static Row rowOf(const _Message& message);
    static QString dateText(double coreDataSeconds);

signals:
    void fetchFailed(const QString& message);
    // The counting ended: total() is the source's count now.
    void counted(qint64 total);

private:
    void takeCount(qint64 count);

    PAbsWAMsgsSource m_source;
    MessageCounter m_counter;
    bool m_counting = false;
    qint64 m_total = 0;
    mutable bool m_failed = false;
    mutable QHash<qint64, QList<Row>> m_pages;  // by page number
    mutable QList<qint64> m_recent;             // page numbers, most recent last
};
