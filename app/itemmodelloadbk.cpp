#include "app/itemmodelloadbk.h"

#include "itunes/backupmanifest.h"

#include <QColor>
#include <QDir>
#include <QLocale>
#include <QSize>

ItemModelLoadBk::ItemModelLoadBk(QObject* parent) : QAbstractItemModel(parent)
{
    const QPixmap icon(QStringLiteral(":res/iphone.png"));
    if (!icon.isNull())
        m_icon = icon.scaledToWidth(18, Qt::SmoothTransformation);
}

QModelIndex ItemModelLoadBk::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || row >= m_rows.size() || column < 0 || column >= 3)
        return {};
    return createIndex(row, column);
}

QModelIndex ItemModelLoadBk::parent(const QModelIndex&) const
{
    return {};
}

int ItemModelLoadBk::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ItemModelLoadBk::columnCount(const QModelIndex&) const
{
    return 3;
}

QVariant ItemModelLoadBk::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const _BKItemNode& node = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        if (index.column() == 0)
            return node.text;
        if (index.column() == 1)
            return QLocale::system().toString(node.backup->date.toLocalTime(), QLocale::ShortFormat);
        return QDir::toNativeSeparators(node.backup->folder.absolutePath());
    case Qt::DecorationRole:
        if (index.column() == 0 && !m_icon.isNull())
            return m_icon;
        return {};
    case Qt::SizeHintRole:
        return QSize(-1, 25);
    case Qt::BackgroundRole:
        return index.row() % 2 == 1 ? QColor(255, 255, 255) : QColor(250, 250, 250);
    default:
        return {};
    }
}

QVariant ItemModelLoadBk::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case 0:
        return tr("Name");
    case 1:
        return tr("Backup Date");
    case 2:
        return tr("Path");
    default:
        return {};
    }
}

int ItemModelLoadBk::addBackup(const PBackupManifest& backup)
{
    QList<QDateTime> dates;
    for (const _BKItemNode& node : m_rows)
        dates << node.backup->date;
    const int row = newestFirstRow(dates, backup->date);
    beginInsertRows(QModelIndex(), row, row);
    m_rows.insert(row, _BKItemNode{backup->displayName, backup});
    endInsertRows();
    return row;
}

PBackupManifest ItemModelLoadBk::backupAt(int row) const
{
    if (row < 0 || row >= m_rows.size())
        return nullptr;
    return m_rows.at(row).backup;
}

bool ItemModelLoadBk::containsBackupId(const QString& backupId) const
{
    for (const _BKItemNode& node : m_rows) {
        if (node.backup->backupId() == backupId)
            return true;
    }
    return false;
}
