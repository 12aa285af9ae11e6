// Backup2ToolJob: one whole-phone backup or restore through backup2tool as
// a job, so the command line (and later the window) shows its progress,
// can cancel it and gets one clear outcome.
#pragma once

#include "base/job.h"
#include "device/backup2tool.h"

#include <functional>

class Backup2ToolJob : public Job {
public:
    Backup2ToolJob(QString udid, QString backupRoot, Backup2Options options, PBackup2ToolHook hook = nullptr);

    void run(JobMonitor& monitor) override;

    // Called with the tool before the run (tests set a transport there).
    void setPrepare(std::function<void(backup2tool&)> prepare) { m_prepare = std::move(prepare); }

private:
    QString m_udid;
    QString m_backupRoot;
    Backup2Options m_options;
    PBackup2ToolHook m_hook;
    std::function<void(backup2tool&)> m_prepare;
};
