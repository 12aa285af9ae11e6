// The protocol between a long job and whoever watches it: the window's
// progress dialog, the command line's progress bar, or a test. A job reports
// progress, then exactly one of error or success, and polls cancelled()
// between units of work. Once it has seen a cancel it stops and posts
// nothing; the one exception is a job that has already passed its commit
// point: it finishes and posts its success, because that is what happened.
// Nothing is posted after the error or the success.
#pragma once

#include <QString>

#include <atomic>
#include <exception>
#include <functional>
#include <map>
#include <mutex>

class JobMonitor {
public:
    virtual ~JobMonitor();

    // status: a non-empty text replaces the status line; value: 0..100, or
    // negative to keep the bar where it is; text: empty means "Progress:N%".
    virtual void postProgress(const QString& status, int value, const QString& text) = 0;
    virtual void postError(const QString& message) = 0;
    // An empty message means the job shows no box on success.
    virtual void postSuccess(const QString& message) = 0;

    // Set once (false -> true) when the user cancelled or the watcher ended
    // the job after an error. Read from the worker without a lock.
    bool cancelled() const { return m_cancelled.load(std::memory_order_acquire); }

    // Marks the job cancelled and tells every listener (sub-objects that run
    // long operations of their own and want to stop inside a unit of work).
    // Only the first call notifies; later calls do nothing.
    void requestCancel();

    // Listeners are called on the thread that calls requestCancel(), so they
    // must be quick (set a flag, abort a socket) and must never wait for the
    // job's thread. A listener added after the cancel is called at once, on
    // the adding thread, so a sub-operation that starts late still stops.
    // removeCancelListener() returns only when no call of that listener is
    // running any more; after it the listener's captures may be destroyed.
    int addCancelListener(std::function<void()> listener);
    void removeCancelListener(int id);

    // Convenience for job loops: the value for unit `index` of `count`,
    // reaching 100 with the last unit.
    static int percentOf(qint64 index, qint64 count);

protected:
    // Raises the flag without telling the listeners.
    void setCancelledFlag() { m_cancelled.store(true, std::memory_order_release); }

private:
    std::atomic<bool> m_cancelled{false};
    // Held while listeners run, so that removal waits for a running call;
    // recursive so that a listener may add or remove listeners itself.
    std::recursive_mutex m_listenersMutex;
    std::map<int, std::function<void()>> m_listeners;
    int m_nextListener = 1;
};

// Thrown inside a job when it notices the cancel; caught at the top of the
// job's run(), after its transaction was rolled back, and never reported.
class JobCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "cancelled"; }
};

// Throws JobCancelled when the monitor says so.
inline void throwIfCancelled(const JobMonitor& monitor)
{
    if (monitor.cancelled())
        throw JobCancelled();
}

// RAII registration of a cancel listener.
class CancelListener {
public:
    CancelListener(JobMonitor& monitor, std::function<void()> f)
        : m_monitor(monitor), m_id(monitor.addCancelListener(std::move(f))) {}
    ~CancelListener() { m_monitor.removeCancelListener(m_id); }
    CancelListener(const CancelListener&) = delete;
    CancelListener& operator=(const CancelListener&) = delete;

private:
    JobMonitor& m_monitor;
    int m_id;
};
