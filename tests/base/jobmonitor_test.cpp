#include "base/job.h"
#include "base/jobmonitor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

class RecordingOnly : public JobMonitor {
public:
    void postProgress(const QString&, int value, const QString&) override { values.push_back(value); }
    void postError(const QString& m) override { errors.push_back(m); }
    void postSuccess(const QString& m) override { successes.push_back(m); }
    std::vector<int> values;
    std::vector<QString> errors, successes;
};

class ThreeUnits : public Job {
public:
    int failAt = -1;
    int cancelAt = -1;
    void run(JobMonitor& m) override
    {
        runGuarded(m, [&] {
            for (int i = 0; i < 3; ++i) {
                if (i == cancelAt)
                    m.requestCancel();
                throwIfCancelled(m);
                if (i == failAt)
                    throw std::runtime_error("unit failed");
                m.postProgress({}, JobMonitor::percentOf(i, 3), {});
            }
            return QStringLiteral("done");
        });
    }
};

}  // namespace

TEST(JobMonitor, PercentReachesHundredWithLastUnit)
{
    EXPECT_EQ(JobMonitor::percentOf(0, 3), 33);
    EXPECT_EQ(JobMonitor::percentOf(2, 3), 100);
    EXPECT_EQ(JobMonitor::percentOf(0, 0), 100);
}

TEST(JobMonitor, GuardedRunReportsExactlyOneOutcome)
{
    ThreeUnits ok;
    RecordingOnly m1;
    ok.run(m1);
    EXPECT_TRUE(ok.succeeded());
    EXPECT_EQ(m1.successes, std::vector<QString>{QStringLiteral("done")});
    EXPECT_TRUE(m1.errors.empty());

    ThreeUnits failing;
    failing.failAt = 1;
    RecordingOnly m2;
    failing.run(m2);
    EXPECT_FALSE(failing.succeeded());
    EXPECT_EQ(m2.errors, std::vector<QString>{QStringLiteral("unit failed")});
    EXPECT_TRUE(m2.successes.empty());

    ThreeUnits cancelled;
    cancelled.cancelAt = 1;
    RecordingOnly m3;
    cancelled.run(m3);
    EXPECT_TRUE(cancelled.wasCancelled());
    EXPECT_TRUE(m3.errors.empty());
    EXPECT_TRUE(m3.successes.empty());
    EXPECT_EQ(m3.values.size(), 1u);
}

TEST(JobMonitor, CancelListenersRunUntilRemoved)
{
    RecordingOnly m;
    int calls = 0;
    {
        CancelListener l(m, [&] { ++calls; });
        m.requestCancel();
    }
    m.requestCancel();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(m.cancelled());
}

TEST(JobMonitor, CancelNotifiesOnceAndLateListenersAtOnce)
{
    RecordingOnly m;
    int early = 0;
    CancelListener e(m, [&] { ++early; });
    m.requestCancel();
    m.requestCancel();
    EXPECT_EQ(early, 1);

    // A sub-operation that registers after the cancel must still stop.
    int late = 0;
    CancelListener l(m, [&] { ++late; });
    EXPECT_EQ(late, 1);
}

TEST(JobMonitor, RemovingAListenerWaitsForItsRunningCall)
{
    // The job ends a sub-operation (removing its listener, then destroying
    // what the listener touches) while the main thread is inside the call.
    RecordingOnly m;
    std::atomic<bool> inside{false};
    std::atomic<bool> finished{false};
    int id = m.addCancelListener([&] {
        inside = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        finished = true;
    });
    std::thread canceller([&] { m.requestCancel(); });
    while (!inside.load())
        std::this_thread::yield();
    m.removeCancelListener(id);
    EXPECT_TRUE(finished.load()) << "removal returned while the listener was still running";
    canceller.join();
}

TEST(JobMonitor, ListenerMayRemoveItselfWhileCalled)
{
    RecordingOnly m;
    int id = 0;
    int calls = 0;
    id = m.addCancelListener([&] {
        ++calls;
        m.removeCancelListener(id);
    });
    m.requestCancel();
    EXPECT_EQ(calls, 1);
}

TEST(JobMonitor, GuardedRunTurnsAForeignThrowIntoAnError)
{
    class Throws : public Job {
    public:
        void run(JobMonitor& m) override
        {
            runGuarded(m, []() -> QString { throw 42; });
        }
    };
    Throws job;
    RecordingOnly m;
    job.run(m);
    EXPECT_FALSE(job.succeeded());
    EXPECT_EQ(m.errors, std::vector<QString>{Job::unknownErrorText()});
}
