// The command-line tests' entry point. Started with
// "--console-child SCENARIO" the executable instead plays a quillometry-cli
// command running the tests' fake job through the console monitor: progress
// on standard error, the job's unit count on standard output, and the
// monitor's exit code as its own.
#include "cli/consolemonitor.h"
#include "support/fakejob.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

namespace {

int consoleChild(const char* scenario)
{
    FakeJob job;
    const QByteArray name(scenario);
    if (name == "ok") {
    } else if (name == "quiet") {
        job.successText.clear();
    } else if (name == "fail") {
        job.failAt = 1;
    } else if (name == "cancel") {
        // Holds its second unit until the Ctrl-C has asked it to cancel.
        job.units = 5;
        job.holdAt = 1;
        job.holdUntilCancel = true;
    } else if (name == "commit") {
        // The Ctrl-C comes inside the unit that commits the work.
        job.commitAt = 1;
        job.holdAt = 1;
        job.holdUntilCancel = true;
    } else if (name == "stubborn") {
        // Past its commit point from the start, and stuck in a unit.
        job.commitAt = 0;
        job.holdAt = 1;
    } else {
        std::fprintf(stderr, "unknown scenario %s\n", scenario);
        return 99;
    }
    ConsoleMonitor monitor;
    const int code = monitor.runJob(job);
    std::printf("units done: %d\n", job.unitsDone.load());
    std::fflush(stdout);
    return code;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--console-child") == 0)
        return consoleChild(argv[2]);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
