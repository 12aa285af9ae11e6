#include "output/exportmessagespdf.h"

#include "base/apperror.h"
#include "base/fileutil.h"
#include "chatstore/displayrules.h"
#include "output/freshfolder.h"
#include "output/printwamsgsexec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>

#include <memory>
#include <vector>

namespace {

QString nativePath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

}  // namespace

ExportMessagesPdf::ExportMessagesPdf(QString outputFolder, PAbsWAMsgsSource source, QObject* parent)
    : QObject(parent), m_requested(std::move(outputFolder)), m_source(std::move(source))
{
}

void ExportMessagesPdf::run(JobMonitor& monitor)
{
    m_monitor = &monitor;
    runGuarded(monitor, [&] { return exportAll(monitor); });
    m_monitor = nullptr;
}

QString ExportMessagesPdf::exportAll(JobMonitor& monitor)
{
    monitor.postProgress(QStringLiteral("Exporting Messages..."), 0, QString());
    m_folder = makeFreshFolder(m_requested);
    try {
        const SessionSources chats = m_source->splitBySession();
        // Progress goes over the messages that are printed: those in chats.
        for (const auto& [session, source] : chats) {
            throwIfCancelled(monitor);
            if (session)
                m_total += source->count();
        }
        for (const auto& [session, source] : chats) {
            throwIfCancelled(monitor);
            if (!session)
                continue;
            m_exported += exportChat(monitor, session, source);
            m_before += m_chatTotal;
        }
        throwIfCancelled(monitor);
    } catch (...) {
        removeFolderTree(m_folder);
        throw;
    }
    return QStringLiteral("Successfully exported %1 Messages.").arg(m_exported);
}

qint64 ExportMessagesPdf::exportChat(JobMonitor& monitor, const PChatSession& session,
                                     const PAbsWAMsgsSource& source)
{
    m_chatTotal = source->count();
    m_chatDone = 0;
    // Files are written under names of their own and get their real names
    // once the chat is done: those depend on how many files it took. (Not
    // hidden names: removing the folder after a failure leaves those.)
    std::vector<QString> parts;
    for (int n = 1; m_chatDone < m_chatTotal; ++n) {
        throwIfCancelled(monitor);
        m_label = QStringLiteral("%1-%2").arg(sessionDisplayName(*session, true, false)).arg(n);
        const QString partPath = QDir(m_folder).filePath(QStringLiteral("part-%1-%2.pdf.tmp").arg(session->Z_PK).arg(n));
        QFile file(partPath);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            throw AppError(QStringLiteral("Cannot write %1: %2").arg(nativePath(partPath), file.errorString()));
        parts.push_back(partPath);
        qint64 printed = 0;
        bool cancelled = false;
        {
            QPdfWriter writer(&file);
            writer.setCreator(QStringLiteral("Quillometry Chat Transfer"));
            writer.setTitle(m_label);
            writer.setResolution(96);
            writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                             QMarginsF(20, 20, 20, 20), QPageLayout::Point));
            PrintWAMsgsExec exec(&writer, source, m_chatDone, nullptr, kPagesPerFile, n - 1);
            exec.setAssetFolder(m_assetFolder);
            connect(&exec, &PrintWAMsgsExec::updateProgress, this, &ExportMessagesPdf::exportThreadUpdateProgress,
                    Qt::DirectConnection);
            CancelListener cancel(monitor, [&exec] { exec.setCancel(); });
            m_running = &exec;
            try {
                printed = exec.run();
            } catch (...) {
                m_running = nullptr;
                throw;
            }
            m_running = nullptr;
            cancelled = exec.wasCancelled() || monitor.cancelled();
        }
        if (!file.flush() || file.error() != QFileDevice::NoError)
            throw AppError(QStringLiteral("Cannot write %1: %2").arg(nativePath(partPath), file.errorString()));
        file.close();
        if (cancelled)
            throw JobCancelled();
        if (printed <= 0)
            throw AppError(QStringLiteral("ExportMessagesPdf::exportChat: no message of %1 could be printed.")
                               .arg(m_label));
        m_chatDone += printed;
    }

    const QStringList names = m_namer.take(session, int(parts.size()));
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const QString target = QDir(m_folder).filePath(names.at(qsizetype(i)) + QStringLiteral(".pdf"));
        if (!QFile::rename(parts[i], target))
            throw AppError(QStringLiteral("Cannot write %1.").arg(nativePath(target)));
        m_files << target;
    }
    return m_chatDone;
}

void ExportMessagesPdf::exportThreadUpdateProgress(int printed, int)
{
    if (!m_monitor)
        return;
    // A monitor whose cancel flag is only polled stops the file here.
    if (m_running && m_monitor->cancelled())
        m_running->setCancel();
    const qint64 done = m_chatDone + printed;
    const int value = JobMonitor::percentOf(m_before + done - 1, m_total);
    if (value == m_lastValue && done - m_lastReported < 100 && done != m_chatTotal)
        return;
    m_lastValue = value;
    m_lastReported = done;
    m_monitor->postProgress(QString(), value,
                            QStringLiteral("%1: %2/%3").arg(m_label).arg(done).arg(m_chatTotal));
}
