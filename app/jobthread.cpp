#include "app/jobthread.h"

#include "base/job.h"
#include "base/jobmonitor.h"

#include <exception>

JobThread::JobThread(Job& job, JobMonitor& monitor, QObject* parent)
    : QThread(parent), m_job(&job), m_monitor(monitor)
{
}

JobThread::JobThread(std::unique_ptr<Job> job, JobMonitor& monitor, QObject* parent)
    : QThread(parent), m_owned(std::move(job)), m_job(m_owned.get()), m_monitor(monitor)
{
}

JobThread::~JobThread()
{
    if (isRunning()) {
        m_monitor.requestCancel();
        wait();
    }
}

void JobThread::run()
{
    // A job normally reports its own errors; one that lets an exception
    // escape still ends with an error report instead of ending the program.
    try {
        m_job->run(m_monitor);
    } catch (const std::exception& e) {
        m_monitor.postError(QString::fromUtf8(e.what()));
    } catch (...) {
        m_monitor.postError(Job::unknownErrorText());
    }
}
