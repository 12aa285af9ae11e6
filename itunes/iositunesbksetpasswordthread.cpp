#include "itunes/iositunesbksetpasswordthread.h"

#include "base/apperror.h"
#include "itunes/backupmanifest.h"

void IOSiTunesBKSetPasswordThread::run(JobMonitor& monitor)
{
    m_result = false;
    monitor.postProgress(QStringLiteral("Verifying. Please wait..."), 99, QString());
    runGuarded(monitor, [&] {
        try {
            // The derivation takes seconds; it stops between its slices
            // when the job is cancelled.
            m_result = m_backup.setPassword(m_password, [&monitor] { return monitor.cancelled(); });
        } catch (const JobCancelled&) {
            throw;
        } catch (const std::exception& e) {
            throw AppError(QStringLiteral("IOSiTunesBKSetPasswordThread: %1").arg(QString::fromUtf8(e.what())));
        }
        return QString();
    });
}

bool verifyPassword(BackupManifest& backup, const QString& password, JobMonitor& monitor)
{
    IOSiTunesBKSetPasswordThread job(backup, password);
    job.run(monitor);
    return job.result();
}
