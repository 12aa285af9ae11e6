// What the end-to-end device tests share: running the command line as a
// process in a test's own data folder and temporary folder (pointed at the
// simulated phones), talking to the simulator's control channel, and
// stopping the simulator.
#pragma once

#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

struct CliResult {
    int code = -1;
    QString out;
    QString err;
};

// Runs `program args` with the environment's additions and no standard
// input; a run that does not end within `ms` is killed and has code -1.
inline CliResult runCliProcess(const QString& program, const QStringList& args, const QMap<QString, QString>& env,
                               int ms)
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (auto it = env.begin(); it != env.end(); ++it)
        e.insert(it.key(), it.value());
    p.setProcessEnvironment(e);
    p.start(program, args);
    p.closeWriteChannel();
    CliResult r;
    if (!p.waitForFinished(ms)) {
        p.kill();
        p.waitForFinished();
        r.err = "did not finish: " + args.join(' ');
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// Runs the command line with its data folder in `folder`/data and its
// temporary folder in `folder`/tmp, reaching the simulated phones through
// `mux` when it is known; `env` adds to that.
inline CliResult runCliInFolder(const QString& program, const QString& folder, const QString& mux,
                                const QStringList& args, QMap<QString, QString> env, int ms)
{
    env.insert("XDG_DATA_HOME", folder + "/data");
    env.insert("TMPDIR", folder + "/tmp");
    if (!mux.isEmpty())
        env.insert("USBMUXD_SOCKET_ADDRESS", mux);
    return runCliProcess(program, args, env, ms);
}

// One command on the simulator's control channel; its answer.
inline QString phonesimCtl(const QString& phonesim, const QString& control, const QStringList& words)
{
    QProcess p;
    p.start(phonesim, QStringList{"ctl", "--control", control} + words);
    EXPECT_TRUE(p.waitForFinished(30000));
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

inline void stopProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000))
        process.kill();
    process.waitForFinished(5000);
}
