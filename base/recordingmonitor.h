// A monitor that records every report, for tests and for callers that run a
// job synchronously and inspect its outcome afterwards.
#pragma once

#include "base/jobmonitor.h"

#include <QList>
#include <QString>

#include <mutex>

class RecordingMonitor : public JobMonitor {
public:
    struct Report {
        QString status;
        int value = 0;
        QString text;
    };

    void postProgress(const QString& status, int value, const QString& text) override;
    void postError(const QString& message) override;
    void postSuccess(const QString& message) override;

    // Cancel once the job has posted this many progress reports (-1: never).
    void cancelAfterReports(int count) { m_cancelAfter = count; }

    QList<Report> reports() const;
    QStringList errors() const;
    QStringList successes() const;
    // Exactly one success and no error.
    bool succeeded() const;

private:
    mutable std::mutex m_mutex;
    QList<Report> m_reports;
    QStringList m_errors;
    QStringList m_successes;
    int m_cancelAfter = -1;
};
