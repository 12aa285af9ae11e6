// The command line's monitor: a one-line progress bar on standard error when
// it is a terminal, plain progress lines otherwise. The first Ctrl-C asks
// the job to cancel; a second one ends the process at once.
#pragma once

#include "base/job.h"
#include "base/jobmonitor.h"

#include <QString>

#include <cstdio>
#include <mutex>

class ConsoleMonitor : public JobMonitor {
public:
    explicit ConsoleMonitor(FILE* stream = stderr);
    ~ConsoleMonitor() override;

    void postProgress(const QString& status, int value, const QString& text) override;
    void postError(const QString& message) override;
    void postSuccess(const QString& message) override;

    // Runs the job on a worker thread while this thread watches for Ctrl-C,
    // then prints the outcome. Returns the exit code: success (also when a
    // cancel came after the job's commit point), failure, or cancelled.
    int runJob(Job& job);

    QString lastError() const;

private:
    void render(bool final);

    FILE* m_stream;
    bool m_tty;
    mutable std::mutex m_mutex;
    QString m_status;
    QString m_text;
    int m_value = 0;
    int m_lastPrintedValue = -1;
    QString m_lastPrintedStatus;
    QString m_error;
    QString m_success;
    bool m_lineOpen = false;
};
