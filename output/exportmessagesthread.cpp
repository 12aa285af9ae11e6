#include "output/exportmessagesthread.h"

#include "base/apperror.h"
#include "base/assetfolder.h"
#include "base/fileutil.h"
#include "output/chatfilebasename.h"
#include "output/exportfilesfolder.h"
#include "output/exportmessagescsv.h"
#include "output/exportmessageshtml.h"
#include "output/exportmessagestxt.h"
#include "output/freshfolder.h"

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

void ExportMessagesThread::reportMessage(JobMonitor& monitor, qint64 n, qint64 index, qint64 count)
{
    const int value = JobMonitor::percentOf(index, count);
    if (value != m_lastValue || (n & 1023) == 0) {
        monitor.postProgress(QString(), value, QStringLiteral("Messages: %1/%2").arg(n).arg(count));
        m_lastValue = value;
    }
}

QString ExportMessagesThread::exportMessages(JobMonitor& monitor)
{
    monitor.postProgress(QStringLiteral("Exporting Messages..."), -1, QString());
    if (m_format < kText || m_format > kHtmlAlso)
        throw AppError("not support export format.");

    // The folder formats 2 to 4 write into; removed again after a cancel or
    // an error when this run created it.
    bool createdFolder = false;
    if (m_format >= kHtml) {
        m_outputPath = makeFreshFolder(m_outputPath);
        createdFolder = true;
    } else if (m_format == kNone && !QFileInfo::exists(m_outputPath)) {
        if (!QDir().mkpath(m_outputPath))
            throw AppError(cannotCreateFolderText(m_outputPath));
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
        const qint64 count = m_source->count();
        qint64 n = 0;
        if (m_format >= kHtml) {
            n = exportHtml(monitor, count);
        } else {
            if (writer)
                writer->begin();
            for (qint64 i = 0; i < count; ++i) {
                throwIfCancelled(monitor);
                const _Message m = m_source->at(i);
                if (!m.session)
                    continue;
                ++n;
                reportMessage(monitor, n, i, count);
                if (writer)
                    writer->write(m);
            }
            if (writer)
                writer->finish();
        }
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

qint64 ExportMessagesThread::exportHtml(JobMonitor& monitor, qint64 count)
{
    const QString filesPath = m_outputPath + QStringLiteral("/files");
    if (!QDir().mkdir(filesPath))
        throw AppError(cannotCreateFolderText(filesPath));
    ExportFilesFolder files(filesPath);
    files.copyAssets(m_assetFolder.isEmpty() ? product::wabbFolder() : m_assetFolder);

    // One chat after the other, so that only one page file is ever open.
    // The file names are settled first: they depend on every chat's name
    // and on how many files each chat needs.
    const SessionSources chats = m_source->splitBySession();
    std::vector<std::pair<PChatSession, int>> pages;
    std::vector<qint64> counts;
    pages.reserve(chats.size());
    for (const auto& [session, source] : chats) {
        throwIfCancelled(monitor);
        const qint64 chatCount = session ? source->count() : 0;
        counts.push_back(chatCount);
        const qint64 fileCount =
            (chatCount + ExportMessagesHtml::kMessagesPerFile - 1) / ExportMessagesHtml::kMessagesPerFile;
        pages.emplace_back(session, int(std::min<qint64>(fileCount, 1 << 20)));
    }
    const std::map<qint64, QStringList> names = distinctChatPageBaseNames(pages);

    qint64 n = 0;
    qint64 index = 0;
    std::size_t chatIndex = 0;
    for (const auto& [session, source] : chats) {
        const qint64 chatCount = counts[chatIndex++];
        if (!session || chatCount == 0)
            continue;
        ExportMessagesHtml writer(m_outputPath, names.at(session->Z_PK), files);
        writer.begin();
        for (qint64 i = 0; i < chatCount; ++i, ++index) {
            throwIfCancelled(monitor);
            const _Message m = source->at(i);
            if (!m.session)
                continue;
            ++n;
            reportMessage(monitor, n, index, count);
            writer.write(m);
        }
        writer.finish();
    }
    return n;
}
