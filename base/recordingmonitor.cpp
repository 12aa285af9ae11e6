#include "base/recordingmonitor.h"

void RecordingMonitor::postProgress(const QString& status, int value, const QString& text)
{
    bool cancelNow = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reports.append({status, value, text});
        cancelNow = m_cancelAfter >= 0 && m_reports.size() >= m_cancelAfter;
    }
    if (cancelNow && !cancelled())
        requestCancel();
}

void RecordingMonitor::postError(const QString& message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_errors.append(message);
}

void RecordingMonitor::postSuccess(const QString& message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_successes.append(message);
}

QList<RecordingMonitor::Report> RecordingMonitor::reports() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reports;
}

QStringList RecordingMonitor::errors() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_errors;
}

QStringList RecordingMonitor::successes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_successes;
}

bool RecordingMonitor::succeeded() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_errors.isEmpty() && m_successes.size() == 1;
}
