#include "app/win32killprocessesthread.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

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
        EXPECT_TRUE(QTest::qWaitFor([&] { return !boxTexts.isEmpty(); }, 10000));
        EXPECT_TRUE(target.state() == QProcess::NotRunning || target.waitForFinished(5000));
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
    EXPECT_TRUE(idle.wait(2000));

    QElapsedTimer timer;
    timer.start();
    {
        Win32KillProcessesThread watcher;
        watcher.addWatch("no-such-program.exe", "never");
        watcher.start();
        QTest::qWait(50);
    }
    EXPECT_LT(timer.elapsed(), 1500);
}
