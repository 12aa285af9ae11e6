#include "app/printwamsgspreview.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPageLayout>
#include <QPageSize>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPrinterInfo>

PrintWAMsgsPreview::PrintWAMsgsPreview(QObject* parent) : QObject(parent) {}

PrintWAMsgsPreview::~PrintWAMsgsPreview() = default;

int PrintWAMsgsPreview::exec(PAbsWAMsgsSource source, QWidget* window)
{
    m_source = std::move(source);
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setPageSize(QPageSize(QPageSize::A4));
    // Without a printer the preview prints into a PDF file.
    if (printer.outputFormat() == QPrinter::NativeFormat
        && (!printer.isValid() || QPrinterInfo::availablePrinters().isEmpty()))
        printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Point);

    QPrintPreviewDialog dialog(&printer, window);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setWindowTitle(QCoreApplication::translate("MainWindow", "IDS_PRINT_MESSAGES"));
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this, &PrintWAMsgsPreview::onPaintRequest);
    m_dialog = &dialog;
    const int result = dialog.exec();
    m_dialog = nullptr;
    return result;
}

QPrintPreviewWidget* PrintWAMsgsPreview::previewWidget() const
{
    return m_dialog ? m_dialog->findChild<QPrintPreviewWidget*>() : nullptr;
}

void PrintWAMsgsPreview::close()
{
    if (m_dialog)
        QMetaObject::invokeMethod(m_dialog.data(), "reject", Qt::QueuedConnection);
}

void PrintWAMsgsPreview::onPaintRequest(QPrinter* printer)
{
    emit previewPaintRequest(this, printer, m_source);
}
