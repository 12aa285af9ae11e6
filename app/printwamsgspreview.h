// Print Messages: the toolkit's print preview over an A4 printer (PDF
// output when the system has no printer), whose pages the main window paints
// with the bubble painter whenever the preview asks for them.
#pragma once

#include "chatstore/abswamsgssource.h"

#include <QObject>
#include <QPointer>
#include <QPrintPreviewDialog>

class QPrinter;
class QPrintPreviewWidget;
class QWidget;

class PrintWAMsgsPreview : public QObject {
    Q_OBJECT
public:
    explicit PrintWAMsgsPreview(QObject* parent = nullptr);
    ~PrintWAMsgsPreview() override;

    // Opens the preview of `source` over `window` and returns when it is
    // closed (the dialog's result).
    int exec(PAbsWAMsgsSource source, QWidget* window = nullptr);

    // While the preview is open: its dialog and page view.
    QPrintPreviewDialog* dialog() const { return m_dialog; }
    QPrintPreviewWidget* previewWidget() const;
    // Closes the preview once control is back in its event loop (safe from
    // inside a paint request).
    void close();

signals:
    void previewPaintRequest(PrintWAMsgsPreview* preview, QPrinter* printer, PAbsWAMsgsSource source);

public slots:
    void onPaintRequest(QPrinter* printer);

private:
    PAbsWAMsgsSource m_source;
    QPointer<QPrintPreviewDialog> m_dialog;
};
