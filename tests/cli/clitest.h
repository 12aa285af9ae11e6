// The process-level tests' fixture: quillometry-cli started as users start
// it, with its data folder (XDG_DATA_HOME), home and temporary folder inside
// a fresh temporary folder; either with pipes or on a pseudo terminal.
#pragma once

#include "clirun.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace clitest {

// err is empty for runs on a terminal, where both streams are in out.
using Result = CliResult;

inline QStringList lines(const QString& text) { return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }

class CliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("xdg")));
        env.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        env.insert(QStringLiteral("TMPDIR"), dir.filePath(QStringLiteral("tmp")));
        QDir().mkpath(dir.filePath(QStringLiteral("tmp")));
    }

    Result run(const QStringList& args) { return runCli(env, args, dir.path()); }

    // Runs the command on a pseudo terminal until it ends (at most a
    // minute), answering its "[y/N]" question with `answer` when one is given.
    Result runOnTerminal(const QStringList& args, const QByteArray& answer = {})
    {
        QList<QByteArray> argv8 = {QByteArray(Q_CLI_PATH)};
        for (const QString& a : args)
            argv8 << a.toUtf8();
        const QByteArray data = env.value(QStringLiteral("XDG_DATA_HOME")).toUtf8();
        const QByteArray temp = env.value(QStringLiteral("TMPDIR")).toUtf8();
        int master = -1;
        const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
        if (pid == 0) {
            setenv("XDG_DATA_HOME", data.constData(), 1);
            setenv("TMPDIR", temp.constData(), 1);
            std::vector<char*> argv;
            for (QByteArray& a : argv8)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        QByteArray seen;
        bool answered = answer.isEmpty();
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < until) {
            pollfd fd{master, POLLIN, 0};
            if (poll(&fd, 1, 100) > 0) {
                char buf[4096];
                const ssize_t n = read(master, buf, sizeof buf);
                if (n <= 0)
                    break;
                seen.append(buf, int(n));
            }
            if (!answered && seen.contains("[y/N]")) {
                (void)!write(master, answer.constData(), size_t(answer.size()));
                answered = true;
            }
        }
        int status = 0;
        waitpid(pid, &status, 0);
        close(master);
        Result r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = QString::fromUtf8(seen);
        return r;
    }

    QTemporaryDir dir;
    QProcessEnvironment env;
};

}  // namespace clitest
