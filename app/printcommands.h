// Print Messages of the main window (selected messages, the chat on show, a
// whole database, or the tool bar's automatic scope): the print preview,
// whose pages are painted behind a progress dialog, at most 100 of them.
#pragma once

#include "app/commandrules.h"
#include "chatstore/abswamsgssource.h"

#include <QObject>

class MainWindow;
class PrintWAMsgsPreview;
class QPrinter;

class PrintCommands : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxPreviewPages = 100;

    explicit PrintCommands(MainWindow* window);

    void printMessages(CommandScope scope);
    // Opens the preview of `source`; returns when it is closed.
    void printMessages(const PAbsWAMsgsSource& source);
    // Paints the preview's pages (MainWindow::onPreviewPaintRequest).
    void paintPreview(PrintWAMsgsPreview* preview, QPrinter* printer, const PAbsWAMsgsSource& source);

    // What the last paint request painted (tests).
    int lastPageCount() const { return m_lastPages; }
    qint64 lastPrinted() const { return m_lastPrinted; }

    static QString pageLimitText();

private:
    MainWindow* m_window;
    int m_lastPages = 0;
    qint64 m_lastPrinted = 0;
};
