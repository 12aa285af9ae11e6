#include "base/job.h"
#include "base/jobmonitor.h"

#include <gtest/gtest.h>

#include <stdexcept>
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
