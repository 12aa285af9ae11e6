// The console monitor with the tests' fake job, in a child process whose
// standard error is a pipe (plain lines) and which gets real Ctrl-Cs; and
// the terminal bar drawn into a file.
#include "cli/consolemonitor.h"
#include "support/childsignal.h"
#include "support/fakejob.h"
#include "support/qtprint.h"

#include <QCoreApplication>
#include <QProcess>

#include <csignal>
#include <cstdio>

#include <gtest/gtest.h>

namespace {

struct ChildRun {
    int exitCode = -1;
    QStringList errLines;
    QString out;
};

// Runs the scenario; sends one Ctrl-C per entry of `interruptAfter` as soon
// as standard error contains that text, waiting for the text itself (the
// child's own holds are bounded, so it always ends).
ChildRun runChild(const char* scenario, const QStringList& interruptAfter = {})
{
    QProcess child;
    ChildSignal ctrlC(child);
    child.setReadChannel(QProcess::StandardError);
    child.start(QCoreApplication::applicationFilePath(), {"--console-child", scenario});
    EXPECT_TRUE(child.waitForStarted(60000));
    QByteArray err;
    for (const QString& marker : interruptAfter) {
        while (!err.contains(marker.toUtf8()) && child.state() == QProcess::Running) {
            child.waitForReadyRead(1000);
            err += child.readAllStandardError();
        }
        err += child.readAllStandardError();
        if (!err.contains(marker.toUtf8())) {
            ADD_FAILURE() << "never saw " << marker.toStdString() << " in " << err.constData();
            break;
        }
        EXPECT_TRUE(ctrlC.send(SIGINT)) << "the child ended before the Ctrl-C after " << marker.toStdString();
    }
    EXPECT_TRUE(child.waitForFinished(120000));
    err += child.readAllStandardError();
    ChildRun run;
    run.exitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    run.errLines = QString::fromLocal8Bit(err).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.out = QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed();
    return run;
}

const QStringList kAllProgress = {"Fake job: Progress:0%", "Fake job: Progress:33%", "Fake job: Progress:66%",
                                  "Fake job: Progress:100%"};

}  // namespace

TEST(ConsoleMonitor, PlainLinesAndExitCodes)
{
    struct Case {
        const char* scenario;
        QStringList interruptAfter;
        int exitCode;
        QStringList errLines;
        QString out;
    };
    const QString cancelling = QStringLiteral("cancelling... (press Ctrl-C again to end at once)");
    const Case cases[] = {
        {"ok", {}, 0, kAllProgress + QStringList{"Done"}, "units done: 3"},
        {"quiet", {}, 0, kAllProgress, "units done: 3"},
        {"fail",
         {},
         1,
         {"Fake job: Progress:0%", "Fake job: Progress:33%", "Fake job: Progress:66%", "error: unit 2 failed"},
         "units done: 1"},
        // Ctrl-C while the second unit runs: that unit ends, the third never
        // starts, and the exit code says cancelled.
        {"cancel",
         {"Fake job: Progress:40%"},
         3,
         {"Fake job: Progress:0%", "Fake job: Progress:20%", "Fake job: Progress:40%", cancelling, "cancelled"},
         "units done: 2"},
        // Ctrl-C inside the committing unit: the work is done, and so it says.
        {"commit",
         {"Fake job: Progress:66%"},
         0,
         {"Fake job: Progress:0%", "Fake job: Progress:33%", "Fake job: Progress:66%", cancelling,
          "Fake job: Progress:100%", "Done"},
         "units done: 3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        const ChildRun run = runChild(c.scenario, c.interruptAfter);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.errLines, c.errLines);
        EXPECT_EQ(run.out, c.out);
    }
}

TEST(ConsoleMonitor, SecondCtrlCEndsTheProcess)
{
    const ChildRun run = runChild("stubborn", {"Fake job: Progress:66%", "cancelling..."});
    EXPECT_EQ(run.exitCode, 130);
    ASSERT_FALSE(run.errLines.isEmpty());
    EXPECT_EQ(run.errLines.last(), QStringLiteral("interrupted"));
    EXPECT_TRUE(run.out.isEmpty()) << "the job was waited for";
}

namespace {

QString readAll(FILE* f)
{
    std::fflush(f);
    std::rewind(f);
    QByteArray bytes;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.append(buf, static_cast<qsizetype>(n));
    return QString::fromLocal8Bit(bytes);
}

}  // namespace

TEST(ConsoleMonitor, TerminalBarRedrawsOneLine)
{
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    ConsoleMonitor monitor(f);
    monitor.setTerminal(true);
    FakeJob job;
    EXPECT_EQ(monitor.runJob(job), 0);
    const QString text = readAll(f);
    std::fclose(f);
    // Every report redraws the same line; the outcome goes below it.
    const QString full = QString(30, QLatin1Char('#'));
    EXPECT_TRUE(text.startsWith(QStringLiteral("\r\033[K[") + QString(30, QLatin1Char('.')) +
                                QStringLiteral("] Fake job Progress:0%")))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("\r\033[K[") + full + QStringLiteral("] Fake job Progress:100%\nDone\n")))
        << text.toStdString();
    EXPECT_EQ(text.count(QLatin1Char('\n')), 2);
}

TEST(ConsoleMonitor, JobWithoutOutcomeOrWithAStrayThrowFails)
{
    class Silent : public Job {
    public:
        void run(JobMonitor& m) override { m.postProgress(QStringLiteral("Silent"), 0, QString()); }
    };
    class Throws : public Job {
    public:
        void run(JobMonitor&) override { throw AppError("broken before it began"); }
    };
    struct Case {
        Job* job;
        QString error;
    };
    Silent silent;
    Throws throws;
    for (const Case& c : {Case{&silent, "The operation ended without a result."},
                          Case{&throws, "broken before it began"}}) {
        FILE* f = std::tmpfile();
        ASSERT_NE(f, nullptr);
        ConsoleMonitor monitor(f);
        monitor.setTerminal(false);
        EXPECT_EQ(monitor.runJob(*c.job), 1);
        EXPECT_EQ(monitor.lastError(), c.error);
        EXPECT_TRUE(readAll(f).endsWith(QStringLiteral("error: ") + c.error + QLatin1Char('\n')));
        std::fclose(f);
    }
}
