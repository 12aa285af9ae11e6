#include "device/backup2tooljob.h"

#include <QCoreApplication>

Backup2ToolJob::Backup2ToolJob(QString udid, QString backupRoot, Backup2Options options, PBackup2ToolHook hook)
    : m_udid(std::move(udid)), m_backupRoot(std::move(backupRoot)), m_options(std::move(options)),
      m_hook(std::move(hook))
{
}

void Backup2ToolJob::run(JobMonitor& monitor)
{
    runGuarded(monitor, [&]() -> QString {
        backup2tool tool(m_udid, m_backupRoot, m_hook);
        if (m_prepare)
            m_prepare(tool);
        // The tool runs on this thread: its progress goes straight to the monitor.
        QObject::connect(&tool, &backup2tool::update, &tool,
                         [&monitor](double pg, const QString&, const QString& status2) {
                             monitor.postProgress(status2, pg > 0 ? qBound(0, int(pg), 100) : -1, QString());
                         },
                         Qt::DirectConnection);
        CancelListener listener(monitor, [&tool] { tool.cancel(); });
        monitor.postProgress(m_options.op == 0 ? QCoreApplication::translate("backup2tool", "Backing up %1...")
                                                     .arg(m_udid)
                                               : QCoreApplication::translate("backup2tool", "Restoring %1...")
                                                     .arg(m_udid),
                             0, QString());
        tool.runThrow(m_options);
        return m_options.op == 0 ? QCoreApplication::translate("backup2tool", "Backup of %1 finished.").arg(m_udid)
                                 : QCoreApplication::translate("backup2tool", "Restore to %1 finished.").arg(m_udid);
    });
}
