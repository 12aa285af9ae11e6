// The rows of the backup chooser: one per backup, newest first, with the
// backup's name, date and folder. A new row goes before the first row whose
// date is earlier than its own, so backups of equal date keep the order in
// which they were added.
#pragma once

#include "itunes/backupdiscovery.h"

#include <QAbstractItemModel>
#include <QList>
#include <QPixmap>

class ItemModelLoadBk : public QAbstractItemModel {
    Q_OBJECT
public:
    // One row: the backup's display name and its opened manifest.
    struct _BKItemNode {
        QString text;
        PBackupManifest backup;
    };

    explicit ItemModelLoadBk(QObject* parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Inserts the backup at its place and returns its row.
    int addBackup(const PBackupManifest& backup);
    // The backup of a row, or null.
    PBackupManifest backupAt(int row) const;
    // True when a listed backup has this backupId.
    bool containsBackupId(const QString& backupId) const;

private:
    QList<_BKItemNode> m_rows;
    QPixmap m_icon;
};
