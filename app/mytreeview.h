// The tree view used for both the device tree and the message list: it
// tells the main window about selection changes and context-menu requests.
#pragma once

#include <QItemSelection>
#include <QTreeView>

class MyTreeView : public QTreeView {
    Q_OBJECT
public:
    using QTreeView::QTreeView;

    // A short text drawn below the rows (empty: none), for a first run.
    void setEmptyHint(const QString& text);
    const QString& emptyHint() const { return m_emptyHint; }

    void selectAll() override;

signals:
    void onSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
    void createContextMenu();
    // Emitted before the cursor goes to the end of the rows or every row
    // is selected: a model that is still growing its rows completes them.
    void allRowsWanted();

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_emptyHint;
};
