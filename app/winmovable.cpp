#include "app/winmovable.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

WinMovable::WinMovable(QWidget* widget, bool blockEscape) : QObject(widget), m_widget(widget), m_blockEscape(blockEscape)
{
    widget->installEventFilter(this);
}

bool WinMovable::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_widget)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        m_pressPos = e->position().toPoint();
        m_dragging = e->button() == Qt::LeftButton;
        break;
    }
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (!m_pressPos.isNull() && m_dragging)
            m_widget->move(m_widget->pos() + (e->position().toPoint() - m_pressPos));
        break;
    }
    case QEvent::MouseButtonRelease:
        m_dragging = false;
        break;
    case QEvent::KeyPress:
        if (m_blockEscape && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            return true;
        break;
    default:
        break;
    }
    return false;
}
