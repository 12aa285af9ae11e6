#include "itunes/iositunesbksetpasswordthread.h"

#include "itunes/backupmanifest.h"

void IOSiTunesBKSetPasswordThread::run(JobMonitor& monitor)
{
    m_result = false;
    monitor.postProgress(QStringLiteral("Verifying. Please wait..."), 99, QString());
    try {
        m_result = m_backup.setPassword(m_password);
    } catch (const std::exception& e) {
        monitor.postError(QStringLiteral("IOSiTunesBKSetPasswordThread: %1").arg(QString::fromUtf8(e.what())));
        return;
    }
    monitor.postSuccess(QString());
}

bool verifyPassword(BackupManifest& backup, const QString& password, JobMonitor& monitor)
{
    IOSiTunesBKSetPasswordThread job(backup, password);
    job.run(monitor);
    return job.result();
}
