// Lets a frameless box or dialog be dragged by any free point of its surface
// and keeps Escape from closing it (unless told to let Escape through, for a
// question whose Escape answers No). Installs itself as an event filter on the
// widget it serves and lives as long as that widget.
#pragma once

#include <QObject>
#include <QPoint>

class QWidget;

class WinMovable : public QObject {
    Q_OBJECT
public:
    explicit WinMovable(QWidget* widget, bool blockEscape = true);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_widget;
    QPoint m_pressPos;  // in the widget's own coordinates; (0,0) until pressed
    bool m_dragging = false;
    bool m_blockEscape;
};
