#include "output/exportmessagesthread.h"

#include "base/apperror.h"
#include "base/fileutil.h"
#include "output/exportmessagescsv.h"
#include "output/exportmessagestxt.h"

#include <QDir>
#include <QFileInfo>

#include <memory>

ExportMessagesThread::ExportMessagesThread(PAbsWAMsgsSource source, QString outputPath, int format)
    : m_source(std::move(source)), m_outputPath(std::move(outputPath)), m_format(format)
{
}

void ExportMessagesThread::run(JobMonitor& monitor)
{
    runGuarded(monitor, [&] { return exportMessages(monitor); });
}

QString ExportMessagesThread::exportMessages(JobMonitor& monitor)
{
    monitor.postProgress(QStringLiteral("Exporting Messages..."), -1, QString());
    if (m_format < kText || m_format > kHtmlAlso)
        throw AppError("not support export format.");
    if (m_format >= kHtml)
        throw AppError("HTML export is not available in this build.");

    // The folder formats 2 to 4 write into; removed again after a cancel or
    // an error when this run created it.
    bool createdFolder = false;
    if (m_format >= kNone && !QFileInfo::exists(m_outputPath)) {
        if (!QDir().mkpath(m_outputPath))
            throw AppError(QStringLiteral("Cannot create the folder %1.").arg(QDir::toNativeSeparators(m_outputPath)));
        createdFolder = true;
    }

    std::unique_ptr<SavedFileExport> writer;
    if (m_format == kText)
        writer = std::make_unique<ExportMessagesTxt>(m_outputPath,
                                                     m_outputPath.endsWith(QLatin1String(".doc"), Qt::CaseInsensitive)
                                                         ? ExportMessagesTxt::Kind::Rtf
                                                         : ExportMessagesTxt::Kind::Text);
    else if (m_format == kCsv)
        writer = std::make_unique<ExportMessagesCsv>(m_outputPath);

    try {
        if (writer)
            writer->begin();
        const qint64 count = m_source->count();
        qint64 n = 0;
        int lastValue = -1;
        for (qint64 i = 0; i < count; ++i) {
            throwIfCancelled(monitor);
            const _Message m = m_source->at(i);
            if (!m.session)
                continue;
            ++n;
            const int value = JobMonitor::percentOf(i, count);
            if (value != lastValue || (n & 1023) == 0) {
                monitor.postProgress(QString(), value, QStringLiteral("Messages: %1/%2").arg(n).arg(count));
                lastValue = value;
            }
            if (writer)
                writer->write(m);
        }
        if (writer)
            writer->finish();
        m_exported = n;
        return QStringLiteral("Successfully exported %1 Messages.").arg(n);
    } catch (...) {
        if (writer)
            writer->discard();
        if (createdFolder)
            removeFolderTree(m_outputPath);
        throw;
    }
}
