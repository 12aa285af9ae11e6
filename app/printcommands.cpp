#include "app/printcommands.h"

#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "app/printwamsgspreview.h"
#include "app/progressform.h"
#include "app/progressformmonitor.h"
#include "base/busylock.h"
#include "output/printwamsgsexec.h"

#include <QCoreApplication>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>

#include <exception>

PrintCommands::PrintCommands(MainWindow* window) : QObject(window), m_window(window) {}

QString PrintCommands::pageLimitText()
{
    return QCoreApplication::translate(
        "MainWindow",
        "To print more than 100 pages messages, please click \"File\"->\"Export Messages to File\" menu to save "
        "messages to a PDF file first and then print the PDF file.");
}

void PrintCommands::printMessages(CommandScope scope)
{
    BusyLock busy;
    if (!busy.owns())
        return;
    const PAbsWAMsgsSource source = m_window->scopeSource(scope);
    if (!source)
        return;
    printMessages(source);
}

void PrintCommands::printMessages(const PAbsWAMsgsSource& source)
{
    PrintWAMsgsPreview preview;
    connect(&preview, &PrintWAMsgsPreview::previewPaintRequest, m_window, &MainWindow::onPreviewPaintRequest);
    preview.exec(source, m_window);
}

void PrintCommands::paintPreview(PrintWAMsgsPreview* preview, QPrinter* printer, const PAbsWAMsgsSource& source)
{
    // The page view must not draw while its pages are painted anew: the
    // printer has already let go of the pages it shows.
    QPrintPreviewWidget* view = preview->previewWidget();
    const bool viewUpdates = view && view->updatesEnabled();
    if (view)
        view->setUpdatesEnabled(false);

    // Shown, not run: painting goes on while it is up; it keeps the preview
    // from being used meanwhile and its Cancel stops the painting.
    ProgressForm form(QString(), preview->dialog());
    form.setWindowModality(preview->dialog() ? Qt::WindowModal : Qt::ApplicationModal);
    ProgressFormMonitor monitor(&form);
    form.show();

    PrintWAMsgsExec exec(printer, source, 0, &monitor, kMaxPreviewPages, 0);
    QString error;
    try {
        m_lastPrinted = exec.run();
    } catch (const std::exception& e) {
        error = QString::fromUtf8(e.what());
    }
    m_lastPages = exec.pageCount();
    form.hide();
    if (view)
        view->setUpdatesEnabled(viewUpdates);

    if (!error.isEmpty()) {
        errorBox(error);
        preview->close();
    } else if (!exec.wasCancelled() && exec.limitReached()) {
        warningBox(pageLimitText());
        preview->close();
    }
}
