#include "app/itemmodelsms.h"

#include "chatstore/displayrules.h"

#include <QBrush>
#include <QColor>
#include <QLocale>
#include <QPixmap>
#include <QSize>

#include <limits>

namespace {

QPixmap listIcon(const char* path)
{
    QPixmap pixmap(QString::fromLatin1(path));
    return pixmap.isNull() ? pixmap : pixmap.scaledToWidth(18, Qt::SmoothTransformation);
}

}  // namespace

ItemModelSms::ItemModelSms(QObject* parent) : QAbstractItemModel(parent)
{
    connect(&m_counter, &MessageCounter::counted, this, &ItemModelSms::takeCount);
    connect(&m_counter, &MessageCounter::failed, this, [this](const QString&) {
        // The connection of its own could not count (a file that a second
        // connection cannot open, say): count on the shared one instead.
        completeCount();
    });
}

void ItemModelSms::setSource(PAbsWAMsgsSource source)
{
    qint64 atLeast = 0;
    const qint64 known = source ? source->knownCount(&atLeast) : 0;
    m_counter.cancel();
    beginResetModel();
    m_pages.clear();
    m_recent.clear();
    m_source = std::move(source);
    m_total = known >= 0 ? known : atLeast;
    m_counting = known < 0;
    m_failed = false;
    endResetModel();
    if (m_counting && !m_counter.start(m_source))
        completeCount();
}

void ItemModelSms::completeCount()
{
    if (!m_counting)
        return;
    // A count under way is the quicker one to wait for.
    m_counter.finishNow();
    if (!m_counting)
        return;
    m_counter.cancel();
    qint64 n = 0;
    try {
        n = m_source ? m_source->count() : 0;
    } catch (const std::exception& e) {
        m_counting = false;
        emit fetchFailed(QString::fromUtf8(e.what()));
        return;
    }
    takeCount(n);
}

void ItemModelSms::takeCount(qint64 count)
{
    m_counting = false;
    const auto rows = [](qint64 n) { return int(std::min<qint64>(n, std::numeric_limits<int>::max())); };
    if (rows(count) > rows(m_total)) {
        beginInsertRows(QModelIndex(), rows(m_total), rows(count) - 1);
        m_total = count;
        endInsertRows();
    } else if (rows(count) < rows(m_total)) {
        // Fewer than the rows already shown (the history changed between the
        // two reads): the rows past the end go, and so do the pages built
        // against the longer list.
        beginRemoveRows(QModelIndex(), rows(count), rows(m_total) - 1);
        m_total = count;
        m_pages.clear();
        m_recent.clear();
        endRemoveRows();
    } else {
        m_total = count;
    }
    emit counted(m_total);
}

QModelIndex ItemModelSms::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || row >= m_total || column < 0 || column >= 4)
        return QModelIndex();
    return createIndex(row, column, quintptr(column == 0 ? row + 1 : 0));
}

QModelIndex ItemModelSms::parent(const QModelIndex&) const
{
    return QModelIndex();
}

int ItemModelSms::rowCount(const QModelIndex& parent) const
{
    // A view holds at most INT_MAX rows; no chat database comes near.
    return parent.isValid() ? 0 : int(std::min<qint64>(m_total, std::numeric_limits<int>::max()));
}

int ItemModelSms::columnCount(const QModelIndex&) const
{
    return 4;
}

Qt::ItemFlags ItemModelSms::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

ItemModelSms::Row ItemModelSms::rowOf(const _Message& m)
{
    Row row;
    row.date = m.ZMESSAGEDATE;
    row.fromMe = m.ZISFROMME != 0;
    row.type = m.ZMESSAGETYPE;
    row.contact = m.ZMESSAGETYPE == msgtype::kGroupEvent ? QStringLiteral("<System>") : messageTitle(m);
    // Emoji as characters (the colour font draws them), so that what the
    // list shows is what a search finds.
    row.content = messageDisplayText(m, true);
    if (m.ZSTARRED != 0)
        row.content.prepend(QChar(0x2605));
    row.receipts = m.receipts;
    return row;
}

int ItemModelSms::cachedRows() const
{
    int n = 0;
    for (const QList<Row>& page : m_pages)
        n += int(page.size());
    return n;
}

bool ItemModelSms::isRowCached(int row) const
{
    return m_pages.contains(row / kBatchSize);
}

