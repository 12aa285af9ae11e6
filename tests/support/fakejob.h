// A job of the tests' own, shaped like every real job: a first report with
// its title, one report per unit with a cancel check before each unit, and
// one outcome. It can fail inside a unit, pass a commit point after which a
// cancel no longer stops it, hold a unit until the test lets it go, and take
// its time rolling back (or roll back only once the test lets it), so the monitors' cancel and error paths can be
// driven step by step.
#pragma once

#include "base/apperror.h"
#include "base/job.h"
#include "base/jobmonitor.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class FakeJob : public Job {
public:
    QString title = QStringLiteral("Fake job");
    QString successText = QStringLiteral("Done");
    int units = 3;
    int unitMs = 0;
    int failAt = -1;       // this unit throws "unit N failed" (N counted from 1)
    int commitAt = -1;     // from this unit on the work is committed: cancels are ignored
    int holdAt = -1;       // this unit waits for release() ...
    bool holdUntilCancel = false;  // ... or, with this, for the cancel
    int rollbackMs = 0;    // how long undoing the partial work takes
    bool holdRollback = false;  // undoing the partial work also waits for release()

    std::atomic<int> unitsStarted{0};
    std::atomic<int> unitsDone{0};
    std::atomic<bool> holding{false};
    std::atomic<bool> rollingBack{false};
    std::atomic<bool> rolledBack{false};
    std::atomic<bool> ended{false};

    void release()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_released = true;
        m_cv.notify_all();
    }

    // Waits until the job holds its unit; the bound only ends a broken test.
    bool waitUntilHolding(int ms = 60000) const
    {
        for (int i = 0; i < ms / 5 && !holding.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return holding.load();
    }

    void run(JobMonitor& m) override
    {
        CancelListener wake(m, [this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_cv.notify_all();
        });
        runGuarded(m, [&] {
            m.postProgress(title, 0, QString());
            bool committed = false;
            try {
                for (int i = 0; i < units; ++i) {
                    if (i == commitAt)
                        committed = true;
                    if (!committed)
                        throwIfCancelled(m);
                    m.postProgress(QString(), JobMonitor::percentOf(i, units), QString());
                    ++unitsStarted;
                    if (i == holdAt)
                        hold(m);
                    if (unitMs > 0)
                        std::this_thread::sleep_for(std::chrono::milliseconds(unitMs));
                    if (i == failAt)
                        throw AppError(QStringLiteral("unit %1 failed").arg(i + 1));
                    ++unitsDone;
                }
            } catch (...) {
                if (!committed) {
                    rollingBack = true;
                    if (holdRollback)
                        waitForRelease();
                    std::this_thread::sleep_for(std::chrono::milliseconds(rollbackMs));
                    rolledBack = true;
                }
                throw;
            }
            return successText;
        });
        ended = true;
    }

private:
    void hold(JobMonitor& m)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        holding = true;
        // Bounded, so a broken test fails instead of hanging; generous, so
        // a slow machine never lets a held unit go on its own.
        m_cv.wait_for(lock, std::chrono::seconds(60),
                      [&] { return m_released || (holdUntilCancel && m.cancelled()); });
        holding = false;
    }

    void waitForRelease()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::seconds(60), [&] { return m_released; });
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_released = false;
};
