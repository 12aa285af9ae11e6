// The worker thread of a job shown behind the progress dialog: it owns (or
// borrows) one Job and runs it against a monitor, nothing more.
#pragma once

#include <QThread>

#include <memory>

class Job;
class JobMonitor;

class JobThread : public QThread {
    Q_OBJECT
public:
    // Borrows `job`; the caller keeps it alive until the thread has ended.
    JobThread(Job& job, JobMonitor& monitor, QObject* parent = nullptr);
    // Owns `job`.
    JobThread(std::unique_ptr<Job> job, JobMonitor& monitor, QObject* parent = nullptr);
    // A thread still running here is asked to stop and waited for: the job
    // is never cut off in the middle of a write.
    ~JobThread() override;

    Job& job() const { return *m_job; }

protected:
    void run() override;

private:
    std::unique_ptr<Job> m_owned;
    Job* m_job;
    JobMonitor& m_monitor;
};