const ItemModelSms::Row* ItemModelSms::rowAt(int row) const
{
    if (row < 0 || row >= m_total || !m_source)
        return nullptr;
    const qint64 page = row / kBatchSize;
    auto it = m_pages.find(page);
    if (it == m_pages.end()) {
        if (m_failed)
            return nullptr;
        const qint64 first = page * kBatchSize;
        const qint64 k = std::min<qint64>(kBatchSize, m_total - first);
        // The whole page is read before it is kept, so a source failing in
        // the middle leaves the model as it was.
        QList<Row> rows;
        rows.reserve(k);
        try {
            for (qint64 i = first; i < first + k; ++i)
                rows.append(rowOf(m_source->at(i)));
        } catch (const std::exception& e) {
            m_failed = true;
            emit const_cast<ItemModelSms*>(this)->fetchFailed(QString::fromUtf8(e.what()));
            return nullptr;
        }
        it = m_pages.insert(page, std::move(rows));
        m_recent.append(page);
        while (m_recent.size() > kMaxCachedPages)
            m_pages.remove(m_recent.takeFirst());
        it = m_pages.find(page);
    } else if (m_recent.last() != page) {
        m_recent.removeOne(page);
        m_recent.append(page);
    }
    const qint64 offset = row - page * kBatchSize;
    return offset < it->size() ? &it->at(offset) : nullptr;
}

QString ItemModelSms::dateText(double seconds)
{
    return QLocale::system().toString(coreDataToDateTime(seconds), QLocale::ShortFormat);
}

QString ItemModelSms::receiptsText(const QList<_Receipt>& receipts)
{
    QStringList read;
    QStringList delivered;
    const QLocale locale = QLocale::system();
    for (const _Receipt& r : receipts) {
        if (r.time2.isValid())
            read << r.recipient + QStringLiteral(": ") + locale.toString(r.time2.toLocalTime(), QLocale::ShortFormat);
        if (r.time1.isValid())
            delivered << r.recipient + QStringLiteral(": ")
                             + locale.toString(r.time1.toLocalTime(), QLocale::ShortFormat);
    }
    QString tip;
    if (!read.isEmpty())
        tip = QStringLiteral("Read by:\n") + read.join(QLatin1Char('\n'));
    if (!delivered.isEmpty()) {
        if (!tip.isEmpty())
            tip += QLatin1Char('\n');
        tip += QStringLiteral("Delivered to:\n") + delivered.join(QLatin1Char('\n'));
    }
    return tip;
}

QVariant ItemModelSms::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_total)
        return QVariant();
    // Roles that need no row first: the view asks every row's height.
    if (role == Qt::SizeHintRole)
        return QSize(-1, 23);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::DecorationRole && role != Qt::BackgroundRole)
        return QVariant();
    const Row* cached = rowAt(index.row());
    if (!cached)
        return QVariant();
    const Row& row = *cached;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        switch (index.column()) {
        case 0:
            if (role == Qt::ToolTipRole && row.fromMe) {
                const QString tip = receiptsText(row.receipts);
                if (!tip.isEmpty())
                    return tip;
            }
            return dateText(row.date);
        case 1:
            if (row.type == msgtype::kGroupEvent)
                return QString();
            return row.fromMe ? QStringLiteral("To") : QStringLiteral("From");
        case 2:
            return row.contact;
        case 3:
            return row.content;
        }
        return QVariant();
    case Qt::DecorationRole: {
        if (index.column() != 0)
            return QVariant();
        static const QPixmap sent = listIcon(":/res/icon_sms-sent.png");
        static const QPixmap received = listIcon(":/res/icon_sms-receive.png");
        static const QPixmap broadcast = listIcon(":res/broadcast_flag.png");
        const QPixmap& icon = row.broadcast ? broadcast : (row.fromMe ? sent : received);
        return icon.isNull() ? QVariant() : QVariant(icon);
    }
    case Qt::BackgroundRole:
        return row.fromMe ? QBrush(QColor(245, 255, 226)) : QBrush(Qt::white);
    case Qt::SizeHintRole:
        return QSize(-1, 23);
    default:
        return QVariant();
    }
}

QVariant ItemModelSms::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return QVariant();
    if (role == Qt::DisplayRole) {
        static const char* const kLabels[] = {"Date", "Flag", "Contact", "Content"};
        if (section >= 0 && section < 4)
            return QString::fromLatin1(kLabels[section]);
    }
    // The list opens oldest first, so the first click on "Date" shows the
    // newest first.
    if (role == Qt::InitialSortOrderRole && section == 0)
        return int(Qt::DescendingOrder);
    return QVariant();
}
