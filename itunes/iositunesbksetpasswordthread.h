// The job that checks a backup password: derives the key (seconds for a
// keybag with 10 million rounds), unlocks the keybag and prepares the
// decrypted manifest copy, while the caller shows progress.
#pragma once

#include "base/job.h"

#include <QString>

class BackupManifest;

class IOSiTunesBKSetPasswordThread : public Job {
public:
    IOSiTunesBKSetPasswordThread(BackupManifest& backup, const QString& password)
        : m_backup(backup), m_password(password) {}

    void run(JobMonitor& monitor) override;
    // True once the password unlocked the backup.
    bool result() const { return m_result; }

private:
    BackupManifest& m_backup;
    QString m_password;
    bool m_result = false;
};

// Runs the job under the given monitor on the calling thread and returns its
// result (false for a wrong password and for an error, which the monitor
// receives).
bool verifyPassword(BackupManifest& backup, const QString& password, JobMonitor& monitor);
