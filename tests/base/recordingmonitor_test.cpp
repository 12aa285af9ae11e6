// The tests' fake job through the recording monitor: the same job the
// dialog and the console monitor run, with every outcome.
#include "base/recordingmonitor.h"
#include "support/fakejob.h"
#include "support/qtprint.h"

#include <gtest/gtest.h>

#include <functional>

TEST(RecordingMonitor, FakeJobOutcomes)
{
    struct Case {
        const char* name;
        std::function<void(FakeJob&, RecordingMonitor&)> setup;
        QList<int> values;
        QStringList successes;
        QStringList errors;
        int unitsDone;
        bool rolledBack;
        bool wasCancelled;
    };
    const Case cases[] = {
        {"completes", [](FakeJob&, RecordingMonitor&) {}, {0, 33, 66, 100}, {"Done"}, {}, 3, false, false},
        {"no box on success", [](FakeJob& j, RecordingMonitor&) { j.successText.clear(); }, {0, 33, 66, 100},
         {""}, {}, 3, false, false},
        {"fails in unit 2", [](FakeJob& j, RecordingMonitor&) { j.failAt = 1; }, {0, 33, 66}, {},
         {"unit 2 failed"}, 1, true, false},
        // The cancel comes with the first unit's report: that unit finishes,
        // the next one is never started.
        {"cancelled", [](FakeJob&, RecordingMonitor& m) { m.cancelAfterReports(2); }, {0, 33}, {}, {}, 1, true,
         true},
        // The cancel comes inside the unit that committed: the job finishes
        // and says so.
        {"cancel after the commit point",
         [](FakeJob& j, RecordingMonitor& m) {
             j.commitAt = 1;
             m.cancelAfterReports(3);
         },
         {0, 33, 66, 100}, {"Done"}, {}, 3, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeJob job;
        RecordingMonitor monitor;
        c.setup(job, monitor);
        job.run(monitor);

        QList<int> values;
        for (const auto& r : monitor.reports())
            values << r.value;
        EXPECT_EQ(values, c.values);
        ASSERT_FALSE(monitor.reports().isEmpty());
        EXPECT_EQ(monitor.reports().first().status, QStringLiteral("Fake job"));
        for (qsizetype i = 1; i < monitor.reports().size(); ++i) {
            EXPECT_TRUE(monitor.reports()[i].status.isEmpty());
            EXPECT_TRUE(monitor.reports()[i].text.isEmpty());
        }
        EXPECT_EQ(monitor.successes(), c.successes);
        EXPECT_EQ(monitor.errors(), c.errors);
        EXPECT_EQ(monitor.succeeded(), !c.successes.isEmpty());
        EXPECT_EQ(job.unitsDone.load(), c.unitsDone);
        EXPECT_EQ(job.rolledBack.load(), c.rolledBack);
        EXPECT_EQ(job.wasCancelled(), c.wasCancelled);
        EXPECT_EQ(job.succeeded(), !c.successes.isEmpty());
    }
}
