#include "app/win32killprocessesthread.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

// A copy of sleep(1) under a name of our own, so the watch table can name a
// process that belongs to this test and nothing else.
QString sleepCopy(const QTemporaryDir& dir, const QString& name)
{
    const QString sleep = QStandardPaths::findExecutable("sleep");
    const QString copy = dir.filePath(name);
    if (sleep.isEmpty() || !QFile::copy(sleep, copy))
        return {};
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return copy;
}

}  // namespace

TEST(Win32KillProcessesThread, EndsOnlyWatchedProcessesAndShowsTheTableText)
{
    QTemporaryDir dir;
    const QString pid = QString::number(QCoreApplication::applicationPid());
    // Longer than the 15 bytes of a command name, so only the executable's
    // own name can match.
    const QString watchedName = "qwatch-target-" + pid;
    const QString watched = sleepCopy(dir, watchedName);
    const QString bystander = sleepCopy(dir, "qwatch-bystander-" + pid);
    ASSERT_FALSE(watched.isEmpty());
    ASSERT_FALSE(bystander.isEmpty());

    QProcess target, other;
    target.start(watched, {"30"});
    other.start(bystander, {"30"});
    ASSERT_TRUE(target.waitForStarted());
    ASSERT_TRUE(other.waitForStarted());
    const qint64 targetPid = target.processId();

    QStringList boxTexts;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxTexts << box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    poll.start(20);

    QList<qint64> killed;
    {
        Win32KillProcessesThread watcher;
        watcher.addWatch(watchedName.toUpper(), "Please close the watched program.");
        QObject::connect(&watcher, &Win32KillProcessesThread::processKilled, &watcher,
                         [&](qint64 p, const QString&) { killed << p; }, Qt::DirectConnection);
        watcher.start();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !boxTexts.isEmpty(); }, 60000));
        EXPECT_TRUE(target.state() == QProcess::NotRunning || target.waitForFinished(60000));
    }  // the destructor stops the thread
    poll.stop();

    EXPECT_EQ(target.exitStatus(), QProcess::CrashExit);
    ASSERT_FALSE(boxTexts.isEmpty());
    EXPECT_EQ(boxTexts.first(), "Please close the watched program.");
    EXPECT_EQ(killed.value(0), targetPid);
    EXPECT_EQ(other.state(), QProcess::Running) << "a process outside the table was touched";
    other.kill();
    other.waitForFinished();
}

TEST(Win32KillProcessesThread, EmptyTableEndsAtOnceAndStopIsPrompt)
{
    Win32KillProcessesThread idle;
    idle.start();
    EXPECT_TRUE(idle.wait(60000));

    // With an hour between scans, a stop that waited for the next scan
    // would hang here until the test runner's time limit ends the test.
    auto watcher = std::make_unique<Win32KillProcessesThread>();
    watcher->setScanInterval(3600 * 1000);
    watcher->addWatch("no-such-program.exe", "never");
    QSignalSpy started(watcher.get(), &QThread::started);
    watcher->start();
    ASSERT_TRUE(!started.isEmpty() || started.wait(60000));
    watcher->scan();  // a scan on demand runs beside the pausing thread
    QThread* thread = watcher.get();
    QSignalSpy finished(thread, &QThread::finished);
    watcher.reset();
    EXPECT_EQ(finished.count(), 1);
}
