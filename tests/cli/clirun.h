// Runs the built quillometry-cli as a user would: with the given environment
// (and working folder), standard input closed, both streams collected.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

struct CliResult {
    int code = -1;  // -1 when the process did not end normally
    QString out;
    QString err;
};

inline CliResult runCli(const QProcessEnvironment& env, const QStringList& args,
                        const QString& workingFolder = QString())
{
    CliResult r;
    QProcess p;
    p.setProcessEnvironment(env);
    if (!workingFolder.isEmpty())
        p.setWorkingDirectory(workingFolder);
    p.start(QStringLiteral(Q_CLI_PATH), args);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(120000));
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}
