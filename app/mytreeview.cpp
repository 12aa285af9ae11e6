#include "app/mytreeview.h"

#include <QContextMenuEvent>
#include <QPainter>

void MyTreeView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    emit onSelectionChanged(selected, deselected);
    QTreeView::selectionChanged(selected, deselected);
}

QModelIndex MyTreeView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    // Going down from the last rows there are also needs the real end.
    const auto nearEnd = [this] {
        const int rows = model() ? model()->rowCount(rootIndex()) : 0;
        const int step = qMax(1, viewport()->height() / qMax(1, sizeHintForRow(0)));
        return currentIndex().row() >= rows - 1 - step;
    };
    if (cursorAction == MoveEnd
        || ((cursorAction == MoveDown || cursorAction == MoveNext || cursorAction == MovePageDown) && nearEnd()))
        emit allRowsWanted();
    return QTreeView::moveCursor(cursorAction, modifiers);
}

void MyTreeView::selectAll()
{
    emit allRowsWanted();
    QTreeView::selectAll();
}

void MyTreeView::contextMenuEvent(QContextMenuEvent* event)
{
    emit createContextMenu();
    QTreeView::contextMenuEvent(event);
}

void MyTreeView::setEmptyHint(const QString& text)
{
    if (m_emptyHint == text)
        return;
    m_emptyHint = text;
    viewport()->update();
}

void MyTreeView::paintEvent(QPaintEvent* event)
{
    QTreeView::paintEvent(event);
    if (m_emptyHint.isEmpty())
        return;
    // Below the last row shown, in the view's own grey.
    int top = 0;
    for (QModelIndex i = model() ? model()->index(0, 0) : QModelIndex(); i.isValid(); i = indexBelow(i))
        top = qMax(top, visualRect(i).bottom() + 1);
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    const QRect area = viewport()->rect().adjusted(12, top + 16, -12, -8);
    painter.drawText(area, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, m_emptyHint);
}
